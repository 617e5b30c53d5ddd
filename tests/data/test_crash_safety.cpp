// A writer killed at any moment loses nothing it committed and leaves nothing half
// done: the file stays whole, every message keeps all its recipients, every row and its
// send log entries agree, and no blank row appears.
#include "ReliabilityFigures.h"
#include "TempDatabase.h"
#include "dispatch/MessageQueue.h"
#include "dispatch/SendResult.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoRecordset.h"

#include <QCoreApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTextStream>
#include <csignal>
#include <numeric>
#include <random>
#include <unistd.h>

namespace {

constexpr int kKills = 40;
constexpr int kUsers = 8; // IDs 1 to 8 in the fresh database
constexpr int kProgramMs = 60000;

// The committed messages the writer reported, less those it set out to delete; a line
// the kill cut short is no report.
void TakeReports(const QByteArray& output, QSet<int>& committed)
{
    for (const QByteArray& line : output.left(output.lastIndexOf('\n')).split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() != 2)
            continue;
        if (words[0] == "queued")
            committed.insert(words[1].toInt());
        else if (words[0] == "deleting")
            committed.remove(words[1].toInt());
    }
}

struct Findings
{
    int rows = 0;
    int lost = 0;
    QStringList faults;
};

// Every message has as many rows as its text says, each row's outcome agrees with its
// log entries, and every committed message is there.
Findings Inspect(const TempDatabase& db, const QSet<int>& committed)
{
    Findings found;
    static const QRegularExpression recipients(" to (\\d+) recipients");
    QSet<int> present;
    for (const QString& message :
        db.rows("(SELECT min(ID) AS ID, MessageId, count(*) AS n, max(Text) AS "
                "Text FROM Messages GROUP BY MessageId)",
            "MessageId || '|' || n || '|' || Text")) {
        const QStringList parts = message.split('|');
        present.insert(parts[0].toInt());
        if (parts[1].toInt() != recipients.match(parts[2]).captured(1).toInt())
            found.faults << QStringLiteral("message %1 is partly queued: %2 rows for \"%3\"")
                                .arg(parts[0], parts[1], parts[2]);
    }
    found.rows = db.scalar("SELECT count(*) FROM Messages").toInt();
    const std::pair<const char*, const char*> counts[] = {
        { "blank rows",
            "SELECT count(*) FROM Messages WHERE coalesce(Text, '') = '' OR coalesce(Recipient, "
            "0) = 0 OR coalesce(MessageId, 0) = 0 OR RequiredSendTime IS NULL" },
        { "rows disagree with the send log",
            "SELECT count(*) FROM Messages m WHERE Retries != (SELECT count(*) FROM SendLog l "
            "WHERE l.MessageId = m.MessageId AND l.Recipient = m.Recipient AND l.Outcome != 1) "
            "OR (Status = 1) != EXISTS (SELECT 1 FROM SendLog l WHERE l.MessageId = m.MessageId "
            "AND l.Recipient = m.Recipient AND l.Outcome = 1)" },
    };
    for (const auto& [what, sql] : counts)
        if (const int n = db.scalar(sql).toInt(); n > 0)
            found.faults << QStringLiteral("%1 %2").arg(n).arg(what);
    for (int id : committed) {
        if (!present.contains(id)) {
            ++found.lost;
            found.faults << QStringLiteral("committed message %1 is gone").arg(id);
        }
    }
    return found;
}

// The writer the test kills, this same program run with "--write DATABASE SEED": until
// it is killed it writes as fast as it can, the way the program and quillpost-send write,
// queueing messages, recording an attempt for each recipient and now and then deleting a
// message. It prints "queued ID" after each commit and "deleting ID" before a deletion,
// so that the test knows what must survive a kill.
int Write(const QString& path, unsigned seed)
{
    CDaoRecordset::SetDefaultDatabaseName(path);
    std::mt19937 random(seed);
    QTextStream out(stdout);
    try {
        std::vector<std::int32_t> users(kUsers);
        std::iota(users.begin(), users.end(), 1);
        std::optional<std::int32_t> previous;
        for (int n = 0;; ++n) {
            std::shuffle(users.begin(), users.end(), random);
            const std::size_t count = 1 + random() % std::min<std::size_t>(users.size(), 6);
            const std::vector<std::int32_t> recipients(users.begin(), users.begin() + count);
            const std::optional<std::int32_t> id
                = QueueMessage(QStringLiteral("Crash test %1 to %2 recipients").arg(n).arg(count),
                    COleDateTime(2026, 1, 1, 0, 0, 0), recipients);
            out << "queued " << *id << Qt::endl;
            for (std::int32_t recipient : recipients)
                RecordAttemptResult(
                    { *id, recipient, random() % 2 ? MessageStatus::Sent : MessageStatus::Waiting,
                        "1001", "North", "211 Page(s) Sent", std::nullopt });
            if (previous && n % 4 == 3) {
                out << "deleting " << *previous << Qt::endl;
                DeleteMessageRows(*previous);
            }
            previous = id;
        }
    } catch (const CDaoException& failure) {
        QTextStream(stderr) << failure.reason() << Qt::endl;
        return 1;
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
        for (int user = 1; user <= kUsers; ++user)
            db.addUser(QStringLiteral("User %1").arg(user), QStringLiteral("100%1").arg(user));

        QSet<int> committed;
        int rowsChecked = 0;
        int rowsLost = 0;
        int crashes = 0;
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
            QVERIFY(QTest::qWaitFor(
                [&] {
                    output += process.readAllStandardOutput();
                    return output.count('\n') >= commits || process.state() == QProcess::NotRunning;
                },
                kProgramMs));
            QCOMPARE(process.state(), QProcess::Running);
            ::usleep(static_cast<useconds_t>((kill * 7919) % 4000));
            ::kill(pid_t(process.processId()), SIGKILL);
            QVERIFY(process.waitForFinished(kProgramMs));
            ++crashes;
            TakeReports(output + process.readAllStandardOutput(), committed);

            QCOMPARE(db.scalar("PRAGMA integrity_check").toString(), "ok");
            const Findings found = Inspect(db, committed);
            rowsChecked += found.rows;
            rowsLost += found.lost;
            QVERIFY2(found.faults.isEmpty(),
                qPrintable(
                    QStringLiteral("after kill %1: %2").arg(kill).arg(found.faults.join("; "))));
        }
        QVERIFY(committed.size() >= kKills);
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--write")
        return Write(QString::fromLocal8Bit(argv[2]), unsigned(std::atoi(argv[3])));
    TestCrashSafety test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_crash_safety.moc"
