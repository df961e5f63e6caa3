// The main window: layout, start-up with the tip window, Browse, editing, drops
// and Do It, with scripted file dialogs and recorded message boxes.
#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "merge/merge_run.hpp"
#include "ui/form1.hpp"
#include "ui/frm_tip.hpp"
#include "ui/icons.hpp"
#include "ui/wrapping_check_box.hpp"
#include "ui_test_support.hpp"

using tandemo::ui::DialogKind;
using tandemo::ui::DialogSettings;
using tandemo::ui::Form1;
using tandemo::ui::frmTip;
using tandemo::ui::WrappingCheckBox;
using tandemo::ui::testing::Listing;
using tandemo::ui::testing::ReadBytes;
using tandemo::ui::testing::RecordingNotifier;
using tandemo::ui::testing::ScriptedChooser;
using tandemo::ui::testing::WhenModal;
using tandemo::ui::testing::WriteBytes;

Q_DECLARE_METATYPE(tandemo::ui::DialogKind)

namespace {

// Two small portions: the second has one baseline line (DP 7.0) before its data.
const QByteArray kFirst = "$ITC\r\n@0,1,2\r\n10,5.0\r\n15,5.25\r\n@1,2,3\r\n20,5.5\r\n25,5.75\r\n";
const QByteArray kSecond = "$ITC\r\n@0\r\n0,7.0\r\n@1,2,3\r\n5,7.5\r\n10,8.0\r\n";
// The second file's injection continues as number 2, its time stamps from 25 in
// steps of 5; compensated, its DP is lowered by 7.0 - 5.75 = 1.25.
const QByteArray kMerged = kFirst + "@2,2,3\r\n30.00,7.5\r\n35.00,8.0\r\n";
const QByteArray kMergedCompensated = kFirst + "@2,2,3\r\n30.00,6.25\r\n35.00,6.75\r\n";
const QByteArray kOldOutput = "an earlier result\r\n";

// Portions with headers of the usual form: one injection each, announced on line 2
// and listed on line 11; the temperature on line 4 can be changed.
QByteArray UsualPortion(const QByteArray& temperature, const QByteArray& injectionLine) {
  return "$ITC\r\n$ 1 \r\n$NOT\r\n$ " + temperature +
         " \r\n$ 300 \r\n$ 1000 \r\n$ 5 \r\n$ 2 \r\n$ADCGainCode:  0 \r\n$False,True,True\r\n" +
         injectionLine +
         "\r\n# 0 \r\n# 0.1 \r\n# 0.05 \r\n# 1.4266 \r\n?\r\n% VPViewer2000 Ver: 1.30.0\r\n"
         "@0\r\n2.00,5.0\r\n4.00,5.1\r\n@1,10.0000,20.0\r\n6.00,5.2\r\n8.00,5.3\r\n";
}

QString S(const char* text) { return QString::fromUtf8(text); }

template <class W>
W* Child(QWidget& parent, const char* name) {
  return parent.findChild<W*>(QString::fromLatin1(name));
}

QGroupBox* Frame(QWidget& form, int index) {
  for (QGroupBox* box : form.findChildren<QGroupBox*>(QStringLiteral("Frame1"))) {
    if (box->property("index").toInt() == index) return box;
  }
  return nullptr;
}

// Runs the start-up, closing the tip window with OK as soon as it shows.
bool StartWithTipClosed(Form1& form) {
  WhenModal<frmTip> closeTip([](frmTip* tip) {
    QTest::mouseClick(tip->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
  });
  form.Start();
  return closeTip.fired() && !closeTip.timedOut() && QTest::qWaitForWindowActive(&form);
}

// Puts the three paths into their boxes, as typing them would.
void TypePaths(Form1& form, const QString& first, const QString& second, const QString& output) {
  Child<QLineEdit>(form, "txtFile1")->setText(first);
  Child<QLineEdit>(form, "txtFile2")->setText(second);
  Child<QLineEdit>(form, "txtOutputFile")->setText(output);
}

QString Stored(const Form1& form, const QString& box) {
  if (box == QLatin1String("txtFile1")) return form.strings().strFile1;
  if (box == QLatin1String("txtFile2")) return form.strings().strFile2;
  return form.strings().strOutputFile;
}

// A folder with the two portions in it.
struct Workspace {
  QTemporaryDir dir;
  QString first, second, output;
  Workspace() {
    first = dir.filePath(QStringLiteral("first.itc"));
    second = dir.filePath(QStringLiteral("second.itc"));
    output = dir.filePath(QStringLiteral("merged.itc"));
    WriteBytes(first, kFirst);
    WriteBytes(second, kSecond);
  }
};

}  // namespace

class Form1Test : public QObject {
  Q_OBJECT

 private slots:
  void window() {
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QCOMPARE(form.objectName(), S("Form1"));
    QCOMPARE(form.windowTitle(), S("Tandemo"));
    // The designed 395 x 238, grown downwards just enough for the second check box.
    const QRect second = Child<QWidget>(form, "Check2")->geometry();
    QCOMPARE(form.size(), QSize(395, std::max(238, second.bottom() + 1 + 8)));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    const QList<QSize> sizes = form.windowIcon().availableSizes();
    QVERIFY(sizes.contains(QSize(16, 16)));
    QVERIFY(sizes.contains(QSize(32, 32)));
    QCOMPARE(form.windowIcon().pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32),
             tandemo::ui::IconImage(tandemo::ui::IconKind::Program, 32)
                 .convertToFormat(QImage::Format_ARGB32));
    QVERIFY(form.findChild<QObject*>(S("cdlFiles")));
  }

  void layout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("frame");  // -1: on the window itself
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("txtFile1") << S("txtFile1") << 0 << QString() << QRect(8, 16, 297, 25);
    QTest::newRow("cmdFile1") << S("cmdFile1") << 0 << S("Browse") << QRect(312, 16, 57, 25);
    QTest::newRow("cmdFile2") << S("cmdFile2") << 1 << S("Browse") << QRect(312, 16, 57, 25);
    QTest::newRow("txtFile2") << S("txtFile2") << 1 << QString() << QRect(8, 16, 297, 25);
    QTest::newRow("cmdOutputFile") << S("cmdOutputFile") << 2 << S("Browse")
                                   << QRect(312, 16, 57, 25);
    QTest::newRow("txtOutputFile") << S("txtOutputFile") << 2 << QString() << QRect(8, 16, 297, 25);
    QTest::newRow("cmdDoIt") << S("cmdDoIt") << -1 << S("Do It") << QRect(224, 184, 161, 41);
  }

  void layout() {
    QFETCH(QString, name);
    QFETCH(int, frame);
    QFETCH(QString, caption);
    QFETCH(QRect, geometry);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    auto* w = form.findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->parentWidget(), frame < 0 ? static_cast<QWidget*>(&form) : Frame(form, frame));
    QCOMPARE(w->geometry(), geometry);
    if (auto* button = qobject_cast<QPushButton*>(w)) {
      QCOMPARE(button->text(), caption);
      // No default button: Enter starts nothing.
      QVERIFY(!button->isDefault());
      QVERIFY(!button->autoDefault());
    }
    if (auto* box = qobject_cast<QLineEdit*>(w)) {
      QCOMPARE(box->text(), QString());
      QVERIFY(box->isEnabled() && !box->isReadOnly());
    }
  }

  void frames_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("0") << 0 << S("First ITC File") << QRect(8, 8, 377, 49);
    QTest::newRow("1") << 1 << S("Second ITC File") << QRect(8, 64, 377, 49);
    QTest::newRow("2") << 2 << S("Output ITC File") << QRect(8, 120, 377, 49);
  }

  void frames() {
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(QRect, geometry);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QCOMPARE(form.findChildren<QGroupBox*>(S("Frame1")).size(), 3);
    QGroupBox* box = Frame(form, index);
    QVERIFY(box);
    QCOMPARE(box->parentWidget(), &form);
    QCOMPARE(box->title(), caption);
    QCOMPARE(box->geometry(), geometry);
    QCOMPARE(box->focusPolicy(), Qt::NoFocus);
  }

  void checkBoxCaptionIsReadableWhole_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("Check1") << S("Check1") << S("Compensate for DP offset between data sets.");
    QTest::newRow("Check2") << S("Check2") << S("Update the header to list every injection.");
  }

  void checkBoxCaptionIsReadableWhole() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    auto* check = form.findChild<WrappingCheckBox*>(name);
    auto* first = Child<WrappingCheckBox>(form, "Check1");
    auto* doIt = Child<QPushButton>(form, "cmdDoIt");
    QVERIFY(check);
    QCOMPARE(check->text(), caption);
    QVERIFY(!check->isChecked());
    // The first box where the design puts it, the second right under it.
    const QPoint expected = check == first ? QPoint(8, 184)
                                           : QPoint(8, first->geometry().bottom() + 1 + Form1::kCheckGap);
    QCOMPARE(check->pos(), expected);
    QVERIFY(check->width() >= 193);
    QVERIFY(check->height() >= 25);
    // Within the window, clear of Do It.
    QVERIFY(check->geometry().right() < doIt->geometry().left());
    QVERIFY(check->geometry().bottom() < form.height());
    // The wrapped caption fits the box: no line or word is cut.
    const QRect words = check->CaptionBounds(check->width());
    QVERIFY2(words.height() <= check->height(),
             qPrintable(QStringLiteral("caption needs %1 px, box has %2").arg(words.height()).arg(check->height())));
    QVERIFY(words.right() < check->width());
    QVERIFY2(words.height() > check->fontMetrics().height(), "the caption is expected to wrap");
  }

  void clickOnTheWordsToggles_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("Check1") << S("Check1");
    QTest::newRow("Check2") << S("Check2");
  }

  void clickOnTheWordsToggles() {
    QFETCH(QString, name);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* check = form.findChild<WrappingCheckBox*>(name);
    const QRect words = check->CaptionBounds(check->width());
    // The first word, and the end of the last line.
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(words.left() + 5, words.top() + 3));
    QVERIFY(check->isChecked());
    QTest::mouseClick(check, Qt::LeftButton, {}, words.bottomRight() - QPoint(3, 3));
    QVERIFY(!check->isChecked());
  }

  void startUp_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("OK clicked") << S("click");
    QTest::newRow("Enter") << S("enter");
    QTest::newRow("Esc") << S("esc");
    QTest::newRow("window closed") << S("close");
  }

  void startUp() {
    QFETCH(QString, how);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    bool mainVisibleWithTip = true;
    bool tipAlone = false;
    Qt::WindowModality modality = Qt::NonModal;
    QWidget* tipOwner = &form;
    QString startFolderWhileLoading;
    WhenModal<frmTip> act([&](frmTip* tip) {
      mainVisibleWithTip = form.isVisible();
      modality = tip->windowModality();
      tipOwner = tip->parentWidget();
      startFolderWhileLoading = form.strings().strInitDir;
      int shown = 0;
      for (QWidget* w : QApplication::topLevelWidgets()) shown += w->isVisible() ? 1 : 0;
      tipAlone = shown == 1;
      if (how == QLatin1String("click")) {
        QTest::mouseClick(tip->findChild<QPushButton*>(S("cmdOK")), Qt::LeftButton);
      } else if (how == QLatin1String("enter")) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
      } else if (how == QLatin1String("esc")) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
      } else {
        tip->close();
      }
    });
    form.Start();
    QVERIFY(act.fired());
    QVERIFY(!act.timedOut());
    QVERIFY(!mainVisibleWithTip);
    QVERIFY(tipAlone);
    QCOMPARE(modality, Qt::ApplicationModal);
    QCOMPARE(tipOwner, nullptr);
    QCOMPARE(startFolderWhileLoading, QCoreApplication::applicationDirPath());
    // The tip window is gone and the main window is up, fresh.
    QVERIFY(form.isVisible());
    for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY(!qobject_cast<frmTip*>(w) || !w->isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), Child<QWidget>(form, "txtFile1"));
    for (const char* box : {"txtFile1", "txtFile2", "txtOutputFile"}) {
      QCOMPARE(Child<QLineEdit>(form, box)->text(), QString());
    }
    QVERIFY(!Child<QCheckBox>(form, "Check1")->isChecked());
    QVERIFY(!Child<QCheckBox>(form, "Check2")->isChecked());
    QCOMPARE(form.strings().strFile1, QString());
    QCOMPARE(form.strings().strFile2, QString());
    QCOMPARE(form.strings().strOutputFile, QString());
    QVERIFY(notifier.events.empty());
  }

  void tabOrder() {
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 9; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, (QStringList{S("txtFile1"), S("cmdFile1"), S("cmdFile2"), S("txtFile2"),
                                   S("cmdOutputFile"), S("txtOutputFile"), S("cmdDoIt"),
                                   S("Check1"), S("Check2"), S("txtFile1")}));
  }

  void browse_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("box");
    QTest::addColumn<DialogKind>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<quint32>("flags");
    QTest::newRow("first file") << S("cmdFile1") << S("txtFile1") << DialogKind::Open
                                << S("Select the First ITC File...") << quint32(0x201004);
    QTest::newRow("second file") << S("cmdFile2") << S("txtFile2") << DialogKind::Open
                                 << S("Select the Second ITC File...") << quint32(0x201004);
    QTest::newRow("output file") << S("cmdOutputFile") << S("txtOutputFile") << DialogKind::Save
                                 << S("Select the Output ITC File...") << quint32(0x2806);
  }

  void browse() {
    QFETCH(QString, button);
    QFETCH(QString, box);
    QFETCH(DialogKind, kind);
    QFETCH(QString, title);
    QFETCH(quint32, flags);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    auto* pushButton = form.findChild<QPushButton*>(button);
    auto* lineEdit = form.findChild<QLineEdit*>(box);

    // The first dialog opens in the program's folder, with every setting written.
    chooser.answers = {S("/data/runs/run1.itc")};
    QTest::mouseClick(pushButton, Qt::LeftButton);
    QCOMPARE(chooser.calls.size(), std::size_t{1});
    const DialogSettings expected{S("itc"), S("ITC Files (*.itc)|*.itc"), QString(), title, flags,
                                  QCoreApplication::applicationDirPath()};
    QCOMPARE(chooser.calls[0].kind, kind);
    QVERIFY(chooser.calls[0].settings == expected);
    QCOMPARE(chooser.calls[0].parent, &form);
    QCOMPARE(lineEdit->text(), S("/data/runs/run1.itc"));
    QCOMPARE(Stored(form, box), S("/data/runs/run1.itc"));
    QCOMPARE(form.strings().strInitDir, S("/data/runs/"));

    // The next opens where the last choice was, again with an empty name.
    chooser.answers = {std::nullopt};
    QTest::mouseClick(pushButton, Qt::LeftButton);
    QCOMPARE(chooser.calls.size(), std::size_t{2});
    QCOMPARE(chooser.calls[1].settings.InitDir, S("/data/runs/"));
    QCOMPARE(chooser.calls[1].settings.FileName, QString());
    // A cancel empties the path, its box and the start folder.
    QCOMPARE(lineEdit->text(), QString());
    QCOMPARE(Stored(form, box), QString());
    QCOMPARE(form.strings().strInitDir, QString());

    chooser.answers = {S("/run1.itc")};
    QTest::mouseClick(pushButton, Qt::LeftButton);
    QCOMPARE(chooser.calls[2].settings.InitDir, QString());
    QCOMPARE(form.strings().strInitDir, S("/"));  // the root keeps its separator
    QVERIFY(notifier.events.empty());
  }

  void startFolderIsShared() {
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    chooser.answers = {S("/results/merged.itc"), S("/portions/a.itc"), S("/portions/b.itc")};
    QTest::mouseClick(Child<QPushButton>(form, "cmdOutputFile"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(form, "cmdFile1"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(form, "cmdFile2"), Qt::LeftButton);
    QCOMPARE(chooser.calls.size(), std::size_t{3});
    QCOMPARE(chooser.calls[1].settings.InitDir, S("/results/"));
    QCOMPARE(chooser.calls[2].settings.InitDir, S("/portions/"));
    QCOMPARE(form.strings().strOutputFile, S("/results/merged.itc"));
    QCOMPARE(form.strings().strFile1, S("/portions/a.itc"));
    QCOMPARE(form.strings().strFile2, S("/portions/b.itc"));
  }

  void editingABoxChangesItsStoredPath_data() {
    QTest::addColumn<QString>("box");
    QTest::newRow("first") << S("txtFile1");
    QTest::newRow("second") << S("txtFile2");
    QTest::newRow("output") << S("txtOutputFile");
  }

  void editingABoxChangesItsStoredPath() {
    QFETCH(QString, box);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    auto* lineEdit = form.findChild<QLineEdit*>(box);
    lineEdit->setFocus();
    QTest::keyClicks(lineEdit, S("/typed/run.itc"));
    QCOMPARE(Stored(form, box), S("/typed/run.itc"));
    QTest::keyClick(lineEdit, Qt::Key_Backspace);
    QCOMPARE(Stored(form, box), S("/typed/run.it"));
    lineEdit->selectAll();
    QTest::keyClick(lineEdit, Qt::Key_Delete);
    QCOMPARE(Stored(form, box), QString());
  }

  void doItWithABoxEmpty_data() {
    QTest::addColumn<bool>("fillFirst");
    QTest::addColumn<bool>("fillSecond");
    QTest::addColumn<bool>("fillOutput");
    QTest::newRow("first empty") << false << true << true;
    QTest::newRow("second empty") << true << false << true;
    QTest::newRow("output empty") << true << true << false;
    QTest::newRow("all empty") << false << false << false;
  }

  void doItWithABoxEmpty() {
    QFETCH(bool, fillFirst);
    QFETCH(bool, fillSecond);
    QFETCH(bool, fillOutput);
    Workspace ws;
    WriteBytes(ws.output, kOldOutput);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    if (fillFirst) Child<QLineEdit>(form, "txtFile1")->setText(ws.first);
    if (fillSecond) Child<QLineEdit>(form, "txtFile2")->setText(ws.second);
    if (fillOutput) Child<QLineEdit>(form, "txtOutputFile")->setText(ws.output);
    const QStringList before = Listing(ws.dir.path());
    QTest::mouseClick(Child<QPushButton>(form, "cmdDoIt"), Qt::LeftButton);
    QVERIFY(notifier.events.empty());  // no box, no beep
    QCOMPARE(Listing(ws.dir.path()), before);
    QCOMPARE(ReadBytes(ws.output), kOldOutput);
  }

  void doItMerges_data() {
    QTest::addColumn<bool>("compensate");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("as recorded") << false << kMerged;
    QTest::newRow("compensated") << true << kMergedCompensated;
  }

  void doItMerges() {
    QFETCH(bool, compensate);
    QFETCH(QByteArray, expected);
    Workspace ws;
    WriteBytes(ws.output, kOldOutput);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    chooser.answers = {ws.first, ws.second, ws.output};
    QTest::mouseClick(Child<QPushButton>(form, "cmdFile1"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(form, "cmdFile2"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(form, "cmdOutputFile"), Qt::LeftButton);
    if (compensate) QTest::mouseClick(Child<QCheckBox>(form, "Check1"), Qt::LeftButton);
    QCOMPARE(Child<QCheckBox>(form, "Check1")->isChecked(), compensate);

    QTest::mouseClick(Child<QPushButton>(form, "cmdDoIt"), Qt::LeftButton);
    QCOMPARE(ReadBytes(ws.output), expected);
    // "Done" first; the beep only once the box has been dismissed.
    QCOMPARE(notifier.events.size(), std::size_t{2});
    QCOMPARE(notifier.events[0], (RecordingNotifier::Event{S("inform"), S("Tandemo"), S("Done"), QString()}));
    QCOMPARE(notifier.events[1].kind, S("beep"));
    // Nothing else is left behind, and the inputs are as they were.
    QCOMPARE(Listing(ws.dir.path()),
             (QStringList{S("first.itc"), S("merged.itc"), S("second.itc")}));
    QCOMPARE(ReadBytes(ws.first), kFirst);
    QCOMPARE(ReadBytes(ws.second), kSecond);
    // The window keeps its paths and switch: another click merges again.
    QCOMPARE(form.strings().strFile1, ws.first);
    QTest::mouseClick(Child<QPushButton>(form, "cmdDoIt"), Qt::LeftButton);
    QCOMPARE(notifier.kinds(), (QStringList{S("inform"), S("beep"), S("inform"), S("beep")}));
    QCOMPARE(ReadBytes(ws.output), expected);
  }

  // Files that may not belong together are merged only when the user says so.
  void doItAsksWhenTheFilesDiffer_data() {
    QTest::addColumn<bool>("answer");
    QTest::newRow("No") << false;
    QTest::newRow("Yes") << true;
  }

  void doItAsksWhenTheFilesDiffer() {
    QFETCH(bool, answer);
    Workspace ws;
    WriteBytes(ws.first, UsualPortion("25", "$ 10 , 20 , 600 , 2 "));
    WriteBytes(ws.second, UsualPortion("30", "$ 12 , 24 , 600 , 2 "));
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    notifier.answers = {answer};
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    TypePaths(form, ws.first, ws.second, ws.output);
    QTest::mouseClick(Child<QPushButton>(form, "cmdDoIt"), Qt::LeftButton);

    QVERIFY(!notifier.events.empty());
    QCOMPARE(notifier.events[0],
             (RecordingNotifier::Event{S("ask"), S("Tandemo"),
                                       S("These files may not belong to one titration:\n\n"
                                         "target temperature: 25 in the first file, 30 in the second file"
                                         "\n\nMerge them anyway?"),
                                       QString()}));
    if (answer) {
      QCOMPARE(notifier.kinds(), (QStringList{S("ask"), S("inform"), S("beep")}));
      QVERIFY(ReadBytes(ws.output).startsWith(ReadBytes(ws.first)));
    } else {
      QCOMPARE(notifier.kinds(), QStringList{S("ask")});
      QVERIFY(!QFileInfo::exists(ws.output));  // No writes nothing
      QCOMPARE(Listing(ws.dir.path()), (QStringList{S("first.itc"), S("second.itc")}));
    }
  }

  // The second switch makes the header announce and list both portions' injections;
  // files that agree go straight through, without a question.
  void doItUpdatesTheHeaderWhenAsked_data() {
    QTest::addColumn<bool>("update");
    QTest::newRow("off") << false;
    QTest::newRow("on") << true;
  }

  void doItUpdatesTheHeaderWhenAsked() {
    QFETCH(bool, update);
    Workspace ws;
    WriteBytes(ws.first, UsualPortion("25", "$ 10 , 20 , 600 , 2 "));
    WriteBytes(ws.second, UsualPortion("25.0", "$ 12 , 24 , 600 , 2 "));
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    TypePaths(form, ws.first, ws.second, ws.output);
    if (update) QTest::mouseClick(Child<QCheckBox>(form, "Check2"), Qt::LeftButton);
    QCOMPARE(Child<QCheckBox>(form, "Check2")->isChecked(), update);
    QTest::mouseClick(Child<QPushButton>(form, "cmdDoIt"), Qt::LeftButton);
    QCOMPARE(notifier.kinds(), (QStringList{S("inform"), S("beep")}));

    const QList<QByteArray> lines = ReadBytes(ws.output).split('\n');
    QCOMPARE(lines[1], update ? QByteArray("$ 2 \r") : QByteArray("$ 1 \r"));
    QCOMPARE(lines[10], QByteArray("$ 10 , 20 , 600 , 2 \r"));
    QCOMPARE(lines[11], update ? QByteArray("$ 12 , 24 , 600 , 2 \r") : QByteArray("# 0 \r"));
    QVERIFY(ReadBytes(ws.output).endsWith("@2,10.0000,20.0\r\n10.00,5.2\r\n12.00,5.3\r\n"));
  }

  void doItUsesThePathsOnScreen() {
    Workspace ws;
    const QString other = ws.dir.filePath(QStringLiteral("other.itc"));
    WriteBytes(other, kFirst);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    // Browse chose one output, then the user typed another over it.
    chooser.answers = {ws.first, ws.second, ws.output};
    QTest::mouseClick(Child<QPushButton>(form, "cmdFile1"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(form, "cmdFile2"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(form, "cmdOutputFile"), Qt::LeftButton);
    auto* outputBox = Child<QLineEdit>(form, "txtOutputFile");
    const QString typed = ws.dir.filePath(QStringLiteral("typed.itc"));
    outputBox->selectAll();
    QTest::keyClicks(outputBox, typed);
    QTest::mouseClick(Child<QPushButton>(form, "cmdDoIt"), Qt::LeftButton);
    QCOMPARE(notifier.kinds(), (QStringList{S("inform"), S("beep")}));
    QCOMPARE(ReadBytes(typed), kMerged);
    QVERIFY(!QFileInfo::exists(ws.output));  // the path no longer on screen is not written
  }

  void doItReportsAFailure_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("compensate");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("where");
    QTest::newRow("first file missing") << S("missing.itc") << S("second.itc") << S("merged.itc")
                                        << false << S("File not found (53)") << S("first file");
    QTest::newRow("second file missing") << S("first.itc") << S("missing.itc") << S("merged.itc")
                                         << false << S("File not found (53)") << S("second file");
    QTest::newRow("blanks are a name") << S("first.itc") << S(" ") << S("merged.itc") << false
                                       << S("File not found (53)") << S("second file");
    QTest::newRow("first file without a time step")
        << S("short.itc") << S("second.itc") << S("merged.itc") << false << S("No time step (1001)")
        << S("first file");
    QTest::newRow("no baseline to compensate from")
        << S("first.itc") << S("first.itc") << S("merged.itc") << true << S("No baseline (1002)")
        << S("second file");
  }

  void doItReportsAFailure() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, output);
    QFETCH(bool, compensate);
    QFETCH(QString, title);
    QFETCH(QString, where);
    Workspace ws;
    WriteBytes(ws.dir.filePath(S("short.itc")), "$ITC\r\n@0,1,2\r\n10,5.0\r\n");
    WriteBytes(ws.output, kOldOutput);
    auto inDir = [&](const QString& name) { return name.trimmed().isEmpty() ? name : ws.dir.filePath(name); };
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    TypePaths(form, inDir(first), inDir(second), inDir(output));
    Child<QCheckBox>(form, "Check1")->setChecked(compensate);
    const QStringList before = Listing(ws.dir.path());

    QTest::mouseClick(Child<QPushButton>(form, "cmdDoIt"), Qt::LeftButton);
    QCOMPARE(notifier.kinds(), QStringList{S("warn")});  // no "Done", no beep
    const RecordingNotifier::Event& box = notifier.events[0];
    QCOMPARE(box.title, S("Tandemo"));
    QCOMPARE(box.text, title);
    QVERIFY2(box.detail.startsWith(where), qPrintable(box.detail));
    // The engine's whole message is on the box: its title as the main text, the rest below.
    const tandemo::MergeOutcome outcome =
        tandemo::RunMerge(QFile::encodeName(inDir(first)).toStdString(),
                          QFile::encodeName(inDir(second)).toStdString(),
                          QFile::encodeName(inDir(output)).toStdString(), compensate);
    QVERIFY(!outcome.ok());
    QCOMPARE(box.text + S(": ") + box.detail.section(S("\n\n"), 0, 0),
             QString::fromStdString(outcome.error->Message()));
    // Output untouched, nothing left behind, the window still there and usable.
    QCOMPARE(ReadBytes(ws.output), kOldOutput);
    QCOMPARE(Listing(ws.dir.path()), before);
    QVERIFY(form.isVisible());
    QVERIFY(form.isEnabled());
    QCOMPARE(Child<QLineEdit>(form, "txtFile1")->text(), inDir(first));
  }

  void windowWorksOnAfterAFailure() {
    Workspace ws;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    TypePaths(form, ws.first, ws.dir.filePath(S("later.itc")), ws.output);
    QTest::mouseClick(Child<QPushButton>(form, "cmdDoIt"), Qt::LeftButton);
    QCOMPARE(notifier.kinds(), QStringList{S("warn")});
    QVERIFY(!QFileInfo::exists(ws.output));
    // The missing file turns up; the same window merges it.
    WriteBytes(ws.dir.filePath(S("later.itc")), kSecond);
    QTest::mouseClick(Child<QPushButton>(form, "cmdDoIt"), Qt::LeftButton);
    QCOMPARE(notifier.kinds(), (QStringList{S("warn"), S("inform"), S("beep")}));
    QCOMPARE(ReadBytes(ws.output), kMerged);
  }

  void enterAndEscStartNothing() {
    Workspace ws;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    TypePaths(form, ws.first, ws.second, ws.output);
    for (const char* name : {"txtFile1", "txtFile2", "txtOutputFile", "Check1"}) {
      QWidget* w = Child<QWidget>(form, name);
      w->setFocus();
      QTest::keyClick(w, Qt::Key_Return);
      QTest::keyClick(w, Qt::Key_Enter);
      QTest::keyClick(w, Qt::Key_Escape);
    }
    QVERIFY(notifier.events.empty());
    QVERIFY(chooser.calls.empty());
    QVERIFY(!QFileInfo::exists(ws.output));
    QVERIFY(form.isVisible());
  }

  void dropFillsTheBox_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<Qt::DropActions>("offered");
    QTest::addColumn<Qt::KeyboardModifiers>("keys");
    QTest::addColumn<Qt::DropAction>("taken");
    const Qt::DropActions all = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QTest::newRow("first") << S("txtFile1") << all << Qt::KeyboardModifiers() << Qt::CopyAction;
    QTest::newRow("second") << S("txtFile2") << all << Qt::KeyboardModifiers() << Qt::CopyAction;
    QTest::newRow("output") << S("txtOutputFile") << all << Qt::KeyboardModifiers()
                            << Qt::CopyAction;
    // Shift proposes a move; the file is still only named, never moved.
    QTest::newRow("move proposed") << S("txtFile1") << all << Qt::KeyboardModifiers(Qt::ShiftModifier)
                                   << Qt::CopyAction;
    QTest::newRow("link offered only") << S("txtFile2") << Qt::DropActions(Qt::LinkAction)
                                       << Qt::KeyboardModifiers() << Qt::LinkAction;
  }

  void dropFillsTheBox() {
    QFETCH(QString, box);
    QFETCH(Qt::DropActions, offered);
    QFETCH(Qt::KeyboardModifiers, keys);
    QFETCH(Qt::DropAction, taken);
    Workspace ws;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    auto* lineEdit = form.findChild<QLineEdit*>(box);
    lineEdit->setText(S("/something/typed.itc"));

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(ws.second)});
    const QPoint at = lineEdit->rect().center();
    QDragEnterEvent enter(at, offered, &mime, Qt::LeftButton, keys);
    QCoreApplication::sendEvent(lineEdit, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, offered, &mime, Qt::LeftButton, keys);
    const Qt::DropAction proposed = drop.proposedAction();
    QCoreApplication::sendEvent(lineEdit, &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(drop.dropAction(), taken);
    if (keys & Qt::ShiftModifier) QCOMPARE(proposed, Qt::MoveAction);  // the case is real
    // The box holds exactly the path, as Browse would have put it.
    QCOMPARE(lineEdit->text(), ws.second);
    QCOMPARE(Stored(form, box), ws.second);
    QCOMPARE(form.strings().strInitDir, ws.dir.path() + u'/');
    QVERIFY(chooser.calls.empty());
  }

  void dropsThatCannotBeTakenAreRefused_data() {
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<Qt::DropActions>("offered");
    const Qt::DropActions copy = Qt::CopyAction;
    QTest::newRow("folder") << QUrl::fromLocalFile(QDir::tempPath()) << copy;
    QTest::newRow("web address") << QUrl(S("https://example.org/run1.itc")) << copy;
    QTest::newRow("file, but only as a move")
        << QUrl::fromLocalFile(QCoreApplication::applicationFilePath())
        << Qt::DropActions(Qt::MoveAction);
  }

  void dropsThatCannotBeTakenAreRefused() {
    QFETCH(QUrl, url);
    QFETCH(Qt::DropActions, offered);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    Form1 form(chooser, notifier);
    QVERIFY(StartWithTipClosed(form));
    auto* lineEdit = Child<QLineEdit>(form, "txtFile1");
    QMimeData mime;
    mime.setUrls({url});
    QDragEnterEvent enter(lineEdit->rect().center(), offered, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(lineEdit, &enter);
    QVERIFY(!enter.isAccepted());
    QDropEvent drop(lineEdit->rect().center(), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(lineEdit, &drop);
    QVERIFY(!drop.isAccepted());
    QCOMPARE(lineEdit->text(), QString());
    QCOMPARE(form.strings().strInitDir, QCoreApplication::applicationDirPath());
  }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
