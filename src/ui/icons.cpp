#include "icons.hpp"

#include <QPixmap>

namespace tandemo::ui {
namespace {
#include "icons/tandemo-16.xpm"
#include "icons/tandemo-32.xpm"
#include "icons/tip-16.xpm"
#include "icons/tip-32.xpm"
}  // namespace

QImage IconImage(IconKind kind, int size) {
  const char* const* xpm = nullptr;
  if (kind == IconKind::Program) {
    xpm = size == 16 ? tandemo_16_xpm : tandemo_32_xpm;
  } else {
    xpm = size == 16 ? tip_16_xpm : tip_32_xpm;
  }
  return QImage(xpm);
}

QIcon MakeIcon(IconKind kind) {
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(IconImage(kind, 32)));
  icon.addPixmap(QPixmap::fromImage(IconImage(kind, 16)));
  return icon;
}

}  // namespace tandemo::ui
