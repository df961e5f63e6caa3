#include "icons.hpp"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace tandemo::ui {
namespace {

// Draws the SVG afresh for every size asked, so that no size is scaled from another.
// Needs Qt SVG alone, not the SVG icon engine plug-in.
class SvgIconEngine final : public QIconEngine {
 public:
  explicit SvgIconEngine(QString source) : source_(std::move(source)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode /*mode*/,
             QIcon::State /*state*/) override {
    QSvgRenderer renderer(source_);
    renderer.render(painter, QRectF(rect));
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap picture(size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    return picture;
  }

  QIconEngine* clone() const override { return new SvgIconEngine(source_); }
  QString key() const override { return QStringLiteral("TandemoSvg"); }

  // The sizes of the icon theme: a window system that wants fixed sizes gets these.
  QList<QSize> availableSizes(QIcon::Mode /*mode*/, QIcon::State /*state*/) override {
    QList<QSize> sizes;
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) sizes << QSize(side, side);
    return sizes;
  }

 private:
  QString source_;
};

}  // namespace

QString IconSource(IconKind kind) {
  return kind == IconKind::Program ? QStringLiteral(":/icons/tandemo.svg")
                                   : QStringLiteral(":/icons/tip.svg");
}

QImage IconImage(IconKind kind, int size) {
  QSvgRenderer renderer(IconSource(kind));
  if (!renderer.isValid() || size <= 0) return {};
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  renderer.render(&painter, QRectF(0, 0, size, size));
  return image;
}

QIcon MakeIcon(IconKind kind) { return QIcon(new SvgIconEngine(IconSource(kind))); }

}  // namespace tandemo::ui
