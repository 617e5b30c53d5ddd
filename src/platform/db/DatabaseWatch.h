#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class DaoConnection;

// Notices when the database file has changed, whoever changed it (another program, or
// a write of this one), so that a program that keeps a copy of the tables in memory
// reloads only when there is something new. It keeps a connection of its own open and
// asks SQLite's data version, which moves with every commit made through any other
// connection: another program's, and this program's too, since every record set opens
// a connection of its own. One stat of the path notices the file itself going, or
// another file taking its place, which the open connection would not see.
//
// A database on a PostgreSQL server tells its changes itself: the watch listens on its
// change channel, and counts what the event loop delivered since the last look. A lost
// session is noticed at the next look, which listens anew.
class CDatabaseWatch
{
public:
    CDatabaseWatch();
    ~CDatabaseWatch();
    CDatabaseWatch(const CDatabaseWatch&) = delete;
    CDatabaseWatch& operator=(const CDatabaseWatch&) = delete;

    // True on the first call and whenever the file changed since the last call. A file
    // that cannot be read counts as changed once, not at every look, so that the
    // reload's message about it is not repeated.
    bool HasChanged();
    // Called from the event loop as soon as a server tells of a change, so that the
    // program can look at once rather than at its next run; a file tells nothing.
    // Why the database's server could not be reached at the last look; empty while it
    // answers, and always for a file.
    const QString& ServerFault() const { return m_strServerFault; }
    void SetChangeToldHandler(std::function<void()> told) { m_told = std::move(told); }

private:
    // What one look saw; two looks that see the same saw no change. Every new opening
    // of the connection comes with another path or file, or after a failed look, so the
    // versions of two connections, which are not comparable, are never compared.
    struct Sight
    {
        QString path;
        std::uint64_t device = 0; // device and inode 0: no file at the path
        std::uint64_t inode = 0;
        std::optional<std::int64_t> version; // none: the file could not be read
        bool operator==(const Sight&) const = default;
    };

    Sight Look();
    bool ServerChanged(const QString& uri);
    bool Listen(const QString& uri);
    std::optional<std::int64_t> DataVersion();
    bool Open(const Sight& file);
    void Close();

    std::unique_ptr<DaoConnection> m_connection;
    std::shared_ptr<int> m_notices; // changes the server told since the last look
    Sight m_opened; // the file the connection is open on, with no version
    Sight m_seen;
    std::function<void()> m_told;
    bool m_bLooked = false;
    bool m_bListening = false; // the server was reached at the last look
    QString m_strServerFault;
};
