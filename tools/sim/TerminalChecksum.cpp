#include "TerminalChecksum.h"

#include <cstdint>

namespace quillpost::sim {

QByteArray terminalChecksum(QByteArrayView stxThroughEtx)
{
    std::int32_t sum = 0;
    for (char byte : stxThroughEtx)
        sum += static_cast<std::int8_t>(byte);
    // Two's-complement bits of a negative sum are wanted, so work unsigned.
    const auto bits = static_cast<std::uint32_t>(sum) & 0xFFFu;
    QByteArray digits(3, '0');
    digits[0] = static_cast<char>(0x30 | ((bits >> 8) & 0xF));
    digits[1] = static_cast<char>(0x30 | ((bits >> 4) & 0xF));
    digits[2] = static_cast<char>(0x30 | (bits & 0xF));
    return digits;
}

bool checksumMatches(QByteArrayView stxThroughEtx, QByteArrayView received)
{
    return received.size() == 3 && terminalChecksum(stxThroughEtx) == received;
}

} // namespace quillpost::sim
