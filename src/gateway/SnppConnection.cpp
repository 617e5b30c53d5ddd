#include "gateway/SnppConnection.h"

#include "gateway/GatewayCounters.h"
#include "gateway/SnppCredentials.h"
#include "gateway/SnppQueue.h"

#include <QFutureWatcher>
#include <QPromise>
#include <QTcpSocket>
#include <QThreadPool>

namespace {

// Enough for a few full lines; beyond it the system holds the client's bytes back.
constexpr qint64 kReadBufferBytes = 16 * 1024;
// Replies a client has not read: past this it is not reading them at all.
constexpr qint64 kMostUnreadReplyBytes = 64 * 1024;
// How long a closing client has to take its last reply.
constexpr int kClosingMs = 5000;

} // namespace

CSnppConnection::CSnppConnection(
    QTcpSocket* socket, const SnppConnectionContext& context, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_context(context)
    , m_peer(QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()))
    , m_session({ [](const QString& pagerId) { return SnppPagerRefusal(pagerId); },
                    [this](const SnppMessage& message) { return Submit(message); } },
          context.credentials != nullptr)
{
    m_socket->setParent(this);
    m_socket->setReadBufferSize(kReadBufferBytes);
    connect(m_socket, &QTcpSocket::readyRead, this, &CSnppConnection::Read);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        m_closing = true; // a login check may still answer: it finds nothing to do
        m_idle.stop();
        emit Closed();
        deleteLater();
    });
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (m_closing)
            return m_socket->abort();
        m_socket->write("421 Timeout, closing the connection\r\n");
        Close();
    });
    m_socket->write(CSnppSession::Greeting());
    m_idle.start(m_context.idleMs);
}

void CSnppConnection::Shutdown()
{
    if (m_closing)
        return;
    m_socket->write("421 The gateway is shutting down, closing the connection\r\n");
    Close();
}

void CSnppConnection::Read()
{
    while (!m_closing && !m_checkingLogin && TakeLine()) { }
}

bool CSnppConnection::TakeLine()
{
    QByteArray line;
    if (m_socket->canReadLine())
        line = m_socket->readLine(CSnppSession::kMostLineBytes + 3);
    else if (m_socket->bytesAvailable() > CSnppSession::kMostLineBytes + 1)
        line = m_socket->read(CSnppSession::kMostLineBytes + 2); // refused as too long
    else
        return false;
    m_idle.start(m_context.idleMs);
    if (line.endsWith('\n'))
        line.chop(line.endsWith("\r\n") ? 2 : 1);
    Respond(m_session.Line(line));
    return true;
}

void CSnppConnection::Respond(const SnppReply& reply)
{
    m_socket->write(reply.text);
    if (m_socket->bytesToWrite() > kMostUnreadReplyBytes) {
        m_context.log(
            QStringLiteral("SNPP %1: does not read its replies; disconnected.").arg(m_peer));
        m_closing = true;
        m_socket->abort();
        return;
    }
    if (reply.close)
        Close();
    else if (reply.checkLogin)
        CheckLogin(reply.checkLogin->first, reply.checkLogin->second);
}

// A check takes a tenth of a second by design: it runs on the thread pool, and this
// connection reads nothing more until it is answered.
void CSnppConnection::CheckLogin(const QString& name, const QString& password)
{
    m_checkingLogin = true;
    auto promise = std::make_shared<QPromise<bool>>();
    auto* watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher, name] {
        watcher->deleteLater();
        LoginChecked(watcher->future().resultCount() > 0 && watcher->result(), name);
    });
    watcher->setFuture(promise->future());
    QThreadPool::globalInstance()->start(
        [promise, credentials = m_context.credentials, name, password] {
            promise->start();
            promise->addResult(credentials->Accepts(name, password));
            promise->finish();
        });
}

void CSnppConnection::LoginChecked(bool accepted, const QString& name)
{
    m_checkingLogin = false;
    if (m_closing)
        return;
    if (!accepted)
        m_context.log(QStringLiteral("SNPP %1: login \"%2\" refused.").arg(m_peer, name));
    Respond(m_session.LoginChecked(accepted));
    Read();
}

SnppSubmitResult CSnppConnection::Submit(const SnppMessage& message)
{
    const SnppQueued queued = QueueSnppMessage(message);
    const QString from = QStringLiteral("SNPP %1, login \"%2\"").arg(m_peer, message.login);
    if (queued.result.outcome != SnppSubmitResult::Outcome::Queued) {
        m_context.log(
            QStringLiteral("%1: nothing queued for %2: %3")
                .arg(from, message.pagerIds.join(QStringLiteral(", ")), queued.result.reason));
        return queued.result;
    }
    ++m_context.counters->snppSubmissions;
    QString details;
    if (message.due)
        details += QStringLiteral(", due %1").arg(message.due->ToText());
    if (!message.subject.isEmpty())
        details += QStringLiteral(", subject \"%1\"").arg(message.subject);
    if (!message.callerId.isEmpty())
        details += QStringLiteral(", caller %1").arg(message.callerId);
    m_context.log(QStringLiteral("%1: queued message %2 for %3%4")
                      .arg(from)
                      .arg(queued.result.messageId)
                      .arg(queued.recipients, details));
    return queued.result;
}

void CSnppConnection::Close()
{
    m_closing = true;
    m_socket->flush();
    m_idle.start(kClosingMs);
    m_socket->disconnectFromHost();
}
