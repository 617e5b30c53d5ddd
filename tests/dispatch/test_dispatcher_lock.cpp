// The one-dispatcher-per-database lock as other programs and the file system see it:
// the lock file's mode, what it refuses to open, and a lock file removed or replaced
// under its holder. Two locks in one process exclude each other as two programs do,
// since an flock belongs to the open file description.
#include "TempDatabase.h"
#include "dispatch/DispatcherLock.h"
#include "platform/db/DaoRecordset.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <memory>

#include <sys/stat.h>

namespace {

QString lockPath()
{
    return CDispatcherLock::LockFilePath(CDaoRecordset::DefaultDatabasePath());
}

QString modeOf(const QString& path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return QStringLiteral("missing");
    return QString::number(status.st_mode & 07777, 8);
}

// Each file's mode and a digest of its bytes.
QStringList contentAndModeOf(const QStringList& paths)
{
    QStringList seen;
    for (const QString& path : paths) {
        QFile file(path);
        seen << modeOf(path)
                + (file.open(QIODevice::ReadOnly) ? " " + QString::number(qHash(file.readAll()))
                                                  : QString(" unreadable"));
    }
    return seen;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

} // namespace

class TestDispatcherLock : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_db = std::make_unique<TempDatabase>(); }
    void cleanup() { m_db.reset(); }

    // Open to the owner and group only, whatever the umask would allow; a narrower umask
    // or file stays narrower. A file left wider (by an earlier version) is narrowed.
    void fileMode_data()
    {
        QTest::addColumn<int>("umask");
        QTest::addColumn<int>("existing"); // the mode of a file there before; 0: none
        QTest::addColumn<QString>("mode");
        QTest::newRow("made under umask 0") << 0 << 0 << "660";
        QTest::newRow("made under umask 027") << 027 << 0 << "640";
        QTest::newRow("left open to all") << 0 << 0666 << "660";
        QTest::newRow("left readable by all") << 0 << 0644 << "640";
        QTest::newRow("owner only stays") << 0 << 0600 << "600";
    }

    void fileMode()
    {
        QFETCH(int, umask);
        QFETCH(int, existing);
        QFETCH(QString, mode);
        if (existing) {
            writeFile(lockPath(), "an earlier holder\n");
            QCOMPARE(::chmod(QFile::encodeName(lockPath()).constData(), mode_t(existing)), 0);
        }
        CDispatcherLock lock(QStringLiteral("the test"));
        const mode_t previous = ::umask(mode_t(umask));
        const bool taken = lock.TryAcquire();
        ::umask(previous);
        QVERIFY2(taken, qPrintable(lock.RefusalReason()));
        QCOMPARE(modeOf(lockPath()), mode);
    }

    // Only a regular file of its own is locked: a link is never followed (its target is
    // neither emptied nor made), and the refusal is logged once, not at every try.
    void refusesWhatIsNotItsOwnFile_data()
    {
        QTest::addColumn<QString>("target"); // what a symbolic link points at; empty: a folder
        QTest::addColumn<QString>("refusal");
        QTest::newRow("link to a file") << "notes.txt" << "is a symbolic link";
        QTest::newRow("link to the database") << "Quillpost.mdb" << "is a symbolic link";
        QTest::newRow("dangling link") << "nowhere.txt" << "is a symbolic link";
        QTest::newRow("folder") << QString() << "cannot be opened: Is a directory";
    }

    void refusesWhatIsNotItsOwnFile()
    {
        QFETCH(QString, target);
        QFETCH(QString, refusal);
        writeFile("notes.txt", "kept as it is\n");
        const QStringList files { "notes.txt", "Quillpost.mdb" };
        const QStringList before = contentAndModeOf(files);
        QVERIFY(target.isEmpty() ? QDir().mkdir(lockPath()) : QFile::link(target, lockPath()));

        CDispatcherLock lock(QStringLiteral("the test"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(refusal));
        QVERIFY(!lock.TryAcquire());
        QTest::failOnWarning(QRegularExpression(refusal));
        QVERIFY(!lock.TryAcquire());
        QVERIFY(!lock.IsHeld());
        QVERIFY2(lock.RefusalReason().contains(lockPath() + " " + refusal),
            qPrintable(lock.RefusalReason()));
        QCOMPARE(contentAndModeOf(files), before);
        QVERIFY(!QFile::exists("nowhere.txt"));
    }

    // A lock file removed or replaced under its holder keeps nobody out any more: the
    // next look of either lock takes the file now at the path, and the other one is
    // refused, naming it; the old holder stops sending either way.
    void fileGoneUnderItsHolder_data()
    {
        QTest::addColumn<bool>("replaced"); // another file moved over it, else removed
        QTest::addColumn<bool>("holderFirst"); // the old holder looks again first
        QTest::addColumn<QString>("logged"); // what the old holder logs when it looks
        QTest::newRow("removed, the other takes it") << false << false << "replaced by another";
        QTest::newRow("removed, the holder takes it back") << false << true << "No such file";
        QTest::newRow("replaced, the other takes it") << true << false << "replaced by another";
        QTest::newRow("replaced, the holder takes it back")
            << true << true << "replaced by another";
    }

    void fileGoneUnderItsHolder()
    {
        QFETCH(bool, replaced);
        QFETCH(bool, holderFirst);
        QFETCH(QString, logged);
        CDispatcherLock holder(QStringLiteral("the first program"));
        CDispatcherLock other(QStringLiteral("the second program"));
        QVERIFY(holder.TryAcquire());
        QVERIFY(!other.TryAcquire());
        QVERIFY(other.RefusalReason().startsWith("the first program (process "));
        if (replaced) {
            writeFile("replacement", {});
            QVERIFY(::rename("replacement", QFile::encodeName(lockPath()).constData()) == 0);
        } else {
            QVERIFY(QFile::remove(lockPath()));
        }

        CDispatcherLock& first = holderFirst ? holder : other;
        CDispatcherLock& second = holderFirst ? other : holder;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(logged));
        QVERIFY(first.TryAcquire());
        QVERIFY(!second.TryAcquire());
        QVERIFY(!second.IsHeld());
        QVERIFY2(second.RefusalReason().startsWith(
                     holderFirst ? "the first program (" : "the second program ("),
            qPrintable(second.RefusalReason()));
        QVERIFY(first.TryAcquire());
        QVERIFY(first.IsHeld());

        first.Release();
        QVERIFY(second.TryAcquire());
        QVERIFY(!first.TryAcquire());
    }

private:
    std::unique_ptr<TempDatabase> m_db;
};

QTEST_GUILESS_MAIN(TestDispatcherLock)
#include "test_dispatcher_lock.moc"
