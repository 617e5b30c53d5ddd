#pragma once

#include <array>
#include <span>

// The program's menus, toolbar, accelerators and fixed texts as plain tables, so that
// the main frame and the navigation tree build their widgets from one description.

namespace Res {

inline constexpr const char* kAppTitle = "Quillpost";
inline constexpr const char* kIdleMessage = "Ready";
inline constexpr const char* kAboutTitle = "About Quillpost";
inline constexpr const char* kAboutVersion = "Quillpost Version 1.0";

// One entry of a popup of the main menu; a null text is a separator.
struct MenuItem
{
    const char* popup;
    const char* text;
    int id;
};

// The main menu, popup by popup, in display order.
std::span<const MenuItem> MainMenu();

// A command that is reached only through the toolbar or an accelerator, with the text
// its action carries (shown as tooltip and in the status bar).
struct CommandText
{
    int id;
    const char* text;
    const char* tip;
};
std::span<const CommandText> ExtraCommands();

// Toolbar buttons in order; ID_SEPARATOR (0) stands for a separator.
std::span<const int> MainToolbar();

struct Accelerator
{
    const char* keys; // QKeySequence portable text
    int id;
};
std::span<const Accelerator> MainAccelerators();

// Status bar panes after the message pane.
struct Indicator
{
    int id;
    const char* text;
};
std::span<const Indicator> StatusIndicators();

// One context menu of the navigation tree: New, Edit (or Resend) and Delete at
// positions 0, 1 and 2; the messages' menu adds History at position 3.
struct ContextMenu
{
    int menuId;
    const char* category;
    std::span<const MenuItem> entries;
};
std::span<const ContextMenu> TreeContextMenus();
// The context menu with the given resource number, or nullptr.
const ContextMenu* FindTreeContextMenu(int menuId);

} // namespace Res
