// The document: splitting message rows into messages, reloading one message, the provider
// lookups, and how its times convert from local Date/Time values in a zone with daylight
// saving, and the time now by the program's clock. (Every column reaching its field is seen
// in test_both_backends; what a failed load keeps, and that a file read whole shows no
// message, in test_bad_database_files.)
#include "FakeClock.h"
#include "TempDatabase.h"
#include "data/QuillTime.h"
#include "data/QuillpostDoc.h"

#include <QDateTime>
#include <QTest>
#include <ctime>
#include <limits>

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
        QTest::addColumn<QDateTime>("utc"); // or up to `spread` seconds later
        QTest::addColumn<bool>("roundTrip"); // the seconds convert back to `local`
        QTest::addColumn<qint64>("spread");
        const auto row = [](const char* name, const COleDateTime& local, const char* utc,
                             bool roundTrip = true, qint64 spread = 0) {
            QTest::newRow(name) << local << QDateTime::fromString(utc, Qt::ISODate) << roundTrip
                                << spread;
        };
        row("winter", COleDateTime(2026, 1, 15, 9, 0, 0), "2026-01-15T09:00:00Z");
        row("summer, one hour ahead", COleDateTime(2026, 7, 15, 9, 0, 0), "2026-07-15T08:00:00Z");
        // The 32-bit range's ends, the first before 1970; outside it, clamped to the nearest.
        row("last second", COleDateTime(2038, 1, 19, 3, 14, 7), "2038-01-19T03:14:07Z");
        row("first second", COleDateTime(1901, 12, 13, 20, 45, 52), "1901-12-13T20:45:52Z");
        row("zero date-time", COleDateTime(), "1901-12-13T20:45:52Z", false);
        row("one second late", COleDateTime(2038, 1, 19, 3, 14, 8), "2038-01-19T03:14:07Z", false);
        // An hour skipped and one repeated: 01:30 on 29 March 2026 does not exist, 01:30 on
        // 25 October 2026 exists twice.
        row("skipped", COleDateTime(2026, 3, 29, 1, 30, 0), "2026-03-29T00:30:00Z", false, 3600);
        row("repeated", COleDateTime(2026, 10, 25, 1, 30, 0), "2026-10-25T00:30:00Z", true, 3600);
    }

    void localTimeBecomesUtcSeconds()
    {
        QFETCH(COleDateTime, local);
        QFETCH(QDateTime, utc);
        QFETCH(bool, roundTrip);
        QFETCH(qint64, spread);
        // One value at a time, and as a load converts them, by the hour.
        QuillTimeConverter converter;
        for (const qint64 converted : { qint64(ToQuillTime(local)), qint64(converter(local)) }) {
            QCOMPARE_GE(converted, utc.toSecsSinceEpoch());
            QCOMPARE_LE(converted, utc.toSecsSinceEpoch() + spread);
            if (roundTrip)
                QCOMPARE(FromQuillTime(QuillTime(converted)), local);
        }
    }

    // The time now is the installed clock's: after 2038 the local date goes on (in summer
    // time here) while the seconds stop at the last.
    void nowIsTheInstalledClocksTime()
    {
        FakeClock clock(QDateTime(QDate(2040, 6, 1), QTime(12, 0), Qt::UTC));
        QCOMPARE(COleDateTime::GetCurrentTime(), COleDateTime(2040, 6, 1, 13, 0, 0));
        QCOMPARE(qint64(CurrentQuillTime()), std::numeric_limits<qint32>::max());
    }

    // A message takes its ID, text and status from its first row; each entry from its own.
    // The same MessageId after another starts a new message; -1, where the previous
    // MessageId starts, still makes the first row a message. A reload replaces the lists.
    void messagesAreRunsOfEqualMessageIds()
    {
        const QList<int> messageIds { -1, -1, 0, 5, 5, 7, 5 }; // of the rows, in table order
        TempDatabase db;
        for (int i = 0; i < messageIds.size(); ++i)
            db.addMessageRow(100 + i, messageIds[i], QStringLiteral("text %1").arg(i), (i + 1) % 2);
        CQuillpostDoc doc;
        doc.ReloadAll();
        doc.ReloadAll();
        // "ID MessageId Status Text:" and each entry's "Recipient/Status".
        QStringList got;
        for (const auto& job : doc.m_messages) {
            got << QString::asprintf("%d %d %d %s:", job->m_id, job->m_messageId, job->m_status,
                qPrintable(job->m_text));
            for (const auto& e : job->m_recipients)
                got.last() += QString::asprintf(" %d/%d", e->m_recipient, e->m_status);
        }
        const QStringList expected { "1 -1 1 text 0: 100/1 101/0", "3 0 1 text 2: 102/1",
            "4 5 0 text 3: 103/0 104/1", "6 7 0 text 5: 105/0", "7 5 1 text 6: 106/1" };
        QCOMPARE(got, expected);
    }

    void reloadMessageUpdatesOnlyThatMessage_data()
    {
        QTest::addColumn<QString>("change"); // made to the file after the load
        QTest::addColumn<int>("messageId"); // the message reloaded
        QTest::addColumn<bool>("inPlace");
        // Message 1's first row sent, its second given up, the third as it was, and message
        // 4's row sent, each after an attempt: message 1 takes its first row's status.
        QTest::newRow("results recorded")
            << "UPDATE Messages SET Status = ID % 3, Retries = 1 WHERE ID != 3" << 1 << true;
        QTest::newRow("recipients reordered")
            << "UPDATE Messages SET Recipient = 13 - Recipient WHERE MessageId = 1" << 1 << false;
        QTest::newRow("a message not held") << "UPDATE Messages SET Status = 1" << 99 << false;
        QTest::newRow("the table gone") << "DROP TABLE Messages" << 1 << false;
    }

    // Pointers into the document stay valid, and nothing but that message is touched. (A
    // message with a row fewer is not reloaded in place: test_both_backends.)
    void reloadMessageUpdatesOnlyThatMessage()
    {
        QFETCH(QString, change);
        QFETCH(int, messageId);
        QFETCH(bool, inPlace);
        TempDatabase db;
        for (int recipient : { 5, 6, 7 })
            db.addMessageRow(recipient, 1, QStringLiteral("Lift out of order"));
        db.addMessageRow(5, 4, QStringLiteral("Lift back"));
        CQuillpostDoc doc;
        doc.ReloadAll();
        const CSendJob* job = doc.m_messages.at(0).get();
        const CRecipientEntry* second = job->m_recipients.at(1).get();
        db.exec(change);

        QCOMPARE(doc.ReloadMessage(messageId), inPlace);
        QCOMPARE(doc.m_messages.at(0).get(), job);
        QCOMPARE(job->m_recipients.at(1).get(), second);
        QList<int> held { job->m_status };
        for (const auto& entry : job->m_recipients)
            held << entry->m_status << entry->m_retries;
        QCOMPARE(held, inPlace ? QList<int>({ 1, 1, 1, 2, 1, 0, 0 }) : QList<int>(7, 0));
        QCOMPARE(doc.m_messages.at(1)->m_recipients.at(0)->m_status, 0);
    }

    void providerLookups_data()
    {
        QTest::addColumn<QList<int>>("flags"); // UseAsDefault of the providers, in list order
        QTest::addColumn<int>("expected"); // index of the provider found, -1 for none
        QTest::newRow("the first flagged 1, not 2") << QList<int> { 0, 2, 1, 1 } << 2;
        QTest::newRow("none flagged: the first") << QList<int> { 0, 0, 0 } << 0;
        QTest::newRow("no providers") << QList<int> {} << -1;
    }

    // A user who names no provider has the default: the first flagged 1, or else the first
    // of all; a user not in the list has no provider and no number. (A provider named by
    // its ID, and one named that does not exist, are in test_message_queue's
    // choosesTheDueSend; a known user's number reaches every page sent.)
    void providerLookups()
    {
        QFETCH(QList<int>, flags);
        QFETCH(int, expected);
        TempDatabase db;
        for (int i = 0; i < flags.size(); ++i)
            db.addProvider(QStringLiteral("P%1").arg(i + 1), QString::number(i), flags[i]);
        const int user = db.addUser(QStringLiteral("Ann"), QStringLiteral("07700900001"));
        CQuillpostDoc doc;
        doc.ReloadAll();
        QCOMPARE(doc.FindProviderForUser(user),
            expected < 0 ? nullptr : doc.m_providers.at(expected).get());
        QCOMPARE(doc.FindProviderForUser(user + 1), nullptr);
        QCOMPARE(doc.GetTelephoneNumber(user + 1), QString());
    }
};

QTEST_GUILESS_MAIN(TestQuillpostDoc)
#include "test_quillpost_doc.moc"
