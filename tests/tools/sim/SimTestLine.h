#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The caller's end of the simulator's line for tests: the slave of its
// pseudo-terminal (raw, as a serial port would be) or a TCP connection. Plain
// descriptors and poll(), so no event loop is needed and every wait is bounded.
class SimTestLine
{
public:
    SimTestLine() = default;
    ~SimTestLine();
    SimTestLine(const SimTestLine&) = delete;
    SimTestLine& operator=(const SimTestLine&) = delete;

    bool openPty(const QString& path);
    bool connectTcp(quint16 port);
    void close();

    void write(const QByteArray& bytes);
    // True when the far end closed (TCP) within the time.
    bool waitForClose(int timeoutMs = 5000);

    // Plays a script of pairs: what to send, then exactly what must come back.
    // An empty reply means nothing may come for kQuietMs (a pause the far end
    // sees as silence). In a reply, '#' stands for one garbled reply
    // (16 bytes of noise, CR LF) and '~' for the 2,000-byte run of noise. With
    // pieceSize, no single read may bring more than that many bytes. Returns
    // what went wrong, or an empty string.
    QString talk(const QList<QByteArray>& script, int pieceSize = 0);
    static constexpr int kQuietMs = 400;

private:
    bool fill(int timeoutMs);
    QByteArray readFor(int windowMs);
    QByteArray readAtMost(qsizetype count);

    int m_fd = -1;
    QByteArray m_pending;
    bool m_closedByPeer = false;
};

// The block a TAP caller sends, with its check characters computed here from
// first principles, independently of the simulator.
QByteArray tapBlock(const QByteArray& pagerId, const QByteArray& text);
