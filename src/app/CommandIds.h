#pragma once

// Numeric identifiers of the program's commands and resources. Every QAction carries
// its command ID (QAction::data) so that menus, the toolbar and the accelerators that
// share a command share one action and one handler.
enum CommandId : int
{
    // File
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_MRU_FILE1 = 57616,

    // Edit (toolbar and accelerators only)
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,

    // Application
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,

    // View
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,

    // Operations menu of the main frame
    ID_OPERATIONS_NEWMESSAGE = 32771,
    ID_OPERATIONS_NEWUSER = 32773,
    ID_OPERATIONS_NEWGROUP = 32774,
    ID_OPERATIONS_NEWSERVICEPROVIDER = 32775,

    // Context menus of the navigation tree
    ID_MESSAGES_NEWMESSAGE = 32776,
    ID_MESSAGES_RESENDMESSAGE = 32777,
    ID_MESSAGES_DELETEMESSAGE = 32778,
    ID_USERS_NEWUSER = 32779,
    ID_USERS_EDITUSER = 32780,
    ID_USERS_DELETEUSER = 32781,
    ID_GROUPS_NEWGROUP = 32782,
    ID_GROUPS_EDITGROUP = 32783,
    ID_GROUPS_DELETEGROUP = 32784,
    ID_SERVICEPROVIDERS_NEWSERVICEPROVIDER = 32785,
    ID_SERVICEPROVIDERS_EDITSERVICEPROVIDER = 32786,
    ID_SERVICEPROVIDERS_DELETESERVICEPROVIDER = 32787,
    ID_MESSAGES_HISTORY = 32789,

    // System
    ID_SYSTEM_SELECTMODEM = 32788,
    // A submenu: one checkable entry per line device
    ID_SYSTEM_SENDLINES = 32790,

    // Status bar panes
    ID_SEPARATOR = 0,
    ID_INDICATOR_CAPS = 59137,
    ID_INDICATOR_NUM = 59138,
    ID_INDICATOR_SCRL = 59139,
};

// The navigation tree's context menus, by resource number.
enum ResourceId : int
{
    IDR_USERS_MENU = 139,
    IDR_GROUPS_MENU = 140,
    IDR_PROVIDERS_MENU = 141,
    IDR_MESSAGES_MENU = 142,
};
