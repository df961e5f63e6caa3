#include "frm_tip.hpp"

#include <QGuiApplication>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStringList>
#include <algorithm>

#include "icons.hpp"

namespace tandemo::ui {

void PictureBox::setPicture(const QPixmap& picture) {
  picture_ = picture;
  update();
}

void PictureBox::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  if (!picture_.isNull()) painter.drawPixmap(0, 0, picture_);
}

ScrollingLabel::ScrollingLabel(QWidget* parent) : QScrollArea(parent), display_(new QLabel) {
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFocusPolicy(Qt::NoFocus);
  display_->setObjectName(QStringLiteral("display"));
  display_->setTextFormat(Qt::PlainText);
  display_->setWordWrap(true);
  display_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  display_->setAutoFillBackground(true);
  setWidget(display_);
  setWidgetResizable(false);
}

void ScrollingLabel::setText(const QString& text) {
  text_ = text;
  // Qt breaks lines at LF alone; the CR of each pair would otherwise show as a gap.
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  display_->setText(shown);
  FitDisplay();
}

void ScrollingLabel::resizeEvent(QResizeEvent* event) {
  QScrollArea::resizeEvent(event);
  FitDisplay();
}

void ScrollingLabel::FitDisplay() {
  // Wrap to the visible width, less the scroll bar when the text needs one.
  int width = viewport()->width();
  if (display_->heightForWidth(width) > height()) {
    width = this->width() - verticalScrollBar()->sizeHint().width();
  }
  display_->resize(width, std::max(display_->heightForWidth(width), height()));
}

frmTip::frmTip(QWidget* parent)
    : QDialog(parent),
      cmdOK(new QPushButton(tr("OK"), this)),
      Picture1(new PictureBox(this)),
      lblTipText(new ScrollingLabel(Picture1)),
      Label1(new QLabel(tr("Did you know..."), Picture1)) {
  setObjectName(QStringLiteral("frmTip"));
  setWindowTitle(tr("Tip of the Day"));
  setWindowIcon(MakeIcon(IconKind::Tip));
  setModal(true);

  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setGeometry(424, 8, 81, 25);
  cmdOK->setDefault(true);
  connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

  Picture1->setObjectName(QStringLiteral("Picture1"));
  Picture1->setGeometry(8, 8, 401, 285);
  Picture1->setPicture(QPixmap::fromImage(IconImage(IconKind::Tip, 32)));

  lblTipText->setObjectName(QStringLiteral("lblTipText"));
  lblTipText->setGeometry(12, 40, 361, 237);
  // Window text on window background: the colours of a document view.
  QPalette textColours = lblTipText->palette();
  textColours.setColor(QPalette::Window, palette().color(QPalette::Base));
  textColours.setColor(QPalette::WindowText, palette().color(QPalette::Text));
  lblTipText->setPalette(textColours);
  lblTipText->display()->setPalette(textColours);

  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(36, 12, 177, 17);
  QPalette headingColours = Label1->palette();
  headingColours.setColor(QPalette::Window, Qt::white);
  Label1->setPalette(headingColours);
  Label1->setAutoFillBackground(true);

  // Esc rejects a dialog by itself and Enter presses the default button, so both close it.
  cmdOK->setFocus();

  setFixedSize(kClientSize);
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QPoint origin = screen ? screen->geometry().topLeft() : QPoint(0, 0);
  setGeometry(QRect(origin + kScreenOffset, kClientSize));

  Form_Load();
}

QString frmTip::TipText() {
  static const char* const kLines[] = {
      "The provided program, Tandemo.exe, will merge two seperate",
      "ITC data files into one file, suitable for data analysis in Curvanta.",
      "The program is self explanatory, but a few extra words of advice",
      "are provided here to help you use the program.",
      "1.) Make a backup copy of all original files prior to",
      "    using the Tandemo.",
      "2.) Do not refill the sample cell prior to beginning the second",
      "    portion of your titration, but do remove excess solution from the",
      "    overflow reservoir. The molar ratio will be determined from the ",
      "    initial concentration (The first ITC data file).",
      "3.) When reloading the syringe for the second portion of the",
      "    titration, use identical solution as used in first titration.",
      "4.) The CFB data for the second titration will be slightly offset",
      "    from the actual raw CFB data collected during the run.  The same offset",
      "    value will be applied to each data point to allow for a smooth baseline",
      "    transition from one titration to the next.  This in no way will effect",
      "    data analysis and is only cosmetic.",
  };
  QStringList lines;
  for (const char* line : kLines) lines << QString::fromLatin1(line);
  return lines.join(QStringLiteral("\r\n"));
}

void frmTip::Form_Load() { lblTipText->setText(TipText()); }

}  // namespace tandemo::ui
