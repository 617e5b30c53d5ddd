#include "BenchSnpp.h"

#include "BenchReport.h"
#include "BenchSqlite.h"
#include "dispatch/MessageQueue.h"
#include "gateway/GatewayCounters.h"
#include "gateway/SnppServer.h"
#include "platform/db/DaoRecordset.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kClients = 10;
constexpr int kMessagesPerClient = 100;
constexpr int kMessages = kClients * kMessagesPerClient;
constexpr int kUsers = 200;
constexpr int kDeadlineMs = 120000;

// One client: after the greeting, PAGE, MESS and SEND for each of its messages, every
// command sent once the one before it was answered 250.
class BenchClient
{
public:
    BenchClient(int index, quint16 port, int& finished, QString& error, QEventLoop& loop)
        : m_index(index)
        , m_finished(finished)
        , m_error(error)
        , m_loop(loop)
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { Read(); });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

private:
    void Read()
    {
        while (m_socket.canReadLine()) {
            const QByteArray reply = m_socket.readLine();
            // Nothing may be thrown through the event loop: the first wrong reply ends it.
            if (!reply.startsWith(m_step == 0 ? "220" : "250")) {
                m_error = QStringLiteral("SNPP answered: ") + QString::fromUtf8(reply.trimmed());
                return m_loop.quit();
            }
            Next();
        }
    }
    void Next()
    {
        const int message = m_step / 3;
        if (message == kMessagesPerClient) {
            if (++m_finished == kClients)
                m_loop.quit();
            return;
        }
        const int user = 1 + (m_index * kMessagesPerClient + message) % kUsers;
        switch (m_step++ % 3) {
        case 0:
            m_socket.write("PAGE " + QByteArray::number(7000000 + user) + "\r\n");
            break;
        case 1:
            m_socket.write("MESS Disk full on host " + QByteArray::number(message) + "\r\n");
            break;
        default:
            m_socket.write("SEND\r\n");
        }
    }

    QTcpSocket m_socket;
    int m_index;
    int m_step = 0;
    int& m_finished;
    QString& m_error;
    QEventLoop& m_loop;
};

double submitOverSnpp(quint16 port)
{
    QEventLoop loop;
    int finished = 0;
    QString error;
    QTimer::singleShot(kDeadlineMs, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    std::vector<std::unique_ptr<BenchClient>> clients;
    for (int i = 0; i < kClients; ++i)
        clients.push_back(std::make_unique<BenchClient>(i, port, finished, error, loop));
    loop.exec();
    if (!error.isEmpty())
        throw std::runtime_error(error.toStdString());
    if (finished != kClients)
        throw std::runtime_error("The SNPP clients did not finish in time");
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

void MeasureSnpp(BenchReport& report, const QString& workFolder)
{
    const QString path = QDir(workFolder).filePath(QStringLiteral("snpp.mdb"));
    BenchScale scale;
    scale.users = kUsers;
    scale.groups = 10;
    scale.providers = 2;
    scale.messages = 100;
    MakeBenchDatabase(path, scale);
    CDaoRecordset::SetDefaultDatabaseName(path);
    GatewayCounters counters;
    SnppServerConfig config;
    CSnppServer server(config, counters, [](const QString&) {});
    if (const QString error = server.Listen(); !error.isEmpty())
        throw std::runtime_error(error.toStdString());

    std::int64_t expected = CountRows(path, QStringLiteral("Messages"));
    auto checkQueued = [&] {
        expected += kMessages;
        if (CountRows(path, QStringLiteral("Messages")) != expected)
            throw std::runtime_error("Not every message submitted was queued");
    };
    const double snppMs = MedianMs(
        1, [&] { submitOverSnpp(server.Port()); }, checkQueued);
    const double floorMs = MedianMs(
        1,
        [] {
            for (int i = 0; i < kMessages; ++i)
                QueueSubmittedText(
                    QStringLiteral("Disk full on host %1").arg(i % kMessagesPerClient),
                    COleDateTime::GetCurrentTime(), { 1 + i % kUsers });
        },
        checkQueued);
    if (counters.snppSubmissions != std::uint64_t(kMessages))
        throw std::runtime_error("The gateway counted another number of submissions");
    report.add({ QStringLiteral("7. SNPP: 1,000 messages from 10 clients"), snppMs, floorMs, 4,
        QStringLiteral("QueueSubmittedText x 1,000") });
    report.note(QStringLiteral("   SNPP: %1 messages/s; the bare queueing loop: %2 messages/s.")
                    .arg(kMessages * 1000.0 / snppMs, 0, 'f', 0)
                    .arg(kMessages * 1000.0 / floorMs, 0, 'f', 0));
}
