#pragma once

#include "data/Records.h"
#include "platform/db/DatabaseWatch.h"

#include <functional>

// The one document: a read-only copy of the four tables, rebuilt by ReloadAll after
// every change. Pointers into the lists stay valid only until the next reload.
class CQuillpostDoc
{
public:
    CQuillpostDoc();
    virtual ~CQuillpostDoc();

    CQuillpostDoc(const CQuillpostDoc&) = delete;
    CQuillpostDoc& operator=(const CQuillpostDoc&) = delete;

    virtual void Serialize() { }
    virtual void DeleteContents();
    virtual bool OnNewDocument();

    void ReloadAll();
    // Reloads when another connection (another program, or a write of this one) has
    // changed the file since the last load; true when it did.
    bool ReloadIfChanged();
    void ClearAll();
    // After a send recorded a result: re-reads the rows of that one message and updates
    // it in place (its pointers stay valid), which costs a few rows, not every table.
    // False, and nothing changed, when the message is not held, its rows cannot be
    // read, or they are no longer the same recipients in the same order: the caller
    // then reloads everything.
    bool ReloadMessage(std::int32_t messageId);
    // ReloadMessage, or ReloadAll where that cannot be done; true when every table was
    // read again, which the tree then shows.
    bool CatchUpWithMessage(std::int32_t messageId);

    QString GetTelephoneNumber(std::int32_t userId) const;
    CServiceProvider* FindProviderForUser(std::int32_t userId) const;
    CServiceProvider* FindProvider(std::int32_t providerId) const;

    // Called by DeleteContents, so that the application forgets the document
    // (its m_pDoc becomes null and the scheduler does nothing from then on).
    void SetContentsDeletedHandler(std::function<void()> handler);
    // Why the database server could not be reached at the last look; empty while it
    // answers, and for a file.
    const QString& ServerFault() const { return m_watch.ServerFault(); }
    // Called as soon as a database server tells of a change (CDatabaseWatch).
    void SetChangeToldHandler(std::function<void()> told) { m_watch.SetChangeToldHandler(std::move(told)); }

    std::vector<std::unique_ptr<CUser>> m_users;
    std::vector<std::unique_ptr<CGroup>> m_groups;
    std::vector<std::unique_ptr<CSendJob>> m_messages;
    std::vector<std::unique_ptr<CServiceProvider>> m_providers;

private:
    QString LoadFailureMessage(const QString& reason) const;

    std::function<void()> m_contentsDeleted;
    CDatabaseWatch m_watch;
};
