// The main window: layout at large fonts, keyboard use, choosing files, drops,
// and Do It with the merge on a worker thread, with scripted file dialogs and
// recorded message boxes.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <cmath>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "itcgen.hpp"
#include "merge/merge_run.hpp"
#include "ui/main_window.hpp"
#include "ui/path_box.hpp"
#include "ui/preview_panel.hpp"
#include "ui/settings_view.hpp"
#include "ui/tip_window.hpp"
#include "ui/wrapping_check_box.hpp"
#include "ui_test_support.hpp"

using tandemo::test::IsolatedSettings;
using tandemo::test::Listing;
using tandemo::test::ReadBytes;
using tandemo::test::RecordingNotifier;
using tandemo::test::ScriptedChooser;
using tandemo::test::WhenModal;
using tandemo::test::WriteBytes;
using tandemo::ui::DialogKind;
using tandemo::ui::FileRequest;
using tandemo::ui::MainWindow;
using tandemo::ui::MergeControl;
using tandemo::ui::OrderByRun;
using tandemo::ui::PathBox;
using tandemo::ui::PreviewPanel;
using tandemo::ui::SettingsRow;
using tandemo::ui::TipWindow;
using tandemo::ui::WrappingCheckBox;

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

PathBox* Box(QWidget& window, const QString& name) { return window.findChild<PathBox*>(name); }

// Shows the window as a user who switched the tip window off sees it.
bool ShowReady(MainWindow& window) {
  TipWindow::SetShowAtStart(false);
  window.Start();
  return QTest::qWaitForWindowActive(&window);
}

void FillPaths(QWidget& window, const QString& first, const QString& second,
               const QString& output) {
  Child<QLineEdit>(window, "firstFileBox")->setText(first);
  Child<QLineEdit>(window, "secondFileBox")->setText(second);
  Child<QLineEdit>(window, "outputFileBox")->setText(output);
}

// Lets the window's event loop run until its merge has ended.
bool MergeEnds(const MainWindow& window, int limitMs = 60000) {
  QDeadlineTimer deadline(limitMs);
  while (window.isMerging() && !deadline.hasExpired()) QTest::qWait(10);
  return !window.isMerging();
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

// Sends a drag of `mime` over `target` and drops it there; true when the drop was taken.
bool Drop(QWidget* target, const QMimeData& mime, Qt::DropActions offered = Qt::CopyAction,
          Qt::KeyboardModifiers keys = Qt::NoModifier, Qt::DropAction* taken = nullptr) {
  const QPoint at = target->rect().center();
  QDragEnterEvent enter(at, offered, &mime, Qt::LeftButton, keys);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent drop(at, offered, &mime, Qt::LeftButton, keys);
  QCoreApplication::sendEvent(target, &drop);
  if (taken) *taken = drop.dropAction();
  return enter.isAccepted() && drop.isAccepted();
}

QMimeData* FileDrag(const QStringList& paths) {
  auto* mime = new QMimeData;
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  mime->setUrls(urls);
  return mime;
}

// The leaf controls a user sees and reads.
QList<QWidget*> Controls(QWidget& window) {
  QList<QWidget*> controls;
  for (const char* name :
       {"firstFileBox", "firstBrowseButton", "secondFileBox", "secondBrowseButton", "outputFileBox",
        "outputBrowseButton", "compensateBox", "headerBox", "doItButton", "hintLabel"}) {
    controls << Child<QWidget>(window, name);
  }
  return controls;
}

// A generated pair: the portions of one titration, the second with its own settings.
bool WriteGeneratedPair(const QString& first, const QString& second,
                        const tandemo::itcgen::TitrationSettings& secondSettings) {
  tandemo::itcgen::StringSink a, b, unused;
  tandemo::itcgen::WritePair(tandemo::itcgen::TitrationSettings{}, a, unused);
  tandemo::itcgen::WritePair(secondSettings, unused, b);
  return WriteBytes(first, QByteArray::fromStdString(a.text)) &&
         WriteBytes(second, QByteArray::fromStdString(b.text));
}

// Lets the window's event loop run until its preview shows the files or says why not.
bool PreviewSettles(const MainWindow& window, int limitMs = 20000) {
  QDeadlineTimer deadline(limitMs);
  auto settled = [&window] {
    const PreviewPanel::State state = window.preview()->state();
    return state == PreviewPanel::State::Shown || state == PreviewPanel::State::Failed;
  };
  while (!settled() && !deadline.hasExpired()) QTest::qWait(10);
  return settled();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  IsolatedSettings settings_;

 private slots:
  void init() { IsolatedSettings::Clear(); }

  void window() {
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QCOMPARE(window.objectName(), S("MainWindow"));
    QCOMPARE(window.windowTitle(), S("Tandemo"));
    QVERIFY(!window.windowIcon().isNull());
    // Resizable, never smaller than it was designed.
    QVERIFY(window.maximumSize().width() > window.minimumSize().width());
    QVERIFY(window.minimumWidth() >= MainWindow::kClassicSize.width());
    QVERIFY(window.minimumHeight() >= MainWindow::kClassicSize.height());
  }

  void texts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");  // "&" before the access key
    QTest::newRow("first group") << S("firstGroup") << S("&First ITC File");
    QTest::newRow("second group") << S("secondGroup") << S("&Second ITC File");
    QTest::newRow("output group") << S("outputGroup") << S("&Output ITC File");
    QTest::newRow("first Browse") << S("firstBrowseButton") << S("Browse");
    QTest::newRow("second Browse") << S("secondBrowseButton") << S("Browse");
    QTest::newRow("output Browse") << S("outputBrowseButton") << S("Browse");
    QTest::newRow("compensation") << S("compensateBox")
                                  << S("&Compensate for DP offset between data sets.");
    QTest::newRow("header") << S("headerBox") << S("&Update the header to list every injection.");
    QTest::newRow("Do It") << S("doItButton") << S("&Do It");
  }

  void texts() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QWidget* w = window.findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    if (auto* group = qobject_cast<QGroupBox*>(w)) QCOMPARE(group->title(), text);
    if (auto* button = qobject_cast<QAbstractButton*>(w)) QCOMPARE(button->text(), text);
  }

  // A screen reader tells the three Browse buttons apart.
  void browseButtonsSayWhichFile() {
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QCOMPARE(Child<QWidget>(window, "firstBrowseButton")->accessibleName(),
             S("Browse for the first ITC file"));
    QCOMPARE(Child<QWidget>(window, "secondBrowseButton")->accessibleName(),
             S("Browse for the second ITC file"));
    QCOMPARE(Child<QWidget>(window, "outputBrowseButton")->accessibleName(),
             S("Browse for the output ITC file"));
  }

  void tooltips() {
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(Child<QWidget>(window, "compensateBox")
                ->toolTip()
                .contains(S("when the second portion's baseline starts at a different DP level "
                            "than the first portion ended")));
    QVERIFY(Child<QWidget>(window, "headerBox")
                ->toolTip()
                .contains(S("when the analysis software should list and read every injection")));
    PathBox* box = Box(window, S("firstFileBox"));
    box->setText(S("/data/titrations/2026/lysozyme/part1.itc"));
    QCOMPARE(box->toolTip(), S("/data/titrations/2026/lysozyme/part1.itc"));
  }

  void startUp_data() {
    QTest::addColumn<bool>("showTips");
    QTest::newRow("tips wanted") << true;
    QTest::newRow("tips switched off") << false;
  }

  void startUp() {
    QFETCH(bool, showTips);
    TipWindow::SetShowAtStart(showTips);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    bool mainVisibleWithTip = true;
    WhenModal<TipWindow> closeTip(
        [&](TipWindow* tip) {
          mainVisibleWithTip = window.isVisible();
          QTest::keyClick(tip, Qt::Key_Return);
        },
        showTips ? 10000 : 300);
    window.Start();
    QCOMPARE(closeTip.fired(), showTips);
    if (showTips) QVERIFY(!mainVisibleWithTip);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(QApplication::focusWidget(), Child<QWidget>(window, "firstFileBox"));
    QVERIFY(notifier.events.empty());
  }

  void tabOrder() {
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, S("/a.itc"), S("/b.itc"), S("/c.itc"));  // so that Do It takes the focus
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 9; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited,
             (QStringList{S("firstFileBox"), S("firstBrowseButton"), S("secondFileBox"),
                          S("secondBrowseButton"), S("outputFileBox"), S("outputBrowseButton"),
                          S("compensateBox"), S("headerBox"), S("doItButton"), S("firstFileBox")}));
  }

  void accessKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("focused");
    QTest::newRow("Alt+F") << int(Qt::Key_F) << S("firstFileBox");
    QTest::newRow("Alt+S") << int(Qt::Key_S) << S("secondFileBox");
    QTest::newRow("Alt+O") << int(Qt::Key_O) << S("outputFileBox");
  }

  void accessKeys() {
    QFETCH(int, key);
    QFETCH(QString, focused);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    Child<QWidget>(window, "doItButton")->setFocus();  // somewhere else first
    QTest::keyClick(&window, Qt::Key(key), Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget()->objectName(), focused);
  }

  void altDStartsTheMerge() {
    Workspace ws;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, ws.first, ws.second, ws.output);
    QTest::keyClick(&window, Qt::Key_D, Qt::AltModifier);
    // An access key presses its button as a click that shows: a moment later.
    QTRY_COMPARE(notifier.kinds(), (QStringList{S("inform"), S("beep")}));
    QCOMPARE(ReadBytes(ws.output), kMerged);
  }

  // Do It can be pressed only with three paths; the hint line says what is missing.
  void doItNeedsThreePaths_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("hint");
    QTest::newRow("all empty") << QString() << QString() << QString() << false
                               << S("Choose the first file, the second file and the output file");
    QTest::newRow("output missing")
        << S("/a.itc") << S("/b.itc") << QString() << false << S("Choose the output file");
    QTest::newRow("first missing")
        << QString() << S("/b.itc") << S("/c.itc") << false << S("Choose the first file");
    QTest::newRow("inputs missing") << QString() << QString() << S("/c.itc") << false
                                    << S("Choose the first file and the second file");
    QTest::newRow("blanks are no path")
        << S("/a.itc") << S("  ") << S("/c.itc") << false << S("Choose the second file");
    QTest::newRow("all three") << S("/a.itc") << S("/b.itc") << S("/c.itc") << true << QString();
  }

  void doItNeedsThreePaths() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, output);
    QFETCH(bool, enabled);
    QFETCH(QString, hint);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, first, second, output);
    auto* doIt = Child<QPushButton>(window, "doItButton");
    QCOMPARE(doIt->isEnabled(), enabled);
    QVERIFY(doIt->isDefault());
    QCOMPARE(window.hint(), hint);
    QCOMPARE(Child<QLabel>(window, "hintLabel")->text(), hint);
    // Enter presses Do It only when it can be pressed.
    Child<QWidget>(window, "firstFileBox")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(window.isMerging() || !notifier.events.empty(), enabled);
    QVERIFY(MergeEnds(window));
  }

  // Enter anywhere a control does not take it for itself presses Do It.
  void enterPressesDoIt_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::newRow("first box, Return") << S("firstFileBox") << int(Qt::Key_Return);
    QTest::newRow("output box, Enter") << S("outputFileBox") << int(Qt::Key_Enter);
    QTest::newRow("switch") << S("compensateBox") << int(Qt::Key_Return);
    QTest::newRow("Do It itself") << S("doItButton") << int(Qt::Key_Return);
  }

  void enterPressesDoIt() {
    QFETCH(QString, focus);
    QFETCH(int, key);
    Workspace ws;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, ws.first, ws.second, ws.output);
    window.findChild<QWidget*>(focus)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    QVERIFY(MergeEnds(window));
    QCOMPARE(notifier.kinds(), (QStringList{S("inform"), S("beep")}));
    QCOMPARE(ReadBytes(ws.output), kMerged);
    QVERIFY(chooser.calls.empty());
  }

  void enterOnAFocusedBrowsePressesIt() {
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    Child<QWidget>(window, "secondBrowseButton")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(chooser.calls.size(), std::size_t{1});
    QCOMPARE(chooser.calls[0].request.title, S("Select the Second ITC File..."));
  }

  void browseAsks_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<DialogKind>("kind");
    QTest::addColumn<QString>("title");
    QTest::newRow("first") << S("firstBrowseButton") << DialogKind::Open
                           << S("Select the First ITC File...");
    QTest::newRow("second") << S("secondBrowseButton") << DialogKind::Open
                            << S("Select the Second ITC File...");
    QTest::newRow("output") << S("outputBrowseButton") << DialogKind::Save
                            << S("Select the Output ITC File...");
  }

  // What each dialog is asked, and what Cancel and a choice do to the box.
  void browseAsks() {
    QFETCH(QString, button);
    QFETCH(DialogKind, kind);
    QFETCH(QString, title);
    QTemporaryDir dir;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    auto* browse = window.findChild<QPushButton*>(button);
    QLineEdit* box = window.findChildren<QLineEdit*>().at(0);
    for (QLineEdit* b : window.findChildren<QLineEdit*>()) {
      if (b->parentWidget() == browse->parentWidget()) box = b;
    }
    const QString held = dir.filePath(S("held.itc"));
    box->setText(held);

    chooser.answers = {std::nullopt};  // Cancel
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(chooser.calls.size(), std::size_t{1});
    const FileRequest& request = chooser.calls[0].request;
    QCOMPARE(request.kind, kind);
    QCOMPARE(request.title, title);
    QCOMPARE(request.nameFilters, QStringList{S("ITC Files (*.itc)")});
    QCOMPARE(request.defaultSuffix, S("itc"));
    QCOMPARE(request.startFolder, dir.path());
    QCOMPARE(request.suggestedName, S("held.itc"));
    QCOMPARE(chooser.calls[0].parent, &window);
    QCOMPARE(box->text(), held);  // Cancel leaves the box as it was

    const QString chosen = dir.filePath(S("chosen.itc"));
    chooser.answers = {chosen};
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(box->text(), chosen);
    QVERIFY(notifier.events.empty());
  }

  // Where a dialog opens: the folder of the box's path, the last folder used, home.
  void startFolder_data() {
    QTest::addColumn<QString>("inBox");     // "<dir>" stands for a folder that exists
    QTest::addColumn<QString>("lastUsed");  // "<last>" for another folder that exists
    QTest::addColumn<QString>("expected");
    QTest::newRow("the box's folder") << S("<dir>/run1.itc") << S("<last>") << S("<dir>");
    QTest::newRow("the box's folder, file not there yet")
        << S("<dir>/new.itc") << QString() << S("<dir>");
    QTest::newRow("box empty: the last folder") << QString() << S("<last>") << S("<last>");
    QTest::newRow("box's folder gone: the last folder")
        << S("<dir>/gone/run1.itc") << S("<last>") << S("<last>");
    QTest::newRow("relative path: the last folder") << S("run1.itc") << S("<last>") << S("<last>");
    QTest::newRow("nothing: home") << QString() << QString() << S("<home>");
    QTest::newRow("last folder gone: home") << QString() << S("<last>/gone") << S("<home>");
    QTest::newRow("a ~ path: its folder in home") << S("~/run1.itc") << S("<last>") << S("<home>");
  }

  void startFolder() {
    QFETCH(QString, inBox);
    QFETCH(QString, lastUsed);
    QFETCH(QString, expected);
    QTemporaryDir dir, last;
    auto fill = [&](QString s) {
      s.replace(S("<dir>"), dir.path());
      s.replace(S("<last>"), last.path());
      s.replace(S("<home>"), QDir::homePath());
      return s;
    };
    // The last folder comes from the settings, as a previous run left it.
    if (!lastUsed.isEmpty()) QSettings().setValue(S("files/lastFolder"), fill(lastUsed));
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    Box(window, S("secondFileBox"))->setText(fill(inBox));
    QTest::mouseClick(Child<QPushButton>(window, "secondBrowseButton"), Qt::LeftButton);
    QCOMPARE(chooser.calls.size(), std::size_t{1});
    QCOMPARE(chooser.calls[0].request.startFolder, fill(expected));
    QVERIFY(chooser.calls[0].request.startFolder != QCoreApplication::applicationDirPath());
  }

  // The folder of a chosen file is where the next dialog opens, in this run and the next.
  void lastFolderIsRemembered() {
    QTemporaryDir dir;
    const QString chosen = dir.filePath(S("run1.itc"));
    {
      ScriptedChooser chooser;
      RecordingNotifier notifier;
      MainWindow window(chooser, notifier);
      QVERIFY(ShowReady(window));
      chooser.answers = {chosen};
      QTest::mouseClick(Child<QPushButton>(window, "firstBrowseButton"), Qt::LeftButton);
      QCOMPARE(Box(window, S("firstFileBox"))->text(), chosen);
    }
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow nextRun(chooser, notifier);
    QVERIFY(ShowReady(nextRun));
    QTest::mouseClick(Child<QPushButton>(nextRun, "outputBrowseButton"), Qt::LeftButton);
    QCOMPARE(chooser.calls.size(), std::size_t{1});
    QCOMPARE(chooser.calls[0].request.startFolder, dir.path());
  }

  // With the output box empty, the output dialog suggests a name beside the first file.
  void outputNameIsSuggested() {
    QTemporaryDir dir;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    Box(window, S("firstFileBox"))->setText(dir.filePath(S("lysozyme-part1.itc")));
    QTest::mouseClick(Child<QPushButton>(window, "outputBrowseButton"), Qt::LeftButton);
    QCOMPARE(chooser.calls.size(), std::size_t{1});
    QCOMPARE(chooser.calls[0].request.startFolder, dir.path());
    QCOMPARE(chooser.calls[0].request.suggestedName, S("lysozyme-part1-merged.itc"));
  }

  // A file:// URL or a ~/ path, typed, pasted or dropped as text, becomes the file it names.
  void urlsAndHomePathsBecomeFiles_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString home = QDir::homePath();
    QTest::newRow("typed URL") << S("typed") << S("file:///data/run%201.itc")
                               << S("/data/run 1.itc");
    QTest::newRow("typed ~") << S("typed") << S("~/itc/run1.itc") << home + S("/itc/run1.itc");
    QTest::newRow("pasted URL") << S("pasted") << S("file:///data/run1.itc\n")
                                << S("/data/run1.itc");
    QTest::newRow("pasted ~") << S("pasted") << S("~/run1.itc") << home + S("/run1.itc");
    QTest::newRow("dropped URL text")
        << S("dropped") << S("file:///data/run1.itc") << S("/data/run1.itc");
    QTest::newRow("dropped ~") << S("dropped") << S("~/run1.itc") << home + S("/run1.itc");
    QTest::newRow("plain path stays") << S("typed") << S("/data/run1.itc") << S("/data/run1.itc");
  }

  void urlsAndHomePathsBecomeFiles() {
    QFETCH(QString, how);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    PathBox* box = Box(window, S("firstFileBox"));
    box->setFocus();
    if (how == QLatin1String("typed")) {
      QTest::keyClicks(box, text);
      QTest::keyClick(box, Qt::Key_Tab);  // leaving the box ends the typing
    } else if (how == QLatin1String("pasted")) {
      QGuiApplication::clipboard()->setText(text);
      QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    } else {
      QMimeData mime;
      mime.setText(text);
      QVERIFY(Drop(box, mime));
    }
    QCOMPARE(box->text(), expected);
    QCOMPARE(box->path(), expected);
  }

  // The merge reads the file a typed URL names, even while the box still shows the URL.
  void doItTakesAUrlAsItsFile() {
    Workspace ws;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, QUrl::fromLocalFile(ws.first).toString(), ws.second, ws.output);
    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    QVERIFY(MergeEnds(window));
    QCOMPARE(notifier.kinds(), (QStringList{S("inform"), S("beep")}));
    QCOMPARE(ReadBytes(ws.output), kMerged);
    QCOMPARE(Box(window, S("firstFileBox"))->text(), ws.first);
  }

  // Two portions dropped together go in the order their runs started, where every
  // file says when; else by name as people read it.
  void runOrder_data() {
    QTest::addColumn<QStringList>("dropped");  // names in a temporary folder, or whole paths
    QTest::addColumn<QStringList>("started");  // each file's run start; empty: no files are made
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("already in order")
        << QStringList{S("part1.itc"), S("part2.itc")} << QStringList{}
        << QStringList{S("part1.itc"), S("part2.itc")};
    QTest::newRow("reversed") << QStringList{S("part2.itc"), S("part1.itc")} << QStringList{}
                              << QStringList{S("part1.itc"), S("part2.itc")};
    QTest::newRow("numbers as numbers")
        << QStringList{S("run10.itc"), S("run9.itc")} << QStringList{}
        << QStringList{S("run9.itc"), S("run10.itc")};
    QTest::newRow("by name, not folder")
        << QStringList{S("/a/b.itc"), S("/z/a.itc")} << QStringList{}
        << QStringList{S("/z/a.itc"), S("/a/b.itc")};
    QTest::newRow("run start over name")
        << QStringList{S("a.itc"), S("b.itc")}
        << QStringList{S("10/30/2019 8:10:00 AM"), S("10/29/2019 5:59:16 PM")}
        << QStringList{S("b.itc"), S("a.itc")};
    // 1 PM is later than 11 AM on a 12-hour clock.
    QTest::newRow("afternoon after morning")
        << QStringList{S("x.itc"), S("y.itc")}
        << QStringList{S("10/29/2019 1:00:00 PM"), S("10/29/2019 11:00:00 AM")}
        << QStringList{S("y.itc"), S("x.itc")};
    QTest::newRow("one file without a start: by name")
        << QStringList{S("b.itc"), S("a.itc")} << QStringList{S("10/29/2019 5:59:16 PM"), QString()}
        << QStringList{S("a.itc"), S("b.itc")};
  }

  void runOrder() {
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, started);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    QStringList paths;
    for (qsizetype i = 0; i < dropped.size(); ++i) {
      paths << (dropped[i].startsWith(u'/') ? dropped[i] : dir.filePath(dropped[i]));
      if (started.isEmpty()) continue;
      const QByteArray software =
          started[i].isEmpty() ? QByteArray("% MicroCalITC Ver: 1.29.32")
                               : "% MicroCalITC Ver: 1.29.32 Run time:" + started[i].toUtf8();
      WriteBytes(paths.back(),
                 "$ITC\r\n" + software + "\r\n@0\r\n1.00,1\r\n2.00,1\r\n@1,1,2\r\n3.00,1\r\n");
    }
    QStringList expectedPaths;
    for (const QString& name : expected)
      expectedPaths << (name.startsWith(u'/') ? name : dir.filePath(name));
    QCOMPARE(OrderByRun(paths), expectedPaths);
  }

  // Files dropped together fill the first and second box in run order, wherever they land.
  void droppedFilesFillTheBoxes_data() {
    QTest::addColumn<QString>("target");  // a box, or "window" for beside the boxes
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("hint");
    const QString more =
        S("The window joins two files; 3 were dropped and the first two taken "
          "(tandemo-merge joins more). ");
    QTest::newRow("one onto the output box")
        << S("outputFileBox") << 1 << QString() << QString() << S("b.itc")
        << S("Choose the first file and the second file");
    QTest::newRow("one onto the second box")
        << S("secondFileBox") << 1 << QString() << S("b.itc") << QString()
        << S("Choose the first file and the output file");
    QTest::newRow("one beside the boxes")
        << S("window") << 1 << S("b.itc") << QString() << QString()
        << S("Choose the second file and the output file");
    QTest::newRow("two onto the first box") << S("firstFileBox") << 2 << S("a.itc") << S("b.itc")
                                            << QString() << S("Choose the output file");
    QTest::newRow("two onto the output box") << S("outputFileBox") << 2 << S("a.itc") << S("b.itc")
                                             << QString() << S("Choose the output file");
    QTest::newRow("two beside the boxes")
        << S("window") << 2 << S("a.itc") << S("b.itc") << QString() << S("Choose the output file");
    QTest::newRow("three") << S("secondFileBox") << 3 << S("a.itc") << S("b.itc") << QString()
                           << more + S("Choose the output file");
  }

  void droppedFilesFillTheBoxes() {
    QFETCH(QString, target);
    QFETCH(int, count);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, output);
    QFETCH(QString, hint);
    QTemporaryDir dir;
    // Dropped in the order c, b, a (as a file manager may hand them over).
    QStringList files;
    for (const char* name : {"b.itc", "a.itc", "c.itc"}) {
      WriteBytes(dir.filePath(S(name)), kFirst);
    }
    if (count == 1) files = {dir.filePath(S("b.itc"))};
    if (count == 2) files = {dir.filePath(S("b.itc")), dir.filePath(S("a.itc"))};
    if (count == 3)
      files = {dir.filePath(S("c.itc")), dir.filePath(S("b.itc")), dir.filePath(S("a.itc"))};
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    std::unique_ptr<QMimeData> mime(FileDrag(files));
    QWidget* where =
        target == QLatin1String("window") ? static_cast<QWidget*>(&window) : Box(window, target);
    QVERIFY(Drop(where, *mime));
    auto inDir = [&](const QString& name) { return name.isEmpty() ? name : dir.filePath(name); };
    QCOMPARE(Box(window, S("firstFileBox"))->text(), inDir(first));
    QCOMPARE(Box(window, S("secondFileBox"))->text(), inDir(second));
    QCOMPARE(Box(window, S("outputFileBox"))->text(), inDir(output));
    QCOMPARE(window.hint(), hint);
    QVERIFY(chooser.calls.empty());
    // The folder of the drop is where the next dialog opens.
    QTest::mouseClick(Child<QPushButton>(window, "outputBrowseButton"), Qt::LeftButton);
    QCOMPARE(chooser.calls.at(0).request.startFolder, dir.path());
  }

  // Only the names are taken: the drop is a copy or a link, never a move.
  void dropIsNeverAMove_data() {
    QTest::addColumn<Qt::DropActions>("offered");
    QTest::addColumn<Qt::KeyboardModifiers>("keys");
    QTest::addColumn<Qt::DropAction>("taken");
    const Qt::DropActions all = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QTest::newRow("any") << all << Qt::KeyboardModifiers() << Qt::CopyAction;
    QTest::newRow("move proposed")
        << all << Qt::KeyboardModifiers(Qt::ShiftModifier) << Qt::CopyAction;
    QTest::newRow("link offered only")
        << Qt::DropActions(Qt::LinkAction) << Qt::KeyboardModifiers() << Qt::LinkAction;
  }

  void dropIsNeverAMove() {
    QFETCH(Qt::DropActions, offered);
    QFETCH(Qt::KeyboardModifiers, keys);
    QFETCH(Qt::DropAction, taken);
    Workspace ws;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    std::unique_ptr<QMimeData> mime(FileDrag({ws.second}));
    Qt::DropAction action = Qt::IgnoreAction;
    QVERIFY(Drop(Box(window, S("firstFileBox")), *mime, offered, keys, &action));
    QCOMPARE(action, taken);
    QCOMPARE(Box(window, S("firstFileBox"))->text(), ws.second);
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
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    QMimeData mime;
    mime.setUrls({url});
    QVERIFY(!Drop(Box(window, S("firstFileBox")), mime, offered));
    QVERIFY(!Drop(&window, mime, offered));
    QCOMPARE(Box(window, S("firstFileBox"))->text(), QString());
    QCOMPARE(QSettings().value(S("files/lastFolder")), QVariant());
  }

  void longPathIsElidedInTheMiddle() {
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    PathBox* box = Box(window, S("secondFileBox"));
    const QString path = S("/data/titrations/") + QString(120, u'x') + S("/lysozyme-part2.itc");
    box->setText(path);
    Child<QWidget>(window, "firstFileBox")->setFocus();
    const QString shown = box->shownText();
    QVERIFY2(shown.contains(QChar(0x2026)), qPrintable(shown));
    QVERIFY(shown.startsWith(S("/data/")));
    QVERIFY(shown.endsWith(S("part2.itc")));
    QCOMPARE(box->text(), path);  // the box still holds the whole path
    QCOMPARE(box->toolTip(), path);
    // Being edited, the box shows the path as it is.
    box->setFocus();
    QCOMPARE(box->shownText(), path);
  }

  // At a 16 pt font, as at the default one, every control gets the room its text
  // needs and no two overlap; wider, the path boxes take the extra width.
  void layoutHoldsAtLargeFonts_data() {
    QTest::addColumn<qreal>("points");  // 0: the default font
    QTest::newRow("default font") << qreal(0);
    QTest::newRow("11 pt") << qreal(11);
    QTest::newRow("16 pt") << qreal(16);
  }

  void layoutHoldsAtLargeFonts() {
    QFETCH(qreal, points);
    const QFont before = QApplication::font();
    if (points > 0) {
      QFont large = before;
      large.setPointSizeF(points);
      QApplication::setFont(large);
    }
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    FillPaths(window, S("/a.itc"), S("/b.itc"), QString());  // a hint to show
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QApplication::setFont(before);

    auto checkFit = [&]() -> QString {
      const QList<QWidget*> controls = Controls(window);
      for (QWidget* c : controls) {
        const QSize room = c->size();
        const QSize needed =
            c->hasHeightForWidth()
                ? QSize(c->minimumSizeHint().width(), c->heightForWidth(room.width()))
                : (qobject_cast<QLineEdit*>(c)
                       ? QSize(c->minimumSizeHint().width(), c->sizeHint().height())
                       : c->sizeHint());
        if (room.width() < needed.width() || room.height() < needed.height()) {
          return c->objectName() + S(" has %1x%2, needs %3x%4")
                                       .arg(room.width())
                                       .arg(room.height())
                                       .arg(needed.width())
                                       .arg(needed.height());
        }
        const QRect inWindow(c->mapTo(&window, QPoint(0, 0)), room);
        if (!window.rect().contains(inWindow)) return c->objectName() + S(" is outside the window");
        for (QWidget* other : controls) {
          const QRect otherRect(other->mapTo(&window, QPoint(0, 0)), other->size());
          if (other != c && inWindow.intersects(otherRect)) {
            return c->objectName() + S(" overlaps ") + other->objectName();
          }
        }
      }
      // Each group's title fits above its box.
      for (QGroupBox* group : window.findChildren<QGroupBox*>()) {
        if (group->width() < group->minimumSizeHint().width() ||
            group->height() < group->minimumSizeHint().height()) {
          return group->objectName() + S(" is cut");
        }
      }
      return {};
    };
    QCOMPARE(checkFit(), QString());

    // Resized, the window takes the new size and the boxes stretch with it.
    const int boxWidth = Box(window, S("firstFileBox"))->width();
    window.resize(window.width() + 200, window.height() + 50);
    QTRY_COMPARE(Box(window, S("firstFileBox"))->width(), boxWidth + 200);
    QCOMPARE(checkFit(), QString());
    // Never smaller than the classic size, nor than its controls need.
    window.resize(100, 100);
    QTRY_VERIFY(window.width() >= MainWindow::kClassicSize.width());
    QVERIFY(window.height() >= MainWindow::kClassicSize.height());
    QCOMPARE(checkFit(), QString());
  }

  // Both boxes naming readable files fill the preview: typed, after the typing
  // has paused; chosen with Browse, at once.
  void previewFillsWhenBothPathsAreSet() {
    QTemporaryDir dir;
    const QString first = dir.filePath(S("first.itc"));
    const QString second = dir.filePath(S("second.itc"));
    QVERIFY(WriteGeneratedPair(first, second, {}));
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    PreviewPanel* preview = window.preview();
    QVERIFY(preview != nullptr);
    QVERIFY(window.isAncestorOf(preview));
    QCOMPARE(preview->state(), PreviewPanel::State::WaitingForFiles);
    // The preview sits below the classic controls.
    const int controlsBottom = Child<QWidget>(window, "statusArea")->geometry().bottom();
    QVERIFY(preview->mapTo(&window, QPoint(0, 0)).y() > controlsBottom);

    Box(window, S("firstFileBox"))->setText(first);
    QVERIFY(!PreviewSettles(window, 2 * MainWindow::kPreviewDelayMs));
    QCOMPARE(preview->state(), PreviewPanel::State::WaitingForFiles);  // the second is missing

    QTest::keyClicks(Box(window, S("secondFileBox")), second);
    // Typed: nothing is worked out until the typing pauses.
    QCOMPARE(preview->state(), PreviewPanel::State::WaitingForFiles);
    QVERIFY(PreviewSettles(window));
    QCOMPARE(preview->state(), PreviewPanel::State::Shown);
    QCOMPARE(preview->shown().trace->portions.size(), std::size_t{2});
    QCOMPARE(preview->shown().heats.size(), std::size_t{18});  // 10 + 8 injections
    QCOMPARE(preview->shown().settings.columns.size(), std::size_t{2});
    QCOMPARE(preview->settings()->item(static_cast<int>(SettingsRow::Numbering), 1)->text(),
             S("11-18"));
    QVERIFY(preview->savePictureButton()->isEnabled());
    QVERIFY(preview->zoomOnJoinButton()->isEnabled());

    // Browse asks at once; a file that cannot be read is waited for, not previewed.
    chooser.answers.push_back(dir.filePath(S("missing.itc")));
    QTest::mouseClick(Child<QPushButton>(window, "secondBrowseButton"), Qt::LeftButton);
    QCOMPARE(preview->state(), PreviewPanel::State::WaitingForFiles);
    chooser.answers.push_back(second);
    QTest::mouseClick(Child<QPushButton>(window, "secondBrowseButton"), Qt::LeftButton);
    QCOMPARE(preview->state(), PreviewPanel::State::Working);
    QVERIFY(PreviewSettles(window));
    QCOMPARE(preview->state(), PreviewPanel::State::Shown);
    // The same file chosen again is read again (it may hold new data); typed again, it is not.
    chooser.answers.push_back(second);
    QTest::mouseClick(Child<QPushButton>(window, "secondBrowseButton"), Qt::LeftButton);
    QCOMPARE(preview->state(), PreviewPanel::State::Working);
    QVERIFY(PreviewSettles(window));
    Box(window, S("secondFileBox"))->setText(second + S("x"));
    Box(window, S("secondFileBox"))->setText(second);
    QTest::qWait(2 * MainWindow::kPreviewDelayMs);
    QCOMPARE(preview->state(), PreviewPanel::State::Shown);

    // The panel's own controls work in the window.
    const QString picture = dir.filePath(S("join.png"));
    preview->SetPictureChooser(
        [&picture](QWidget*) { return std::make_optional(std::make_pair(picture, QString())); });
    QTest::mouseClick(preview->savePictureButton(), Qt::LeftButton);
    QVERIFY(!QImage(picture).isNull());
  }

  void previewFollowsTheCompensateBox() {
    QTemporaryDir dir;
    const QString first = dir.filePath(S("first.itc"));
    const QString second = dir.filePath(S("second.itc"));
    QVERIFY(WriteGeneratedPair(first, second, {}));
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, first, second, QString());
    QVERIFY(PreviewSettles(window));
    const PreviewPanel* preview = window.preview();
    QCOMPARE(preview->state(), PreviewPanel::State::Shown);
    QVERIFY(!preview->shown().input.compensate);
    const auto appendedDp = [preview] {
      const tandemo::Trace& trace = *preview->shown().trace;
      return trace.points.at(trace.portions.at(1).firstPoint).dp;
    };
    const double uncompensated = appendedDp();

    // A toggle asks at once; the appended portion is drawn with the offset taken off.
    Child<QCheckBox>(window, "compensateBox")->click();
    QCOMPARE(preview->state(), PreviewPanel::State::Working);
    QVERIFY(PreviewSettles(window));
    QVERIFY(preview->shown().input.compensate);
    const tandemo::JoinPoint& join = preview->shown().trace->joins.at(0);
    QVERIFY(join.compensated);
    QVERIFY(join.offset.has_value());
    QVERIFY(std::fabs(uncompensated - *join.offset - appendedDp()) < 1e-4);

    Child<QCheckBox>(window, "compensateBox")->click();
    QVERIFY(PreviewSettles(window));
    QVERIFY(!preview->shown().input.compensate);
    QCOMPARE(appendedDp(), uncompensated);
  }

  // A second portion at another temperature: the table marks the value in place.
  void previewMarksASettingThatDiffers() {
    QTemporaryDir dir;
    const QString first = dir.filePath(S("first.itc"));
    const QString second = dir.filePath(S("second.itc"));
    tandemo::itcgen::TitrationSettings warmer;
    warmer.temperature = 30.0;
    QVERIFY(WriteGeneratedPair(first, second, warmer));
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, first, second, QString());
    QVERIFY(PreviewSettles(window));
    const QTableWidget* table = window.preview()->settings();
    const QTableWidgetItem* differs = table->item(static_cast<int>(SettingsRow::Temperature), 1);
    QCOMPARE(differs->text(), S("30"));
    QVERIFY(differs->font().bold());
    QVERIFY(differs->background().style() != Qt::NoBrush);
    QCOMPARE(differs->toolTip(),
             S("target temperature: 25 in the first file, 30 in the second file"));
    const QTableWidgetItem* same = table->item(static_cast<int>(SettingsRow::CellVolume), 1);
    QVERIFY(!same->font().bold());
    QVERIFY(table->isVisible());
  }

  // A later file's last line cut before its first comma is left out; "Done" says so.
  void doneBoxNamesALineLeftOut() {
    Workspace ws;
    WriteBytes(ws.second, kSecond + "15.0\r\n");
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, ws.first, ws.second, ws.output);
    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    QVERIFY(MergeEnds(window));
    QCOMPARE(ReadBytes(ws.output), kMerged);
    QCOMPARE(notifier.events.size(), std::size_t{2});
    QCOMPARE(notifier.events[0].kind, S("inform"));
    QVERIFY2(notifier.events[0].text.endsWith(
                 S("\nnote: second file, line 7: the last data line (\"15.0\") is cut short and "
                   "was left out")),
             qPrintable(notifier.events[0].text));
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
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    chooser.answers = {ws.first, ws.second, ws.output};
    QTest::mouseClick(Child<QPushButton>(window, "firstBrowseButton"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(window, "secondBrowseButton"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(window, "outputBrowseButton"), Qt::LeftButton);
    if (compensate) QTest::mouseClick(Child<QCheckBox>(window, "compensateBox"), Qt::LeftButton);
    QCOMPARE(Child<QCheckBox>(window, "compensateBox")->isChecked(), compensate);

    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    QVERIFY(MergeEnds(window));
    QCOMPARE(ReadBytes(ws.output), expected);
    // "Done" first, then what was written and the remarks, as tandemo-merge words
    // them; the beep only once the box has been dismissed.
    const QString done =
        S("Done\n\nWrote 10 lines to \"%1\": 1 injection appended (numbered 2)%2.\n"
          "not compared: target temperature, concentrations and cell volume: the first file's "
          "header is not of the usual form (its second line is not \"$\" and a whole number)")
            .arg(ws.output, compensate ? S(", DP offset 1.25") : QString());
    QCOMPARE(notifier.events.size(), std::size_t{2});
    QCOMPARE(notifier.events[0],
             (RecordingNotifier::Event{S("inform"), S("Tandemo"), done, QString()}));
    QCOMPARE(notifier.events[1].kind, S("beep"));
    // Nothing else is left behind, and the inputs are as they were.
    QCOMPARE(Listing(ws.dir.path()),
             (QStringList{S("first.itc"), S("merged.itc"), S("second.itc")}));
    QCOMPARE(ReadBytes(ws.first), kFirst);
    QCOMPARE(ReadBytes(ws.second), kSecond);
    // The window keeps its paths and switches, enabled again: another click merges again.
    QVERIFY(Child<QWidget>(window, "firstFileBox")->isEnabled());
    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    QVERIFY(MergeEnds(window));
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
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, ws.first, ws.second, ws.output);
    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    QVERIFY(MergeEnds(window));

    QVERIFY(!notifier.events.empty());
    QCOMPARE(notifier.events[0],
             (RecordingNotifier::Event{
                 S("ask"), S("Tandemo"),
                 S("These files may not belong to one titration:\n\n"
                   "target temperature: 25 in the first file, 30 in the second file"
                   "\n\nMerge them anyway?"),
                 QString(), false}));
    if (answer) {
      QCOMPARE(notifier.kinds(), (QStringList{S("ask"), S("inform"), S("beep")}));
      QVERIFY(ReadBytes(ws.output).startsWith(ReadBytes(ws.first)));
    } else {
      QCOMPARE(notifier.kinds(), QStringList{S("ask")});
      QVERIFY(!QFileInfo::exists(ws.output));  // No writes nothing
      QCOMPARE(Listing(ws.dir.path()), (QStringList{S("first.itc"), S("second.itc")}));
      QVERIFY(Child<QWidget>(window, "doItButton")->isEnabled());
    }
  }

  // An output that is one of the inputs replaces original data: only when the user says so.
  void doItAsksBeforeReplacingAnInput_data() {
    QTest::addColumn<bool>("answer");
    QTest::newRow("No") << false;
    QTest::newRow("Yes") << true;
  }

  void doItAsksBeforeReplacingAnInput() {
    QFETCH(bool, answer);
    Workspace ws;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    notifier.answers = {answer};
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, ws.first, ws.second, ws.first);
    QVERIFY(PreviewSettles(window));
    QCOMPARE(window.preview()->shown().trace->portions.at(0).endPoint, std::size_t{4});
    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    QVERIFY(MergeEnds(window));

    QVERIFY(!notifier.events.empty());
    QCOMPARE(notifier.events[0],
             (RecordingNotifier::Event{
                 S("ask"), S("Tandemo"),
                 S("The output file is the first input file. Replace the original data?"),
                 QString(), false}));
    if (answer) {
      QCOMPARE(notifier.kinds(), (QStringList{S("ask"), S("inform"), S("beep")}));
      QCOMPARE(ReadBytes(ws.first), kMerged);
      // The preview shows the first file as it now is: its 4 data lines and the 2 appended to it.
      QVERIFY(PreviewSettles(window));
      QCOMPARE(window.preview()->state(), PreviewPanel::State::Shown);
      const tandemo::TracePortion& first = window.preview()->shown().trace->portions.at(0);
      QCOMPARE(first.endPoint - first.firstPoint, std::size_t{6});
    } else {
      QCOMPARE(notifier.kinds(), QStringList{S("ask")});
      QCOMPARE(ReadBytes(ws.first), kFirst);  // No keeps the original
    }
    QCOMPARE(ReadBytes(ws.second), kSecond);
    QCOMPARE(Listing(ws.dir.path()), (QStringList{S("first.itc"), S("second.itc")}));
  }

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
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, ws.first, ws.second, ws.output);
    if (update) QTest::mouseClick(Child<QCheckBox>(window, "headerBox"), Qt::LeftButton);
    QCOMPARE(Child<QCheckBox>(window, "headerBox")->isChecked(), update);
    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    QVERIFY(MergeEnds(window));
    QCOMPARE(notifier.kinds(), (QStringList{S("inform"), S("beep")}));

    const QList<QByteArray> lines = ReadBytes(ws.output).split('\n');
    QCOMPARE(lines[1], update ? QByteArray("$ 2 \r") : QByteArray("$ 1 \r"));
    QCOMPARE(lines[10], QByteArray("$ 10 , 20 , 600 , 2 \r"));
    QCOMPARE(lines[11], update ? QByteArray("$ 12 , 24 , 600 , 2 \r") : QByteArray("# 0 \r"));
    QVERIFY(ReadBytes(ws.output).endsWith("@2,10.0000,20.0\r\n10.00,5.2\r\n12.00,5.3\r\n"));
  }

  void doItReportsAFailure_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("compensate");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("where");
    QTest::newRow("first file missing") << S("missing.itc") << S("second.itc") << false
                                        << S("File not found (53)") << S("first file");
    QTest::newRow("second file missing") << S("first.itc") << S("missing.itc") << false
                                         << S("File not found (53)") << S("second file");
    QTest::newRow("first file without a time step") << S("short.itc") << S("second.itc") << false
                                                    << S("No time step (1001)") << S("first file");
    QTest::newRow("no baseline to compensate from")
        << S("first.itc") << S("nobase.itc") << true << S("No baseline (1002)") << S("second file");
    QTest::newRow("same run twice") << S("first.itc") << S("first.itc") << false
                                    << S("Same run twice (1005)") << S("second file");
    QTest::newRow("a second file that is no ITC data")
        << S("first.itc") << S("note.itc") << false << S("No injection (1006)") << S("second file");
  }

  void doItReportsAFailure() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, compensate);
    QFETCH(QString, title);
    QFETCH(QString, where);
    Workspace ws;
    WriteBytes(ws.dir.filePath(S("short.itc")), "$ITC\r\n@0,1,2\r\n10,5.0\r\n");
    WriteBytes(ws.dir.filePath(S("nobase.itc")), "$ITC\r\n@1,2,3\r\n5,7.5\r\n10,8.0\r\n");
    WriteBytes(ws.dir.filePath(S("note.itc")), "Remember to order more syringes.\n");
    WriteBytes(ws.output, kOldOutput);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, ws.dir.filePath(first), ws.dir.filePath(second), ws.output);
    Child<QCheckBox>(window, "compensateBox")->setChecked(compensate);
    const QStringList before = Listing(ws.dir.path());

    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    QVERIFY(MergeEnds(window));
    QCOMPARE(notifier.kinds(), QStringList{S("warn")});  // no "Done", no beep
    const RecordingNotifier::Event& box = notifier.events[0];
    QCOMPARE(box.title, S("Tandemo"));
    QCOMPARE(box.text, title);
    QVERIFY2(box.detail.startsWith(where), qPrintable(box.detail));
    // The engine's whole message is on the box: its title as the main text, the rest below.
    const tandemo::MergeOutcome outcome =
        tandemo::RunMerge(QFile::encodeName(ws.dir.filePath(first)).toStdString(),
                          QFile::encodeName(ws.dir.filePath(second)).toStdString(),
                          QFile::encodeName(ws.output).toStdString(), compensate);
    QVERIFY(!outcome.ok());
    QCOMPARE(box.text + S(": ") + box.detail.section(S("\n\n"), 0, 0),
             QString::fromStdString(outcome.error->Message()));
    // Output untouched, nothing left behind, the window usable again.
    QCOMPARE(ReadBytes(ws.output), kOldOutput);
    QCOMPARE(Listing(ws.dir.path()), before);
    QVERIFY(Child<QWidget>(window, "firstFileBox")->isEnabled());
    QVERIFY(Child<QWidget>(window, "doItButton")->isEnabled());
  }

  // The merge runs on a worker thread: while a large pair is merged the window's
  // event loop keeps turning, and its controls are disabled.
  void mergeRunsOffTheWindowThread() {
    QTemporaryDir dir;
    const QString first = dir.filePath(S("large1.itc"));
    const QString second = dir.filePath(S("large2.itc"));
    {
      tandemo::itcgen::TitrationSettings settings;
      QVERIFY(!tandemo::itcgen::FitToSize(settings, 120'000'000));
      tandemo::itcgen::FileSink a, b;
      QVERIFY(a.Open(QFile::encodeName(first).toStdString()));
      QVERIFY(b.Open(QFile::encodeName(second).toStdString()));
      tandemo::itcgen::WritePair(settings, a, b);
      QVERIFY(a.Close() && b.Close());
    }
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    std::atomic<QThread*> mergeThread{nullptr};
    window.setMergeFunction([&](const tandemo::MergeRequest& request,
                                const tandemo::Inspection& inspection, MergeControl&) {
      mergeThread = QThread::currentThread();
      return tandemo::RunMerge(request, inspection);
    });
    FillPaths(window, first, second, dir.filePath(S("merged.itc")));

    int turnsWhileMerging = 0;
    QTimer counter;
    connect(&counter, &QTimer::timeout, this,
            [&] { turnsWhileMerging += window.isMerging() ? 1 : 0; });
    counter.start(5);
    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    // The click has returned while the merge goes on.
    QVERIFY(window.isMerging());
    QVERIFY(!Child<QWidget>(window, "firstFileBox")->isEnabled());
    QVERIFY(!Child<QWidget>(window, "compensateBox")->isEnabled());
    QVERIFY(!Child<QWidget>(window, "doItButton")->isEnabled());
    QVERIFY(MergeEnds(window));
    QVERIFY2(turnsWhileMerging > 0, "the window's event loop stood still during the merge");
    QVERIFY(mergeThread.load() != nullptr);
    QVERIFY(mergeThread.load() != window.thread());
    QCOMPARE(notifier.kinds(), (QStringList{S("inform"), S("beep")}));
    QVERIFY(QFileInfo(dir.filePath(S("merged.itc"))).size() > 100'000'000);
  }

  // A merge still running after half a second shows a progress bar and Cancel; the
  // bar turns until the merge reports its progress, then shows it. Cancel reaches
  // the merge, and a merge that stops at it is reported in the hint line, without a
  // box, the output as it was.
  void slowMergeShowsProgressAndCancel() {
    Workspace ws;
    WriteBytes(ws.output, kOldOutput);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    std::atomic<bool> reportNow{false};
    std::atomic<bool> sawCancel{false};
    // Stands for the engine: reports a quarter read when told, then stops at the
    // cancel request with a failure, as a cancelled merge does.
    window.setMergeFunction([&](const tandemo::MergeRequest&, const tandemo::Inspection&,
                                MergeControl& control) {
      QDeadlineTimer limit(20000);
      while (!reportNow && !limit.hasExpired()) QThread::msleep(5);
      control.Report(250, 1000);
      while (!control.cancelRequested && !limit.hasExpired()) QThread::msleep(5);
      sawCancel = control.cancelRequested.load();
      tandemo::MergeOutcome stopped;
      stopped.error = tandemo::MergeError{tandemo::ErrorCode::PathFileAccess, {}, 0, "cancelled"};
      return stopped;
    });
    FillPaths(window, ws.first, ws.second, ws.output);
    auto* progress = Child<QProgressBar>(window, "progressBar");
    auto* cancel = Child<QPushButton>(window, "cancelButton");
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    QVERIFY(window.isMerging());
    QVERIFY(!progress->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(progress->isVisible(), 5000);
    QVERIFY(clock.elapsed() >= MainWindow::kProgressDelayMs);
    QVERIFY(cancel->isVisible() && cancel->isEnabled());
    QCOMPARE(progress->maximum(), 0);  // no figure from the merge yet: a bar that turns

    reportNow = true;
    QTRY_VERIFY(progress->maximum() > 0);
    QCOMPARE(progress->value(), progress->maximum() / 4);

    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY(!cancel->isEnabled());
    QCOMPARE(cancel->text(), S("Cancelling..."));
    QVERIFY(MergeEnds(window));
    QVERIFY(sawCancel);
    QVERIFY(notifier.events.empty());
    QCOMPARE(window.hint(), S("Cancelled: nothing was written; the output file is as it was."));
    QVERIFY(!progress->isVisible());
    QCOMPARE(ReadBytes(ws.output), kOldOutput);
    QCOMPARE(Listing(ws.dir.path()),
             (QStringList{S("first.itc"), S("merged.itc"), S("second.itc")}));
    QVERIFY(Child<QWidget>(window, "doItButton")->isEnabled());
  }

  // Esc during a merge is Cancel.
  void escCancels() {
    Workspace ws;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    std::atomic<bool> sawCancel{false};
    window.setMergeFunction([&](const tandemo::MergeRequest&, const tandemo::Inspection&,
                                MergeControl& control) {
      QDeadlineTimer limit(20000);
      while (!control.cancelRequested && !limit.hasExpired()) QThread::msleep(5);
      sawCancel = control.cancelRequested.load();
      tandemo::MergeOutcome stopped;
      stopped.error = tandemo::MergeError{tandemo::ErrorCode::PathFileAccess, {}, 0, "cancelled"};
      return stopped;
    });
    FillPaths(window, ws.first, ws.second, ws.output);
    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    QTRY_VERIFY(window.isMerging() && !window.hint().startsWith(S("Comparing")));
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(MergeEnds(window));
    QVERIFY(sawCancel);
    QVERIFY(notifier.events.empty());
    QVERIFY(!QFileInfo::exists(ws.output));
  }

  // Cancel reaches the engine itself: the second file is a pipe the test feeds, so
  // the merge is under way (its scratch file made) when Cancel is pressed, and it
  // stops at the next line, writing nothing and leaving no scratch file.
  void cancelStopsTheEngine() {
    Workspace ws;
    WriteBytes(ws.output, kOldOutput);
    const QString pipe = ws.dir.filePath(S("second.fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    FillPaths(window, ws.first, pipe, ws.output);
    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    int fd = -1;
    QDeadlineTimer limit(20000);
    while (fd < 0 && !limit.hasExpired()) {  // no reader yet gives ENXIO
      QCoreApplication::processEvents();
      fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
      if (fd < 0) QThread::msleep(2);
    }
    QVERIFY2(fd >= 0, "the merge never opened the second file");
    const QByteArray baseline = "@0\r\n0,7.0\r\n";
    QCOMPARE(::write(fd, baseline.constData(), static_cast<size_t>(baseline.size())),
             static_cast<ssize_t>(baseline.size()));
    QTRY_COMPARE(Listing(ws.dir.path()).size(),
                 qsizetype{5});  // the scratch file beside the output
    QTest::keyClick(&window, Qt::Key_Escape);
    const QByteArray more = "@1,2,3\r\n5,7.5\r\n";
    QCOMPARE(::write(fd, more.constData(), static_cast<size_t>(more.size())),
             static_cast<ssize_t>(more.size()));
    ::close(fd);
    QVERIFY(MergeEnds(window));
    QVERIFY(notifier.events.empty());
    QCOMPARE(window.hint(), S("Cancelled: nothing was written; the output file is as it was."));
    QCOMPARE(ReadBytes(ws.output), kOldOutput);
    QCOMPARE(Listing(ws.dir.path()),
             (QStringList{S("first.itc"), S("merged.itc"), S("second.fifo"), S("second.itc")}));
  }

  // Closing the window during a merge waits for the merge to stop, then closes.
  void closingDuringAMergeWaitsForIt() {
    Workspace ws;
    ScriptedChooser chooser;
    RecordingNotifier notifier;
    MainWindow window(chooser, notifier);
    QVERIFY(ShowReady(window));
    std::atomic<bool> release{false};
    window.setMergeFunction([&](const tandemo::MergeRequest& request,
                                const tandemo::Inspection& inspection, MergeControl&) {
      QDeadlineTimer limit(20000);
      while (!release && !limit.hasExpired()) QThread::msleep(5);
      return tandemo::RunMerge(request, inspection);
    });
    FillPaths(window, ws.first, ws.second, ws.output);
    QTest::mouseClick(Child<QPushButton>(window, "doItButton"), Qt::LeftButton);
    QVERIFY(window.isMerging());
    window.close();
    QVERIFY(window.isVisible());
    release = true;
    QVERIFY(MergeEnds(window));
    QTRY_VERIFY(!window.isVisible());
    QVERIFY(notifier.events.empty());
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
