#include "BenchCarrier.h"

#include "BenchReport.h"
#include "BenchSqlite.h"
#include "carrier/HttpExchange.h"
#include "carrier/WctpMessage.h"
#include "data/MessageStatus.h"
#include "data/QuillpostDoc.h"
#include "dispatch/SendOrder.h"
#include "dispatch/SendSession.h"
#include "modem/ModemList.h"
#include "platform/db/DaoRecordset.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr int kPages = 50;
constexpr int kFloorRuns = 3;
constexpr int kWaitMs = 10000;
constexpr int kFirstUser = 100000;
constexpr int kFirstRow = 1000000;
constexpr int kFirstPager = 8000001;
const QByteArray kText = "Theatre 2 ready for the next case, please come now: Sent using Quillpost";
const QString kWctpPath = QStringLiteral("/wctp");

// The simulator listening on a loopback port of its own, stopped when this goes.
class CarrierSimulator
{
public:
    CarrierSimulator(const QString& program, const QString& protocol, const QString& folder)
        : m_protocol(protocol)
        , m_log(QDir(folder).filePath(protocol + QStringLiteral("-pages.jsonl")))
    {
        m_process.start(program,
            { QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--") + protocol,
                QStringLiteral("--log"), m_log });
        if (!m_process.waitForStarted(kWaitMs) || !m_process.waitForReadyRead(kWaitMs))
            BenchFail(QStringLiteral("The simulator %1 did not start").arg(program));
        // "listening on 127.0.0.1:PORT"
        m_port
            = quint16(QString::fromUtf8(m_process.readLine()).trimmed().section(':', -1).toUInt());
        if (m_port == 0)
            BenchFail(QStringLiteral("The simulator named no port"));
    }
    ~CarrierSimulator()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    quint16 port() const { return m_port; }
    // The pages of this protocol the simulator took and acknowledged so far.
    int pagesTaken() const
    {
        const QList<SimLogPage> pages = ReadSimLog(m_log).pages;
        return int(std::count_if(pages.begin(), pages.end(), [this](const SimLogPage& page) {
            return page.acknowledged && page.protocol == m_protocol.toLatin1();
        }));
    }

private:
    QProcess m_process;
    QString m_protocol;
    QString m_log;
    quint16 m_port = 0;
};

// A small address book, then a provider reached at `accessNumber` and 50 waiting
// one-recipient messages, one to each of its 50 users.
void makeCarrierDatabase(const QString& path, const QString& accessNumber)
{
    MakeBenchDatabase(path, BenchScale { 20, 2, 2, 10, 1 });
    QString sql
        = QStringLiteral("BEGIN; INSERT INTO ServiceProviders (ID, ServiceName, AccessNumber, "
                         "BaudRate, StopBits, Parity, DataBits, TAPType, UseAsDefault, "
                         "Password) VALUES (1000, 'Bench Carrier', '%1', 9600, 1, 0, 8, "
                         "1, 0, '');")
              .arg(accessNumber);
    for (int i = 0; i < kPages; ++i) {
        sql += QStringLiteral("INSERT INTO Users (ID, Name, TelephoneNumber, PreferredProvider, "
                              "Group1, Group2, Group3, Group4, Group5, Group6, Group7, Group8, "
                              "Group9, Group10) VALUES (%1, 'On call %2', '%3', 1000, 0, 0, 0, 0, "
                              "0, 0, 0, 0, 0, 0);")
                   .arg(kFirstUser + i)
                   .arg(i + 1)
                   .arg(kFirstPager + i);
        sql += QStringLiteral("INSERT INTO Messages (ID, Recipient, MessageCount, MessageId, Text, "
                              "Status, SendTime, RequestTime, RequiredSendTime, Retries) VALUES "
                              "(%1, %2, 1, %1, '%3', %4, '2026-01-01 00:00:00', "
                              "'2026-01-01 00:00:00', '2026-01-01 00:00:00', 0);")
                   .arg(kFirstRow + i)
                   .arg(kFirstUser + i)
                   .arg(QString::fromLatin1(kText))
                   .arg(StatusValue(MessageStatus::Waiting));
    }
    ExecuteSql(path, sql + QStringLiteral("COMMIT;"));
}

// As the dispatcher: each recorded result catches the document up; the close ends the
// wait. It also times the closing: from the page's recorded result to the close.
class CarrierHost : public ISendHost
{
public:
    CarrierHost(CQuillpostDoc& doc, std::int32_t messageId, QEventLoop& loop)
        : m_doc(doc)
        , m_messageId(messageId)
        , m_loop(loop)
    {
    }
    void ShowSendStatus(const QString& text) override { m_lastStatus = text; }
    void SendResultRecorded() override
    {
        m_doc.CatchUpWithMessage(m_messageId);
        m_sinceResult.start();
    }
    void SendClosed() override
    {
        m_closed = true;
        m_closingMs = m_sinceResult.isValid() ? m_sinceResult.nsecsElapsed() / 1e6 : 0;
        m_loop.quit();
    }

    bool m_closed = false;
    double m_closingMs = 0;
    QString m_lastStatus;

private:
    CQuillpostDoc& m_doc;
    std::int32_t m_messageId;
    QEventLoop& m_loop;
    QElapsedTimer m_sinceResult;
};

// Every due message in turn, each chosen as the scheduler chooses and sent by a send of
// its own with the program's periods. Returns the milliseconds the sends spent closing.
double sendThroughProgram(const QString& path)
{
    double closingMs = 0;
    CDaoRecordset::SetDefaultDatabaseName(path);
    CQuillpostDoc doc;
    doc.ReloadAll();
    CModemList modems([] { return QString(); });
    for (int i = 0; i < kPages; ++i) {
        doc.ReloadIfChanged();
        std::optional<SendOrder> order = ChooseDueSend(doc);
        if (!order || order->recipients.size() != 1)
            BenchFail(QStringLiteral("The scheduler did not choose a one-recipient message"));
        QEventLoop loop;
        CarrierHost host(doc, order->job->m_messageId, loop);
        CSendSession session(std::move(*order), modems, host);
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        session.Start();
        if (!host.m_closed)
            loop.exec();
        if (!host.m_closed || session.ResultCode() != StatusValue(MessageStatus::Sent))
            BenchFail(QStringLiteral("A send did not deliver its page: %1").arg(host.m_lastStatus));
        closingMs += host.m_closingMs;
    }
    return closingMs;
}

QTcpSocket& connectBare(QTcpSocket& socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(kWaitMs))
        BenchFail(QStringLiteral("The bare client could not connect: %1").arg(socket.errorString()));
    return socket;
}

// The whole HTTP answer has arrived: its head and as many body bytes as it announced.
bool httpAnswerComplete(const QByteArray& answer)
{
    const qsizetype headEnd = answer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return false;
    for (const QByteArray& line : answer.left(headEnd).split('\n'))
        if (line.toLower().startsWith("content-length:"))
            return answer.size() - headEnd - 4 >= line.mid(15).trimmed().toLongLong();
    return false;
}

void postBare(quint16 port, const QByteArray& request)
{
    QTcpSocket socket;
    connectBare(socket, port).write(request);
    QByteArray answer;
    while (!httpAnswerComplete(answer)) {
        if (!socket.waitForReadyRead(kWaitMs))
            BenchFail(QStringLiteral("The WCTP gateway did not answer the bare client"));
        answer += socket.readAll();
    }
    if (!answer.contains("wctp-Success"))
        BenchFail(QStringLiteral("The WCTP gateway refused the bare client's page"));
}

void expectLine(QTcpSocket& socket, const char* code)
{
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(kWaitMs))
            BenchFail(QStringLiteral("The SNPP server did not answer the bare client"));
    const QByteArray line = socket.readLine();
    if (!line.startsWith(code))
        BenchFail(QStringLiteral("The SNPP server answered the bare client: %1")
                 .arg(QString::fromLatin1(line)));
}

void pageBare(quint16 port, const QByteArray& pager)
{
    QTcpSocket socket;
    expectLine(connectBare(socket, port), "220");
    const std::pair<QByteArray, const char*> steps[] = { { "PAGE " + pager, "250" },
        { "MESS " + kText, "250" }, { "SEND", "250" }, { "QUIT", "221" } };
    for (const auto& [command, code] : steps) {
        socket.write(command + "\r\n");
        expectLine(socket, code);
    }
}

// The 50 WCTP requests as the program builds them, each with a message ID of its own.
std::vector<QByteArray> wctpRequests(quint16 port)
{
    std::vector<QByteArray> requests;
    for (int i = 0; i < kPages; ++i) {
        const QString pager = QString::number(kFirstPager + i);
        const WctpSubmission submission { QStringLiteral("bench"), QString(),
            MakeWctpMessageId(kFirstRow + i, pager), pager, QString::fromLatin1(kText),
            QDateTime::currentDateTimeUtc() };
        requests.push_back(HttpPostRequest(QStringLiteral("127.0.0.1"), port, false, kWctpPath,
            "text/xml; charset=utf-8", WctpSubmitRequestBody(submission)));
    }
    return requests;
}

struct CarrierCase
{
    QString protocol; // the simulator's option and its log's name for the protocol
    QString figure;
    QString floorName;
};

void measureCarrier(
    BenchReport& report, const CarrierCase& c, const QString& simProgram, const QString& workFolder)
{
    CarrierSimulator sim(simProgram, c.protocol, workFolder);
    const bool wctp = c.protocol == QLatin1String("wctp");
    // Apart from the SNPP gateway figure's database in the same folder.
    const QString path = QDir(workFolder).filePath(c.protocol + QStringLiteral("-carrier.mdb"));
    makeCarrierDatabase(path,
        wctp ? QStringLiteral("http://bench@127.0.0.1:%1%2").arg(sim.port()).arg(kWctpPath)
             : QStringLiteral("snpp://127.0.0.1:%1").arg(sim.port()));

    int expected = 0;
    auto checkPages = [&] {
        expected += kPages;
        if (sim.pagesTaken() != expected)
            BenchFail(QStringLiteral("The %1 simulator took %2 pages, not %3")
                     .arg(c.protocol)
                     .arg(sim.pagesTaken())
                     .arg(expected));
    };
    const std::vector<QByteArray> requests
        = wctp ? wctpRequests(sim.port()) : std::vector<QByteArray>();
    const double floorMs = MedianMs(
        kFloorRuns,
        [&] {
            for (int i = 0; i < kPages; ++i)
                wctp ? postBare(sim.port(), requests[size_t(i)])
                     : pageBare(sim.port(), QByteArray::number(kFirstPager + i));
        },
        checkPages);
    double closingMs = 0;
    const double programMs = MedianMs(
        1, [&] { closingMs = sendThroughProgram(path); },
        [&] {
            checkPages();
            if (CountRows(path,
                    QStringLiteral("Messages WHERE ID >= %1 AND Status = %2")
                        .arg(kFirstRow)
                        .arg(StatusValue(MessageStatus::Sent)))
                != kPages)
                BenchFail(QStringLiteral("Not every %1 message was recorded as sent").arg(c.protocol));
        });
    report.add({ c.figure, programMs, floorMs, 1.5, c.floorName });
    // Closing (the logout and hang-up) is shown apart, so that what choosing, calling and
    // recording cost can be read beside the floor.
    report.note(QStringLiteral("   %1: %2 pages/s, the bare client %3 pages/s. %4 ms of the "
                               "program's time pass between a page's recorded result and its "
                               "send's close (logout, hang-up); the rest, %5 ms, is %6 x the "
                               "floor.")
                    .arg(c.protocol.toUpper())
                    .arg(kPages * 1000.0 / programMs, 0, 'f', 1)
                    .arg(kPages * 1000.0 / floorMs, 0, 'f', 0)
                    .arg(closingMs, 0, 'f', 0)
                    .arg(programMs - closingMs, 0, 'f', 1)
                    .arg((programMs - closingMs) / floorMs, 0, 'f', 1));
}

} // namespace

void MeasureCarriers(BenchReport& report, const QString& simProgram, const QString& workFolder)
{
    const CarrierCase cases[] = {
        { QStringLiteral("wctp"), QStringLiteral("8a. WCTP: 50 one-recipient messages"),
            QStringLiteral("bare socket, 50 POSTs") },
        { QStringLiteral("snpp"), QStringLiteral("8b. SNPP: 50 one-recipient messages"),
            QStringLiteral("bare socket, 50 PAGE/MESS/SEND") },
    };
    for (const CarrierCase& c : cases)
        measureCarrier(report, c, simProgram, workFolder);
}
