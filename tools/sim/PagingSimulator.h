#pragma once

// The far end of the line for tests and demonstrations: a Hayes-compatible modem
// on the master side of a pseudo-terminal (or a plain TCP listener) that, once a
// call is connected, plays a TAP paging terminal. It runs on a thread of its own,
// so a test may block its main thread on the program under test while the
// simulator keeps answering.
//
//     quillpost::sim::SimConfig config;
//     config.faults.nakBlock = 2;
//     quillpost::sim::PagingSimulator sim(config);
//     if (!sim.startPty()) qFatal("%s", qPrintable(sim.errorString()));
//     openTheSerialPort(sim.slavePath());   // ATZ, ATDT..., TAP
//     sim.waitForPages(1, 5000);
//     sim.waitForCallEnds(1, 5000);
//     auto pages = sim.pages();              // pager id, text, checksum, call number
//
// Every accessor is thread-safe. The destructor stops the simulator.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <memory>

namespace quillpost::sim {

// Ways the far end can misbehave. Counts are 1-based; 0 switches a fault off.
// Modem faults (busy, noAnswer, noCarrier) apply to dialling; they have no
// meaning in TCP mode, where each connection starts in data mode.
struct SimFaults
{
    bool busy = false; // a dial answers "BUSY"
    bool noAnswer = false; // a dial answers "NO ANSWER" after the ring delay
    bool noCarrier = false; // a dial answers "NO CARRIER" after the ring delay
    int dropLineAfterBlock = 0; // drop the call right after accepting block k of a call
    int nakLoginTimes = 0; // answer the first n logins of a call with NAK
    int nakBlock = 0; // answer block k of a call with NAK, however good it is
    bool silentAfterConnect = false; // connect, then never answer anything
    bool garbage = false; // answer every wake-up and block with noise only
    int chunkSize = 0; // deliver every reply in pieces of n bytes...
    int chunkPauseMs = 50; // ...with this pause between the pieces
    int slowReplyMs = 0; // wait this long before each reply in data mode
    bool longRunWithoutLineEnd = false; // after connecting, send 2,000 bytes with no CR, LF or "="
    // Drop the call once n bytes of its data (the caller's and the terminal's together,
    // in the order they cross) have passed; a reply that would cross the mark is cut
    // there. Sweeping n over a conversation drops the line at every byte of it.
    int dropLineAtByte = 0;
};

struct SimConfig
{
    SimFaults faults;
    int ringDelayMs = 200; // from dial to the dial's answer
    int guardTimeMs = 1000; // silence needed before and after "+++"
    bool messageSequences = true; // send "110 1.8", "211 ...", "514 ..." and the like
    int idleTimeoutMs = 0; // end an idle data-mode call with "501 ..." (0: never)
    int maxBlockLength = 256; // longest block accepted, STX to the checksum's CR
    // Blocks to these pager IDs are abandoned: "511 Invalid Pager ID", then RS.
    QList<QByteArray> unknownPagerIds;
    // The log-on must carry exactly this password, or the terminal answers "509 ..."
    // and ends the call; empty: any log-on with or without a password is taken.
    QByteArray password;
    bool crLfLineEnds = false; // end the terminal's lines with CR LF instead of CR
    // Accept pages with "213 Message Accepted, Deferred Delivery" instead of "211 ...".
    bool deferredDelivery = false;
    // A block for a page beyond this many in one call: "512 ..." and the terminal
    // ends the call (0: no limit).
    int maxPagesPerCall = 0;
    // TCP: after the terminal ends a call it keeps the connection this long before
    // closing it, so the caller must hang up by itself.
    int hangUpDelayMs = 0;
    // The line carries this many bits per second, ten to a byte (start, eight data,
    // stop), one way at a time: the caller's bytes hold it for their time as they
    // arrive, and every byte sent to the caller (modem echo and responses, the
    // terminal's replies) reaches it only after its own time on a free line.
    // 0: no line time, bytes go as fast as the link takes them.
    int lineRateBps = 0;
    // The TCP listener is an SNPP server instead of a TAP terminal.
    bool snpp = false;
    // SNPP: LOGI must name this login (and `password`, when set); empty: any login.
    QByteArray snppLogin;
    // TCP: every connection is TLS with this PEM certificate and key (both, or neither).
    QString tlsCertificatePath;
    QString tlsKeyPath;
    // The TCP listener is an HTTP/1.1 endpoint taking WCTP submissions instead of a TAP
    // terminal; unknownPagerIds and password (the securityCode) carry over.
    bool wctp = false;
    QString logPath; // one JSON object per line; empty: no log file
};

// A page the terminal accepted (answered its last block with ACK).
struct AcceptedPage
{
    QByteArray pagerId;
    // Exactly the bytes after the identifier's CR up to the CR before ETX (a
    // message of several fields keeps the CRs between them).
    QByteArray text;
    QByteArray checksum; // the three characters received (of the last block)
    int call = 0; // 1 for the first call (or TCP connection), then 2, ...
    QDateTime time; // UTC
    // False when the line was dropped before the terminal's ACK for this page went out:
    // the caller cannot know the page was taken, and sends it again.
    bool acknowledged = true;
    QByteArray protocol = "tap"; // "tap", "snpp" from the SNPP server, or "wctp"
};

enum class CallEnd
{
    Logout, // caller sent EOT CR, terminal answered ESC EOT CR
    DroppedByFault, // the line was dropped on purpose (dropLineAfterBlock, dropLineAtByte)
    CallerHungUp, // caller closed the port, disconnected, or ATH after "+++"
    IdleTimeout, // the terminal gave up on a silent caller
    Stopped, // the simulator was stopped during the call
    LogonRefused, // wrong password: "509 ...", ESC EOT CR
    PageLimit, // more pages than one call may carry: "512 ...", ESC EOT CR
};

struct CallRecord
{
    int call = 0;
    CallEnd how = CallEnd::Stopped;
    QDateTime time; // UTC
    // Bytes from and to the caller since the previous call ended (or the simulator
    // started), the modem's command dialogue included. A reply counts as sent once
    // the terminal or modem has put it on its way, so a call's last words count for
    // it; bytes withdrawn unsent when the caller hangs up do not count. TCP calls at
    // the same time share one count.
    qint64 received = 0;
    qint64 sent = 0;
};

// The words used for CallEnd in the log file and on the command line's output.
QString callEndName(CallEnd how);

class SimEngine;

class PagingSimulator
{
public:
    explicit PagingSimulator(const SimConfig& config = {});
    ~PagingSimulator(); // stops
    PagingSimulator(const PagingSimulator&) = delete;
    PagingSimulator& operator=(const PagingSimulator&) = delete;

    // Opens a pseudo-terminal, makes it raw and starts the modem on its master
    // side; linkPath, when given, becomes a symbolic link to the slave. Returns
    // false (see errorString()) when it cannot.
    bool startPty(const QString& linkPath = {});
    // Listens on 127.0.0.1:port (0: any free port, see tcpPort()).
    bool startTcp(quint16 port = 0);
    // Ends the thread; a call in progress is recorded as CallEnd::Stopped.
    void stop();
    bool isRunning() const;

    QString slavePath() const; // empty unless started with startPty()
    quint16 tcpPort() const; // 0 unless started with startTcp()
    QString errorString() const;

    // Takes effect from the next dial (pty) or connection (TCP).
    void setFaults(const SimFaults& faults);

    QList<AcceptedPage> pages() const;
    int pageCount() const;
    QList<CallRecord> callEnds() const;
    int callCount() const; // calls connected so far
    // Every byte received from the caller so far, command and data mode alike.
    QByteArray received() const;

    // Block the calling thread (without running its event loop) until at least
    // n pages / call endings are recorded or timeoutMs passes; true when reached.
    // A thread that must keep its event loop running can poll pageCount() with
    // QTRY_COMPARE instead.
    bool waitForPages(int n, int timeoutMs) const;
    bool waitForCallEnds(int n, int timeoutMs) const;

private:
    std::unique_ptr<SimEngine> m_engine;
};

} // namespace quillpost::sim
