// The tip window: its text, its layout, its place on the screen, and the three
// ways of closing it.
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include "ui/frm_tip.hpp"
#include "ui/icons.hpp"
#include "ui_test_support.hpp"

using tandemo::ui::frmTip;
using tandemo::ui::PictureBox;
using tandemo::ui::ScrollingLabel;
using tandemo::ui::testing::WhenModal;

class FrmTipTest : public QObject {
  Q_OBJECT

 private slots:
  void tipTextIsExact() {
    // Typed out whole: 17 lines, CR LF between each two, none before or after.
    static const char kExpected[] =
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
    frmTip tip;
    auto* label = tip.findChild<ScrollingLabel*>(QStringLiteral("lblTipText"));
    QVERIFY(label);
    const QByteArray shown = label->text().toLatin1();
    QCOMPARE(shown, QByteArray(kExpected));
    QCOMPARE(shown.count("\r\n"), 16);
    QCOMPARE(shown.count('\r'), 16);  // no CR or LF outside the pairs
    QCOMPARE(shown.count('\n'), 16);
  }

  void window() {
    frmTip tip;
    QCOMPARE(tip.objectName(), QStringLiteral("frmTip"));
    QCOMPARE(tip.windowTitle(), QStringLiteral("Tip of the Day"));
    QCOMPARE(tip.size(), QSize(520, 304));
    QCOMPARE(tip.minimumSize(), tip.maximumSize());  // fixed layout
    QVERIFY(tip.parentWidget() == nullptr);
    const QPoint origin = QGuiApplication::primaryScreen()->geometry().topLeft();
    tip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tip));
    // geometry() is the client area, without any frame.
    QCOMPARE(tip.geometry().topLeft(), origin + QPoint(157, 159));
  }

  void controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("cmdOK") << QStringLiteral("cmdOK") << QStringLiteral("frmTip") << QStringLiteral("OK") << QRect(424, 8, 81, 25);
    QTest::newRow("Picture1") << QStringLiteral("Picture1") << QStringLiteral("frmTip") << QString() << QRect(8, 8, 401, 285);
    QTest::newRow("lblTipText") << QStringLiteral("lblTipText") << QStringLiteral("Picture1") << QString() << QRect(12, 40, 361, 237);
    QTest::newRow("Label1") << QStringLiteral("Label1") << QStringLiteral("Picture1") << QStringLiteral("Did you know...") << QRect(36, 12, 177, 17);
  }

  void controls() {
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QString, caption);
    QFETCH(QRect, geometry);
    frmTip tip;
    auto* w = tip.findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->parentWidget()->objectName(), container);
    QCOMPARE(w->geometry(), geometry);
    if (auto* button = qobject_cast<QPushButton*>(w)) QCOMPARE(button->text(), caption);
    if (auto* label = qobject_cast<QLabel*>(w)) QCOMPARE(label->text(), caption);
  }

  void okIsDefaultAndHasFocus() {
    frmTip tip;
    auto* ok = tip.findChild<QPushButton*>(QStringLiteral("cmdOK"));
    QVERIFY(ok->isDefault());
    tip.show();
    QVERIFY(QTest::qWaitForWindowActive(&tip));
    QCOMPARE(QApplication::focusWidget(), ok);
    // Only OK takes the focus: Tab stays on it.
    QTest::keyClick(ok, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ok);
  }

  void closes_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("OK clicked") << QStringLiteral("click");
    QTest::newRow("Enter") << QStringLiteral("enter");
    QTest::newRow("Return") << QStringLiteral("return");
    QTest::newRow("Esc") << QStringLiteral("esc");
    QTest::newRow("window closed") << QStringLiteral("close");
  }

  void closes() {
    QFETCH(QString, how);
    frmTip tip;
    QWidget* focusAtOpen = nullptr;
    WhenModal<frmTip> act([&](frmTip* shown) {
      focusAtOpen = QApplication::focusWidget();
      auto* ok = shown->findChild<QPushButton*>(QStringLiteral("cmdOK"));
      if (how == QLatin1String("click")) QTest::mouseClick(ok, Qt::LeftButton);
      if (how == QLatin1String("enter")) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
      if (how == QLatin1String("return")) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
      if (how == QLatin1String("esc")) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
      if (how == QLatin1String("close")) shown->close();
    });
    tip.exec();  // returns only once the window has been closed
    QVERIFY(act.fired());
    QVERIFY(!act.timedOut());
    QCOMPARE(focusAtOpen ? focusAtOpen->objectName() : QString(), QStringLiteral("cmdOK"));
    QVERIFY(!tip.isVisible());
  }

  void pictureShowsTheTipIconOnWhite() {
    frmTip tip;
    auto* picture = tip.findChild<PictureBox*>(QStringLiteral("Picture1"));
    QVERIFY(picture);
    tip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tip));
    const QImage shown = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage icon = tandemo::ui::IconImage(tandemo::ui::IconKind::Tip, 32);
    QCOMPARE(icon.size(), QSize(32, 32));
    int iconPixels = 0;
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        const QRgb want = icon.pixel(x, y);
        if (qAlpha(want) == 0) continue;  // transparent: the white shows through
        ++iconPixels;
        QCOMPARE(shown.pixel(x, y), want | 0xff000000u);
      }
    }
    QVERIFY(iconPixels > 100);
    // White beside the icon and in the empty strip below the tip text.
    QCOMPARE(shown.pixel(33, 1), qRgb(255, 255, 255));
    QCOMPARE(shown.pixel(200, 282), qRgb(255, 255, 255));
  }

  void tipTextIsReachableWhole() {
    frmTip tip;
    tip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tip));
    auto* label = tip.findChild<ScrollingLabel*>(QStringLiteral("lblTipText"));
    QLabel* display = label->display();
    // Wrapped to the visible width, never cut at the side...
    QVERIFY(display->width() <= label->viewport()->width());
    QVERIFY(display->wordWrap());
    // ...and every line within the scrolled height.
    QVERIFY(display->height() >= display->heightForWidth(display->width()));
    if (display->height() > label->viewport()->height()) {
      QVERIFY(label->verticalScrollBar()->isVisible());
      QCOMPARE(label->verticalScrollBar()->maximum(),
               display->height() - label->viewport()->height());
    }
  }

  void windowIconIsTheTipIcon() {
    frmTip tip;
    const QIcon icon = tip.windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32),
             tandemo::ui::IconImage(tandemo::ui::IconKind::Tip, 32)
                 .convertToFormat(QImage::Format_ARGB32));
  }
};

QTEST_MAIN(FrmTipTest)
#include "frm_tip_test.moc"
