#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <memory>

// The caller's end of the simulator's line for tests: the slave of its
// pseudo-terminal opened as a serial port, or a TCP connection. Only the devices'
// blocking waits are used, so no event loop is needed and every wait is bounded.
class SimTestLine
{
public:
    bool openPty(const QString& path);
    bool connectTcp(quint16 port);
    void close();

    void write(const QByteArray& bytes);
    // True when the far end closed (TCP) within the time.
    bool waitForClose(int timeoutMs = 5000);

    // Plays a script of pairs: what to send, then exactly what must come back.
    // An empty reply means nothing may come for kQuietMs (a pause the far end
    // sees as silence). In a reply, '~' stands for the 2,000-byte run of noise.
    // Returns what went wrong, or an empty string.
    QString talk(const QList<QByteArray>& script);
    static constexpr int kQuietMs = 400;

private:
    bool isConnected() const;
    void fill(int timeoutMs);
    QByteArray readFor(int windowMs);
    QByteArray readAtMost(qsizetype count);

    std::unique_ptr<QIODevice> m_device;
    QByteArray m_pending;
};

// What the simulated modem and terminal say on the line, word for word.
inline const QByteArray kOk = "\r\nOK\r\n";
inline const QByteArray kError = "\r\nERROR\r\n";
inline const QByteArray kConnect = "\r\nCONNECT 9600\r\n";
inline const QByteArray kNoCarrier = "\r\nNO CARRIER\r\n";
inline const QByteArray kLoggedOn = "110 1.8\r\x06\r\x1b[p\r";
inline const QByteArray kSent = "211 Page(s) Sent\r\x06\r";
inline const QByteArray kGoodbye = "115 Goodbye\r\x1b\x04\r";

// The block a TAP caller sends, with its check characters computed here from
// first principles, independently of the simulator.
QByteArray tapBlock(const QByteArray& pagerId, const QByteArray& text);
