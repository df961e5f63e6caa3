// The program's icon and the tip window's icon, drawn as SVG (icons/) so that
// they are sharp at any size and scale.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace tandemo::ui {

enum class IconKind { Program, Tip };

// The SVG source, as a Qt resource path.
QString IconSource(IconKind kind);
// The icon drawn at size x size pixels on a transparent background; a null image
// when the source cannot be read.
QImage IconImage(IconKind kind, int size);
// The icon at whatever size and scale it is asked for.
QIcon MakeIcon(IconKind kind);

}  // namespace tandemo::ui
