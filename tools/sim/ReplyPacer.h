#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>

namespace quillpost::sim {

// Puts replies on the line in order, optionally late (a slow terminal), in small
// pieces with pauses (a line that delivers in bursts), or no faster than a line of
// a given speed carries them. The writer returns how many bytes it took, 0 when it
// would block, or -1 when the line is gone.
class ReplyPacer : public QObject
{
    Q_OBJECT

public:
    using Writer = std::function<qint64(QByteArrayView)>;
    // Told how many bytes are given to the line (positive, as they are queued) and
    // how many of those are withdrawn unsent (negative) when the line is cleared.
    using Counter = std::function<void(qint64)>;

    ReplyPacer(Writer writer, QObject* parent = nullptr);

    void setPieces(int pieceSize, int pauseMs);
    // A half-duplex line of this many bits per second, ten bits a byte (0: as fast
    // as the writer takes them). Replies queued from now on take their line time.
    void setLineRate(int bitsPerSecond);
    void setCounter(Counter counter) { m_counter = std::move(counter); }
    // Queues a reply held back delayMs (a slow terminal). Without a line rate the
    // wait starts once the replies before it are out; at a line rate it starts now,
    // and the reply waits for a free line besides.
    void send(const QByteArray& bytes, int delayMs = 0);
    // The caller's bytes arrived: they hold the line for their own time, so
    // nothing the terminal says can start before they are through.
    void lineCarriedIncoming(qsizetype byteCount);
    void clear();
    bool isIdle() const { return m_queue.empty(); }

signals:
    void drained(); // everything queued is on the line

private:
    struct Reply
    {
        QByteArray bytes;
        int delayMs = 0;
        // With a line rate: the whole reply's shape on the line, fixed when queued.
        qsizetype size = 0;
        qint64 startNs = 0; // its first byte goes on the line
        qsizetype pieceSize = 0;
        qint64 pauseNs = 0;
    };

    void pump();
    void pumpAtLineRate();
    // Writes the next `wanted` bytes of the front reply; false when the pump stops here
    // (the line is gone, or it took only part and the rest is retried shortly).
    bool writeFront(qsizetype wanted);
    qint64 lineTimeNs(qsizetype byteCount) const;
    void reserveLine(Reply& reply, int delayMs);

    Writer m_writer;
    Counter m_counter;
    std::deque<Reply> m_queue;
    QTimer m_timer;
    int m_pieceSize = 0;
    int m_pauseMs = 0;
    int m_bitsPerSecond = 0;
    QElapsedTimer m_clock;
    qint64 m_lineFreeNs = 0; // when the line is next free for either side
    qint64 m_nextPieceNs = 0; // the pause after the last piece queued ends
};

} // namespace quillpost::sim
