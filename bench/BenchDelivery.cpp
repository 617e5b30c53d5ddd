#include "BenchDelivery.h"

#include "BenchReport.h"
#include "BenchSqlite.h"
#include "data/MessageStatus.h"
#include "data/QuillpostDoc.h"
#include "dispatch/SendOrder.h"
#include "dispatch/SendSession.h"
#include "modem/ModemList.h"
#include "platform/db/DaoRecordset.h"
#include "ui/QuillpostTreeView.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

namespace {

constexpr int kRecipients = 50;
constexpr int kLineBitsPerSecond = 9600;
constexpr int kBitsPerByte = 10; // start bit, eight data bits, stop bit
const QString kModemName = QStringLiteral("Bench modem");

// The provider, its users and a waiting message to all of them, the only one waiting;
// returns the message's ID.
int addDeliveryMessage(const QString& path)
{
    ExecuteSql(path,
        QStringLiteral("UPDATE Messages SET Status = %1 WHERE Status = %2")
            .arg(StatusValue(MessageStatus::Sent))
            .arg(StatusValue(MessageStatus::Waiting)));
    const long long provider = CountRows(path, QStringLiteral("ServiceProviders")) + 1000;
    const long long firstUser = CountRows(path, QStringLiteral("Users")) + 100000;
    const long long firstRow = CountRows(path, QStringLiteral("Messages")) + 1000000;
    QString sql = QStringLiteral("BEGIN; INSERT INTO ServiceProviders (ID, ServiceName, AccessNumber, "
                                 "BaudRate, StopBits, Parity, DataBits, TAPType, UseAsDefault, "
                                 "Password) VALUES (%1, 'Bench Paging', '5551234', 9600, 1, 0, 8, "
                                 "1, 0, '');")
                      .arg(provider);
    for (int i = 0; i < kRecipients; ++i) {
        sql += QStringLiteral("INSERT INTO Users (ID, Name, TelephoneNumber, PreferredProvider, "
                              "Group1, Group2, Group3, Group4, Group5, Group6, Group7, Group8, "
                              "Group9, Group10) VALUES (%1, 'On call %2', '%3', %4, 0, 0, 0, 0, 0, "
                              "0, 0, 0, 0, 0);")
                   .arg(firstUser + i)
                   .arg(i + 1)
                   .arg(8000001 + i)
                   .arg(provider);
        sql += QStringLiteral("INSERT INTO Messages (ID, Recipient, MessageCount, MessageId, Text, "
                              "Status, SendTime, RequestTime, RequiredSendTime, Retries) VALUES "
                              "(%1, %2, %3, %4, 'Theatre 2 ready for the next case, please "
                              "come now: Sent using Quillpost', 0, '2026-01-01 00:00:00', "
                              "'2026-01-01 00:00:00', '2026-01-01 00:00:00', 0);")
                   .arg(firstRow + i)
                   .arg(firstUser + i)
                   .arg(kRecipients)
                   .arg(firstRow);
    }
    ExecuteSql(path, sql + QStringLiteral("COMMIT;"));
    return int(firstRow);
}

// The simulator on a pseudo-terminal of its own, stopped when this goes.
class Simulator
{
public:
    Simulator(const QString& program, const QString& folder)
        : m_log(QDir(folder).filePath(QStringLiteral("pages.jsonl")))
    {
        m_process.start(program,
            { QStringLiteral("--pty"), QStringLiteral("--ring-delay"), QStringLiteral("0"),
                QStringLiteral("--line-rate"), QString::number(kLineBitsPerSecond),
                QStringLiteral("--log"), m_log });
        if (!m_process.waitForStarted(10000) || !m_process.waitForReadyRead(10000))
            BenchFail(QStringLiteral("The simulator %1 did not start").arg(program));
        m_device = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~Simulator()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    QString device() const { return m_device; }
    // The pages the terminal took and the bytes of the call, from its log.
    void readLog(int& pages, long long& bytes) const
    {
        if (!QFile::exists(m_log))
            BenchFail(QStringLiteral("The simulator wrote no log"));
        const SimLog log = ReadSimLog(m_log);
        pages = int(log.pages.size());
        bytes = log.bytes;
    }

private:
    QProcess m_process;
    QString m_log;
    QString m_device;
};

void useSimulatedModem(const QString& device)
{
    QSettings settings(QStringLiteral("Northmoor"), QStringLiteral("Quillpost"));
    settings.beginWriteArray(QStringLiteral("Lines"));
    settings.setArrayIndex(0);
    settings.setValue(QStringLiteral("name"), kModemName);
    settings.setValue(QStringLiteral("type"), QStringLiteral("hayes"));
    settings.setValue(QStringLiteral("device"), device);
    settings.endArray();
}

// As the sending window: each recorded result re-reads its message (or, when that
// will not do, reloads the document and rebuilds the tree); the close ends the wait.
class BenchHost : public ISendHost
{
public:
    BenchHost(CQuillpostDoc& doc, CQuillpostTreeView* view, QEventLoop& loop)
        : m_doc(doc)
        , m_view(view)
        , m_loop(loop)
    {
    }
    void ShowSendStatus(const QString& text) override { m_lastStatus = text; }
    void SendResultRecorded() override
    {
        ++m_recorded;
        if (m_doc.ReloadMessage(m_messageId))
            return;
        m_doc.ReloadAll();
        if (m_view)
            m_view->RefreshTree();
    }
    void SendClosed() override
    {
        m_closed = true;
        m_loop.quit();
    }

    std::int32_t m_messageId = 0;
    int m_recorded = 0;
    bool m_closed = false;
    QString m_lastStatus;

private:
    CQuillpostDoc& m_doc;
    CQuillpostTreeView* m_view;
    QEventLoop& m_loop;
};

} // namespace

Delivery MeasureDelivery(const QString& path, const QString& simProgram, bool rebuildTree)
{
    QTemporaryDir folder;
    Simulator simulator(simProgram, folder.path());
    useSimulatedModem(simulator.device());
    const int messageId = addDeliveryMessage(path);
    CDaoRecordset::SetDefaultDatabaseName(path);

    CQuillpostDoc doc;
    doc.ReloadAll();
    std::unique_ptr<CQuillpostTreeView> view;
    if (rebuildTree) {
        view = std::make_unique<CQuillpostTreeView>(doc);
        view->EnsureFilled();
    }
    std::optional<SendOrder> order = ChooseDueSend(doc);
    if (!order || order->job->m_messageId != messageId || order->recipients.size() != kRecipients)
        BenchFail(QStringLiteral("The scheduler did not choose the 50-recipient message"));

    QEventLoop loop;
    BenchHost host(doc, view.get(), loop);
    host.m_messageId = messageId;
    CModemList modems([] { return kModemName; });
    const SendTiming timing;
    CSendSession session(std::move(*order), modems, host, timing);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(300000);

    QElapsedTimer timer;
    timer.start();
    session.Start();
    if (!host.m_closed)
        loop.exec();
    Delivery delivery;
    delivery.ms = timer.nsecsElapsed() / 1e6;
    if (!host.m_closed)
        BenchFail(QStringLiteral("The send did not close: %1").arg(host.m_lastStatus));

    const long long sent = CountRows(path,
        QStringLiteral("Messages WHERE MessageId = %1 AND Status = %2")
            .arg(messageId)
            .arg(StatusValue(MessageStatus::Sent)));
    int pages = 0;
    simulator.readLog(pages, delivery.lineBytes);
    if (sent != kRecipients || pages != kRecipients || host.m_recorded != kRecipients)
        BenchFail(QStringLiteral("The send delivered %1 pages and recorded %2 rows as sent, not %3 (%4)")
                 .arg(pages)
                 .arg(sent)
                 .arg(kRecipients)
                 .arg(host.m_lastStatus));
    // The logout's pause, the two pauses while closing and the one after hanging up.
    const double pausesMs = 100 + 2 * timing.closePauseMs + timing.hangUpPauseMs;
    delivery.floorMs
        = double(delivery.lineBytes) * kBitsPerByte * 1000.0 / kLineBitsPerSecond + pausesMs;
    return delivery;
}
