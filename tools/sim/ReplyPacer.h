#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>

namespace quillpost::sim {

// Puts replies on the line in order, optionally late (a slow terminal) or in
// small pieces with pauses (a line that delivers in bursts). The writer returns
// how many bytes it took, 0 when it would block, or -1 when the line is gone.
class ReplyPacer : public QObject
{
    Q_OBJECT

public:
    using Writer = std::function<qint64(QByteArrayView)>;

    ReplyPacer(Writer writer, QObject* parent = nullptr);

    void setPieces(int pieceSize, int pauseMs);
    void send(const QByteArray& bytes, int delayMs = 0);
    void clear();
    bool isIdle() const { return m_queue.empty(); }

signals:
    void drained(); // everything queued is on the line

private:
    struct Reply
    {
        QByteArray bytes;
        int delayMs = 0;
    };

    void pump();

    Writer m_writer;
    std::deque<Reply> m_queue;
    QTimer m_timer;
    int m_pieceSize = 0;
    int m_pauseMs = 0;
};

} // namespace quillpost::sim
