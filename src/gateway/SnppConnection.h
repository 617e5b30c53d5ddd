#pragma once

#include "gateway/SnppSession.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class CSnppCredentials;
class QTcpSocket;
struct GatewayCounters;

// What every connection of one server shares.
struct SnppConnectionContext
{
    std::shared_ptr<const CSnppCredentials> credentials; // null: LOGI takes anyone
    GatewayCounters* counters = nullptr;
    std::function<void(const QString&)> log;
    int idleMs = 0;
};

// One client of the SNPP gateway: its socket, its conversation and its idle timer. It
// reads a line at a time as it arrives and never waits for the client, so a slow or
// silent client holds up nothing else on the thread. A client that breaks a limit (a
// line over 1 KiB, DATA over 64 KiB, silence past the idle time, replies it does not
// read) gets its reply and is disconnected.
class CSnppConnection final : public QObject
{
    Q_OBJECT

public:
    // Takes the socket, greets the client and starts its idle timer.
    CSnppConnection(QTcpSocket* socket, const SnppConnectionContext& context, QObject* parent);

    // Says 421 and closes, as the gateway shuts down.
    void Shutdown();

signals:
    // The socket is closed; the object deletes itself next.
    void Closed();

private:
    void Read();
    bool TakeLine();
    void Respond(const SnppReply& reply);
    void CheckLogin(const QString& name, const QString& password);
    void LoginChecked(bool accepted, const QString& name);
    SnppSubmitResult Submit(const SnppMessage& message);
    void Close();

    QTcpSocket* m_socket;
    SnppConnectionContext m_context;
    QString m_peer;
    CSnppSession m_session;
    QTimer m_idle;
    bool m_checkingLogin = false;
    bool m_closing = false;
};
