#pragma once

#include <QString>
#include <memory>

class DaoConnection;

// The thread's workspace: the transaction that the record sets opened on this thread
// take part in. Outside a transaction each record set opens a connection of its own
// and every change is committed on its own. Between BeginTrans and CommitTrans (or
// Rollback) every record set opened over the same file shares the workspace's one
// connection: it sees the rows written so far in the transaction, and no other
// connection sees any of them before the commit. A rollback leaves the file exactly
// as it was before BeginTrans.
//
// Transactions nest: an inner BeginTrans marks a point that its own CommitTrans keeps
// and its own Rollback returns to; only the outermost commit writes to the file.
class CDaoWorkspace
{
public:
    // The workspace of the calling thread (database connections belong to one thread).
    static CDaoWorkspace& Default();

    CDaoWorkspace(const CDaoWorkspace&) = delete;
    CDaoWorkspace& operator=(const CDaoWorkspace&) = delete;

    // Begins a transaction on the file that record sets open by default
    // (Quillpost.mdb in the working directory), or on `path`. It takes the file's
    // write lock at once, waiting up to the busy time-out for another writer; a
    // failure throws CDaoException and leaves no transaction open.
    void BeginTrans();
    void BeginTrans(const QString& path);
    // Throws CDaoException when the commit fails; the transaction is then rolled back.
    void CommitTrans();
    // Never throws: a rollback that SQLite refuses still ends the transaction, and
    // dropping the connection discards what it had not committed.
    void Rollback();

    bool IsInTransaction() const { return m_nDepth > 0; }

    // The connection a record set opening `absolutePath` uses: the transaction's when
    // one is open on that file, otherwise a new one of its own.
    std::shared_ptr<DaoConnection> ConnectionFor(const QString& absolutePath);

private:
    CDaoWorkspace() = default;
    ~CDaoWorkspace();
    friend struct WorkspaceHolder;

    void run(const QString& sql, const QString& failureContext);
    QString savepointName() const;
    void endTransaction();

    std::shared_ptr<DaoConnection> m_connection;
    int m_nDepth = 0;
};

// Begins a transaction on the thread's workspace for the lifetime of the object and
// rolls it back unless Commit was called, so that an exception leaves nothing
// half-written.
class CDaoTransaction
{
public:
    CDaoTransaction();
    explicit CDaoTransaction(const QString& path);
    ~CDaoTransaction();

    CDaoTransaction(const CDaoTransaction&) = delete;
    CDaoTransaction& operator=(const CDaoTransaction&) = delete;

    void Commit();

private:
    bool m_bOpen = true;
};
