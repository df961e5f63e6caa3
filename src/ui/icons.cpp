#include "icons.hpp"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <algorithm>

namespace tandemo::ui {
namespace {

// Draws the SVG afresh for every size asked, so that no size is scaled from another.
// Needs Qt SVG alone, not the SVG icon engine plug-in.
class SvgIconEngine final : public QIconEngine {
 public:
  explicit SvgIconEngine(IconKind kind) : kind_(kind) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode /*mode*/,
             QIcon::State /*state*/) override {
    QSvgRenderer renderer(IconSource(kind_, std::max(rect.width(), rect.height())));
    renderer.render(painter, QRectF(rect));
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap picture(size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    return picture;
  }

  QIconEngine* clone() const override { return new SvgIconEngine(kind_); }
  QString key() const override { return QStringLiteral("TandemoSvg"); }

  // The sizes of the icon theme: a window system that wants fixed sizes gets these.
  QList<QSize> availableSizes(QIcon::Mode /*mode*/, QIcon::State /*state*/) override {
    QList<QSize> sizes;
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) sizes << QSize(side, side);
    return sizes;
  }

 private:
  IconKind kind_;
};

}  // namespace

QString IconSource(IconKind kind, int size) {
  // Up to 20 pixels the picture drawn on the 16-pixel grid stays sharper than the
  // large one made smaller.
  constexpr int kLargestSmall = 20;
  if (size > 0 && size <= kLargestSmall) {
    return kind == IconKind::Program ? QStringLiteral(":/icons/tandemo-small.svg")
                                     : QStringLiteral(":/icons/tip-small.svg");
  }
  return kind == IconKind::Program ? QStringLiteral(":/icons/tandemo.svg")
                                   : QStringLiteral(":/icons/tip.svg");
}

QImage IconImage(IconKind kind, int size) {
  QSvgRenderer renderer(IconSource(kind, size));
  if (!renderer.isValid() || size <= 0) return {};
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  renderer.render(&painter, QRectF(0, 0, size, size));
  return image;
}

QIcon MakeIcon(IconKind kind) { return QIcon(new SvgIconEngine(kind)); }

}  // namespace tandemo::ui
