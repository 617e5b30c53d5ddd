#pragma once

#include <QByteArray>
#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <termios.h>

// Character framing of a serial line: parity letter (N, E, O, M or S), data bits
// (5 to 8) and stop bits (1 or 2).
struct CommFraming
{
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
};

// Reads the mode text "parity=%c data=%d stop=%d" (the keys in any order, each
// optional); nothing when a key or value is not understood.
std::optional<CommFraming> ParseCommMode(const QByteArray& modeText);
// The mode text for a framing, e.g. "parity=E data=7 stop=1".
QByteArray FormatCommMode(char parity, int dataBits, int stopBits);
// Applies a framing to terminal settings: parity, character size, stop bits, and no
// hardware output flow control. The speed and everything else stay as they are.
// False (and the settings untouched) when the framing cannot be expressed.
bool ApplyFraming(termios& settings, const CommFraming& framing);
// Raw 8N1 at a speed, with the receiver enabled and modem control lines honoured
// only for hang-up: the state a line device puts its port into before talking to it.
bool MakeRawSettings(termios& settings, int baudRate);

// The data handle of a connected call: a POSIX file descriptor (a terminal or a
// socket) that this object owns and closes.
class CCommPort
{
public:
    enum class ReadStatus
    {
        Data,
        TimedOut,
        Closed
    };
    struct ReadResult
    {
        ReadStatus status = ReadStatus::TimedOut;
        int count = 0;
    };
    // Told about every chunk read and about the end of the stream (count -1), on the
    // reading thread; the line device uses it to notice the loss of the call.
    using ReadObserver = std::function<void(const char* bytes, int count)>;
    static constexpr std::size_t kMostPurgedBytes = 64 * 1024;

    explicit CCommPort(int fd, ReadObserver observer = {});
    ~CCommPort();
    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    int Handle() const { return m_fd; }
    bool IsTerminal() const;

    // Frames a terminal from the mode text and switches off CTS/DSR output flow
    // control; the speed is kept. On a socket framing means nothing and succeeds.
    bool SetMode(const QByteArray& modeText);
    // The settings last written by SetMode (for a terminal), as computed.
    std::optional<termios> AppliedSettings() const { return m_applied; }

    // Waits at most timeoutMs for a first byte, then returns what has arrived (at most
    // maxCount bytes).
    ReadResult Read(char* buffer, int maxCount, int timeoutMs);
    // Writes all bytes, waiting at most timeoutMs for room; the count written.
    int Write(const char* bytes, int count, int timeoutMs = 1000);
    // Discards both directions' pending bytes; on a socket, at most kMostPurgedBytes of
    // what has arrived.
    bool Purge();
    void Close();

private:
    int m_fd = -1;
    ReadObserver m_observer;
    std::optional<termios> m_applied;
    std::atomic<bool> m_endReported { false };
};
