#include "TerminalSession.h"

#include "ReplyPacer.h"
#include "SimRecorder.h"

namespace quillpost::sim {

TerminalSession::TerminalSession(
    const SimConfig& config, SimRecorder& recorder, ReplyPacer& pacer, QObject* parent)
    : QObject(parent)
    , m_recorder(recorder)
    , m_pacer(pacer)
    , m_call(recorder.beginCall())
    , m_replyDelayMs(config.faults.slowReplyMs)
    , m_idleTimeoutMs(config.idleTimeoutMs)
    , m_terminal(config, m_call)
{
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this, &TerminalSession::idleTooLong);
}

void TerminalSession::start()
{
    carryOut(m_terminal.connect());
    if (m_idleTimeoutMs > 0 && !m_ended)
        m_idleTimer.start(m_idleTimeoutMs);
}

void TerminalSession::receive(QByteArrayView bytes)
{
    if (m_ended)
        return;
    if (m_idleTimeoutMs > 0)
        m_idleTimer.start(m_idleTimeoutMs);
    carryOut(m_terminal.receive(bytes));
}

void TerminalSession::finish(CallEnd how)
{
    if (m_ended)
        return;
    m_ended = true;
    m_idleTimer.stop();
    m_recorder.recordCallEnd(m_call, how);
}

void TerminalSession::carryOut(const TerminalActions& actions)
{
    for (const TerminalAction& action : actions) {
        switch (action.kind) {
        case TerminalAction::Kind::Reply:
            m_pacer.send(action.bytes, m_replyDelayMs);
            break;
        case TerminalAction::Kind::Accept:
            m_recorder.recordPage(action.page);
            break;
        case TerminalAction::Kind::End:
            finish(action.end);
            emit terminalEndedCall(action.end);
            return;
        }
    }
}

void TerminalSession::idleTooLong()
{
    carryOut(m_terminal.idleTimeout());
}

} // namespace quillpost::sim
