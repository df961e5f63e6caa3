// The program's icon and the tip window's icon, each drawn as a 32x32 and a
// 16x16 image in 16 colours (XPM sources in icons/).
#pragma once

#include <QIcon>
#include <QImage>

namespace tandemo::ui {

enum class IconKind { Program, Tip };

// One image of an icon: size 32 or 16.
QImage IconImage(IconKind kind, int size);
// Both images in one icon.
QIcon MakeIcon(IconKind kind);

}  // namespace tandemo::ui
