#include "platform/db/DatabaseWatch.h"

#include "platform/db/DaoRecordset.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

CDatabaseWatch::FileStamp CDatabaseWatch::StampOf(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return { std::int64_t(status.st_size),
        std::int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec,
        std::uint64_t(status.st_ino) };
}

bool CDatabaseWatch::HasChanged()
{
    const QString path = QDir::current().absoluteFilePath(CDaoRecordset::DefaultDatabaseName());
    const FileStamp database = StampOf(path);
    FileStamp log = StampOf(path + QStringLiteral("-wal"));
    if (log.size <= 0)
        log = {};
    const bool changed = !m_bStamped || database != m_database || log != m_log;
    m_bStamped = true;
    m_database = database;
    m_log = log;
    return changed;
}
