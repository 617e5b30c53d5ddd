#pragma once

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
class CGroupClaims
{
public:
    CGroupClaims();
    ~CGroupClaims();
    CGroupClaims(const CGroupClaims&) = delete;
    CGroupClaims& operator=(const CGroupClaims&) = delete;

    // True when the group is this dispatcher's now; false when another holds it or the
    // server cannot be asked (then nothing is sent for it).
    bool TryClaim(std::int32_t messageId, std::int32_t providerId);
    void Release(std::int32_t messageId, std::int32_t providerId);

private:
    DaoConnection* Connection();

    std::unique_ptr<DaoConnection> m_connection;
    QString m_strDatabase;
    std::set<std::pair<std::int32_t, std::int32_t>> m_held;
};
