#include "ReplyPacer.h"

#include <algorithm>

namespace quillpost::sim {

namespace {
constexpr int kRetryWhenFullMs = 10;
constexpr qint64 kNsPerMs = 1'000'000;
constexpr qint64 kNsPerSecond = 1'000'000'000;
// Start bit, eight data bits, stop bit.
constexpr qint64 kBitsPerByte = 10;
} // namespace

ReplyPacer::ReplyPacer(Writer writer, QObject* parent)
    : QObject(parent)
    , m_writer(std::move(writer))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ReplyPacer::pump);
    m_clock.start();
}

void ReplyPacer::setPieces(int pieceSize, int pauseMs)
{
    m_pieceSize = pieceSize > 0 ? pieceSize : 0;
    m_pauseMs = pauseMs > 0 ? pauseMs : 0;
}

void ReplyPacer::setLineRate(int bitsPerSecond)
{
    m_bitsPerSecond = bitsPerSecond > 0 ? bitsPerSecond : 0;
    // A coarse timer may fire a little early or late; the line's time should be kept
    // to the millisecond, late rather than early.
    if (m_bitsPerSecond > 0)
        m_timer.setTimerType(Qt::PreciseTimer);
}

void ReplyPacer::send(const QByteArray& bytes, int delayMs)
{
    if (bytes.isEmpty() && delayMs <= 0)
        return;
    Reply reply { bytes, delayMs };
    reply.size = bytes.size();
    if (m_bitsPerSecond > 0)
        reserveLine(reply, delayMs);
    if (m_counter && !bytes.isEmpty())
        m_counter(bytes.size());
    m_queue.push_back(std::move(reply));
    if (!m_timer.isActive())
        pump();
}

void ReplyPacer::lineCarriedIncoming(qsizetype byteCount)
{
    if (m_bitsPerSecond <= 0 || byteCount <= 0)
        return;
    m_lineFreeNs = std::max(m_clock.nsecsElapsed(), m_lineFreeNs) + lineTimeNs(byteCount);
}

void ReplyPacer::clear()
{
    qint64 unsent = 0;
    for (const Reply& reply : m_queue)
        unsent += reply.bytes.size();
    m_queue.clear();
    m_timer.stop();
    // What never went out holds no line.
    m_lineFreeNs = 0;
    m_nextPieceNs = 0;
    if (m_counter && unsent > 0)
        m_counter(-unsent);
}

qint64 ReplyPacer::lineTimeNs(qsizetype byteCount) const
{
    return byteCount * kBitsPerByte * kNsPerSecond / m_bitsPerSecond;
}

// The reply goes on the line once its delay is over and the line is free (after the
// caller's bytes and our earlier replies, and the pause after a last piece), and
// holds it for its bytes' time plus the pauses between its pieces. Each piece
// reaches the caller when its last byte would have crossed.
void ReplyPacer::reserveLine(Reply& reply, int delayMs)
{
    const qint64 now = m_clock.nsecsElapsed();
    reply.pieceSize = m_pieceSize;
    reply.pauseNs = m_pieceSize > 0 ? m_pauseMs * kNsPerMs : 0;
    reply.startNs
        = std::max({ now + std::max(delayMs, 0) * kNsPerMs, m_lineFreeNs, m_nextPieceNs });
    const qsizetype pieces
        = reply.pieceSize > 0 ? (reply.size + reply.pieceSize - 1) / reply.pieceSize : 1;
    const qint64 endNs = reply.startNs + lineTimeNs(reply.size)
        + std::max<qsizetype>(pieces - 1, 0) * reply.pauseNs;
    m_lineFreeNs = endNs;
    m_nextPieceNs = endNs + reply.pauseNs;
}

void ReplyPacer::pump()
{
    if (m_bitsPerSecond > 0) {
        pumpAtLineRate();
        return;
    }
    while (!m_queue.empty()) {
        Reply& front = m_queue.front();
        if (front.delayMs > 0) {
            m_timer.start(front.delayMs);
            front.delayMs = 0;
            return;
        }
        const qsizetype wanted = m_pieceSize > 0
            ? std::min<qsizetype>(m_pieceSize, front.bytes.size())
            : front.bytes.size();
        if (!writeFront(wanted))
            return;
        if (m_pieceSize > 0 && m_pauseMs > 0 && !m_queue.empty()) {
            m_timer.start(m_pauseMs);
            return;
        }
    }
    emit drained();
}

bool ReplyPacer::writeFront(qsizetype wanted)
{
    Reply& front = m_queue.front();
    const qint64 written = wanted > 0 ? m_writer(QByteArrayView(front.bytes).first(wanted)) : 0;
    if (written < 0) {
        clear(); // the line is gone; nothing queued can reach anyone
        return false;
    }
    front.bytes.remove(0, written);
    if (written < wanted) {
        m_timer.start(kRetryWhenFullMs);
        return false;
    }
    if (front.bytes.isEmpty())
        m_queue.pop_front();
    return true;
}

// Every piece is written whole once the line time of its last byte has passed (never
// before: the timer is checked against the clock), so the caller never has a byte
// sooner than the line could have brought it.
void ReplyPacer::pumpAtLineRate()
{
    while (!m_queue.empty()) {
        Reply& front = m_queue.front();
        const qsizetype done = front.size - front.bytes.size();
        qsizetype end = front.size;
        qint64 piece = 0;
        if (front.pieceSize > 0 && front.size > 0) {
            piece = done / front.pieceSize;
            end = std::min(front.size, (piece + 1) * front.pieceSize);
        }
        const qint64 dueNs = front.startNs + lineTimeNs(end) + piece * front.pauseNs;
        const qint64 waitNs = dueNs - m_clock.nsecsElapsed();
        if (waitNs > 0) {
            m_timer.start(static_cast<int>((waitNs + kNsPerMs - 1) / kNsPerMs));
            return;
        }
        if (!writeFront(end - done))
            return;
    }
    emit drained();
}

} // namespace quillpost::sim
