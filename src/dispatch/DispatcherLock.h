#pragma once

#include <QString>

// Makes sure that only one program sends from a database file: two dispatchers would
// call a provider twice for one page. The lock is an exclusive advisory lock on a file
// beside the database (its name with ".dispatcher" added), which the kernel releases
// when its holder ends, also by a crash or SIGKILL, so a stale lock never outlives its
// holder. The holder writes who it is into the file, for the others to tell the
// operator. The file is kept to its owner and group (0660), and only a file of its own
// is used: a symbolic link at its path is refused, never followed or emptied.
class CDispatcherLock
{
public:
    // `holderName` says what this program is, e.g. "the desktop program".
    explicit CDispatcherLock(QString holderName);
    ~CDispatcherLock();

    CDispatcherLock(const CDispatcherLock&) = delete;
    CDispatcherLock& operator=(const CDispatcherLock&) = delete;

    // Takes the lock for the database that record sets open by default. Held already,
    // it checks (two stat calls) that the held file is still the one at the path: a lock
    // file removed or replaced under its holder keeps nobody out any more, so it is let
    // go and the file now at the path is locked instead. True when the lock is held
    // afterwards; otherwise RefusalReason says who holds it or why it could not be taken.
    bool TryAcquire();
    // A database on a server has no lock file: every dispatcher sends, each claiming the
    // groups it sends (CGroupClaims).
    bool IsHeld() const { return m_fd >= 0 || m_bOnServer; }
    void Release();
    const QString& RefusalReason() const { return m_strRefusal; }

    static QString LockFilePath(const QString& databasePath);

private:
    int OpenLockFile(const QString& path);
    bool LockOpenFile(int fd, const QString& path);
    void Hold(int fd, const QString& databasePath, const QString& path);
    void RefuseFailure(const QString& reason);

    QString m_strHolderName;
    QString m_strRefusal;
    QString m_strDatabasePath; // the database the held lock is for
    QString m_strPath; // where the held lock file was taken
    int m_fd = -1;
    bool m_bOnServer = false;
};
