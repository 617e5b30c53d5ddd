#pragma once

#include "PagingTerminal.h"

#include <QObject>
#include <QTimer>

namespace quillpost::sim {

class ReplyPacer;
class SimRecorder;

// One connected call's paging terminal on a live line: feeds it the caller's
// bytes, puts its replies through the pacer, records its pages and the call's
// end, and runs its idle time-out.
class TerminalSession : public QObject
{
    Q_OBJECT

public:
    TerminalSession(const SimConfig& config, SimRecorder& recorder, ReplyPacer& pacer,
        QObject* parent = nullptr);

    int call() const { return m_call; }
    bool ended() const { return m_ended; }

    void start();
    void receive(QByteArrayView bytes);
    // The call ended from outside (hang-up, stop); recorded unless already over.
    void finish(CallEnd how);

signals:
    // The terminal ended the call itself; its last replies are already queued.
    void terminalEndedCall(CallEnd how);

private:
    void carryOut(const TerminalActions& actions);
    void idleTooLong();
    // Bytes the call may still carry before the line drops (dropLineAtByte).
    qsizetype bytesLeft() const;
    bool acknowledgementFits(const TerminalActions& actions, qsizetype from) const;
    void dropLine();

    SimRecorder& m_recorder;
    ReplyPacer& m_pacer;
    int m_call = 0;
    int m_replyDelayMs = 0;
    int m_idleTimeoutMs = 0;
    qsizetype m_dropAtByte = 0;
    qsizetype m_bytesSoFar = 0;
    PagingTerminal m_terminal;
    QTimer m_idleTimer;
    bool m_ended = false;
};

} // namespace quillpost::sim
