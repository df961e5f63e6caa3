#include "tip_window.hpp"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStringList>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "icons.hpp"

namespace tandemo::ui {
namespace {

const QString kShowAtStartKey = QStringLiteral("tips/showAtStart");
constexpr int kPictureSize = 32;

// The advice as a document: one table, a plain paragraph across both columns, a
// numbered item with its number in the first column and its words in the second,
// so that every line of an item stays indented under its first.
QString TipHtml(const std::vector<TipParagraph>& paragraphs, int numberWidth) {
  QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"0\" width=\"100%\">");
  const QString cell = QStringLiteral("<td style=\"padding-bottom:6px\"");
  for (const TipParagraph& p : paragraphs) {
    html += QStringLiteral("<tr>");
    if (p.number.isEmpty()) {
      html += cell + QStringLiteral(" colspan=\"2\">") + p.text.toHtmlEscaped();
    } else {
      html += cell + QStringLiteral(" width=\"%1\">").arg(numberWidth) + p.number.toHtmlEscaped() +
              QStringLiteral("</td>") + cell + u'>' + p.text.toHtmlEscaped();
    }
    html += QStringLiteral("</td></tr>");
  }
  return html + QStringLiteral("</table>");
}

}  // namespace

std::vector<TipParagraph> TipParagraphs(const QString& text) {
  static const QRegularExpression kItemStart(QStringLiteral("^(\\d+\\.\\))\\s+(.*)$"));
  std::vector<TipParagraph> paragraphs;
  const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
  for (const QString& line : lines) {
    const QRegularExpressionMatch item = kItemStart.match(line);
    if (item.hasMatch()) {
      paragraphs.push_back({item.captured(1), item.captured(2)});
      continue;
    }
    // An indented line continues the item above it; an unindented one continues
    // plain text, or starts a plain paragraph after an item.
    const bool indented = line.startsWith(u' ') || line.startsWith(u'\t');
    const bool continues = !paragraphs.empty() && (indented || paragraphs.back().number.isEmpty());
    if (!continues) {
      paragraphs.push_back({QString(), line});
      continue;
    }
    QString& joined = paragraphs.back().text;
    const QString words = line.trimmed();
    if (words.isEmpty()) continue;
    if (!joined.isEmpty() && !joined.endsWith(u' ')) joined += u' ';
    joined += words;
  }
  return paragraphs;
}

QString TipWindow::TipText() {
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

bool TipWindow::ShowAtStart() { return QSettings().value(kShowAtStartKey, true).toBool(); }

void TipWindow::SetShowAtStart(bool show) { QSettings().setValue(kShowAtStartKey, show); }

TipWindow::TipWindow(QWidget* parent)
    : QDialog(parent),
      okButton_(new QPushButton(tr("OK"), this)),
      pictureLabel_(new QLabel),
      headingLabel_(new QLabel(tr("Did you know..."))),
      tipTextView_(new QTextBrowser),
      showAtStartBox_(new QCheckBox(tr("Show tips at start"), this)) {
  setObjectName(QStringLiteral("TipWindow"));
  setWindowTitle(tr("Tip of the Day"));
  setWindowIcon(MakeIcon(IconKind::Tip));
  setModal(true);

  // The panel takes the colours of a document from the palette, so it reads under
  // light and dark palettes alike; the labels on it follow its background role.
  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("tipPanel"));
  panel->setBackgroundRole(QPalette::Base);
  panel->setForegroundRole(QPalette::Text);
  panel->setAutoFillBackground(true);
  panel->setFrameShape(QFrame::StyledPanel);

  pictureLabel_->setObjectName(QStringLiteral("pictureLabel"));
  pictureLabel_->setFixedSize(kPictureSize, kPictureSize);
  headingLabel_->setObjectName(QStringLiteral("headingLabel"));
  QFont headingFont = headingLabel_->font();
  headingFont.setBold(true);
  headingFont.setPointSizeF(headingFont.pointSizeF() * 1.2);
  headingLabel_->setFont(headingFont);
  headingLabel_->setForegroundRole(QPalette::Text);

  tipTextView_->setObjectName(QStringLiteral("tipTextView"));
  tipTextView_->setFrameShape(QFrame::NoFrame);
  tipTextView_->setFocusPolicy(Qt::TabFocus);  // so that the keyboard can scroll it
  tipTextView_->setOpenLinks(false);
  tipTextView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  tipTextView_->setHtml(
      TipHtml(TipParagraphs(TipText()),
              tipTextView_->fontMetrics().horizontalAdvance(QStringLiteral("4.) ")) + 4));

  auto* panelGrid = new QGridLayout(panel);
  panelGrid->addWidget(pictureLabel_, 0, 0);
  panelGrid->addWidget(headingLabel_, 0, 1);
  panelGrid->addWidget(tipTextView_, 1, 0, 1, 2);
  panelGrid->setColumnStretch(1, 1);
  panelGrid->setRowStretch(1, 1);

  okButton_->setObjectName(QStringLiteral("okButton"));
  okButton_->setDefault(true);
  okButton_->setMinimumWidth(81);
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);

  showAtStartBox_->setObjectName(QStringLiteral("showAtStartBox"));
  showAtStartBox_->setChecked(ShowAtStart());
  connect(showAtStartBox_, &QCheckBox::toggled, this, &TipWindow::SetShowAtStart);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(okButton_);
  buttons->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(panel, 1);
  top->addLayout(buttons);
  auto* column = new QVBoxLayout(this);
  column->addLayout(top, 1);
  column->addWidget(showAtStartBox_);

  setTabOrder(okButton_, tipTextView_);
  setTabOrder(tipTextView_, showAtStartBox_);
  okButton_->setFocus();  // Esc rejects a dialog by itself and Enter presses OK: both close it

  const QScreen* screen = QGuiApplication::primaryScreen();
  const QPoint origin = screen ? screen->geometry().topLeft() : QPoint(0, 0);
  setGeometry(QRect(origin + kScreenOffset, kClassicSize.expandedTo(minimumSizeHint())));
}

void TipWindow::showEvent(QShowEvent* event) {
  // Drawn for the screen's scale, so that the picture stays sharp at 2x.
  pictureLabel_->setPixmap(
      MakeIcon(IconKind::Tip).pixmap(QSize(kPictureSize, kPictureSize), devicePixelRatio()));
  QDialog::showEvent(event);
}

}  // namespace tandemo::ui
