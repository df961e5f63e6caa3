// The tip window: advice on using the program, shown at start-up unless the user
// has switched that off.
#pragma once

#include <QDialog>
#include <QString>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QTextBrowser;

namespace tandemo::ui {

// One paragraph of the advice: a numbered item ("1.)") or plain text.
struct TipParagraph {
  QString number;  // empty for a plain paragraph
  QString text;
  bool operator==(const TipParagraph&) const = default;
};

// The advice split into paragraphs: a line that starts with a number starts an
// item, any other line continues the paragraph before it. The line breaks inside
// a paragraph become single spaces; the words stay exactly as written.
std::vector<TipParagraph> TipParagraphs(const QString& text);

class TipWindow final : public QDialog {
  Q_OBJECT

 public:
  explicit TipWindow(QWidget* parent = nullptr);

  // The advice as written: 17 lines joined by CR LF.
  static QString TipText();

  // The user's choice, remembered between runs; on until switched off.
  static bool ShowAtStart();
  static void SetShowAtStart(bool show);

  // Where the window's top-left corner goes, from the screen's top-left, and its size.
  static constexpr QPoint kScreenOffset{157, 159};
  static constexpr QSize kClassicSize{520, 304};

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QPushButton* okButton_;
  QLabel* pictureLabel_;
  QLabel* headingLabel_;
  QTextBrowser* tipTextView_;
  QCheckBox* showAtStartBox_;
};

}  // namespace tandemo::ui
