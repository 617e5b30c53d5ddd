#include "dispatch/GroupClaims.h"

#include "platform/LogCategories.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DaoRecordset.h"

#include <QSqlQuery>
#include <algorithm>

CGroupClaims::CGroupClaims(int graceMs)
{
    SetGraceMs(graceMs);
}

// However short the runs, a restarted server is not up long before the first dispatcher
// reaches it again.
void CGroupClaims::SetGraceMs(int graceMs)
{
    m_nGraceMs = std::max(graceMs, kLeastGraceMs);
}

CGroupClaims::~CGroupClaims() = default;

// One session for every claim, opened again when the database named changed or the
// session was lost; the claims of a lost session are taken again on the new one.
DaoConnection* CGroupClaims::Connection()
{
    const QString database = CDaoRecordset::DefaultDatabasePath();
    if (m_connection && m_strDatabase == database && m_connection->database().isOpen())
        return m_connection.get();
    if (m_strDatabase != database)
        m_held.clear();
    m_connection.reset();
    if (!Open(database))
        return nullptr;
    ClaimAgain();
    return m_connection.get();
}

bool CGroupClaims::Open(const QString& database)
{
    try {
        m_connection = std::make_unique<DaoConnection>(database);
        m_strDatabase = database;
        QSqlQuery up = m_connection->Execute(
            QStringLiteral("SELECT CAST(EXTRACT(EPOCH FROM now() - pg_postmaster_start_time()) "
                           "* 1000 AS bigint)"),
            {}, QStringLiteral("Cannot ask how long the database server has been up"));
        const qint64 upMs = up.next() ? up.value(0).toLongLong() : 0;
        m_newClaimsFrom = QDeadlineTimer(std::max<qint64>(0, m_nGraceMs - upMs));
        m_strLastFailure.clear();
        return true;
    } catch (const CDaoException& failure) {
        // Said once while the server stays away; the program's own messages tell the
        // operator.
        if (failure.reason() != m_strLastFailure)
            qCWarning(lcDatabase, "Cannot claim messages to send: %s", qUtf8Printable(failure.reason()));
        m_strLastFailure = failure.reason();
        m_connection.reset();
        return false;
    }
}

void CGroupClaims::ClaimAgain()
{
    for (auto group = m_held.begin(); m_connection && group != m_held.end();) {
        if (Lock(group->first, group->second)) {
            ++group;
            continue;
        }
        qCWarning(lcSend,
            "Message %d: another dispatcher took it up while the database server was away; "
            "its pages may go out twice",
            int(group->first));
        group = m_held.erase(group);
    }
}

bool CGroupClaims::Lock(std::int32_t messageId, std::int32_t providerId)
{
    try {
        QSqlQuery claimed = m_connection->Execute(QStringLiteral("SELECT pg_try_advisory_lock(?, ?)"),
            { messageId, providerId }, QStringLiteral("Cannot claim message %1").arg(messageId));
        return claimed.next() && claimed.value(0).toBool();
    } catch (const CDaoException& failure) {
        qCWarning(lcDatabase, "%s", qUtf8Printable(failure.reason()));
        m_connection.reset();
        return false;
    }
}

// A session found lost by the claim itself is opened again once, as the server may well
// be back.
bool CGroupClaims::TryClaim(std::int32_t messageId, std::int32_t providerId)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!Connection() || !m_newClaimsFrom.hasExpired())
            return false;
        if (Lock(messageId, providerId)) {
            m_held.insert({ messageId, providerId });
            return true;
        }
        if (m_connection)
            return false;
    }
    return false;
}

void CGroupClaims::Release(std::int32_t messageId, std::int32_t providerId)
{
    if (!m_held.erase({ messageId, providerId }) || !m_connection)
        return;
    try {
        m_connection->Execute(QStringLiteral("SELECT pg_advisory_unlock(?, ?)"),
            { messageId, providerId }, QStringLiteral("Cannot give back message %1").arg(messageId));
    } catch (const CDaoException& failure) {
        // The session is in doubt: ending it lets every claim of it go, and the next
        // look claims the others again.
        qCWarning(lcDatabase, "%s", qUtf8Printable(failure.reason()));
        m_connection.reset();
    }
}

// A session lost quietly shows only when it is used: a statement that cannot fail on a
// standing one finds out.
void CGroupClaims::Keep()
{
    if (m_held.empty())
        return;
    if (m_connection) {
        try {
            m_connection->Execute(QStringLiteral("SELECT 1"), {}, QStringLiteral("Cannot keep the claims"));
        } catch (const CDaoException&) {
            m_connection.reset();
        }
    }
    Connection();
}
