#pragma once

#include <QIcon>
#include <QPixmap>

// Pictures drawn by the program itself: the navigation tree's image list and the
// program icon. The image list keeps the numbering the tree relies on; images 1, 2
// and 5 are not shown by any item and are left empty.
namespace Res {

inline constexpr int kTreeImageSize = 25;
inline constexpr int kTreeImageCount = 7;

enum TreeImage : int
{
    kUsersImage = 0,
    kGroupsImage = 3,
    kMessagesImage = 4,
    kProvidersImage = 6,
};

// A 25 x 25 picture for the given image list index (a null pixmap for an index no
// category uses).
QPixmap TreeImagePixmap(int imageIndex);

QIcon ProgramIcon();

} // namespace Res
