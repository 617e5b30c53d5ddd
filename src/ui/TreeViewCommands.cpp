#include "app/CommandIds.h"
#include "data/QuillpostDoc.h"
#include "platform/CommandErrors.h"
#include "ui/QuillpostTreeView.h"

// The commands of the navigation tree: its context menus and the main menu's
// Operations entries, each routed to its handler here. A command not listed has no
// handler, which keeps its entries disabled.

namespace {

using Handler = void (CQuillpostTreeView::*)();

struct TreeCommand
{
    int id;
    Handler handler;
};

constexpr TreeCommand kTreeCommands[] = {
    { ID_USERS_NEWUSER, &CQuillpostTreeView::OnNewUser },
    { ID_OPERATIONS_NEWUSER, &CQuillpostTreeView::OnNewUser },
    { ID_USERS_EDITUSER, &CQuillpostTreeView::OnEditUser },
    { ID_USERS_DELETEUSER, &CQuillpostTreeView::OnDeleteUser },
    { ID_GROUPS_NEWGROUP, &CQuillpostTreeView::OnNewGroup },
    { ID_OPERATIONS_NEWGROUP, &CQuillpostTreeView::OnNewGroup },
    { ID_GROUPS_EDITGROUP, &CQuillpostTreeView::OnEditGroup },
    { ID_GROUPS_DELETEGROUP, &CQuillpostTreeView::OnDeleteGroup },
    { ID_SERVICEPROVIDERS_NEWSERVICEPROVIDER, &CQuillpostTreeView::OnNewServiceProvider },
    { ID_OPERATIONS_NEWSERVICEPROVIDER, &CQuillpostTreeView::OnNewServiceProvider },
    { ID_SERVICEPROVIDERS_EDITSERVICEPROVIDER, &CQuillpostTreeView::OnEditServiceProvider },
    { ID_SERVICEPROVIDERS_DELETESERVICEPROVIDER, &CQuillpostTreeView::OnDeleteServiceProvider },
    { ID_MESSAGES_NEWMESSAGE, &CQuillpostTreeView::OnNewMessage },
    { ID_OPERATIONS_NEWMESSAGE, &CQuillpostTreeView::OnNewMessage },
    { ID_MESSAGES_RESENDMESSAGE, &CQuillpostTreeView::OnResendMessage },
    { ID_MESSAGES_DELETEMESSAGE, &CQuillpostTreeView::OnDeleteMessage },
    { ID_MESSAGES_HISTORY, &CQuillpostTreeView::OnMessageHistory },
};

const TreeCommand* findCommand(int commandId)
{
    for (const TreeCommand& command : kTreeCommands) {
        if (command.id == commandId)
            return &command;
    }
    return nullptr;
}

} // namespace

bool CQuillpostTreeView::HasCommandHandler(int commandId)
{
    return findCommand(commandId) != nullptr;
}

void CQuillpostTreeView::OnCommand(int commandId)
{
    const TreeCommand* command = findCommand(commandId);
    if (!command)
        return;
    RunReportingErrors([this, command] { (this->*(command->handler))(); });
}

void CQuillpostTreeView::ReloadAndRefresh()
{
    m_doc.ReloadAll();
    RefreshTree();
}

std::optional<std::int32_t> CQuillpostTreeView::ContextRecordId() const
{
    if (!m_pContextRecord)
        return std::nullopt;
    return m_pContextRecord->m_id;
}
