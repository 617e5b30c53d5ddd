#include "dispatch/DispatcherLock.h"

#include "platform/db/DaoRecordset.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString readHolder(int fd)
{
    QByteArray text(512, '\0');
    const ssize_t count = pread(fd, text.data(), size_t(text.size()), 0);
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
    if (ftruncate(fd, 0) != 0)
        return;
    [[maybe_unused]] const ssize_t written = pwrite(fd, text.constData(), size_t(text.size()), 0);
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
    if (IsHeld())
        return true;
    const QString path = LockFilePath(
        QDir::current().absoluteFilePath(CDaoRecordset::DefaultDatabaseName()));
    const int fd = open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0664);
    if (fd < 0) {
        m_strRefusal = QStringLiteral("the lock file %1 cannot be opened: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        m_strRefusal = error == EWOULDBLOCK
            ? readHolder(fd)
            : QStringLiteral("the lock file %1 cannot be locked: %2")
                  .arg(path, QString::fromLocal8Bit(std::strerror(error)));
        close(fd);
        return false;
    }
    writeHolder(fd, m_strHolderName);
    m_fd = fd;
    m_strRefusal.clear();
    return true;
}

void CDispatcherLock::Release()
{
    if (m_fd < 0)
        return;
    // Emptied first, so that nobody reads a released holder's name.
    [[maybe_unused]] const int emptied = ftruncate(m_fd, 0);
    flock(m_fd, LOCK_UN);
    close(m_fd);
    m_fd = -1;
}
