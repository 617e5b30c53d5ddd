#include "SimEngine.h"

#include "ModemSession.h"
#include "PtyLink.h"
#include "SnppSession.h"
#include "TcpCall.h"
#include "WctpSession.h"

#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>

namespace quillpost::sim {

SimWorker::SimWorker(const SimConfig& config, SimRecorder& recorder)
    : m_config(config)
    , m_recorder(recorder)
{
}

bool SimWorker::openPty(const QString& linkPath, QString& slavePath, QString& error)
{
    m_link = new PtyLink(this);
    if (!m_link->open(error))
        return false;
    slavePath = m_link->slavePath();
    if (!linkPath.isEmpty()) {
        // Replace only a link left over from an earlier run, never a real file.
        if (QFileInfo(linkPath).isSymLink())
            QFile::remove(linkPath);
        if (!QFile::link(slavePath, linkPath)) {
            error = QStringLiteral("Cannot make the link %1 to %2").arg(linkPath, slavePath);
            return false;
        }
        m_linkPath = linkPath;
    }
    m_modem = new ModemSession(m_config, *m_link, m_recorder, this);
    return true;
}

QTcpServer* SimWorker::makeServer(QString& error)
{
    if (m_config.tlsCertificatePath.isEmpty())
        return new QTcpServer(this);
    const QList<QSslCertificate> chain
        = QSslCertificate::fromPath(m_config.tlsCertificatePath, QSsl::Pem);
    QFile keyFile(m_config.tlsKeyPath);
    const QSslKey key
        = keyFile.open(QIODevice::ReadOnly) ? QSslKey(&keyFile, QSsl::Rsa, QSsl::Pem) : QSslKey();
    if (chain.isEmpty() || key.isNull()) {
        error = QStringLiteral("Cannot read the TLS certificate %1 or its key %2")
                    .arg(m_config.tlsCertificatePath, m_config.tlsKeyPath);
        return nullptr;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    auto* server = new QSslServer(this);
    server->setSslConfiguration(tls);
    return server;
}

bool SimWorker::listenTcp(quint16 port, quint16& chosenPort, QString& error)
{
    m_server = makeServer(error);
    if (!m_server)
        return false;
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        error = QStringLiteral("Cannot listen on 127.0.0.1:%1: %2")
                    .arg(port)
                    .arg(m_server->errorString());
        return false;
    }
    chosenPort = m_server->serverPort();
    connect(m_server, &QTcpServer::newConnection, this, &SimWorker::acceptCalls);
    // A TLS listener offers a connection only once its handshake is through.
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &SimWorker::acceptCalls);
    return true;
}

void SimWorker::acceptCalls()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        SimConfig callConfig = m_config;
        callConfig.faults = m_recorder.faults();
        if (m_config.snpp) {
            startSession(new SnppSession(callConfig, socket, m_recorder, this));
            continue;
        }
        if (m_config.wctp) {
            startSession(new WctpSession(callConfig, socket, m_recorder, this));
            continue;
        }
        auto* call = new TcpCall(callConfig, socket, m_recorder, this);
        m_tcpCalls.append(call);
        call->start();
    }
    m_tcpCalls.removeAll(nullptr);
    m_sessions.removeAll(nullptr);
}

void SimWorker::startSession(NetworkSession* session)
{
    m_sessions.append(session);
    session->start();
}

void SimWorker::shutDown()
{
    if (m_modem)
        m_modem->shutDown();
    for (const QPointer<TcpCall>& call : std::as_const(m_tcpCalls)) {
        if (call)
            call->shutDown();
    }
    for (const QPointer<NetworkSession>& session : std::as_const(m_sessions)) {
        if (session)
            session->shutDown();
    }
    if (!m_linkPath.isEmpty() && QFileInfo(m_linkPath).isSymLink())
        QFile::remove(m_linkPath);
    // Everything that touches the line must die on this thread, the modem
    // before the pseudo-terminal it writes to.
    delete m_modem;
    m_modem = nullptr;
    delete m_link;
    m_link = nullptr;
    qDeleteAll(children());
    m_server = nullptr;
    m_tcpCalls.clear();
    m_sessions.clear();
}

SimEngine::SimEngine(const SimConfig& config)
    : m_config(config)
    , m_recorder(config.faults)
{
    m_thread.setObjectName(QStringLiteral("quillpost-sim"));
}

SimEngine::~SimEngine()
{
    stop();
}

bool SimEngine::startPty(const QString& linkPath)
{
    return launch([&linkPath](SimWorker& worker, Endpoint& endpoint, QString& error) {
        return worker.openPty(linkPath, endpoint.slavePath, error);
    });
}

bool SimEngine::startTcp(quint16 port)
{
    return launch([port](SimWorker& worker, Endpoint& endpoint, QString& error) {
        return worker.listenTcp(port, endpoint.tcpPort, error);
    });
}

bool SimEngine::launch(const Opener& open)
{
    if (isRunning()) {
        setError(QStringLiteral("The simulator is already running"));
        return false;
    }
    QString error;
    if (!m_config.logPath.isEmpty() && !m_recorder.openLog(m_config.logPath, error)) {
        setOutcome({}, error, false);
        return false;
    }
    m_worker = new SimWorker(m_config, m_recorder);
    m_worker->moveToThread(&m_thread);
    m_thread.start();
    Endpoint endpoint;
    bool opened = false;
    QMetaObject::invokeMethod(
        m_worker, [&] { opened = open(*m_worker, endpoint, error); }, Qt::BlockingQueuedConnection);
    if (!opened)
        shutDownThread();
    setOutcome(endpoint, error, opened);
    return opened;
}

void SimEngine::stop()
{
    if (!isRunning())
        return;
    shutDownThread();
    QMutexLocker lock(&m_stateMutex);
    m_running = false;
}

void SimEngine::shutDownThread()
{
    QMetaObject::invokeMethod(m_worker, &SimWorker::shutDown, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
    m_worker = nullptr;
}

void SimEngine::setError(const QString& error)
{
    QMutexLocker lock(&m_stateMutex);
    m_error = error;
}

void SimEngine::setOutcome(const Endpoint& endpoint, const QString& error, bool running)
{
    QMutexLocker lock(&m_stateMutex);
    m_endpoint = endpoint;
    m_error = error;
    m_running = running;
}

bool SimEngine::isRunning() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_running;
}

QString SimEngine::slavePath() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_endpoint.slavePath;
}

quint16 SimEngine::tcpPort() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_endpoint.tcpPort;
}

QString SimEngine::errorString() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_error;
}

} // namespace quillpost::sim
