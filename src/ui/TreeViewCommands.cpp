#include "app/CommandIds.h"
#include "data/QuillpostDoc.h"
#include "platform/CommandErrors.h"
#include "ui/QuillpostTreeView.h"

// The commands of the navigation tree: its context menus and the main menu's
// Operations entries, each routed to its handler here. A command whose handler has no
// behaviour yet is marked unavailable, which keeps its entries disabled.

namespace {

using Handler = void (CQuillpostTreeView::*)();

struct TreeCommand
{
    int id;
    Handler handler;
    bool available;
};

constexpr TreeCommand kTreeCommands[] = {
    { ID_USERS_NEWUSER, &CQuillpostTreeView::OnNewUser, true },
    { ID_OPERATIONS_NEWUSER, &CQuillpostTreeView::OnNewUser, true },
    { ID_USERS_EDITUSER, &CQuillpostTreeView::OnEditUser, true },
    { ID_USERS_DELETEUSER, &CQuillpostTreeView::OnDeleteUser, true },
    { ID_GROUPS_NEWGROUP, &CQuillpostTreeView::OnNewGroup, true },
    { ID_OPERATIONS_NEWGROUP, &CQuillpostTreeView::OnNewGroup, true },
    { ID_GROUPS_EDITGROUP, &CQuillpostTreeView::OnEditGroup, true },
    { ID_GROUPS_DELETEGROUP, &CQuillpostTreeView::OnDeleteGroup, true },
    { ID_SERVICEPROVIDERS_NEWSERVICEPROVIDER, &CQuillpostTreeView::OnNewServiceProvider, true },
    { ID_OPERATIONS_NEWSERVICEPROVIDER, &CQuillpostTreeView::OnNewServiceProvider, true },
    { ID_SERVICEPROVIDERS_EDITSERVICEPROVIDER, &CQuillpostTreeView::OnEditServiceProvider, true },
    { ID_SERVICEPROVIDERS_DELETESERVICEPROVIDER, &CQuillpostTreeView::OnDeleteServiceProvider,
        true },
    { ID_MESSAGES_NEWMESSAGE, &CQuillpostTreeView::OnNewMessage, true },
    { ID_OPERATIONS_NEWMESSAGE, &CQuillpostTreeView::OnNewMessage, true },
    { ID_MESSAGES_RESENDMESSAGE, &CQuillpostTreeView::OnResendMessage, true },
    { ID_MESSAGES_DELETEMESSAGE, &CQuillpostTreeView::OnDeleteMessage, true },
    { ID_MESSAGES_HISTORY, &CQuillpostTreeView::OnMessageHistory, true },
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
    const TreeCommand* command = findCommand(commandId);
    return command && command->available;
}

void CQuillpostTreeView::OnCommand(int commandId)
{
    const TreeCommand* command = findCommand(commandId);
    if (!command || !command->available)
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
