// A check box whose caption wraps onto further lines instead of being cut, and
// whose whole area, the words included, toggles it.
#pragma once

#include <QCheckBox>

namespace tandemo::ui {

class WrappingCheckBox final : public QCheckBox {
  Q_OBJECT

 public:
  using QCheckBox::QCheckBox;

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  // Where the caption goes in a box of the given width, and the space it takes there.
  QRect CaptionRect(int width) const;
  QRect CaptionBounds(int width) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  int IndicatorWidth() const;
  int CaptionFlags(int alignment) const;
};

}  // namespace tandemo::ui
