#include "platform/db/DatabaseWatch.h"

#include "platform/LogCategories.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoRecordset.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <atomic>

#include <sys/stat.h>

CDatabaseWatch::~CDatabaseWatch()
{
    Close();
}

bool CDatabaseWatch::HasChanged()
{
    const Sight sight = Look();
    const bool changed = !m_bLooked || sight != m_seen;
    m_bLooked = true;
    m_seen = sight;
    return changed;
}

// The stat comes before the opening: should the file be replaced in between, the next
// look finds a file other than the one recorded and opens again, which costs one reload
// too many, never one too few.
CDatabaseWatch::Sight CDatabaseWatch::Look()
{
    Sight sight;
    sight.path = CDaoRecordset::DefaultDatabasePath();
    struct stat status {};
    if (::stat(QFile::encodeName(sight.path).constData(), &status) != 0) {
        Close();
        return sight;
    }
    sight.device = std::uint64_t(status.st_dev);
    sight.inode = std::uint64_t(status.st_ino);
    if (sight != m_opened)
        Close();
    if (m_connectionName.isEmpty() && !Open(sight))
        return sight;
    sight.version = DataVersion();
    return sight;
}

std::optional<std::int64_t> CDatabaseWatch::DataVersion()
{
    QSqlQuery query(m_database);
    if (query.exec(QStringLiteral("PRAGMA data_version")) && query.next())
        return query.value(0).toLongLong();
    qCDebug(lcDatabase, "Cannot read the data version of %s: %s", qUtf8Printable(m_opened.path),
        qUtf8Printable(query.lastError().text()));
    return std::nullopt;
}

// Opened for writing as the record sets open it, though it never writes: the last
// connection to close a file in write-ahead-log mode folds the log into the file and
// removes it, and the watch's is usually the last one. Like theirs, it never creates
// the file.
bool CDatabaseWatch::Open(const Sight& file)
{
    static std::atomic<std::uint64_t> openings { 0 };
    m_connectionName = QStringLiteral("quillpost-watch-%1").arg(++openings);
    QUrl uri = QUrl::fromLocalFile(file.path);
    uri.setQuery(QStringLiteral("mode=rw"));
    m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_database.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    m_database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1")
                                     .arg(DaoConnection::BusyTimeoutMs));
    if (!m_database.open()) {
        qCDebug(lcDatabase, "Cannot watch %s: %s", qUtf8Printable(file.path),
            qUtf8Printable(m_database.lastError().text()));
        Close();
        return false;
    }
    m_opened = file;
    return true;
}

void CDatabaseWatch::Close()
{
    if (m_connectionName.isEmpty())
        return;
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connectionName.clear();
    m_opened = {};
}
