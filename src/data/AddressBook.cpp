#include "data/AddressBook.h"

#include "data/QuillpostDoc.h"
#include "data/Recordsets.h"
#include "platform/db/DaoException.h"
#include "platform/db/DaoWorkspace.h"

#include <algorithm>
#include <utility>

namespace {

QString idCriteria(std::int32_t id)
{
    return QStringLiteral("ID = %1").arg(id);
}

std::array<std::int32_t*, kGroupSlots> groupColumns(CUsersRecordset& row)
{
    return { &row.m_Group1, &row.m_Group2, &row.m_Group3, &row.m_Group4, &row.m_Group5,
        &row.m_Group6, &row.m_Group7, &row.m_Group8, &row.m_Group9, &row.m_Group10 };
}

// Hands the row with that ID to `read`; nothing when the table has no such row.
template <typename Recordset, typename Read> auto readRow(std::int32_t id, Read read)
{
    Recordset recordset;
    recordset.m_strFilter = idCriteria(id);
    recordset.Open();
    using Result = decltype(read(recordset));
    if (recordset.IsEOF())
        return std::optional<Result>();
    return std::optional<Result>(read(recordset));
}

// In one transaction: changes the row with that ID, or adds one when there is no ID,
// with the values `write` puts into the members, then runs `alsoWrite` with the row's
// ID. Returns that ID.
template <typename Recordset, typename Write, typename AlsoWrite = void (*)(std::int32_t)>
std::int32_t saveRow(
    std::optional<std::int32_t> id, Write write, AlsoWrite alsoWrite = [](std::int32_t) {})
{
    CDaoTransaction transaction;
    Recordset recordset;
    // Only the row itself is read; a new row needs none (IDs start at 1).
    recordset.m_strFilter = idCriteria(id.value_or(0));
    recordset.Open();
    if (id) {
        // The row was there when the dialog opened; another program may have removed it
        // while the operator was typing.
        if (recordset.IsEOF())
            throw CDaoException(CDaoException::Kind::Other,
                QStringLiteral("It was deleted from the database while the dialog was open."));
        recordset.Edit();
    } else {
        recordset.AddNew();
    }
    write(recordset);
    recordset.Update();
    const std::int32_t saved = id ? *id : recordset.GetLastAddedID();
    recordset.Close();
    alsoWrite(saved);
    transaction.Commit();
    return saved;
}

template <typename Recordset> bool deleteRow(std::int32_t id)
{
    CDaoTransaction transaction;
    Recordset recordset;
    recordset.m_strFilter = idCriteria(id);
    recordset.Open();
    if (recordset.IsEOF())
        return false;
    recordset.Delete();
    recordset.Close();
    transaction.Commit();
    return true;
}

// Inside the caller's transaction: every provider but `keep` stops being the default.
void clearOtherDefaults(std::int32_t keep)
{
    CServiceProvidersRecordset providers;
    providers.m_strFilter = QStringLiteral("UseAsDefault = 1");
    providers.Open();
    for (; !providers.IsEOF(); providers.MoveNext()) {
        if (providers.m_ID == keep)
            continue;
        providers.Edit();
        providers.m_UseAsDefault = 0;
        providers.Update();
    }
    providers.Close();
}

} // namespace

std::array<std::int32_t, kGroupSlots> PackGroups(const std::vector<std::int32_t>& groupIds)
{
    std::array<std::int32_t, kGroupSlots> columns {};
    std::copy_n(groupIds.begin(), std::min(groupIds.size(), columns.size()), columns.begin());
    return columns;
}

std::vector<std::int32_t> UnpackGroups(const std::array<std::int32_t, kGroupSlots>& columns)
{
    std::vector<std::int32_t> groupIds;
    std::copy_if(columns.begin(), columns.end(), std::back_inserter(groupIds),
        [](std::int32_t id) { return id != 0; });
    return groupIds;
}

template <typename Records> std::vector<RecordChoice> copyChoices(const Records& records)
{
    std::vector<RecordChoice> choices;
    choices.reserve(records.size());
    for (const auto& record : records)
        choices.push_back({ record->m_id, record->m_name });
    return choices;
}

std::vector<RecordChoice> CopyUserChoices(const CQuillpostDoc& doc)
{
    return copyChoices(doc.m_users);
}

std::vector<RecordChoice> CopyGroupChoices(const CQuillpostDoc& doc)
{
    return copyChoices(doc.m_groups);
}

std::optional<UserDetails> ReadUser(std::int32_t id)
{
    return readRow<CUsersRecordset>(id, [](CUsersRecordset& row) {
        std::array<std::int32_t, kGroupSlots> columns {};
        std::ranges::transform(
            groupColumns(row), columns.begin(), [](const std::int32_t* slot) { return *slot; });
        return UserDetails { row.m_Name, row.m_TelephoneNumber, row.m_PreferredProvider,
            UnpackGroups(columns) };
    });
}

std::optional<QString> ReadGroupName(std::int32_t id)
{
    return readRow<CGroupsRecordset>(
        id, [](const CGroupsRecordset& row) { return row.m_GroupName; });
}

std::optional<ProviderDetails> ReadProvider(std::int32_t id)
{
    return readRow<CServiceProvidersRecordset>(id, [](const CServiceProvidersRecordset& row) {
        return ProviderDetails { row.m_ServiceName, row.m_AccessNumber, row.m_BaudRate,
            row.m_StopBits, row.m_Parity, row.m_DataBits, row.m_UseAsDefault == 1, row.m_Password };
    });
}

std::int32_t SaveUser(std::optional<std::int32_t> id, const UserDetails& user)
{
    return saveRow<CUsersRecordset>(id, [&user](CUsersRecordset& row) {
        row.m_Name = user.name;
        row.m_TelephoneNumber = user.telephoneNumber;
        row.m_PreferredProvider = user.preferredProvider;
        const auto packed = PackGroups(user.groupIds);
        const auto columns = groupColumns(row);
        for (std::size_t i = 0; i < kGroupSlots; ++i)
            *columns[i] = packed[i];
    });
}

std::int32_t SaveGroup(std::optional<std::int32_t> id, const QString& name)
{
    return saveRow<CGroupsRecordset>(
        id, [&name](CGroupsRecordset& row) { row.m_GroupName = name; });
}

std::int32_t SaveProvider(std::optional<std::int32_t> id, const ProviderDetails& provider)
{
    return saveRow<CServiceProvidersRecordset>(
        id,
        [&provider](CServiceProvidersRecordset& row) {
            row.m_ServiceName = provider.serviceName;
            row.m_AccessNumber = provider.accessNumber;
            row.m_BaudRate = provider.baudRate;
            row.m_StopBits = provider.stopBits;
            row.m_Parity = provider.parity;
            row.m_DataBits = provider.dataBits;
            row.m_TAPType = 1;
            row.m_UseAsDefault = provider.useAsDefault ? 1 : 0;
            row.m_Password = provider.password;
        },
        [&provider](std::int32_t saved) {
            if (provider.useAsDefault)
                clearOtherDefaults(saved);
        });
}

bool DeleteUser(std::int32_t id)
{
    return deleteRow<CUsersRecordset>(id);
}

bool DeleteGroup(std::int32_t id)
{
    return deleteRow<CGroupsRecordset>(id);
}

bool DeleteProvider(std::int32_t id)
{
    return deleteRow<CServiceProvidersRecordset>(id);
}
