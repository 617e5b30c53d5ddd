#include "platform/db/DaoWorkspace.h"

#include "platform/LogCategories.h"
#include "platform/db/DaoConnection.h"
#include "platform/db/DatabaseLocation.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoRecordset.h"

#include <QFileInfo>
#include <QtGlobal>

// Owns the thread's workspace, so that it goes with the thread.
struct WorkspaceHolder
{
    CDaoWorkspace workspace;
};

CDaoWorkspace& CDaoWorkspace::Default()
{
    thread_local WorkspaceHolder holder;
    return holder.workspace;
}

CDaoWorkspace::~CDaoWorkspace()
{
    if (IsInTransaction())
        Rollback();
}

void CDaoWorkspace::BeginTrans()
{
    BeginTrans(CDaoRecordset::DefaultDatabasePath());
}

void CDaoWorkspace::BeginTrans(const QString& path)
{
    const QString absolutePath = AbsoluteDatabaseName(path);
    if (IsInTransaction()) {
        if (m_connection->path() != absolutePath)
            throw CDaoException(CDaoException::Kind::Other,
                QStringLiteral("A transaction on %1 is already open; %2 cannot join it.")
                    .arg(m_connection->path(), absolutePath));
        ++m_nDepth;
        run(QStringLiteral("SAVEPOINT %1").arg(savepointName()),
            QStringLiteral("Cannot begin a nested transaction"));
        return;
    }

    auto connection = std::make_shared<DaoConnection>(absolutePath);
    connection->RequireQuillpostTables();
    // IMMEDIATE takes the write lock now, under the busy time-out: a transaction that
    // read first and wrote later could otherwise fail at its first write when another
    // program committed in between.
    // A server locks rows, not the database: its transactions begin plainly.
    connection->Execute(connection->IsOnServer() ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"), {},
        QStringLiteral("Cannot begin a transaction on %1").arg(absolutePath));
    connection->SetInTransaction(true);
    m_connection = std::move(connection);
    m_nDepth = 1;
}

void CDaoWorkspace::CommitTrans()
{
    if (!IsInTransaction())
        throw CDaoException(
            CDaoException::Kind::Other, QStringLiteral("There is no transaction to commit."));
    if (m_nDepth > 1) {
        run(QStringLiteral("RELEASE %1").arg(savepointName()),
            QStringLiteral("Cannot end a nested transaction"));
        --m_nDepth;
        return;
    }
    try {
        run(QStringLiteral("COMMIT"),
            QStringLiteral("Cannot commit the transaction on %1").arg(m_connection->DisplayName()));
    } catch (const CDaoException&) {
        Rollback();
        throw;
    }
    endTransaction();
}

void CDaoWorkspace::Rollback()
{
    if (!IsInTransaction())
        return;
    try {
        if (m_nDepth > 1) {
            const QString name = savepointName();
            run(QStringLiteral("ROLLBACK TO %1").arg(name), QStringLiteral("Cannot roll back"));
            run(QStringLiteral("RELEASE %1").arg(name), QStringLiteral("Cannot roll back"));
            --m_nDepth;
            return;
        }
        run(QStringLiteral("ROLLBACK"), QStringLiteral("Cannot roll back"));
    } catch (const CDaoException& failure) {
        // SQLite may already have rolled back by itself (after a full disk, say); the
        // connection goes below, and with it whatever it had not committed.
        qCWarning(lcDatabase, "%s", failure.what());
        m_nDepth = 1;
    }
    endTransaction();
}

void CDaoWorkspace::endTransaction()
{
    m_nDepth = 0;
    // Record sets opened in the transaction may keep the connection: they go on outside it.
    m_connection->SetInTransaction(false);
    m_connection.reset();
}

std::shared_ptr<DaoConnection> CDaoWorkspace::ConnectionFor(const QString& absolutePath)
{
    if (IsInTransaction() && m_connection->path() == absolutePath)
        return m_connection;
    return std::make_shared<DaoConnection>(absolutePath);
}

void CDaoWorkspace::run(const QString& sql, const QString& failureContext)
{
    m_connection->Execute(sql, {}, failureContext);
}

QString CDaoWorkspace::savepointName() const
{
    return QStringLiteral("quillpost_level_%1").arg(m_nDepth);
}

CDaoTransaction::CDaoTransaction()
{
    CDaoWorkspace::Default().BeginTrans();
}

CDaoTransaction::CDaoTransaction(const QString& path)
{
    CDaoWorkspace::Default().BeginTrans(path);
}

CDaoTransaction::~CDaoTransaction()
{
    if (m_bOpen)
        CDaoWorkspace::Default().Rollback();
}

void CDaoTransaction::Commit()
{
    // A failed commit of the outermost level has rolled back already; a failed inner
    // one is rolled back to its own start by the destructor.
    CDaoWorkspace::Default().CommitTrans();
    m_bOpen = false;
}
