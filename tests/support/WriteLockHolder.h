#pragma once

#include <QSemaphore>
#include <QString>
#include <QStringList>
#include <thread>

// Another program's writer: on a connection of a thread of its own it takes the
// database's write lock, runs `statements` inside it, and commits once released (or
// destroyed), or by itself after holdMs when that is not negative. The constructor
// returns once the lock is held, or with `error` saying why it could not be taken.
class WriteLockHolder
{
public:
    WriteLockHolder(const QString& path, int holdMs = -1, const QStringList& statements = {});
    ~WriteLockHolder();
    Q_DISABLE_COPY_MOVE(WriteLockHolder)

    void release() { m_release.release(); }

    QString error;

private:
    QSemaphore m_held;
    QSemaphore m_release;
    std::thread m_thread;
};
