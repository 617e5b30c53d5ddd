#include "TerminalSession.h"

#include "ReplyPacer.h"
#include "SimRecorder.h"

#include <algorithm>
#include <limits>

namespace quillpost::sim {

TerminalSession::TerminalSession(
    const SimConfig& config, SimRecorder& recorder, ReplyPacer& pacer, QObject* parent)
    : QObject(parent)
    , m_recorder(recorder)
    , m_pacer(pacer)
    , m_call(recorder.beginCall())
    , m_replyDelayMs(config.faults.slowReplyMs)
    , m_idleTimeoutMs(config.idleTimeoutMs)
    , m_dropAtByte(config.faults.dropLineAtByte)
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
    const QByteArrayView taken = bytes.first(std::min(bytes.size(), bytesLeft()));
    m_bytesSoFar += taken.size();
    carryOut(m_terminal.receive(taken));
    if (!m_ended && bytesLeft() == 0)
        dropLine();
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
    for (qsizetype i = 0; i < actions.size(); ++i) {
        const TerminalAction& action = actions[i];
        switch (action.kind) {
        case TerminalAction::Kind::Reply: {
            const QByteArray bytes = action.bytes.left(bytesLeft());
            m_bytesSoFar += bytes.size();
            if (!bytes.isEmpty())
                m_pacer.send(bytes, m_replyDelayMs);
            if (bytesLeft() == 0) {
                dropLine();
                return;
            }
            break;
        }
        case TerminalAction::Kind::Accept: {
            AcceptedPage page = action.page;
            page.acknowledged = acknowledgementFits(actions, i + 1);
            m_recorder.recordPage(page);
            break;
        }
        case TerminalAction::Kind::End:
            finish(action.end);
            emit terminalEndedCall(action.end);
            return;
        }
    }
}

qsizetype TerminalSession::bytesLeft() const
{
    if (m_dropAtByte <= 0)
        return std::numeric_limits<qsizetype>::max();
    return std::max<qsizetype>(0, m_dropAtByte - m_bytesSoFar);
}

// The acknowledgement of an accepted page is the ACK in the reply that follows it; a
// caller that got the ACK knows the page was taken, whether or not the CR after it came.
bool TerminalSession::acknowledgementFits(const TerminalActions& actions, qsizetype from) const
{
    for (qsizetype i = from; i < actions.size(); ++i) {
        if (actions[i].kind == TerminalAction::Kind::Reply)
            return actions[i].bytes.indexOf('\x06') < bytesLeft();
    }
    return true;
}

void TerminalSession::dropLine()
{
    finish(CallEnd::DroppedByFault);
    emit terminalEndedCall(CallEnd::DroppedByFault);
}

void TerminalSession::idleTooLong()
{
    carryOut(m_terminal.idleTimeout());
}

} // namespace quillpost::sim
