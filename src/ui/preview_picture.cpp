#include "preview_picture.hpp"

#include <QChartView>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <algorithm>

namespace tandemo::ui {
namespace {

const QString kPngFilter = QStringLiteral("PNG image (*.png)");
const QString kSvgFilter = QStringLiteral("SVG drawing (*.svg)");
constexpr int kPngScale = 2;  // pixels per screen pixel: sharp when printed

QSize CanvasSize(const std::vector<const QChartView*>& charts) {
  QSize size(0, 0);
  for (const QChartView* view : charts) {
    size.rwidth() += view->viewport()->width();
    size.rheight() = std::max(size.height(), view->viewport()->height());
  }
  return size;
}

void Paint(QPainter& painter, const QSize& canvas, const std::vector<const QChartView*>& charts) {
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.fillRect(QRect(QPoint(0, 0), canvas), Qt::white);
  int x = 0;
  for (const QChartView* view : charts) {
    const QSize size = view->viewport()->size();
    view->scene()->render(&painter, QRectF(QPointF(x, 0), QSizeF(size)),
                          view->mapToScene(view->viewport()->rect()).boundingRect());
    x += size.width();
  }
}

QString Failure(const QString& path, const QString& why) {
  return QStringLiteral("The picture could not be written to \"%1\": %2")
      .arg(QDir::toNativeSeparators(path), why);
}

}  // namespace

QStringList PictureFilters() { return {kPngFilter, kSvgFilter}; }

PictureTarget PictureTargetFor(const QString& path, const QString& selectedFilter) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("png")) return {path, PictureFormat::Png};
  if (suffix == QLatin1String("svg")) return {path, PictureFormat::Svg};
  if (selectedFilter == kSvgFilter) return {path + QStringLiteral(".svg"), PictureFormat::Svg};
  return {path + QStringLiteral(".png"), PictureFormat::Png};
}

QString WritePicture(const PictureTarget& target, const std::vector<const QChartView*>& charts) {
  const QSize canvas = CanvasSize(charts);
  if (charts.empty() || canvas.isEmpty())
    return Failure(target.path, QStringLiteral("there is nothing to draw"));
  QSaveFile file(target.path);
  if (!file.open(QIODevice::WriteOnly)) return Failure(target.path, file.errorString());
  if (target.format == PictureFormat::Svg) {
    QSvgGenerator svg;
    svg.setOutputDevice(&file);
    svg.setSize(canvas);
    svg.setViewBox(QRect(QPoint(0, 0), canvas));
    svg.setTitle(QStringLiteral("Tandemo preview of a join"));
    QPainter painter;
    if (!painter.begin(&svg))
      return Failure(target.path, QStringLiteral("the drawing could not be started"));
    Paint(painter, canvas, charts);
    painter.end();
  } else {
    QImage image(canvas * kPngScale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kPngScale);
    QPainter painter(&image);
    Paint(painter, canvas, charts);
    painter.end();
    if (!image.save(&file, "PNG")) return Failure(target.path, file.errorString());
  }
  if (!file.commit()) return Failure(target.path, file.errorString());
  return {};
}

}  // namespace tandemo::ui
