#pragma once

#include <QString>
#include <cstdint>

// Notices when the database file has changed, whoever changed it (another program, or
// a write of this one), so that a program that keeps a copy of the tables in memory
// reloads only when there is something new. Every commit either appends to the file's
// write-ahead log or is copied into the file itself, so the size, modification time
// or inode of one of the two files changes with it. An empty log holds no commit:
// SQLite makes and removes one as connections come and go, which is no change.
class CDatabaseWatch
{
public:
    // True on the first call and whenever the file changed since the last call. A file
    // that cannot be read counts as changed once, not at every look, so that the
    // reload's message about it is not repeated.
    bool HasChanged();

private:
    struct FileStamp
    {
        std::int64_t size = -1; // -1: no such file
        std::int64_t modifiedNs = 0;
        std::uint64_t inode = 0;
        bool operator==(const FileStamp&) const = default;
    };
    static FileStamp StampOf(const QString& path);

    bool m_bStamped = false;
    FileStamp m_database;
    FileStamp m_log;
};
