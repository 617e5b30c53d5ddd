#include "res/MenuResources.h"

#include "app/CommandIds.h"

namespace Res {

namespace {

constexpr MenuItem kMainMenu[] = {
    { "&File", "&New\tCtrl+N", ID_FILE_NEW },
    { "&File", "&Open...\tCtrl+O", ID_FILE_OPEN },
    { "&File", nullptr, ID_SEPARATOR },
    { "&File", "P&rint Setup...", ID_FILE_PRINT_SETUP },
    { "&File", nullptr, ID_SEPARATOR },
    { "&File", "Recent File", ID_FILE_MRU_FILE1 },
    { "&File", nullptr, ID_SEPARATOR },
    { "&File", "E&xit", ID_APP_EXIT },
    { "&View", "&Toolbar", ID_VIEW_TOOLBAR },
    { "&View", "&Status Bar", ID_VIEW_STATUS_BAR },
    { "&Operations", "New &User", ID_OPERATIONS_NEWUSER },
    { "&Operations", "New &Group", ID_OPERATIONS_NEWGROUP },
    { "&Operations", "New &Service Provider", ID_OPERATIONS_NEWSERVICEPROVIDER },
    { "&Operations", "New &Message", ID_OPERATIONS_NEWMESSAGE },
    { "&System", "Select &Modem", ID_SYSTEM_SELECTMODEM },
    { "&System", "Send &Lines", ID_SYSTEM_SENDLINES },
    { "&Help", "&About Quillpost...", ID_APP_ABOUT },
};

constexpr CommandText kExtraCommands[] = {
    { ID_FILE_SAVE, "&Save\tCtrl+S", "Save" },
    { ID_EDIT_CUT, "Cu&t\tCtrl+X", "Cut" },
    { ID_EDIT_COPY, "&Copy\tCtrl+C", "Copy" },
    { ID_EDIT_PASTE, "&Paste\tCtrl+V", "Paste" },
    { ID_FILE_PRINT, "&Print...\tCtrl+P", "Print" },
    { ID_EDIT_UNDO, "&Undo\tCtrl+Z", "Undo" },
    { ID_NEXT_PANE, "Next Pane", "Next Pane" },
    { ID_PREV_PANE, "Prev Pane", "Previous Pane" },
};

constexpr int kMainToolbar[] = {
    ID_FILE_NEW,
    ID_FILE_OPEN,
    ID_FILE_SAVE,
    ID_SEPARATOR,
    ID_EDIT_CUT,
    ID_EDIT_COPY,
    ID_EDIT_PASTE,
    ID_SEPARATOR,
    ID_FILE_PRINT,
    ID_SEPARATOR,
    ID_APP_ABOUT,
};

constexpr Accelerator kMainAccelerators[] = {
    { "Ctrl+N", ID_FILE_NEW },
    { "Ctrl+O", ID_FILE_OPEN },
    { "Ctrl+S", ID_FILE_SAVE },
    { "Ctrl+P", ID_FILE_PRINT },
    { "Ctrl+Z", ID_EDIT_UNDO },
    { "Alt+Backspace", ID_EDIT_UNDO },
    { "Ctrl+X", ID_EDIT_CUT },
    { "Shift+Del", ID_EDIT_CUT },
    { "Ctrl+C", ID_EDIT_COPY },
    { "Ctrl+Ins", ID_EDIT_COPY },
    { "Ctrl+V", ID_EDIT_PASTE },
    { "Shift+Ins", ID_EDIT_PASTE },
    { "F6", ID_NEXT_PANE },
    { "Shift+F6", ID_PREV_PANE },
};

constexpr Indicator kStatusIndicators[] = {
    { ID_INDICATOR_CAPS, "CAP" },
    { ID_INDICATOR_NUM, "NUM" },
    { ID_INDICATOR_SCRL, "SCRL" },
};

constexpr MenuItem kUsersEntries[] = {
    { "Users", "&New User ...", ID_USERS_NEWUSER },
    { "Users", "&Edit User ...", ID_USERS_EDITUSER },
    { "Users", "&Delete User", ID_USERS_DELETEUSER },
};

constexpr MenuItem kGroupsEntries[] = {
    { "Groups", "&New Group ...", ID_GROUPS_NEWGROUP },
    { "Groups", "&Edit Group ...", ID_GROUPS_EDITGROUP },
    { "Groups", "&Delete Group", ID_GROUPS_DELETEGROUP },
};

constexpr MenuItem kProvidersEntries[] = {
    { "Service Providers", "&New Service Provider ...", ID_SERVICEPROVIDERS_NEWSERVICEPROVIDER },
    { "Service Providers", "&Edit Service Provider ...", ID_SERVICEPROVIDERS_EDITSERVICEPROVIDER },
    { "Service Providers", "&Delete Service Provider", ID_SERVICEPROVIDERS_DELETESERVICEPROVIDER },
};

constexpr MenuItem kMessagesEntries[] = {
    { "Messages", "&New Message ...", ID_MESSAGES_NEWMESSAGE },
    { "Messages", "&Resend Message ...", ID_MESSAGES_RESENDMESSAGE },
    { "Messages", "&Delete Message", ID_MESSAGES_DELETEMESSAGE },
    { "Messages", "&History ...", ID_MESSAGES_HISTORY },
};

constexpr ContextMenu kTreeContextMenus[] = {
    { IDR_USERS_MENU, "Users", kUsersEntries },
    { IDR_GROUPS_MENU, "Groups", kGroupsEntries },
    { IDR_PROVIDERS_MENU, "Service Providers", kProvidersEntries },
    { IDR_MESSAGES_MENU, "Messages", kMessagesEntries },
};

} // namespace

std::span<const MenuItem> MainMenu()
{
    return kMainMenu;
}
std::span<const CommandText> ExtraCommands()
{
    return kExtraCommands;
}
std::span<const int> MainToolbar()
{
    return kMainToolbar;
}
std::span<const Accelerator> MainAccelerators()
{
    return kMainAccelerators;
}
std::span<const Indicator> StatusIndicators()
{
    return kStatusIndicators;
}
std::span<const ContextMenu> TreeContextMenus()
{
    return kTreeContextMenus;
}

const ContextMenu* FindTreeContextMenu(int menuId)
{
    for (const ContextMenu& menu : kTreeContextMenus) {
        if (menu.menuId == menuId)
            return &menu;
    }
    return nullptr;
}

} // namespace Res
