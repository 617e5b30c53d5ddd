#include "ReplyPacer.h"

namespace quillpost::sim {

namespace {
constexpr int kRetryWhenFullMs = 10;
}

ReplyPacer::ReplyPacer(Writer writer, QObject* parent)
    : QObject(parent)
    , m_writer(std::move(writer))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ReplyPacer::pump);
}

void ReplyPacer::setPieces(int pieceSize, int pauseMs)
{
    m_pieceSize = pieceSize > 0 ? pieceSize : 0;
    m_pauseMs = pauseMs > 0 ? pauseMs : 0;
}

void ReplyPacer::send(const QByteArray& bytes, int delayMs)
{
    if (bytes.isEmpty() && delayMs <= 0)
        return;
    m_queue.push_back({ bytes, delayMs });
    if (!m_timer.isActive())
        pump();
}

void ReplyPacer::clear()
{
    m_queue.clear();
    m_timer.stop();
}

void ReplyPacer::pump()
{
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
        const qint64 written = wanted > 0 ? m_writer(QByteArrayView(front.bytes).first(wanted)) : 0;
        if (written < 0) {
            clear(); // the line is gone; nothing queued can reach anyone
            return;
        }
        front.bytes.remove(0, written);
        if (written < wanted) {
            m_timer.start(kRetryWhenFullMs);
            return;
        }
        if (front.bytes.isEmpty())
            m_queue.pop_front();
        if (m_pieceSize > 0 && m_pauseMs > 0 && !m_queue.empty()) {
            m_timer.start(m_pauseMs);
            return;
        }
    }
    emit drained();
}

} // namespace quillpost::sim
