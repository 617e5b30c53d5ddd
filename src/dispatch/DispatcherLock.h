#pragma once

#include <QString>

// Makes sure that only one program sends from a database file: two dispatchers would
// call a provider twice for one page. The lock is an exclusive advisory lock on a file
// beside the database (its name with ".dispatcher" added), which the kernel releases
// when its holder ends, also by a crash or SIGKILL, so a stale lock never outlives its
// holder. The holder writes who it is into the file, for the others to tell the
// operator.
class CDispatcherLock
{
public:
    // `holderName` says what this program is, e.g. "the desktop program".
    explicit CDispatcherLock(QString holderName);
    ~CDispatcherLock();

    CDispatcherLock(const CDispatcherLock&) = delete;
    CDispatcherLock& operator=(const CDispatcherLock&) = delete;

    // Takes the lock for the database that record sets open by default, unless this
    // object holds it already. True when it is held afterwards; otherwise
    // RefusalReason says who holds it or why it could not be taken.
    bool TryAcquire();
    bool IsHeld() const { return m_fd >= 0; }
    void Release();
    const QString& RefusalReason() const { return m_strRefusal; }

    static QString LockFilePath(const QString& databasePath);

private:
    QString m_strHolderName;
    QString m_strRefusal;
    int m_fd = -1;
};
