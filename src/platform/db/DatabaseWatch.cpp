#include "platform/db/DatabaseWatch.h"

#include "platform/LogCategories.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseLocation.h"
#include "platform/db/DatabaseSchema.h"

#include <QFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <sys/stat.h>

// Out of line: the connection's type is complete only here.
CDatabaseWatch::CDatabaseWatch() = default;
CDatabaseWatch::~CDatabaseWatch() = default;

bool CDatabaseWatch::HasChanged()
{
    const QString database = CDaoRecordset::DefaultDatabasePath();
    if (IsPostgresUri(database)) {
        const bool changed = ServerChanged(database) || !m_bLooked || m_seen.path != database;
        m_bLooked = true;
        m_seen = Sight { database, 0, 0, std::nullopt };
        return changed;
    }
    const Sight sight = Look();
    const bool changed = !m_bLooked || sight != m_seen;
    m_bLooked = true;
    m_seen = sight;
    return changed;
}

// A server that cannot be reached counts as a change once, as a file that cannot be
// read does; so does reaching it again, since changes made meanwhile were not told.
bool CDatabaseWatch::ServerChanged(const QString& uri)
{
    if (m_connection && (m_opened.path != uri || !m_connection->database().isOpen()))
        Close();
    if (m_connection) {
        const bool changed = *m_notices > 0;
        *m_notices = 0;
        return changed;
    }
    const bool wasListening = m_bListening;
    m_bListening = Listen(uri);
    if (m_bListening && !m_strServerFault.isEmpty())
        qCInfo(lcDatabase, "The database server answers again: %s", qUtf8Printable(uri));
    if (m_bListening)
        m_strServerFault.clear();
    return m_bListening || wasListening || !m_bLooked;
}

bool CDatabaseWatch::Listen(const QString& uri)
{
    if (!Open(Sight { uri, 0, 0, std::nullopt }))
        return false;
    QSqlDriver* driver = m_connection->database().driver();
    if (!driver->subscribeToNotification(QString::fromLatin1(kChangeChannel))) {
        m_strServerFault = driver->lastError().text();
        qCDebug(lcDatabase, "Cannot listen for changes of %s", qUtf8Printable(uri));
        Close();
        return false;
    }
    m_notices = std::make_shared<int>(0);
    QObject::connect(driver, &QSqlDriver::notification,
        [notices = std::weak_ptr<int>(m_notices), told = m_told] {
            if (const std::shared_ptr<int> count = notices.lock()) {
                ++*count;
                if (told)
                    told();
            }
        });
    return true;
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
    if (!m_connection && !Open(sight))
        return sight;
    sight.version = DataVersion();
    return sight;
}

std::optional<std::int64_t> CDatabaseWatch::DataVersion()
{
    QSqlQuery query(m_connection->database());
    if (query.exec(QStringLiteral("PRAGMA data_version")) && query.next())
        return query.value(0).toLongLong();
    qCDebug(lcDatabase, "Cannot read the data version of %s: %s", qUtf8Printable(m_opened.path),
        qUtf8Printable(query.lastError().text()));
    return std::nullopt;
}

// A connection as the record sets open theirs, though it never writes: the last
// connection to close a file in write-ahead-log mode folds the log into the file and
// removes it, and the watch's is usually the last one.
bool CDatabaseWatch::Open(const Sight& file)
{
    try {
        m_connection = std::make_unique<DaoConnection>(file.path);
    } catch (const CDaoException& failure) {
        if (IsPostgresUri(file.path))
            m_strServerFault = failure.reason();
        qCDebug(lcDatabase, "Cannot watch %s: %s", qUtf8Printable(file.path), failure.what());
        return false;
    }
    m_opened = file;
    return true;
}

void CDatabaseWatch::Close()
{
    m_notices.reset();
    m_connection.reset();
    m_opened = {};
}
