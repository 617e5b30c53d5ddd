#pragma once

#include <QIcon>

// Toolbar pictures (16 x 15) drawn by the program itself for the commands that the
// desktop theme may not provide.
namespace Res {

QIcon CutImage();
QIcon CopyImage();
QIcon PasteImage();
QIcon PrintImage();

} // namespace Res
