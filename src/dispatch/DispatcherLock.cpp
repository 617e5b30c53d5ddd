#include "dispatch/DispatcherLock.h"

#include "platform/LogCategories.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseLocation.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Open to the dispatchers of one group (the desktop program and a service may run as
// different users), never to other users.
constexpr mode_t kLockFileMode = 0660;
// A file removed again between its opening and its locking is no lock; the one that
// replaced it is tried, a few times.
constexpr int kAttempts = 3;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString readHolder(int fd)
{
    QByteArray text(512, '\0');
    const ssize_t count = pread(fd, text.data(), size_t(text.size()), 0);
    if (count < 0)
        qCWarning(lcLock, "Cannot read who holds the lock: %s", std::strerror(errno));
    if (count <= 0)
        return QStringLiteral("another program");
    text.truncate(count);
    return QString::fromUtf8(text).trimmed();
}

void writeHolder(int fd, const QString& holderName)
{
    const QByteArray text = QStringLiteral("%1 (process %2 on %3)\n")
                                .arg(holderName)
                                .arg(QCoreApplication::applicationPid())
                                .arg(QSysInfo::machineHostName())
                                .toUtf8();
    // Who holds the lock is only information; the lock itself stands without it.
    if (ftruncate(fd, 0) != 0) {
        qCWarning(lcLock, "Cannot empty the lock file: %s", std::strerror(errno));
        return;
    }
    const ssize_t written = pwrite(fd, text.constData(), size_t(text.size()), 0);
    if (written < 0)
        qCWarning(lcLock, "Cannot write who holds the lock: %s", std::strerror(errno));
    else if (written < text.size())
        qCWarning(lcLock, "Wrote %zd of %lld bytes of who holds the lock", written,
            static_cast<long long>(text.size()));
}

void closeLockFile(int fd)
{
    if (close(fd) != 0)
        qCWarning(lcLock, "Closing the lock file reported: %s", std::strerror(errno));
}

// Whether the open file is the one at `path` now: a lock on a file that was removed or
// replaced keeps nobody out, since the next dispatcher opens the file at the path.
bool isFileAtPath(int fd, const QString& path)
{
    struct stat held {};
    struct stat atPath {};
    if (fstat(fd, &held) != 0) {
        qCWarning(lcLock, "Cannot examine the held lock file %s: %s", qUtf8Printable(path),
            std::strerror(errno));
        return false;
    }
    if (lstat(QFile::encodeName(path).constData(), &atPath) != 0) {
        qCWarning(lcLock, "Cannot examine the lock file %s: %s", qUtf8Printable(path),
            std::strerror(errno));
        return false;
    }
    if (held.st_dev == atPath.st_dev && held.st_ino == atPath.st_ino)
        return true;
    qCWarning(lcLock, "The lock file %s was replaced by another file", qUtf8Printable(path));
    return false;
}

// A file made by an earlier version, or with a wider mode by hand, is narrowed to the
// lock's mode; only its owner may do that, and another owner's program does it in turn.
void narrowMode(int fd, const struct stat& status, const QString& path)
{
    const mode_t mode = status.st_mode & 07777;
    if ((mode & ~kLockFileMode) == 0 || status.st_uid != geteuid())
        return;
    if (fchmod(fd, mode & kLockFileMode) != 0)
        qCWarning(lcLock, "Cannot narrow the mode of the lock file %s: %s", qUtf8Printable(path),
            std::strerror(errno));
}

} // namespace

CDispatcherLock::CDispatcherLock(QString holderName)
    : m_strHolderName(std::move(holderName))
{
}

CDispatcherLock::~CDispatcherLock()
{
    Release();
}

QString CDispatcherLock::LockFilePath(const QString& databasePath)
{
    const QFileInfo file(databasePath);
    const QString canonical = file.canonicalFilePath();
    return (canonical.isEmpty() ? file.absoluteFilePath() : canonical)
        + QStringLiteral(".dispatcher");
}

bool CDispatcherLock::TryAcquire()
{
    const QString databasePath = CDaoRecordset::DefaultDatabasePath();
    if (IsPostgresUri(databasePath)) {
        Release();
        m_bOnServer = true;
        return true;
    }
    m_bOnServer = false;
    if (IsHeld()) {
        if (databasePath == m_strDatabasePath && isFileAtPath(m_fd, m_strPath))
            return true;
        Release();
    }
    const QString path = LockFilePath(databasePath);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int fd = OpenLockFile(path);
        if (fd < 0 || !LockOpenFile(fd, path))
            return false;
        if (isFileAtPath(fd, path)) {
            Hold(fd, databasePath, path);
            return true;
        }
        closeLockFile(fd);
    }
    RefuseFailure(QStringLiteral("the lock file %1 keeps being replaced").arg(path));
    return false;
}

// O_NOFOLLOW: a symbolic link planted at the path would have the holder empty and write
// to whatever it points at.
int CDispatcherLock::OpenLockFile(const QString& path)
{
    const int fd = open(QFile::encodeName(path).constData(),
        O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLockFileMode);
    if (fd < 0) {
        const int error = errno;
        RefuseFailure(error == ELOOP
                ? QStringLiteral("the lock file %1 is a symbolic link, which is never followed")
                      .arg(path)
                : QStringLiteral("the lock file %1 cannot be opened: %2")
                      .arg(path, errorText(error)));
        return -1;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        RefuseFailure(
            QStringLiteral("the lock file %1 cannot be examined: %2").arg(path, errorText(errno)));
        closeLockFile(fd);
        return -1;
    }
    if (!S_ISREG(status.st_mode)) {
        RefuseFailure(QStringLiteral("the lock file %1 is not a regular file").arg(path));
        closeLockFile(fd);
        return -1;
    }
    narrowMode(fd, status, path);
    return fd;
}

bool CDispatcherLock::LockOpenFile(int fd, const QString& path)
{
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    const int error = errno;
    if (error == EWOULDBLOCK)
        m_strRefusal = readHolder(fd);
    else
        RefuseFailure(
            QStringLiteral("the lock file %1 cannot be locked: %2").arg(path, errorText(error)));
    closeLockFile(fd);
    return false;
}

void CDispatcherLock::Hold(int fd, const QString& databasePath, const QString& path)
{
    writeHolder(fd, m_strHolderName);
    m_fd = fd;
    m_strDatabasePath = databasePath;
    m_strPath = path;
    m_strRefusal.clear();
}

// The scheduler tries again at every run; a failure is logged when it is new, not at
// every try.
void CDispatcherLock::RefuseFailure(const QString& reason)
{
    if (reason != m_strRefusal)
        qCWarning(lcLock, "%s", qUtf8Printable(reason));
    m_strRefusal = reason;
}

void CDispatcherLock::Release()
{
    m_bOnServer = false;
    if (m_fd < 0)
        return;
    // Emptied first, so that nobody reads a released holder's name. Closing releases
    // the lock whatever the unlock said.
    if (ftruncate(m_fd, 0) != 0)
        qCWarning(lcLock, "Cannot empty the lock file: %s", std::strerror(errno));
    if (flock(m_fd, LOCK_UN) != 0)
        qCWarning(lcLock, "Cannot unlock the lock file: %s", std::strerror(errno));
    closeLockFile(m_fd);
    m_fd = -1;
}
