#include "data/AddressBook.h"
#include "platform/Prompt.h"
#include "ui/CommandSteps.h"
#include "ui/GroupDlg.h"
#include "ui/QuillpostTreeView.h"
#include "ui/ServiceProviderDlg.h"
#include "ui/UserDlg.h"

// The address book commands: New, Edit and Delete for users, groups and service
// providers. Each works from copies (the record's ID, what was read from its row),
// never from the document's lists: a send may reload the document while a dialog or
// a question is open.

namespace {

// The write after OK is one transaction, so a failure keeps nothing of it; the
// operator is told, as otherwise a record would seem saved that is not.
QString notSaved(const char* what)
{
    return QStringLiteral("The %1 could not be saved").arg(QLatin1String(what));
}

// Edits the user with that ID, or a new one without an ID. True when something was
// written, or an attempt to write failed: the tables are then to be read again.
bool editUser(QWidget* parent, const CQuillpostDoc& doc, std::optional<std::int32_t> id)
{
    const std::optional<UserDetails> stored
        = id ? ReadQuietly([&] { return ReadUser(*id); }) : UserDetails {};
    if (!stored)
        return false;
    CUserDlg dlg(CopyGroupChoices(doc), parent);
    dlg.m_strName = stored->name;
    dlg.m_strPhone = stored->telephoneNumber;
    dlg.m_nPreferredProvider = stored->preferredProvider;
    dlg.m_listGroupIds = stored->groupIds;
    return ExecUntilSaved(dlg, notSaved("user"), [&] {
        SaveUser(
            id, { dlg.m_strName, dlg.m_strPhone, dlg.m_nPreferredProvider, dlg.m_listGroupIds });
    });
}

bool editGroup(QWidget* parent, std::optional<std::int32_t> id)
{
    const std::optional<QString> stored
        = id ? ReadQuietly([&] { return ReadGroupName(*id); }) : QString();
    if (!stored)
        return false;
    CGroupDlg dlg(parent);
    dlg.m_strName = *stored;
    return ExecUntilSaved(dlg, notSaved("group"), [&] { SaveGroup(id, dlg.m_strName); });
}

bool editProvider(QWidget* parent, std::optional<std::int32_t> id)
{
    const std::optional<ProviderDetails> stored
        = id ? ReadQuietly([&] { return ReadProvider(*id); }) : ProviderDetails {};
    if (!stored)
        return false;
    CServiceProviderDlg dlg(parent);
    dlg.m_strName = stored->serviceName;
    dlg.m_strAccessNumber = stored->accessNumber;
    dlg.m_nBaudRate = stored->baudRate;
    dlg.m_nStopBits = stored->stopBits;
    dlg.m_nParity = stored->parity;
    dlg.m_nDataBits = stored->dataBits;
    dlg.m_bUseAsDefault = stored->useAsDefault ? 1 : 0;
    dlg.m_strPassword = stored->password;
    return ExecUntilSaved(dlg, notSaved("service provider"), [&] {
        SaveProvider(id,
            { dlg.m_strName, dlg.m_strAccessNumber, dlg.m_nBaudRate, dlg.m_nStopBits, dlg.m_nParity,
                dlg.m_nDataBits, dlg.m_bUseAsDefault == 1, dlg.m_strPassword });
    });
}

// The name a delete question gives a record.
QString recordName(const UserDetails& user)
{
    return user.name;
}
QString recordName(const QString& groupName)
{
    return groupName;
}
QString recordName(const ProviderDetails& provider)
{
    return provider.serviceName;
}

// Asks `question`, filled with the row's name, and deletes the row on Yes. True when
// the row was deleted (or was gone already). An error while deleting is not caught:
// it leaves the command, which reports it to the operator.
template <typename Read, typename Delete>
bool deleteRecord(
    std::optional<std::int32_t> id, const QString& question, Read read, Delete deleteRow)
{
    if (!id)
        return false;
    const auto stored = ReadQuietly([&] { return read(*id); });
    if (!stored || !Prompt::current().askYesNo(question.arg(recordName(*stored))))
        return false;
    deleteRow(*id);
    return true;
}

} // namespace

void CQuillpostTreeView::OnNewUser()
{
    if (editUser(window(), m_doc, std::nullopt))
        ReloadAndRefresh();
}

void CQuillpostTreeView::OnEditUser()
{
    const std::optional<std::int32_t> id = ContextRecordId();
    if (id && editUser(window(), m_doc, id))
        ReloadAndRefresh();
}

void CQuillpostTreeView::OnDeleteUser()
{
    if (deleteRecord(ContextRecordId(), QStringLiteral("Are you sure you want to delete user %1"),
            ReadUser, DeleteUser))
        ReloadAndRefresh();
}

void CQuillpostTreeView::OnNewGroup()
{
    if (editGroup(window(), std::nullopt))
        ReloadAndRefresh();
}

void CQuillpostTreeView::OnEditGroup()
{
    const std::optional<std::int32_t> id = ContextRecordId();
    if (id && editGroup(window(), id))
        ReloadAndRefresh();
}

void CQuillpostTreeView::OnDeleteGroup()
{
    if (deleteRecord(ContextRecordId(), QStringLiteral("Are you sure you want to delete group %1"),
            ReadGroupName, DeleteGroup))
        ReloadAndRefresh();
}

void CQuillpostTreeView::OnNewServiceProvider()
{
    if (editProvider(window(), std::nullopt))
        ReloadAndRefresh();
}

void CQuillpostTreeView::OnEditServiceProvider()
{
    const std::optional<std::int32_t> id = ContextRecordId();
    if (id && editProvider(window(), id))
        ReloadAndRefresh();
}

void CQuillpostTreeView::OnDeleteServiceProvider()
{
    if (deleteRecord(ContextRecordId(),
            QStringLiteral("Are you sure you want to delete service provider %1"), ReadProvider,
            DeleteProvider))
        ReloadAndRefresh();
}
