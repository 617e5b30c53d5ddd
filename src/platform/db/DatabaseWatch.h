#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class DaoConnection;

// Notices when another connection (another program, or a record set of this one) has
// committed a change to the database file, so that a program that keeps a copy of the
// tables in memory reloads only when there is something new. It keeps one connection
// of its own open and asks SQLite for the file's data version, which changes with
// every commit made through any other connection.
class CDatabaseWatch
{
public:
    CDatabaseWatch();
    ~CDatabaseWatch();

    CDatabaseWatch(const CDatabaseWatch&) = delete;
    CDatabaseWatch& operator=(const CDatabaseWatch&) = delete;

    // True when the file changed since the last call, on the first call, and when the
    // file could be asked last time but cannot be now (the reload that follows reports
    // why).
    bool HasChanged();

private:
    static constexpr std::int64_t kNeverAsked = -1;
    static constexpr std::int64_t kUnreadable = -2;

    std::unique_ptr<DaoConnection> m_connection;
    std::int64_t m_nLastVersion = kNeverAsked;
};
