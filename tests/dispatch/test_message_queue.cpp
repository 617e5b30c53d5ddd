// Queueing a composed message, reading a stored one back for a resend and deleting one:
// which rows the Messages table holds afterwards, and that a failure half-way leaves
// the table as it was.
#include "FakeClock.h"
#include "TempDatabase.h"
#include "dispatch/MessageQueue.h"
#include "platform/db/DaoException.h"

#include <QTest>

namespace {

const QString Suffix = QStringLiteral(": Sent using Quillpost");

// Every Messages row as "ID MessageId Recipient MessageCount Status Retries", in ID order.
QStringList rowsOf(const TempDatabase& db)
{
    return db.rows("Messages",
        "ID || ' ' || MessageId || ' ' || Recipient || ' ' || MessageCount || ' ' || Status || ' "
        "' || Retries");
}

} // namespace

class TestMessageQueue : public QObject
{
    Q_OBJECT

private slots:
    void queuedText_data()
    {
        QTest::addColumn<QString>("composed");
        QTest::addColumn<QString>("queued");

        const QString x129(129, 'x');
        QTest::newRow("short") << QString("Call ward 4") << "Call ward 4" + Suffix;
        QTest::newRow("blanks only") << QString("   ") << "   " + Suffix;
        QTest::newRow("129 stays whole") << x129 << x129 + Suffix;
        QTest::newRow("130 loses its last") << x129 + "y" << x129 + Suffix;
        // A stored text offered again for a resend carries the suffix already.
        QTest::newRow("resend short") << "Call ward 4" + Suffix << "Call ward 4" + Suffix + Suffix;
        QTest::newRow("resend long cuts into the old suffix")
            << QString(120, 'a') + Suffix << QString(120, 'a') + Suffix.left(9) + Suffix;
    }

    void queuedText()
    {
        QFETCH(QString, composed);
        QFETCH(QString, queued);
        QCOMPARE(QueuedText(composed), queued);
    }

    void combinesDateOfOneWithTimeOfOther()
    {
        const COleDateTime date(2026, 12, 24, 23, 59, 58);
        const COleDateTime time(1899, 12, 30, 7, 5, 3);
        QCOMPARE(CombineDateAndTime(date, time).ToText(), QStringLiteral("2026-12-24 07:05:03"));
    }

    void queuesOneRowPerRecipient_data()
    {
        QTest::addColumn<QList<int>>("recipients");
        QTest::addColumn<QStringList>("rows");

        // Two rows of an earlier message stand first, so the new IDs start at 3.
        QTest::newRow("no recipient: nothing written") << QList<int> {} << QStringList {};
        QTest::newRow("one recipient: its own ID is the message's")
            << QList<int> { 7 } << QStringList { "3 3 7 1 0 0" };
        QTest::newRow("three, in the order given") << QList<int> { 9, 4,
            6 } << QStringList { "3 3 9 3 0 0", "4 3 4 3 0 0", "5 3 6 3 0 0" };
    }

    void queuesOneRowPerRecipient()
    {
        QFETCH(QList<int>, recipients);
        QFETCH(QStringList, rows);

        TempDatabase db;
        FakeClock clock(QDateTime(QDate(2026, 3, 10), QTime(9, 15, 30)));
        db.addMessageRow(1, 1, "earlier", 1);
        db.addMessageRow(2, 1, "earlier", 2);

        const std::optional<std::int32_t> messageId
            = QueueMessage("Call ward 4", COleDateTime(2026, 3, 11, 6, 30, 0),
                std::vector<std::int32_t>(recipients.begin(), recipients.end()));

        QCOMPARE(messageId, rows.isEmpty() ? std::nullopt : std::optional<std::int32_t>(3));
        QCOMPARE(rowsOf(db), QStringList({ "1 1 1 1 1 0", "2 1 2 1 2 0" }) + rows);
        // Each new row holds the text and times as local "YYYY-MM-DD HH:MM:SS" text.
        QCOMPARE(db.rows("Messages",
                       "Text || '|' || RequiredSendTime || '|' || RequestTime || '|' "
                       "|| SendTime")
                     .mid(2),
            QStringList(rows.size(),
                "Call ward 4" + Suffix
                    + "|2026-03-11 06:30:00|2026-03-10 09:15:30|2026-03-10 09:15:30"));
    }

    void failureHalfWayLeavesNoRow()
    {
        TempDatabase db;
        db.addMessageRow(1, 1, "earlier");
        // The third row of the new message cannot be written.
        db.exec("CREATE TRIGGER full BEFORE INSERT ON Messages WHEN NEW.Recipient = 30 "
                "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");

        try {
            QueueMessage("Call ward 4", COleDateTime(2026, 3, 11, 6, 30, 0), { 10, 20, 30, 40 });
            QFAIL("the failed insert was not reported");
        } catch (const CDaoException& failure) {
            QVERIFY2(failure.reason().contains("full"), qPrintable(failure.reason()));
        }
        QCOMPARE(rowsOf(db), QStringList({ "1 1 1 1 0 0" }));

        // The next message is queued whole, as if the failed one had never been tried.
        db.exec("DROP TRIGGER full");
        QueueMessage("Again", COleDateTime(2026, 3, 11, 6, 30, 0), { 10, 30 });
        QCOMPARE(rowsOf(db).mid(1), QStringList({ "2 2 10 2 0 0", "3 2 30 2 0 0" }));
    }

    // A stored message read back for a resend, then deleted, its rows among another's.
    void readsAndDeletesAStoredMessage()
    {
        TempDatabase db;
        db.addMessageRow(5, 1, "other");
        db.addMessageRow(8, 2, "Theatre 2 ready" + Suffix, 1);
        db.addMessageRow(3, 1, "other");
        db.addMessageRow(6, 2, "Theatre 2 ready" + Suffix, 2);
        db.addMessageRow(4, 2, "Theatre 2 ready" + Suffix, 0);
        const QStringList all = rowsOf(db);

        const std::optional<StoredMessage> stored = ReadStoredMessage(2);
        QVERIFY(stored);
        QCOMPARE(stored->text, "Theatre 2 ready" + Suffix);
        // Every recipient, whether sent, failed or waiting, in table order.
        QCOMPARE(stored->recipients, std::vector<std::int32_t>({ 8, 6, 4 }));
        QVERIFY(!ReadStoredMessage(99));

        // A delete refused at the message's last row removes none of them.
        db.exec("CREATE TRIGGER refuse BEFORE DELETE ON Messages WHEN OLD.ID = 5 "
                "BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END");
        QVERIFY_THROWS_EXCEPTION(CDaoException, DeleteMessageRows(2));
        QCOMPARE(rowsOf(db), all);
        db.exec("DROP TRIGGER refuse");
        // Then every row of it goes, whatever its Status, and only those.
        QCOMPARE(DeleteMessageRows(2), 3);
        QCOMPARE(rowsOf(db), QStringList({ "1 1 5 1 0 0", "3 1 3 1 0 0" }));
        QCOMPARE(DeleteMessageRows(2), 0);
    }
};

QTEST_GUILESS_MAIN(TestMessageQueue)
#include "test_message_queue.moc"
