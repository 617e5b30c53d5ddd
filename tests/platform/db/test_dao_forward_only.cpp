// Record sets opened forward-only, as the document reads whole tables: the same rows
// and values as a snapshot, the same refusal of an unreadable value where the walk
// reaches it, nothing but MoveNext allowed, and the message index a file gains with
// its first write (never from reading).
#include "TempDatabase.h"
#include "data/Recordsets.h"
#include "dispatch/MessageQueue.h"
#include "platform/db/DaoException.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTest>
#include <functional>

namespace {

using Kind = CDaoException::Kind;
using OpenType = CDaoRecordset::OpenType;

// Each row the walk reached as "ID:Recipient:Text:Status:SendTime:Retries", then the
// failure that ended it ("! " and its reason), if one did; the count is the record
// set's own at the end.
QStringList walk(OpenType type, const QString& filter = {}, int* count = nullptr)
{
    CMessagesRecordset rs;
    rs.m_strFilter = filter;
    QStringList rows;
    try {
        rs.Open(type);
        for (; !rs.IsEOF(); rs.MoveNext())
            rows.append(QStringLiteral("%1:%2:%3:%4:%5:%6")
                            .arg(rs.m_ID)
                            .arg(rs.m_Recipient)
                            .arg(rs.m_Text)
                            .arg(rs.m_Status)
                            .arg(rs.m_SendTime.ToText())
                            .arg(rs.m_Retries));
    } catch (const CDaoException& failure) {
        rows.append(QStringLiteral("! ") + failure.reason());
    }
    if (count)
        *count = rs.GetRecordCount();
    return rows;
}

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
        ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
        : QByteArray();
}

} // namespace

class TestDaoForwardOnly : public QObject
{
    Q_OBJECT

private slots:
    void readsWhatASnapshotReads_data()
    {
        QTest::addColumn<QString>("damage"); // made to the three rows first
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("rows"); // reached before the end or the failure
        QTest::newRow("every row") << "" << "" << 3;
        QTest::newRow("filtered") << "" << "MessageId = 7" << 2;
        QTest::newRow("none match") << "" << "MessageId = 8" << 0;
        QTest::newRow("empty table") << "DELETE FROM Messages" << "" << 0;
        QTest::newRow("NULLs read as blanks")
            << "UPDATE Messages SET Text = NULL, SendTime = NULL, Retries = NULL" << "" << 3;
        QTest::newRow("a number stored as text")
            << "UPDATE Messages SET Retries = '3' WHERE ID = 2" << "" << 3;
        QTest::newRow("text in a number column")
            << "UPDATE Messages SET Retries = 'many' WHERE ID = 2" << "" << 1;
        QTest::newRow("a number beyond 32 bits")
            << "UPDATE Messages SET Status = 4294967296 WHERE ID = 3" << "" << 2;
        QTest::newRow("a date that does not exist")
            << "UPDATE Messages SET SendTime = '2026-02-30 10:00:00' WHERE ID = 1" << "" << 0;
        QTest::newRow("a date in another form")
            << "UPDATE Messages SET SendTime = '2026-2-3 9:05' WHERE ID = 1" << "" << 3;
    }

    void readsWhatASnapshotReads()
    {
        QFETCH(QString, damage);
        QFETCH(QString, filter);
        QFETCH(int, rows);
        TempDatabase db;
        db.addMessageRow(5, 7, QStringLiteral("Lift out of order"));
        db.addMessageRow(6, 7, QStringLiteral("Lift out of order"), 1);
        db.addMessageRow(5, 9, QStringLiteral("Fire drill at 3"));
        if (!damage.isEmpty())
            db.exec(damage);

        int snapshotCount = -1;
        int forwardCount = -1;
        const QStringList snapshot = walk(OpenType::Snapshot, filter, &snapshotCount);
        const QStringList forward = walk(OpenType::ForwardOnly, filter, &forwardCount);
        QCOMPARE(forward, snapshot);
        const bool failed = !forward.isEmpty() && forward.last().startsWith(QLatin1String("! "));
        QCOMPARE(forward.size() - (failed ? 1 : 0), rows);
        // Forward-only, the count is the rows read, the failing one included.
        if (!failed)
            QCOMPARE(forwardCount, snapshotCount);
    }

    void refusesAllButMovingOn_data()
    {
        QTest::addColumn<int>("step");
        const char* names[] = { "MovePrev", "MoveFirst", "MoveLast", "FindFirst", "FindNext",
            "Edit", "AddNew", "Delete" };
        for (int i = 0; i < 8; ++i)
            QTest::newRow(names[i]) << i;
    }

    void refusesAllButMovingOn()
    {
        QFETCH(int, step);
        TempDatabase db;
        db.addMessageRow(5, 7, QStringLiteral("one"));
        db.addMessageRow(6, 7, QStringLiteral("two"));
        const QByteArray before = fileHash(db.filePath());
        CMessagesRecordset rs;
        rs.Open(OpenType::ForwardOnly);
        rs.MoveNext();
        const std::function<void()> steps[] = { [&] { rs.MovePrev(); }, [&] { rs.MoveFirst(); },
            [&] { rs.MoveLast(); }, [&] { rs.FindFirst(QStringLiteral("ID = 1")); },
            [&] { rs.FindNext(QStringLiteral("ID = 1")); }, [&] { rs.Edit(); },
            [&] { rs.AddNew(); }, [&] { rs.Delete(); } };
        try {
            steps[step]();
            QFAIL("a forward-only record set did more than move on");
        } catch (const CDaoException& refused) {
            QCOMPARE(refused.kind(), Kind::Other);
            QVERIFY2(refused.reason().contains(QLatin1String("forward only")),
                qPrintable(refused.reason()));
        }
        // Still on its row, and it still moves on to the end.
        QCOMPARE(rs.m_Text, QStringLiteral("two"));
        rs.MoveNext();
        QVERIFY(rs.IsEOF());
        QVERIFY_THROWS_EXCEPTION(CDaoException, rs.MoveNext());
        rs.Close();
        QCOMPARE(fileHash(db.filePath()), before);
    }

    void firstWriteAddsTheMessageIndex()
    {
        TempDatabase db;
        const QString indexCount = QStringLiteral(
            "SELECT COUNT(*) FROM sqlite_master WHERE name = 'MessagesByMessageId'");
        QCOMPARE(db.scalar(indexCount).toInt(), 1); // made with the tables
        db.exec(QStringLiteral("DROP INDEX MessagesByMessageId"));
        db.addMessageRow(5, 7, QStringLiteral("one"));
        walk(OpenType::ForwardOnly);
        walk(OpenType::Snapshot);
        QCOMPARE(db.scalar(indexCount).toInt(), 0); // reading never writes
        QVERIFY(QueueMessage(QStringLiteral("two"), COleDateTime(2026, 1, 1, 9, 0, 0), { 5, 6 }));
        QCOMPARE(db.scalar(indexCount).toInt(), 1);
        QCOMPARE(db.rows(QStringLiteral("Messages"), QStringLiteral("Text")).size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestDaoForwardOnly)
#include "test_dao_forward_only.moc"
