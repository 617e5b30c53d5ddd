#include "app/CommandIds.h"
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
    { ID_USERS_NEWUSER, &CQuillpostTreeView::OnNewUser, false },
    { ID_OPERATIONS_NEWUSER, &CQuillpostTreeView::OnNewUser, false },
    { ID_USERS_EDITUSER, &CQuillpostTreeView::OnEditUser, false },
    { ID_USERS_DELETEUSER, &CQuillpostTreeView::OnDeleteUser, false },
    { ID_GROUPS_NEWGROUP, &CQuillpostTreeView::OnNewGroup, false },
    { ID_OPERATIONS_NEWGROUP, &CQuillpostTreeView::OnNewGroup, false },
    { ID_GROUPS_EDITGROUP, &CQuillpostTreeView::OnEditGroup, false },
    { ID_GROUPS_DELETEGROUP, &CQuillpostTreeView::OnDeleteGroup, false },
    { ID_SERVICEPROVIDERS_NEWSERVICEPROVIDER, &CQuillpostTreeView::OnNewServiceProvider, false },
    { ID_OPERATIONS_NEWSERVICEPROVIDER, &CQuillpostTreeView::OnNewServiceProvider, false },
    { ID_SERVICEPROVIDERS_EDITSERVICEPROVIDER, &CQuillpostTreeView::OnEditServiceProvider, false },
    { ID_SERVICEPROVIDERS_DELETESERVICEPROVIDER, &CQuillpostTreeView::OnDeleteServiceProvider,
        false },
    { ID_MESSAGES_NEWMESSAGE, &CQuillpostTreeView::OnNewMessage, false },
    { ID_OPERATIONS_NEWMESSAGE, &CQuillpostTreeView::OnNewMessage, false },
    { ID_MESSAGES_RESENDMESSAGE, &CQuillpostTreeView::OnResendMessage, false },
    { ID_MESSAGES_DELETEMESSAGE, &CQuillpostTreeView::OnDeleteMessage, false },
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

// Record commands: users, groups and service providers.
void CQuillpostTreeView::OnNewUser() { }
void CQuillpostTreeView::OnEditUser() { }
void CQuillpostTreeView::OnDeleteUser() { }
void CQuillpostTreeView::OnNewGroup() { }
void CQuillpostTreeView::OnEditGroup() { }
void CQuillpostTreeView::OnDeleteGroup() { }
void CQuillpostTreeView::OnNewServiceProvider() { }
void CQuillpostTreeView::OnEditServiceProvider() { }
void CQuillpostTreeView::OnDeleteServiceProvider() { }

// Message commands.
void CQuillpostTreeView::OnNewMessage() { }
void CQuillpostTreeView::OnResendMessage() { }
void CQuillpostTreeView::OnDeleteMessage() { }
