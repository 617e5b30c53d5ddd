#include "tap/TapBlock.h"

#include <algorithm>
#include <cstdint>

namespace {

// The field as a C string sees it: everything before its first zero byte.
QByteArray UpToFirstZero(const QByteArray& field)
{
    const qsizetype zero = field.indexOf('\0');
    return zero < 0 ? field : field.left(zero);
}

char ChecksumDigit(std::uint32_t sumBits, int shift)
{
    return static_cast<char>(((sumBits >> shift) & 0x0F) | 0x30);
}

} // namespace

QByteArray TapWakeUpSequence()
{
    return QByteArray(1, TapByte::Cr);
}

QByteArray TapLoginSequence()
{
    return QByteArray(1, TapByte::Esc) + "PG1" + TapByte::Cr;
}

QByteArray TapLoginSequence(const QByteArray& password)
{
    QByteArray login = QByteArray(1, TapByte::Esc) + "PG1";
    for (const char byte : password) {
        if (byte >= 0x20 && byte <= 0x7E)
            login += byte;
    }
    return login + TapByte::Cr;
}

QByteArray TapLogoutSequence()
{
    return QByteArray(1, TapByte::Eot) + TapByte::Cr;
}

QByteArray TapIdPromptPattern()
{
    return QByteArrayLiteral("ID=");
}

QByteArray TapAckPattern()
{
    return QByteArray(1, TapByte::Ack);
}

QByteArray TapNakPattern()
{
    return QByteArray(1, TapByte::Nak);
}

QByteArray TapGoAheadPattern()
{
    return QByteArray(1, TapByte::Esc) + "[p";
}

QByteArray TapRsPattern()
{
    return QByteArray(1, TapByte::Rs);
}

QByteArray TapEndOfCallPattern()
{
    return QByteArray(1, TapByte::Esc) + TapByte::Eot;
}

QByteArray TapChecksum(const QByteArray& stxThroughEtx)
{
    // Terminals add the bytes as signed characters: 0x80 to 0xFF lower the sum.
    std::int32_t sum = 0;
    for (const char byte : stxThroughEtx)
        sum += static_cast<std::int8_t>(byte);
    const auto bits = static_cast<std::uint32_t>(sum);
    QByteArray checksum(3, '0');
    checksum[0] = ChecksumDigit(bits, 8);
    checksum[1] = ChecksumDigit(bits, 4);
    checksum[2] = ChecksumDigit(bits, 0);
    return checksum;
}

QByteArray FormatBlock(const QByteArray& pagerId, const QByteArray& text)
{
    const QByteArray id = UpToFirstZero(pagerId).left(kTapMaxFieldBytes);
    const qsizetype roomForText = kTapMaxFieldBytes - id.size();
    const QByteArray body = UpToFirstZero(text).left(std::max<qsizetype>(roomForText, 0));

    QByteArray block;
    block.reserve(id.size() + body.size() + 8);
    block += TapByte::Stx;
    block += id;
    block += TapByte::Cr;
    block += body;
    block += TapByte::Cr;
    block += TapByte::Etx;
    block += TapChecksum(block);
    block += TapByte::Cr;
    return block;
}
