// The one-dispatcher-per-database lock as other programs and the file system see it:
// the lock file's mode, what it refuses to open, and a lock file removed under its
// holder. Two locks in one process exclude each other as two programs do, since an
// flock belongs to the open file description. (Handing the lock over, and the holder
// named to the one refused: test_headless_dispatcher and test_main_frame.)
#include "TempDatabase.h"
#include "dispatch/DispatcherLock.h"
#include "platform/db/DaoRecordset.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <sys/stat.h>

namespace {

QString lockPath()
{
    return CDispatcherLock::LockFilePath(CDaoRecordset::DefaultDatabasePath());
}

// The file's mode, then a digest of its bytes when it can be read.
QString stateOf(const QString& path)
{
    struct stat status = {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    QFile file(path);
    return QString::number(status.st_mode & 07777, 8)
        + (file.open(QIODevice::ReadOnly) ? " " + QString::number(qHash(file.readAll())) : "");
}

} // namespace

class TestDispatcherLock : public QObject
{
    Q_OBJECT

private slots:
    // The file is open to the owner and group only, whatever the umask would allow; a
    // narrower umask or file stays narrower, and a file left wider (by an earlier version)
    // is narrowed. Only a regular file of its own is locked: a link is never followed (the
    // database it points at is not emptied), and a refusal is logged once, not at every try.
    void whatIsAtThePath_data()
    {
        QTest::addColumn<QString>("existing"); // a file's octal mode, "link" or "folder"
        QTest::addColumn<QString>("outcome"); // the lock file's mode, or the refusal
        QTest::newRow("made under umask 027") << QString() << "640";
        QTest::newRow("left open to all") << QString("666") << "660";
        QTest::newRow("left readable by all") << QString("644") << "640";
        QTest::newRow("link to the database") << QString("link") << "is a symbolic link";
        QTest::newRow("folder") << QString("folder") << "cannot be opened: Is a directory";
    }

    void whatIsAtThePath()
    {
        QFETCH(QString, existing);
        QFETCH(QString, outcome);
        TempDatabase db;
        const QByteArray path = QFile::encodeName(lockPath());
        if (existing == "link") {
            QVERIFY(QFile::link("Quillpost.mdb", lockPath()));
        } else if (existing == "folder") {
            QVERIFY(QDir().mkdir(lockPath()));
        } else if (!existing.isEmpty()) {
            QVERIFY(QFile(lockPath()).open(QIODevice::WriteOnly));
            QCOMPARE(::chmod(path.constData(), mode_t(existing.toUInt(nullptr, 8))), 0);
        }
        const QString database = stateOf("Quillpost.mdb");
        const bool refused = existing == "link" || existing == "folder";
        if (refused)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(outcome));
        CDispatcherLock lock(QStringLiteral("the test"));
        const mode_t previous = ::umask(027);
        const bool taken = lock.TryAcquire();
        ::umask(previous);
        QCOMPARE(taken, !refused);
        if (!refused) {
            QCOMPARE(stateOf(lockPath()).section(' ', 0, 0), outcome);
            return;
        }
        QTest::failOnWarning(QRegularExpression(outcome));
        QVERIFY(!lock.TryAcquire());
        QVERIFY(lock.RefusalReason().contains(lockPath() + " " + outcome));
        QCOMPARE(stateOf("Quillpost.mdb"), database);
    }

    // A lock file removed under its holder keeps nobody out any more: the next look of
    // either lock takes the file now at the path (to the old holder, one made by the
    // other is a replacement), and the other one is refused, naming it; the old holder
    // stops sending either way.
    void fileRemovedUnderItsHolder_data()
    {
        QTest::addColumn<bool>("holderFirst"); // the old holder looks again first
        QTest::addColumn<QString>("logged"); // what the old holder logs when it looks
        QTest::newRow("the other takes it") << false << "replaced by another";
        QTest::newRow("the holder takes it back") << true << "No such file";
    }

    void fileRemovedUnderItsHolder()
    {
        QFETCH(bool, holderFirst);
        QFETCH(QString, logged);
        TempDatabase db;
        CDispatcherLock holder(QStringLiteral("the first program"));
        CDispatcherLock other(QStringLiteral("the second program"));
        QVERIFY(holder.TryAcquire());
        QVERIFY(QFile::remove(lockPath()));
        CDispatcherLock& first = holderFirst ? holder : other;
        CDispatcherLock& second = holderFirst ? other : holder;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(logged));
        QVERIFY(first.TryAcquire());
        QVERIFY(!second.TryAcquire());
        QVERIFY(second.RefusalReason().startsWith(
            holderFirst ? "the first program (" : "the second program ("));
    }
};

QTEST_GUILESS_MAIN(TestDispatcherLock)
#include "test_dispatcher_lock.moc"
