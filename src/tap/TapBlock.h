#pragma once

#include <QByteArray>

// The bytes of the paging protocol: the control characters, the fixed sequences the
// program sends, the patterns it looks for in the terminal's replies, and the message
// block with its checksum.

namespace TapByte {
inline constexpr char Cr = 0x0D;
inline constexpr char Lf = 0x0A;
inline constexpr char Stx = 0x02;
inline constexpr char Etx = 0x03;
inline constexpr char Eot = 0x04;
inline constexpr char Ack = 0x06;
inline constexpr char Nak = 0x15;
inline constexpr char Esc = 0x1B;
inline constexpr char Rs = 0x1E;
} // namespace TapByte

// A block is built in a buffer of this size that also holds a terminating zero, so the
// pager identifier and the message text together never exceed kTapMaxFieldBytes.
inline constexpr int kTapBlockBufferSize = 1024;
inline constexpr int kTapMaxFieldBytes = kTapBlockBufferSize - 9;

// Sequences sent, each written as one write of exactly these bytes.
QByteArray TapWakeUpSequence(); // CR
QByteArray TapLoginSequence(); // ESC "PG1" CR
// ESC "PG1", the password, CR; exactly TapLoginSequence() when the password is empty.
// Only its printable ASCII characters are sent: a control character would end or
// break the log-on line.
QByteArray TapLoginSequence(const QByteArray& password);
QByteArray TapLogoutSequence(); // EOT CR

// Patterns looked for anywhere in a received line.
QByteArray TapIdPromptPattern(); // "ID="
QByteArray TapAckPattern(); // ACK
QByteArray TapNakPattern(); // NAK
QByteArray TapGoAheadPattern(); // ESC "[p"
QByteArray TapRsPattern(); // RS: the terminal abandons the block
QByteArray TapEndOfCallPattern(); // ESC EOT: the terminal ends the call

// The three checksum characters of the bytes from STX through ETX inclusive: the sum of
// the bytes taken as signed 8-bit values, low 12 bits, as three 4-bit digits (most
// significant first), each OR-ed with 0x30.
QByteArray TapChecksum(const QByteArray& stxThroughEtx);

// The complete block: STX, identifier, CR, text, CR, ETX, checksum, CR. Each field ends
// at its first zero byte, as a C string would. When identifier and text together exceed
// kTapMaxFieldBytes the text is cut so the block fits its buffer; an identifier that is
// too long on its own is cut as well.
QByteArray FormatBlock(const QByteArray& pagerId, const QByteArray& text);
