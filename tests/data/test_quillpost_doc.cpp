// The document: loading all four tables, splitting message rows into messages, the
// provider lookups, and how its times convert from local Date/Time values in a zone with
// daylight saving, and the time now by the program's clock. (A message's copy outliving a
// reload is seen in test_send_order; what a failed load keeps, in test_bad_database_files.)
#include "FakeClock.h"
#include "PresetPrompt.h"
#include "TempDatabase.h"
#include "data/QuillTime.h"
#include "data/QuillpostDoc.h"

#include <QDateTime>
#include <QTest>
#include <ctime>
#include <limits>

namespace {

constexpr qint64 Earliest = std::numeric_limits<qint32>::min();
constexpr qint64 Latest = std::numeric_limits<qint32>::max();

// The document loaded from the current directory's database, with the messages the
// load showed.
struct LoadedDoc : CQuillpostDoc
{
    LoadedDoc() { ReloadAll(); }
    PresetPrompt prompt;
};

qint64 utc(int year, int month, int day, int hour, int minute, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC)
        .toSecsSinceEpoch();
}

} // namespace

class TestQuillpostDoc : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // UK rules as a POSIX rule, so the test needs no zone database: GMT in winter, BST
        // (+1) from the last Sunday of March 01:00 to the last Sunday of October 02:00 local.
        qputenv("TZ", "GMT0BST,M3.5.0/1,M10.5.0");
        tzset();
    }

    void localTimeBecomesUtcSeconds_data()
    {
        QTest::addColumn<COleDateTime>("local");
        QTest::addColumn<qint64>("earliest"); // the seconds lie in [earliest, latest]
        QTest::addColumn<qint64>("latest");
        QTest::addColumn<bool>("roundTrip"); // the seconds convert back to `local`
        QTest::newRow("winter") << COleDateTime(2026, 1, 15, 9, 0, 0) << utc(2026, 1, 15, 9, 0)
                                << utc(2026, 1, 15, 9, 0) << true;
        QTest::newRow("summer, one hour ahead")
            << COleDateTime(2026, 7, 15, 9, 0, 0) << utc(2026, 7, 15, 8, 0)
            << utc(2026, 7, 15, 8, 0) << true;
        QTest::newRow("before 1970") << COleDateTime(1960, 1, 1, 0, 0, 0) << utc(1960, 1, 1, 0, 0)
                                     << utc(1960, 1, 1, 0, 0) << true;
        QTest::newRow("last second")
            << COleDateTime(2038, 1, 19, 3, 14, 7) << Latest << Latest << true;
        QTest::newRow("first second")
            << COleDateTime(1901, 12, 13, 20, 45, 52) << Earliest << Earliest << true;
        // Outside the 32-bit range: clamped to the nearest end.
        QTest::newRow("zero date-time") << COleDateTime() << Earliest << Earliest << false;
        QTest::newRow("one second late")
            << COleDateTime(2038, 1, 19, 3, 14, 8) << Latest << Latest << false;
        // 01:30 on 29 March 2026 does not exist; 01:30 on 25 October 2026 exists twice.
        QTest::newRow("skipped hour")
            << COleDateTime(2026, 3, 29, 1, 30, 0) << utc(2026, 3, 29, 0, 30)
            << utc(2026, 3, 29, 1, 30) << false;
        QTest::newRow("repeated hour")
            << COleDateTime(2026, 10, 25, 1, 30, 0) << utc(2026, 10, 25, 0, 30)
            << utc(2026, 10, 25, 1, 30) << true;
    }

    void localTimeBecomesUtcSeconds()
    {
        QFETCH(COleDateTime, local);
        QFETCH(qint64, earliest);
        QFETCH(qint64, latest);
        QFETCH(bool, roundTrip);
        // One value at a time, and as a load converts them, by the hour.
        QuillTimeConverter converter;
        for (const qint64 seconds : { qint64(ToQuillTime(local)), qint64(converter(local)) }) {
            QVERIFY2(seconds >= earliest && seconds <= latest, qPrintable(QString::number(seconds)));
            if (roundTrip)
                QCOMPARE(FromQuillTime(QuillTime(seconds)), local);
        }
    }

    // The time now is the installed clock's: after 2038 the local date goes on (in summer
    // time here) while the seconds stop at the last. (The system clock, when none is
    // installed, is what the programs run by test_headless_dispatcher send by.)
    void nowIsTheInstalledClocksTime()
    {
        FakeClock clock(QDateTime::fromSecsSinceEpoch(utc(2040, 6, 1, 12, 0)));
        QCOMPARE(COleDateTime::GetCurrentTime(), COleDateTime(2040, 6, 1, 13, 0, 0));
        QCOMPARE(qint64(CurrentQuillTime()), Latest);
    }

    void everyColumnReachesItsField()
    {
        TempDatabase db;
        db.addUser(QStringLiteral("Ann Hale"), QStringLiteral("07700900123"), 4,
            { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 });
        db.addGroup(QStringLiteral("Wardens"));
        db.exec(QStringLiteral(
            "INSERT INTO ServiceProviders (ServiceName, AccessNumber, BaudRate, StopBits, Parity, "
            "DataBits, TAPType, "
            "UseAsDefault, Password) VALUES ('North', '01632960100', 2400, 2, 3, 8, 5, 1, "
            "'secret')"));
        db.addMessageRow(
            1, 6, QStringLiteral("Gate code changed"), 2, QStringLiteral("2026-03-02 07:30:00"));
        db.exec(
            QStringLiteral("UPDATE Messages SET SendTime = '2026-03-01 08:00:05', RequestTime = "
                           "'2026-03-01 08:00:00', Retries = 4"));
        const LoadedDoc doc;
        QVERIFY(doc.prompt.shown.isEmpty());

        // A user's ID, name, number and provider, and a group's name, are seen in
        // providerLookups and in the lists of test_send_message_dlg.
        QCOMPARE(doc.m_users.at(0)->m_groupIds,
            (std::array<std::int32_t, 10> { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 }));
        const CServiceProvider& p = *doc.m_providers.at(0);
        QCOMPARE(p.m_serviceName + QLatin1Char('/') + p.m_accessNumber,
            QStringLiteral("North/01632960100"));
        QCOMPARE((QList<int> { p.m_baudRate, p.m_stopBits, p.m_parity, p.m_dataBits, p.m_tapType,
                     p.m_useAsDefault }),
            (QList<int> { 2400, 2, 3, 8, 5, 1 }));
        // The message's other fields are seen in messagesAreRunsOfEqualMessageIds.
        const CSendJob& job = *doc.m_messages.at(0);
        const CRecipientEntry& entry = *job.m_recipients.at(0);
        QCOMPARE((QList<QuillTime> { job.m_requestTime, job.m_requiredSendTime, entry.m_sendTime }),
            (QList<QuillTime> { ToQuillTime(COleDateTime(2026, 3, 1, 8, 0, 0)),
                ToQuillTime(COleDateTime(2026, 3, 2, 7, 30, 0)),
                ToQuillTime(COleDateTime(2026, 3, 1, 8, 0, 5)) }));
    }

    void messagesAreRunsOfEqualMessageIds_data()
    {
        QTest::addColumn<QList<int>>("messageIds"); // of the rows, in table order
        QTest::addColumn<QList<int>>("entriesPerMessage");
        QTest::newRow("5 5 7 5") << QList<int> { 5, 5, 7, 5 } << QList<int> { 2, 1, 1 };
        // -1 is where the previous MessageId starts; the first row still makes a message.
        QTest::newRow("minus one first") << QList<int> { -1, -1, 0 } << QList<int> { 2, 1 };
    }

    void messagesAreRunsOfEqualMessageIds()
    {
        QFETCH(QList<int>, messageIds);
        QFETCH(QList<int>, entriesPerMessage);
        // Row i has Status 1 when i is even, so each message's first row differs from its second.
        TempDatabase db;
        for (int i = 0; i < messageIds.size(); ++i)
            db.addMessageRow(100 + i, messageIds[i], QStringLiteral("text %1").arg(i), (i + 1) % 2);
        LoadedDoc doc;
        doc.ReloadAll(); // a reload replaces the lists, it does not add to them

        QList<int> entries;
        int row = 0;
        for (const auto& job : doc.m_messages) {
            entries.append(int(job->m_recipients.size()));
            QCOMPARE((QList<int> { job->m_id, job->m_messageId, job->m_status }),
                (QList<int> { row + 1, messageIds[row], (row + 1) % 2 }));
            QCOMPARE(job->m_text, QStringLiteral("text %1").arg(row));
            for (const auto& entry : job->m_recipients) {
                QCOMPARE((QList<int> { entry->m_recipient, entry->m_messageId, entry->m_status }),
                    (QList<int> { 100 + row, messageIds[row], (row + 1) % 2 }));
                ++row;
            }
        }
        QCOMPARE(entries, entriesPerMessage);
        QCOMPARE(row, messageIds.size());
    }

    void reloadMessageUpdatesOnlyThatMessage_data()
    {
        QTest::addColumn<QString>("change"); // made to the file after the load
        QTest::addColumn<int>("messageId"); // the message reloaded
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<QList<int>>("statuses"); // message 1's rows as the document holds them
        QTest::newRow("a result recorded")
            << "UPDATE Messages SET Status = 1, Retries = 1 WHERE ID = 2" << 1 << true
            << QList<int> { 0, 1, 0 };
        QTest::newRow("the first row given up")
            << "UPDATE Messages SET Status = 2 WHERE ID = 1" << 1 << true << QList<int> { 2, 0, 0 };
        QTest::newRow("another message's row") << "UPDATE Messages SET Status = 1 WHERE ID = 4"
                                               << 1 << true << QList<int> { 0, 0, 0 };
        QTest::newRow("a row added") << "INSERT INTO Messages (Recipient, MessageCount, MessageId, "
                                        "Text, Status, Retries) VALUES (9, 1, 1, 'x', 1, 0)"
                                     << 1 << false << QList<int> { 0, 0, 0 };
        QTest::newRow("recipients reordered") << "UPDATE Messages SET Recipient = 13 - Recipient "
                                                 "WHERE MessageId = 1"
                                              << 1 << false << QList<int> { 0, 0, 0 };
        QTest::newRow("a message not held") << "UPDATE Messages SET Status = 1" << 99 << false
                                            << QList<int> { 0, 0, 0 };
        QTest::newRow("the table gone") << "DROP TABLE Messages" << 1 << false
                                        << QList<int> { 0, 0, 0 };
    }

    void reloadMessageUpdatesOnlyThatMessage()
    {
        QFETCH(QString, change);
        QFETCH(int, messageId);
        QFETCH(bool, inPlace);
        QFETCH(QList<int>, statuses);
        TempDatabase db;
        for (int recipient : { 5, 6, 7 })
            db.addMessageRow(recipient, 1, QStringLiteral("Lift out of order"));
        db.addMessageRow(5, 4, QStringLiteral("Lift back"));
        LoadedDoc doc;
        const CSendJob* job = doc.m_messages.at(0).get();
        const CRecipientEntry* second = job->m_recipients.at(1).get();
        db.exec(change);

        QCOMPARE(doc.ReloadMessage(messageId), inPlace);
        // Pointers into the document stay valid, and nothing else is touched.
        QCOMPARE(doc.m_messages.at(0).get(), job);
        QCOMPARE(job->m_recipients.at(1).get(), second);
        QList<int> held;
        for (const auto& entry : job->m_recipients)
            held.append(entry->m_status);
        QCOMPARE(held, statuses);
        QCOMPARE(job->m_status, statuses.front());
        QCOMPARE(second->m_retries, inPlace && statuses[1] == 1 ? 1 : 0);
        QCOMPARE(doc.m_messages.at(1)->m_recipients.at(0)->m_status, 0);
        QVERIFY(doc.prompt.shown.isEmpty());
    }

    void providerLookups_data()
    {
        QTest::addColumn<QList<int>>("flags"); // UseAsDefault of the providers, in list order
        QTest::addColumn<int>("lookup"); // a provider ID; 0 the default
        QTest::addColumn<int>("expected"); // index of the provider found, -1 for none
        QTest::newRow("first flagged of two") << QList<int> { 0, 1, 1 } << 0 << 1;
        QTest::newRow("none flagged: the first") << QList<int> { 0, 0, 0 } << 0 << 0;
        QTest::newRow("2 is not the flag") << QList<int> { 0, 2, 1 } << 0 << 2;
        QTest::newRow("by ID") << QList<int> { 1, 0, 0 } << 3 << 2;
        QTest::newRow("unknown ID, default exists") << QList<int> { 1, 0 } << 42 << -1;
        QTest::newRow("no providers") << QList<int> {} << 0 << -1;
    }

    void providerLookups()
    {
        QFETCH(QList<int>, flags);
        QFETCH(int, lookup);
        QFETCH(int, expected);
        TempDatabase db;
        for (int i = 0; i < flags.size(); ++i)
            db.addProvider(QStringLiteral("P%1").arg(i + 1), QString::number(i), flags[i]);
        const int user = db.addUser(QStringLiteral("Ann"), QStringLiteral("07700900001"), lookup);
        const LoadedDoc doc;
        const CServiceProvider* provider
            = expected < 0 ? nullptr : doc.m_providers.at(expected).get();
        QCOMPARE(doc.FindProvider(lookup), provider);
        QCOMPARE(doc.FindProviderForUser(user), provider);
        QCOMPARE(doc.GetTelephoneNumber(user), QStringLiteral("07700900001"));
        // A user who is not in the list has no provider and no number.
        QCOMPARE(doc.FindProviderForUser(user + 1), nullptr);
        QCOMPARE(doc.GetTelephoneNumber(user + 1), QString());
    }
};

QTEST_GUILESS_MAIN(TestQuillpostDoc)
#include "test_quillpost_doc.moc"
