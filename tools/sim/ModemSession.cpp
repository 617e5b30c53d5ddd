#include "ModemSession.h"

#include "PtyLink.h"
#include "ReplyPacer.h"
#include "SimRecorder.h"
#include "TerminalSession.h"

namespace quillpost::sim {

namespace {
constexpr char CR = 0x0D;
constexpr char LF = 0x0A;
constexpr char BS = 0x08;
constexpr char DEL = 0x7F;
// Hayes modems hold about this much of a command line and refuse longer ones.
constexpr qsizetype kCommandLineLimit = 255;

enum ResultCode
{
    Ok = 0,
    Connect = 1,
    NoCarrier = 3,
    Error = 4,
    Busy = 7,
    NoAnswer = 8,
    Connect9600 = 12,
};
} // namespace

ModemSession::ModemSession(
    const SimConfig& config, PtyLink& link, SimRecorder& recorder, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_link(link)
    , m_recorder(recorder)
{
    m_pacer = new ReplyPacer([&link](QByteArrayView bytes) { return link.write(bytes); }, this);
    m_pacer->setLineRate(config.lineRateBps);
    m_pacer->setCounter([&recorder](qint64 byteCount) { recorder.recordSent(byteCount); });
    connect(&m_link, &PtyLink::received, this, &ModemSession::receive);
    connect(&m_link, &PtyLink::callerLeft, this, &ModemSession::callerLeft);
    connect(&m_link, &PtyLink::callerArrived, this, [this] { m_commandLine.clear(); });
    m_ringTimer.setSingleShot(true);
    connect(&m_ringTimer, &QTimer::timeout, this, &ModemSession::dialAnswered);
    m_escapeTimer.setSingleShot(true);
    connect(&m_escapeTimer, &QTimer::timeout, this, &ModemSession::escapeConfirmed);
    m_clock.start();
}

ModemSession::~ModemSession() = default;

void ModemSession::shutDown()
{
    m_pacer->clear();
    if (m_session)
        m_session->finish(CallEnd::Stopped);
}

void ModemSession::receive(const QByteArray& bytes)
{
    m_recorder.recordReceived(bytes);
    m_pacer->lineCarriedIncoming(bytes.size());
    switch (m_mode) {
    case Mode::Command:
    case Mode::OnlineCommand: {
        const SimFaults faults = m_recorder.faults();
        m_pacer->setPieces(faults.chunkSize, faults.chunkPauseMs);
        receiveCommandBytes(bytes);
        break;
    }
    case Mode::Dialling:
        break; // the caller waits for the dial's outcome
    case Mode::Data:
        receiveDataBytes(bytes);
        break;
    }
}

void ModemSession::receiveCommandBytes(QByteArrayView bytes)
{
    QByteArray echo;
    for (char byte : bytes) {
        if (m_mode != Mode::Command && m_mode != Mode::OnlineCommand)
            break; // a dial or ATO left command mode; the rest is not for us
        if (m_settings.echo)
            echo += byte;
        if (byte == CR) {
            m_pacer->send(echo);
            echo.clear();
            executeCommandLine();
        } else if (byte == BS || byte == DEL) {
            m_commandLine.chop(1);
        } else if (byte != LF) {
            if (m_commandLine.size() < kCommandLineLimit)
                m_commandLine += byte;
            else
                m_commandOverflow = true;
        }
    }
    m_pacer->send(echo);
}

void ModemSession::executeCommandLine()
{
    const QByteArray line = m_commandLine;
    m_commandLine.clear();
    if (m_commandOverflow) {
        m_commandOverflow = false;
        sendResult("ERROR", Error);
        return;
    }
    const ModemCommandLine command = interpretCommandLine(line, m_settings);
    if (command.outcome == ModemCommandLine::Outcome::Ignored)
        return;
    if (command.hangUp && m_session)
        endCall(CallEnd::CallerHungUp);
    for (const QByteArray& information : command.information)
        sendInformation(information);

    switch (command.outcome) {
    case ModemCommandLine::Outcome::Ignored:
    case ModemCommandLine::Outcome::Ok:
        sendResult("OK", Ok);
        break;
    case ModemCommandLine::Outcome::Error:
        sendResult("ERROR", Error);
        break;
    case ModemCommandLine::Outcome::Dial:
        if (m_session) {
            sendResult("ERROR", Error); // already on a call
            break;
        }
        m_callFaults = m_recorder.faults();
        m_mode = Mode::Dialling;
        m_ringTimer.start(m_config.ringDelayMs);
        break;
    case ModemCommandLine::Outcome::Answer:
        sendResult("NO CARRIER", NoCarrier); // nobody is calling in
        break;
    case ModemCommandLine::Outcome::Online:
        if (!m_session) {
            sendResult("NO CARRIER", NoCarrier);
            break;
        }
        sendResult(m_settings.resultLevel == 0 ? "CONNECT" : "CONNECT 9600",
            m_settings.resultLevel == 0 ? Connect : Connect9600);
        m_mode = Mode::Data;
        m_plusCount = 0;
        m_lastDataAt = m_clock.elapsed();
        break;
    }
}

void ModemSession::dialAnswered()
{
    if (m_mode != Mode::Dialling)
        return;
    m_mode = Mode::Command;
    if (m_callFaults.busy)
        sendResult("BUSY", Busy);
    else if (m_callFaults.noAnswer)
        sendResult("NO ANSWER", NoAnswer);
    else if (m_callFaults.noCarrier)
        sendResult("NO CARRIER", NoCarrier);
    else
        connectCall();
}

void ModemSession::connectCall()
{
    SimConfig callConfig = m_config;
    callConfig.faults = m_callFaults;
    m_pacer->setPieces(m_callFaults.chunkSize, m_callFaults.chunkPauseMs);
    sendResult(m_settings.resultLevel == 0 ? "CONNECT" : "CONNECT 9600",
        m_settings.resultLevel == 0 ? Connect : Connect9600);
    m_mode = Mode::Data;
    m_plusCount = 0;
    m_lastDataAt = m_clock.elapsed();
    m_session = new TerminalSession(callConfig, m_recorder, *m_pacer, this);
    connect(m_session, &TerminalSession::terminalEndedCall, this, &ModemSession::terminalEndedCall);
    m_session->start();
}

void ModemSession::receiveDataBytes(QByteArrayView bytes)
{
    watchForEscape(bytes);
    if (m_session)
        m_session->receive(bytes);
}

// "+++" counts only with the guard time of silence before the first "+", the
// three within the guard time of each other, and silence for the guard time
// after (checked by the timer); anything else is data.
void ModemSession::watchForEscape(QByteArrayView bytes)
{
    const qint64 now = m_clock.elapsed();
    const int guard = m_config.guardTimeMs;
    for (char byte : bytes) {
        const bool quietBefore = now - m_lastDataAt >= guard;
        const bool closeToLast = now - m_lastPlusAt < guard;
        if (byte == '+'
            && ((m_plusCount == 0 && quietBefore)
                || (m_plusCount > 0 && m_plusCount < 3 && closeToLast))) {
            ++m_plusCount;
            m_lastPlusAt = now;
        } else {
            m_plusCount = 0;
        }
        m_lastDataAt = now;
    }
    if (m_plusCount == 3)
        m_escapeTimer.start(guard);
    else
        m_escapeTimer.stop();
}

void ModemSession::escapeConfirmed()
{
    if (m_mode != Mode::Data || m_plusCount != 3)
        return;
    m_plusCount = 0;
    m_mode = Mode::OnlineCommand;
    sendResult("OK", Ok);
}

// Back to command mode; the call's end is recorded unless the terminal ended it
// (and recorded it) itself.
void ModemSession::endCall(CallEnd how)
{
    m_escapeTimer.stop();
    m_plusCount = 0;
    m_mode = Mode::Command;
    if (!m_session)
        return;
    m_session->finish(how);
    m_session->deleteLater(); // it may be the sender of the signal we are handling
    m_session = nullptr;
}

void ModemSession::terminalEndedCall(CallEnd how)
{
    endCall(how);
    // The terminal's last words are queued already; the loss of carrier follows them.
    sendResult("NO CARRIER", NoCarrier);
}

void ModemSession::callerLeft()
{
    m_pacer->clear();
    m_commandLine.clear();
    m_commandOverflow = false;
    m_ringTimer.stop();
    endCall(CallEnd::CallerHungUp);
}

void ModemSession::sendResult(const char* words, int code)
{
    if (m_settings.quiet)
        return;
    if (m_settings.verbose)
        m_pacer->send(QByteArray("\r\n") + words + "\r\n");
    else
        m_pacer->send(QByteArray::number(code) + CR);
}

void ModemSession::sendInformation(const QByteArray& line)
{
    m_pacer->send(m_settings.verbose ? "\r\n" + line + "\r\n" : line + "\r\n");
}

} // namespace quillpost::sim
