#pragma once

#include "ModemCommands.h"
#include "PagingSimulator.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace quillpost::sim {

class PtyLink;
class ReplyPacer;
class SimRecorder;
class TerminalSession;

// The Hayes modem on the pseudo-terminal: AT commands with echo and result codes
// in command mode, a dial that rings and connects to a paging terminal, data mode
// with the "+++" escape, and the hang-ups (ATH, the caller closing the port, the
// far end ending the call).
class ModemSession : public QObject
{
    Q_OBJECT

public:
    ModemSession(
        const SimConfig& config, PtyLink& link, SimRecorder& recorder, QObject* parent = nullptr);
    ~ModemSession() override;

    // The simulator is going away: a call in progress ends as stopped.
    void shutDown();

private:
    enum class Mode
    {
        Command,
        Dialling,
        Data,
        OnlineCommand
    };

    void receive(const QByteArray& bytes);
    void receiveCommandBytes(QByteArrayView bytes);
    void executeCommandLine();
    void receiveDataBytes(QByteArrayView bytes);
    void watchForEscape(QByteArrayView bytes);
    void escapeConfirmed();
    void dialAnswered();
    void connectCall();
    void endCall(CallEnd how);
    void terminalEndedCall(CallEnd how);
    void callerLeft();
    void sendResult(const char* words, int code);
    void sendInformation(const QByteArray& line);

    SimConfig m_config;
    PtyLink& m_link;
    SimRecorder& m_recorder;
    ReplyPacer* m_pacer = nullptr;
    TerminalSession* m_session = nullptr;
    ModemSettings m_settings;
    Mode m_mode = Mode::Command;
    QByteArray m_commandLine;
    bool m_commandOverflow = false;
    SimFaults m_callFaults;
    QTimer m_ringTimer;
    QTimer m_escapeTimer;
    QElapsedTimer m_clock;
    qint64 m_lastDataAt = 0;
    qint64 m_lastPlusAt = 0;
    int m_plusCount = 0;
};

} // namespace quillpost::sim
