#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <cstdint>
#include <memory>
#include <set>
#include <utility>

class DaoConnection;

// The (message, provider) groups this dispatcher is sending from a database on a
// PostgreSQL server, where several dispatchers send at once. Each claim is a session
// advisory lock on a connection of its own, held for the call: no other dispatcher can
// claim the group meanwhile, and the server lets the claim go when this program's
// session ends, also by a crash. A database in a file needs none (its one sender holds
// the dispatcher lock).
//
// A server that restarts ends every session, so the claims of calls still under way
// are gone too. Each dispatcher claims its own groups again as soon as it reaches the
// server, and claims no new group until the server has been up for a grace period of a
// few scheduler runs: by then every living dispatcher has taken back what it is
// sending, and only a crashed dispatcher's groups are free.
class CGroupClaims
{
public:
    explicit CGroupClaims(int graceMs);
    static constexpr int kLeastGraceMs = 2000;

    void SetGraceMs(int graceMs);
    ~CGroupClaims();
    CGroupClaims(const CGroupClaims&) = delete;
    CGroupClaims& operator=(const CGroupClaims&) = delete;

    // True when the group is this dispatcher's now; false when another holds it, the
    // server has only just started, or it cannot be asked (then nothing is sent for it).
    bool TryClaim(std::int32_t messageId, std::int32_t providerId);
    void Release(std::int32_t messageId, std::int32_t providerId);
    // Makes sure the session holding the claims still stands, and claims the groups
    // again on a new one when it was lost; nothing while none is held (a file).
    void Keep();

private:
    DaoConnection* Connection();
    bool Open(const QString& database);
    bool Lock(std::int32_t messageId, std::int32_t providerId);
    void ClaimAgain();

    int m_nGraceMs = 0;
    std::unique_ptr<DaoConnection> m_connection;
    QString m_strDatabase;
    QString m_strLastFailure;
    // Claimed, or to be claimed again on the next session.
    std::set<std::pair<std::int32_t, std::int32_t>> m_held;
    QDeadlineTimer m_newClaimsFrom;
};
