// The tip window: fixed advice on using the program, shown once at start-up.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QScrollArea>

class QPushButton;

namespace tandemo::ui {

// A white panel that shows one picture in its top-left corner.
class PictureBox final : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;
  void setPicture(const QPixmap& picture);
  const QPixmap& picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap picture_;
};

// A label that keeps its caption exactly as set and wraps it to its width; a
// caption taller than the label scrolls, so no line is ever out of reach.
class ScrollingLabel final : public QScrollArea {
  Q_OBJECT

 public:
  explicit ScrollingLabel(QWidget* parent = nullptr);
  void setText(const QString& text);
  const QString& text() const { return text_; }
  QLabel* display() const { return display_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitDisplay();

  QString text_;
  QLabel* display_;
};

class frmTip final : public QDialog {
  Q_OBJECT

 public:
  explicit frmTip(QWidget* parent = nullptr);

  // The advice, as the window shows it: 17 lines joined by CR LF.
  static QString TipText();

  // Where the client area's top-left corner goes, from the screen's top-left.
  static constexpr QPoint kScreenOffset{157, 159};
  static constexpr QSize kClientSize{520, 304};

 private:
  void Form_Load();

  QPushButton* cmdOK;
  PictureBox* Picture1;
  ScrollingLabel* lblTipText;
  QLabel* Label1;
};

}  // namespace tandemo::ui
