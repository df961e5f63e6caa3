// The program's icon and the tip window's icon, drawn as SVG (icons/) so that
// they are sharp at any size and scale; each also drawn on the 16-pixel grid for
// the smallest sizes.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace tandemo::ui {

enum class IconKind { Program, Tip };

// The SVG source for drawing at `size` pixels, as a Qt resource path: a picture
// drawn on the 16-pixel grid for the smallest sizes, the full one above.
QString IconSource(IconKind kind, int size);
// The icon drawn at size x size pixels on a transparent background; a null image
// when the source cannot be read.
QImage IconImage(IconKind kind, int size);
// The icon at whatever size and scale it is asked for.
QIcon MakeIcon(IconKind kind);

}  // namespace tandemo::ui
