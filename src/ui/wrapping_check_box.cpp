#include "wrapping_check_box.hpp"

#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>

namespace tandemo::ui {
int WrappingCheckBox::CaptionFlags(int alignment) const {
  // "&" marks the access key: measured as hidden, drawn underlined where the style says so.
  const bool underline = style()->styleHint(QStyle::SH_UnderlineShortcut, nullptr, this) != 0;
  return alignment | Qt::TextWordWrap | (underline ? Qt::TextShowMnemonic : Qt::TextHideMnemonic);
}

int WrappingCheckBox::IndicatorWidth() const {
  QStyleOptionButton option;
  initStyleOption(&option);
  return style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, this) +
         style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);
}

QRect WrappingCheckBox::CaptionRect(int width) const {
  const int left = IndicatorWidth();
  return QRect(left, 0, std::max(1, width - left), height());
}

QRect WrappingCheckBox::CaptionBounds(int width) const {
  const QRect area = CaptionRect(width);
  return fontMetrics().boundingRect(QRect(area.left(), 0, area.width(), 1 << 16),
                                    CaptionFlags(Qt::AlignLeft | Qt::AlignTop), text());
}

int WrappingCheckBox::heightForWidth(int width) const {
  QStyleOptionButton option;
  initStyleOption(&option);
  const int indicator = style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, this);
  // A little air above and below the lines, as a one-line check box has.
  return std::max(indicator, CaptionBounds(width).height()) + 4;
}

QSize WrappingCheckBox::sizeHint() const {
  const int width = IndicatorWidth() + fontMetrics().size(Qt::TextShowMnemonic, text()).width() + 2;
  return {width, heightForWidth(width)};
}

QSize WrappingCheckBox::minimumSizeHint() const {
  // Narrow enough to wrap, wide enough that the caption takes about three lines
  // at most and no word is ever cut.
  QString caption = text();
  caption.remove(u'&');
  int widestWord = 0;
  for (const QString& word : caption.split(u' ', Qt::SkipEmptyParts)) {
    widestWord = std::max(widestWord, fontMetrics().horizontalAdvance(word));
  }
  const int oneLine = fontMetrics().horizontalAdvance(caption);
  const int width = IndicatorWidth() + std::max(widestWord, oneLine / 3 + widestWord / 2) + 2;
  return {width, heightForWidth(width)};
}

bool WrappingCheckBox::hitButton(const QPoint& pos) const { return rect().contains(pos); }

void WrappingCheckBox::paintEvent(QPaintEvent* /*event*/) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);

  QStyleOptionButton indicator = option;
  indicator.text.clear();
  indicator.rect = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
  painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicator);

  const QRect caption = CaptionRect(width());
  style()->drawItemText(&painter, caption, CaptionFlags(Qt::AlignLeft | Qt::AlignVCenter),
                        option.palette, isEnabled(), text(), QPalette::WindowText);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect =
        style()
            ->itemTextRect(fontMetrics(), caption, CaptionFlags(Qt::AlignLeft | Qt::AlignVCenter),
                           isEnabled(), text())
            .adjusted(-1, -1, 1, 1)
            .intersected(rect());
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

}  // namespace tandemo::ui
