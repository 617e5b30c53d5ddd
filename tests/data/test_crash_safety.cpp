// A writer killed at any moment loses nothing it committed and leaves nothing half
// done: the file stays whole, every message keeps all its recipients, every row and its
// send log entries agree, and no blank row appears.
#include "ReliabilityFigures.h"
#include "TempDatabase.h"
#include "dispatch/MessageQueue.h"
#include "dispatch/SendResult.h"
#include "platform/db/DaoRecordset.h"

#include <QCoreApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <QTextStream>
#include <csignal>
#include <random>
#include <unistd.h>

namespace {

constexpr int kKills = 40;
constexpr int kProgramMs = 60000;

// Each counts one kind of bad row.
const char* const kBadRows[] = {
    // Messages partly queued: the writer's text names the number of recipients, "... to N
    // recipients".
    "SELECT count(*) FROM (SELECT count(*) AS n, max(Text) AS t FROM Messages GROUP BY "
    "MessageId) WHERE n != CAST(substr(t, instr(t, ' to ') + 4) AS INTEGER)",
    // Blank rows.
    "SELECT count(*) FROM Messages WHERE coalesce(Text, '') = '' OR coalesce(Recipient, 0) = 0 "
    "OR coalesce(MessageId, 0) = 0 OR RequiredSendTime IS NULL",
    // Rows that disagree with the send log.
    "SELECT count(*) FROM Messages m WHERE Retries != (SELECT count(*) FROM SendLog l "
    "WHERE l.MessageId = m.MessageId AND l.Recipient = m.Recipient AND l.Outcome != 1) "
    "OR (Status = 1) != EXISTS (SELECT 1 FROM SendLog l WHERE l.MessageId = m.MessageId "
    "AND l.Recipient = m.Recipient AND l.Outcome = 1)",
};

// The writer the test kills, this same program run with "--write DATABASE SEED": until
// it is killed it writes as fast as it can, the way the program and quillpost-send write,
// queueing messages, recording an attempt for each recipient and now and then deleting a
// message. It prints a message's ID after its commit and the ID negated before deleting
// it, so that the test knows what must survive a kill. (A database error ends it, and the
// test finds it gone before the kill.)
[[noreturn]] void Write(const QString& path, unsigned seed)
{
    CDaoRecordset::SetDefaultDatabaseName(path);
    std::mt19937 random(seed);
    QTextStream out(stdout);
    std::vector<std::int32_t> users { 1, 2, 3, 4, 5, 6, 7, 8 }; // the test's users
    std::optional<std::int32_t> previous;
    for (int n = 0;; ++n) {
        std::shuffle(users.begin(), users.end(), random);
        const std::size_t count = 1 + random() % 6;
        const std::vector<std::int32_t> recipients(users.begin(), users.begin() + count);
        const std::optional<std::int32_t> id
            = QueueMessage(QStringLiteral("Crash test %1 to %2 recipients").arg(n).arg(count),
                COleDateTime(2026, 1, 1, 0, 0, 0), recipients);
        out << *id << Qt::endl;
        for (std::int32_t recipient : recipients)
            RecordAttemptResult(
                { *id, recipient, random() % 2 ? MessageStatus::Sent : MessageStatus::Waiting,
                    "1001", "North", "211 Page(s) Sent", std::nullopt });
        if (previous && n % 4 == 3) {
            out << -*previous << Qt::endl;
            DeleteMessageRows(*previous);
        }
        previous = id;
    }
}

} // namespace

class TestCrashSafety : public QObject
{
    Q_OBJECT

private slots:
    // The writer is killed a little after its n-th commit, n and the delay changing from
    // one run to the next, so that the kills land in every step of a write.
    void killedWriterLeavesAWholeDatabase()
    {
        TempDatabase db;
        db.addProvider("North", "5550100", 1);
        for (int user = 1; user <= 8; ++user)
            db.addUser(QStringLiteral("User %1").arg(user), QStringLiteral("100%1").arg(user));

        QSet<int> committed; // less those the writer set out to delete
        int rowsChecked = 0, rowsLost = 0, crashes = 0;
        // Also when a check below fails: the figures then say what that run found.
        const auto record = qScopeGuard([&] {
            RecordReliabilityFigures(
                { { "crashes", crashes }, { "rows", rowsChecked }, { "lost", rowsLost } });
        });
        for (int kill = 0; kill < kKills; ++kill) {
            QProcess process;
            process.start(QCoreApplication::applicationFilePath(),
                { "--write", db.filePath(), QString::number(kill) });
            const int commits = 1 + kill % 9;
            QByteArray output;
            while (output.count('\n') < commits && process.waitForReadyRead(kProgramMs))
                output += process.readAllStandardOutput();
            QCOMPARE(process.state(), QProcess::Running);
            QCOMPARE_GE(output.count('\n'), commits);
            ::usleep(static_cast<useconds_t>((kill * 7919) % 4000));
            ::kill(pid_t(process.processId()), SIGKILL);
            QVERIFY(process.waitForFinished(kProgramMs));
            ++crashes;
            // A line the kill cut short is no report.
            output += process.readAllStandardOutput();
            for (const QByteArray& line : output.left(output.lastIndexOf('\n')).split('\n'))
                if (const int id = line.toInt(); id > 0)
                    committed.insert(id);
                else
                    committed.remove(-id);

            QCOMPARE(db.scalar("PRAGMA integrity_check").toString(), "ok");
            const QStringList present = db.rows("Messages", "MessageId");
            rowsChecked += int(present.size());
            QSet<int> gone = committed;
            for (const QString& id : present)
                gone.remove(id.toInt());
            rowsLost += int(gone.size());
            QCOMPARE(gone.values(), QList<int>());
            for (const char* badRows : kBadRows)
                QVERIFY2(db.scalar(badRows).toInt() == 0, badRows);
        }
        QVERIFY(committed.size() >= kKills);
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--write")
        Write(QString::fromLocal8Bit(argv[2]), unsigned(std::atoi(argv[3])));
    TestCrashSafety test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_crash_safety.moc"
