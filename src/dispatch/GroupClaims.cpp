#include "dispatch/GroupClaims.h"

#include "platform/LogCategories.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoRecordset.h"

#include <QSqlQuery>

CGroupClaims::CGroupClaims() = default;
CGroupClaims::~CGroupClaims() = default;

// One session for every claim, opened again when the database named changed or the
// session was lost (its claims are gone with it then).
DaoConnection* CGroupClaims::Connection()
{
    const QString database = CDaoRecordset::DefaultDatabasePath();
    if (m_connection && m_strDatabase == database && m_connection->database().isOpen())
        return m_connection.get();
    m_held.clear();
    m_connection.reset();
    try {
        m_connection = std::make_unique<DaoConnection>(database);
        m_strDatabase = database;
    } catch (const CDaoException& failure) {
        qCWarning(lcDatabase, "Cannot claim messages to send: %s", qUtf8Printable(failure.reason()));
    }
    return m_connection.get();
}

bool CGroupClaims::TryClaim(std::int32_t messageId, std::int32_t providerId)
{
    DaoConnection* connection = Connection();
    if (!connection)
        return false;
    try {
        QSqlQuery claimed = connection->Execute(QStringLiteral("SELECT pg_try_advisory_lock(?, ?)"),
            { messageId, providerId }, QStringLiteral("Cannot claim message %1").arg(messageId));
        if (!claimed.next() || !claimed.value(0).toBool())
            return false;
    } catch (const CDaoException& failure) {
        qCWarning(lcDatabase, "%s", qUtf8Printable(failure.reason()));
        m_connection.reset();
        return false;
    }
    m_held.insert({ messageId, providerId });
    return true;
}

void CGroupClaims::Release(std::int32_t messageId, std::int32_t providerId)
{
    if (!m_held.erase({ messageId, providerId }) || !m_connection)
        return;
    try {
        m_connection->Execute(QStringLiteral("SELECT pg_advisory_unlock(?, ?)"),
            { messageId, providerId }, QStringLiteral("Cannot give back message %1").arg(messageId));
    } catch (const CDaoException& failure) {
        // The session is in doubt: ending it lets every claim of it go.
        qCWarning(lcDatabase, "%s", qUtf8Printable(failure.reason()));
        m_connection.reset();
        m_held.clear();
    }
}
