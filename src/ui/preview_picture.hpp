// The preview's charts as one picture for a lab notebook: PNG (pixels, at twice
// the screen's resolution) or SVG (lines and text that scale), side by side as on
// screen.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

class QChartView;

namespace tandemo::ui {

enum class PictureFormat { Png, Svg };

// The save dialog's filters, PNG first.
QStringList PictureFilters();

struct PictureTarget {
  QString path;
  PictureFormat format = PictureFormat::Png;
};

// What the save dialog gave: a ".png" or ".svg" name decides the format (in any
// case); any other name gets the chosen filter's extension added.
PictureTarget PictureTargetFor(const QString& path, const QString& selectedFilter);

// Writes the charts left to right; the file is replaced only once it is whole.
// An empty text on success, else what went wrong, naming the file.
QString WritePicture(const PictureTarget& target, const std::vector<const QChartView*>& charts);

}  // namespace tandemo::ui
