#include "WriteLockHolder.h"

#include "platform/db/DaoConnection.h"
#include "platform/db/DaoException.h"

WriteLockHolder::WriteLockHolder(const QString& path, int holdMs, const QStringList& statements)
    : m_thread([this, path, holdMs, statements] {
        try {
            DaoConnection connection(path);
            for (const QString& sql :
                QStringList { QStringLiteral("BEGIN IMMEDIATE") } + statements)
                connection.Execute(sql, {}, QStringLiteral("The lock holder failed"));
            m_held.release();
            if (holdMs < 0)
                m_release.acquire();
            else
                m_release.tryAcquire(1, holdMs);
            connection.Execute(
                QStringLiteral("COMMIT"), {}, QStringLiteral("The lock holder failed"));
        } catch (const CDaoException& failure) {
            error = failure.reason();
            m_held.release();
        }
    })
{
    m_held.acquire();
}

WriteLockHolder::~WriteLockHolder()
{
    release();
    m_thread.join();
}
