#include "data/QuillpostDoc.h"

#include "data/QuillTime.h"
#include "data/Recordsets.h"
#include "platform/LogCategories.h"
#include "platform/Prompt.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoRecordset.h"
#include "platform/db/DatabaseLocation.h"

#include <algorithm>

namespace {

const QString LoadFailedMessage
    = QStringLiteral("Unable to open database properly - check database is in working directory");

// Reads the whole table once, in table order, handing each row to `takeRow`; only one
// row is held at a time. The record set is closed again when this returns or throws.
template <typename Recordset, typename TakeRow> void readWholeTable(TakeRow takeRow)
{
    Recordset recordset;
    recordset.Open(CDaoRecordset::OpenType::ForwardOnly);
    while (!recordset.IsEOF() && !recordset.IsBOF()) {
        takeRow(recordset);
        recordset.MoveNext();
    }
    recordset.Close();
}

// A server's fault is not the operator's to mend at the desk, and passes by itself.
QString ServerUnreachableMessage(const QString& reason)
{
    return QStringLiteral("The database server cannot be reached just now; nothing is sent "
                          "meanwhile.\n\n%1\n\nQuillpost keeps trying and reads the tables "
                          "again as soon as the server answers.")
        .arg(reason);
}

std::unique_ptr<CRecipientEntry> entryFrom(const CMessagesRecordset& row, QuillTimeConverter& toQuillTime)
{
    auto entry = std::make_unique<CRecipientEntry>();
    entry->m_recipient = row.m_Recipient;
    entry->m_messageId = row.m_MessageId;
    entry->m_status = row.m_Status;
    entry->m_sendTime = toQuillTime(row.m_SendTime);
    entry->m_retries = row.m_Retries;
    return entry;
}

} // namespace

CQuillpostDoc::CQuillpostDoc() = default;

CQuillpostDoc::~CQuillpostDoc()
{
    ClearAll();
}

void CQuillpostDoc::SetContentsDeletedHandler(std::function<void()> handler)
{
    m_contentsDeleted = std::move(handler);
}

void CQuillpostDoc::DeleteContents()
{
    if (m_contentsDeleted)
        m_contentsDeleted();
    ClearAll();
}

bool CQuillpostDoc::OnNewDocument()
{
    DeleteContents();
    ReloadAll();
    return true;
}

void CQuillpostDoc::ClearAll()
{
    // Each list is emptied from the front, as the objects are owned one by one.
    m_users.clear();
    m_groups.clear();
    for (auto& job : m_messages)
        job->m_recipients.clear();
    m_messages.clear();
    m_providers.clear();
}

bool CQuillpostDoc::ReloadIfChanged()
{
    if (!m_watch.HasChanged())
        return false;
    // The lists as last read are kept while the server is away, rather than emptied.
    if (!m_watch.ServerFault().isEmpty()) {
        qCWarning(lcDatabase, "Cannot reach the database server: %s", qUtf8Printable(m_watch.ServerFault()));
        Prompt::current().inform(ServerUnreachableMessage(m_watch.ServerFault()));
        return false;
    }
    ReloadAll();
    return true;
}

void CQuillpostDoc::ReloadAll()
{
    // Taken before reading, so that a change made while the tables are read is seen
    // at the next look.
    m_watch.HasChanged();
    ClearAll();
    try {
        readWholeTable<CUsersRecordset>([this](const CUsersRecordset& row) {
            auto user = std::make_unique<CUser>();
            user->m_id = row.m_ID;
            user->m_name = row.m_Name;
            user->m_preferredProvider = row.m_PreferredProvider;
            user->m_telephoneNumber = row.m_TelephoneNumber;
            user->m_groupIds
                = { row.m_Group1, row.m_Group2, row.m_Group3, row.m_Group4, row.m_Group5,
                      row.m_Group6, row.m_Group7, row.m_Group8, row.m_Group9, row.m_Group10 };
            m_users.push_back(std::move(user));
        });

        readWholeTable<CGroupsRecordset>([this](const CGroupsRecordset& row) {
            auto group = std::make_unique<CGroup>();
            group->m_id = row.m_ID;
            group->m_name = row.m_GroupName;
            m_groups.push_back(std::move(group));
        });

        // A message is a run of rows with the same MessageId; the same MessageId after
        // another one starts a new message.
        std::int32_t previousMessageId = -1;
        QuillTimeConverter toQuillTime;
        CSendJob* current = nullptr;
        readWholeTable<CMessagesRecordset>([&](const CMessagesRecordset& row) {
            auto entry = entryFrom(row, toQuillTime);
            if (row.m_MessageId != previousMessageId || current == nullptr) {
                auto job = std::make_unique<CSendJob>();
                job->m_id = row.m_ID;
                job->m_messageId = row.m_MessageId;
                job->m_requestTime = toQuillTime(row.m_RequestTime);
                job->m_status = row.m_Status;
                job->m_requiredSendTime = toQuillTime(row.m_RequiredSendTime);
                job->m_text = row.m_Text;
                current = job.get();
                m_messages.push_back(std::move(job));
            }
            current->m_recipients.push_back(std::move(entry));
            previousMessageId = row.m_MessageId;
        });

        readWholeTable<CServiceProvidersRecordset>([this](const CServiceProvidersRecordset& row) {
            auto provider = std::make_unique<CServiceProvider>();
            provider->m_id = row.m_ID;
            provider->m_serviceName = row.m_ServiceName;
            provider->m_accessNumber = row.m_AccessNumber;
            provider->m_baudRate = row.m_BaudRate;
            provider->m_parity = row.m_Parity;
            provider->m_dataBits = row.m_DataBits;
            provider->m_stopBits = row.m_StopBits;
            provider->m_tapType = row.m_TAPType;
            provider->m_useAsDefault = row.m_UseAsDefault == 1;
            m_providers.push_back(std::move(provider));
        });
    } catch (const CDaoException& failure) {
        // What was read before the failure stays; the next reload starts afresh. The
        // operator's message is the one they know; the reason goes to the log.
        qCWarning(lcDatabase, "The tables were read only in part: %s", failure.what());
        Prompt::current().inform(LoadFailureMessage(failure.reason()));
    }
}

// A file's trouble is told in the words operators know; a server's says what it is, as
// there is no working directory to check.
QString CQuillpostDoc::LoadFailureMessage(const QString& reason) const
{
    if (!IsPostgresUri(CDaoRecordset::DefaultDatabasePath()))
        return LoadFailedMessage;
    if (!m_watch.ServerFault().isEmpty())
        return ServerUnreachableMessage(reason);
    return QStringLiteral("%1\n\n%2").arg(LoadFailedMessage, reason);
}

bool CQuillpostDoc::ReloadMessage(std::int32_t messageId)
{
    const auto message = std::find_if(m_messages.begin(), m_messages.end(),
        [messageId](const auto& job) { return job->m_messageId == messageId; });
    if (message == m_messages.end())
        return false;
    std::vector<std::unique_ptr<CRecipientEntry>> entries;
    QuillTimeConverter toQuillTime;
    try {
        CMessagesRecordset rs;
        rs.m_strFilter = QStringLiteral("MessageId = %1").arg(messageId);
        rs.Open(CDaoRecordset::OpenType::ForwardOnly);
        for (; !rs.IsEOF(); rs.MoveNext())
            entries.push_back(entryFrom(rs, toQuillTime));
    } catch (const CDaoException& failure) {
        qCWarning(lcDatabase, "Cannot read message %d again, so every table is: %s", int(messageId),
            failure.what());
        return false;
    }
    // The same recipients in the same order: only what a recorded result changes can
    // differ. Anything else (a row added or deleted meanwhile) needs the whole reload.
    auto& recipients = (*message)->m_recipients;
    if (!std::equal(recipients.begin(), recipients.end(), entries.begin(), entries.end(),
            [](const auto& held, const auto& read) { return held->m_recipient == read->m_recipient; }))
        return false;
    for (std::size_t i = 0; i < entries.size(); ++i)
        *recipients[i] = *entries[i];
    (*message)->m_status = recipients.front()->m_status;
    return true;
}

QString CQuillpostDoc::GetTelephoneNumber(std::int32_t userId) const
{
    for (const auto& user : m_users) {
        if (user->m_id == userId)
            return user->m_telephoneNumber;
    }
    return QString();
}

CServiceProvider* CQuillpostDoc::FindProviderForUser(std::int32_t userId) const
{
    for (const auto& user : m_users) {
        if (user->m_id == userId)
            return FindProvider(user->m_preferredProvider);
    }
    return nullptr;
}

CServiceProvider* CQuillpostDoc::FindProvider(std::int32_t providerId) const
{
    if (m_providers.empty())
        return nullptr;
    for (const auto& provider : m_providers) {
        if (provider->m_id == providerId || (providerId == 0 && provider->m_useAsDefault))
            return provider.get();
    }
    return providerId == 0 ? m_providers.front().get() : nullptr;
}

bool CQuillpostDoc::CatchUpWithMessage(std::int32_t messageId)
{
    if (ReloadMessage(messageId))
        return false;
    ReloadAll();
    return true;
}
