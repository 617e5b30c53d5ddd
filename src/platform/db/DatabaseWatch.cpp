#include "platform/db/DatabaseWatch.h"

#include "platform/db/DaoConnection.h"
#include "platform/db/DaoRecordset.h"

#include <QDir>

CDatabaseWatch::CDatabaseWatch() = default;

CDatabaseWatch::~CDatabaseWatch() = default;

bool CDatabaseWatch::HasChanged()
{
    const QString path = QDir::current().absoluteFilePath(CDaoRecordset::DefaultDatabaseName());
    try {
        if (!m_connection || m_connection->path() != path)
            m_connection = std::make_unique<DaoConnection>(path);
        QSqlQuery query = m_connection->Execute(QStringLiteral("PRAGMA data_version"), {},
            QStringLiteral("Cannot read the data version of %1").arg(path));
        const std::int64_t version = query.next() ? query.value(0).toLongLong() : kUnreadable;
        const bool changed = version != m_nLastVersion;
        m_nLastVersion = version;
        return changed;
    } catch (const CDaoException&) {
        // A file replaced or removed meanwhile is opened afresh next time. Only the
        // first failure in a row counts as a change, so that the reload's message about
        // it is not repeated at every look.
        m_connection.reset();
        const bool changed = m_nLastVersion != kUnreadable;
        m_nLastVersion = kUnreadable;
        return changed;
    }
}
