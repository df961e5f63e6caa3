// The colour of each portion, the same in every chart of the preview, so a
// portion reads the same in the thermogram and the isotherm. Chosen to stay
// apart for colour-blind readers and on a white or a dark window.
#pragma once

#include <QChart>
#include <QColor>
#include <QPalette>
#include <cstddef>

namespace tandemo::ui {

inline QColor PortionColour(std::size_t portion) {
  static const QColor kColours[] = {QColor(0x00, 0x72, 0xB2), QColor(0xD5, 0x5E, 0x00),
                                    QColor(0x00, 0x9E, 0x73), QColor(0xCC, 0x79, 0xA7)};
  return kColours[portion % std::size(kColours)];
}

// The charts' own theme follows the window's palette, so that their marks and
// labels, drawn in the palette's text colour, stand out on their background.
inline void MatchPalette(QChart& chart, const QPalette& palette) {
  const bool dark = palette.color(QPalette::Window).lightness() < 128;
  chart.setTheme(dark ? QChart::ChartThemeDark : QChart::ChartThemeLight);
}

}  // namespace tandemo::ui
