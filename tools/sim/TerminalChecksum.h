#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace quillpost::sim {

// The terminal's own reckoning of a block's check characters: every byte from STX
// through ETX (or ETB) counted as a signed 8-bit value, the sum's low 12 bits
// written as three 4-bit digits, most significant first, each OR 0x30.
QByteArray terminalChecksum(QByteArrayView stxThroughEtx);

// True when the three received characters are exactly what the block sums to.
bool checksumMatches(QByteArrayView stxThroughEtx, QByteArrayView received);

} // namespace quillpost::sim
