#pragma once

#include <QByteArray>
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
    bool isOpen() const { return m_fd >= 0; }

    void write(const QByteArray& bytes);
    // Everything up to and including the first `pattern` (which is consumed);
    // on time-out, everything that did arrive, so the caller's check fails
    // showing what came.
    QByteArray readUntil(const QByteArray& pattern, int timeoutMs = 5000);
    // All that arrives within the window (for "nothing more comes" checks).
    QByteArray readFor(int windowMs);
    // One read's worth as soon as anything arrives (empty on time-out).
    QByteArray readSome(int timeoutMs = 5000);
    // True when the far end closed (TCP) within the time.
    bool waitForClose(int timeoutMs = 5000);

private:
    bool fill(int timeoutMs);

    int m_fd = -1;
    QByteArray m_pending;
    bool m_closedByPeer = false;
};

// The block a TAP caller sends, with its check characters computed here from
// first principles, independently of the simulator.
QByteArray tapBlock(const QByteArray& pagerId, const QByteArray& text);
