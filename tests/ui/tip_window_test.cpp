// The tip window: its text as written and as paragraphs, its colours from the
// palette, the ways of closing it, and the remembered "Show tips at start".
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>

#include "ui/tip_window.hpp"
#include "ui_test_support.hpp"

using tandemo::test::IsolatedSettings;
using tandemo::test::WhenModal;
using tandemo::ui::TipParagraph;
using tandemo::ui::TipParagraphs;
using tandemo::ui::TipWindow;

namespace {

QString S(const char* text) { return QString::fromUtf8(text); }

QStringList Words(const QString& text) {
  return text.split(QRegularExpression(S("\\s+")), Qt::SkipEmptyParts);
}

// Typed out whole: 17 lines, CR LF between each two, none before or after.
const char kExpectedText[] =
    "The provided program, Tandemo.exe, will merge two seperate\r\n"
    "ITC data files into one file, suitable for data analysis in Curvanta.\r\n"
    "The program is self explanatory, but a few extra words of advice\r\n"
    "are provided here to help you use the program.\r\n"
    "1.) Make a backup copy of all original files prior to\r\n"
    "    using the Tandemo.\r\n"
    "2.) Do not refill the sample cell prior to beginning the second\r\n"
    "    portion of your titration, but do remove excess solution from the\r\n"
    "    overflow reservoir. The molar ratio will be determined from the \r\n"
    "    initial concentration (The first ITC data file).\r\n"
    "3.) When reloading the syringe for the second portion of the\r\n"
    "    titration, use identical solution as used in first titration.\r\n"
    "4.) The CFB data for the second titration will be slightly offset\r\n"
    "    from the actual raw CFB data collected during the run.  The same offset\r\n"
    "    value will be applied to each data point to allow for a smooth baseline\r\n"
    "    transition from one titration to the next.  This in no way will effect\r\n"
    "    data analysis and is only cosmetic.";

}  // namespace

class TipWindowTest : public QObject {
  Q_OBJECT

  IsolatedSettings settings_;

 private slots:
  void init() { IsolatedSettings::Clear(); }

  void tipTextIsExact() {
    const QByteArray text = TipWindow::TipText().toLatin1();
    QCOMPARE(text, QByteArray(kExpectedText));
    QCOMPARE(text.count("\r\n"), 16);
  }

  void paragraphs() {
    const std::vector<TipParagraph> paragraphs = TipParagraphs(TipWindow::TipText());
    QCOMPARE(paragraphs.size(), std::size_t{5});
    QCOMPARE(paragraphs[0],
             (TipParagraph{QString(),
                           S("The provided program, Tandemo.exe, will merge two seperate ITC data "
                             "files into one file, suitable for data analysis in Curvanta. The "
                             "program is self explanatory, but a few extra words of advice are "
                             "provided here to help you use the program.")}));
    QCOMPARE(paragraphs[1],
             (TipParagraph{S("1.)"), S("Make a backup copy of all original files prior to using "
                                       "the Tandemo.")}));
    // A line that ended in a blank joins the next without a second one; the double
    // blanks inside a line stay.
    QVERIFY(paragraphs[2].text.contains(S("determined from the initial concentration")));
    QVERIFY(paragraphs[4].text.contains(S("during the run.  The same offset value")));
    QCOMPARE(paragraphs[3].number, S("3.)"));
    QCOMPARE(paragraphs[4].number, S("4.)"));
    // Every word of the text is there, in its order, and nothing else.
    QStringList words;
    for (const TipParagraph& p : paragraphs) words << Words(p.number + u' ' + p.text);
    QCOMPARE(words, Words(TipWindow::TipText()));
  }

  void paragraphRules_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("lastNumber");
    QTest::addColumn<QString>("lastText");
    QTest::newRow("plain lines join") << S("one\r\ntwo") << 1 << QString() << S("one two");
    QTest::newRow("an item starts anew")
        << S("intro\r\n1.) first\r\n    more") << 2 << S("1.)") << S("first more");
    QTest::newRow("unindented after an item")
        << S("1.) item\r\nafter") << 2 << QString() << S("after");
    QTest::newRow("LF alone") << S("a\n2.) b\n   c") << 2 << S("2.)") << S("b c");
    QTest::newRow("two-digit number") << S("12.) twelve") << 1 << S("12.)") << S("twelve");
  }

  void paragraphRules() {
    QFETCH(QString, text);
    QFETCH(int, count);
    QFETCH(QString, lastNumber);
    QFETCH(QString, lastText);
    const std::vector<TipParagraph> paragraphs = TipParagraphs(text);
    QCOMPARE(int(paragraphs.size()), count);
    QCOMPARE(paragraphs.back().number, lastNumber);
    QCOMPARE(paragraphs.back().text, lastText);
  }

  // The window shows the paragraphs wrapped to its width, each item's lines
  // indented under its first word, to the right of its number.
  void shownAsParagraphs() {
    TipWindow tip;
    tip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tip));
    auto* view = tip.findChild<QTextBrowser*>(S("tipTextView"));
    QVERIFY(view);
    QCOMPARE(Words(view->toPlainText()), Words(TipWindow::TipText()));
    QTextDocument* document = view->document();
    QAbstractTextDocumentLayout* layout = document->documentLayout();
    for (const char* number : {"1.)", "2.)", "3.)", "4.)"}) {
      const QTextBlock numberBlock = document->find(S(number)).block();
      const QTextBlock itemBlock = numberBlock.next();
      QVERIFY2(numberBlock.isValid() && itemBlock.isValid(), number);
      QCOMPARE(numberBlock.text(), S(number));
      const qreal numberLeft = layout->blockBoundingRect(numberBlock).left();
      const qreal itemLeft = layout->blockBoundingRect(itemBlock).left();
      QVERIFY2(itemLeft > numberLeft + view->fontMetrics().horizontalAdvance(S(number)) - 1,
               number);
      // Every line of the item starts at the same place.
      QTextLayout* lines = itemBlock.layout();
      for (int i = 1; i < lines->lineCount(); ++i)
        QCOMPARE(lines->lineAt(i).x(), lines->lineAt(0).x());
    }
    // Item 2 is longer than the view is wide: it wraps, as a paragraph.
    const QTextBlock second = document->find(S("2.)")).block().next();
    QVERIFY(second.layout()->lineCount() > 1);
    // Without the old line breaks: the paragraph is one block.
    QVERIFY(second.text().startsWith(S("Do not refill")));
    QVERIFY(second.text().endsWith(S("(The first ITC data file).")));
  }

  // Colours come from the palette: under a dark palette the panel is dark and its
  // words are light.
  void coloursFromThePalette_data() {
    QTest::addColumn<QColor>("base");
    QTest::addColumn<QColor>("text");
    QTest::newRow("light") << QColor(Qt::white) << QColor(Qt::black);
    QTest::newRow("dark") << QColor(30, 30, 32) << QColor(230, 230, 230);
  }

  void coloursFromThePalette() {
    QFETCH(QColor, base);
    QFETCH(QColor, text);
    TipWindow tip;
    QPalette palette = tip.palette();
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Window, QColor(45, 45, 48));
    palette.setColor(QPalette::WindowText, text);
    tip.setPalette(palette);
    tip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tip));
    auto* panel = tip.findChild<QWidget*>(S("tipPanel"));
    auto* heading = tip.findChild<QLabel*>(S("headingLabel"));
    QVERIFY(panel && heading);
    QCOMPARE(heading->text(), S("Did you know..."));
    // The heading's words in the panel's text colour, on the panel's background.
    QCOMPARE(heading->palette().color(heading->foregroundRole()), text);
    const QImage panelImage = panel->grab().toImage();
    const QRect headingArea = heading->geometry();
    QCOMPARE(QColor(panelImage.pixel(headingArea.right(), headingArea.top())), base);
    int nearText = 0;
    for (int y = headingArea.top(); y <= headingArea.bottom(); ++y) {
      for (int x = headingArea.left(); x <= headingArea.right(); ++x) {
        const QColor c(panelImage.pixel(x, y));
        nearText += std::abs(c.red() - text.red()) + std::abs(c.green() - text.green()) +
                                std::abs(c.blue() - text.blue()) <
                            40
                        ? 1
                        : 0;
      }
    }
    QVERIFY2(nearText > 20, "the heading is not drawn in the text colour");
    QCOMPARE(QColor(panelImage.pixel(panelImage.width() / 2, panelImage.height() - 4)), base);
    auto* view = tip.findChild<QTextBrowser*>(S("tipTextView"));
    QCOMPARE(view->viewport()->palette().color(view->viewport()->backgroundRole()), base);
  }

  void window() {
    TipWindow tip;
    QCOMPARE(tip.windowTitle(), S("Tip of the Day"));
    QVERIFY(!tip.windowIcon().isNull());
    QVERIFY(tip.parentWidget() == nullptr);
    QVERIFY(tip.isModal());
    QCOMPARE(tip.findChild<QPushButton*>(S("okButton"))->text(), S("OK"));
  }

  void okIsDefaultAndHasFocus() {
    TipWindow tip;
    auto* ok = tip.findChild<QPushButton*>(S("okButton"));
    QVERIFY(ok->isDefault());
    tip.show();
    QVERIFY(QTest::qWaitForWindowActive(&tip));
    QCOMPARE(QApplication::focusWidget(), ok);
    // Tab reaches the text, so that the keyboard can scroll it, then the switch.
    QTest::keyClick(ok, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), S("tipTextView"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), S("showAtStartBox"));
    // Enter in the text still presses OK.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), S("tipTextView"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(!tip.isVisible());
    QCOMPARE(tip.result(), int(QDialog::Accepted));
  }

  void closes_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("OK clicked") << S("click");
    QTest::newRow("Enter") << S("enter");
    QTest::newRow("Return") << S("return");
    QTest::newRow("Esc") << S("esc");
    QTest::newRow("window closed") << S("close");
  }

  void closes() {
    QFETCH(QString, how);
    TipWindow tip;
    WhenModal<TipWindow> act([&](TipWindow* shown) {
      auto* ok = shown->findChild<QPushButton*>(S("okButton"));
      if (how == QLatin1String("click")) QTest::mouseClick(ok, Qt::LeftButton);
      if (how == QLatin1String("enter")) QTest::keyClick(shown->focusWidget(), Qt::Key_Enter);
      if (how == QLatin1String("return")) QTest::keyClick(shown->focusWidget(), Qt::Key_Return);
      if (how == QLatin1String("esc")) QTest::keyClick(shown->focusWidget(), Qt::Key_Escape);
      if (how == QLatin1String("close")) shown->close();
    });
    tip.exec();  // returns only once the window has been closed
    QVERIFY(act.fired());
    QVERIFY(!act.timedOut());
    QVERIFY(!tip.isVisible());
  }

  // "Show tips at start" is on at first, and whatever the user leaves it at is
  // what the next run finds.
  void showAtStartIsRemembered() {
    QVERIFY(TipWindow::ShowAtStart());
    {
      TipWindow tip;
      auto* box = tip.findChild<QCheckBox*>(S("showAtStartBox"));
      QVERIFY(box);
      QCOMPARE(box->text(), S("Show tips at start"));
      QVERIFY(box->isChecked());
      box->click();
    }
    QVERIFY(!TipWindow::ShowAtStart());
    QVERIFY(!QSettings().value(S("tips/showAtStart")).toBool());
    TipWindow nextRun;
    auto* box = nextRun.findChild<QCheckBox*>(S("showAtStartBox"));
    QVERIFY(!box->isChecked());
    box->click();
    QVERIFY(TipWindow::ShowAtStart());
  }
};

QTEST_MAIN(TipWindowTest)
#include "tip_window_test.moc"
