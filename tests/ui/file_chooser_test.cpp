// Choosing files: how text names a file, where a dialog starts, what it suggests,
// and QtFileChooser with the real dialog driven from inside its loop.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <memory>

#include "ui/file_chooser.hpp"
#include "ui_test_support.hpp"

using tandemo::test::RecordingNotifier;
using tandemo::test::WhenModal;
using tandemo::test::WriteBytes;
using tandemo::ui::Configure;
using tandemo::ui::DialogKind;
using tandemo::ui::DroppedFiles;
using tandemo::ui::FileRequest;
using tandemo::ui::HoldsPath;
using tandemo::ui::LocalPathOf;
using tandemo::ui::QtFileChooser;
using tandemo::ui::StartFolderFor;
using tandemo::ui::SuggestedOutputFor;
using tandemo::ui::WithDefaultSuffix;

Q_DECLARE_METATYPE(tandemo::ui::DialogKind)

namespace {

QString S(const char* text) { return QString::fromUtf8(text); }

FileRequest Request(DialogKind kind, const QString& dir) {
  FileRequest r;
  r.kind = kind;
  r.title = S("Pick one");
  r.nameFilters = {S("ITC Files (*.itc)")};
  r.defaultSuffix = S("itc");
  r.startFolder = dir;
  return r;
}

// Types a name into the dialog's name box and presses Enter there, as a user
// would; the dialog's Open or Save button takes it, if that button is enabled.
void TypeAndAccept(QFileDialog* dialog, const QString& name) {
  auto* box = dialog->findChild<QLineEdit*>(S("fileNameEdit"));
  QVERIFY(box);
  // Typed with the focus in the box, as a user types: the dialog then drops a
  // file preselected in its list in favour of the typed name.
  dialog->activateWindow();  // one shown right after another may not be made active by itself
  QVERIFY(QTest::qWaitForWindowActive(dialog));
  box->setFocus();
  box->selectAll();
  QTest::keyClicks(box, name);
  QTest::keyClick(box, Qt::Key_Return);
}

}  // namespace

class FileChooserTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // The widget dialog on every platform, so that the test can type into it.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  }

  void localPathOf_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");  // "<home>" stands for the home folder
    QTest::newRow("plain path") << S("/data/run1.itc") << S("/data/run1.itc");
    QTest::newRow("relative path") << S("run1.itc") << S("run1.itc");
    QTest::newRow("file URL") << S("file:///data/run1.itc") << S("/data/run1.itc");
    QTest::newRow("escaped blank") << S("file:///data/run%201.itc") << S("/data/run 1.itc");
    QTest::newRow("capital scheme") << S("FILE:///data/run1.itc") << S("/data/run1.itc");
    QTest::newRow("localhost") << S("file://localhost/data/run1.itc") << S("/data/run1.itc");
    QTest::newRow("URL with a line end") << S("file:///data/run1.itc\r\n") << S("/data/run1.itc");
    QTest::newRow("two URLs: the first") << S("file:///a.itc\nfile:///b.itc") << S("/a.itc");
    QTest::newRow("home") << S("~") << S("<home>");
    QTest::newRow("in home") << S("~/itc/run1.itc") << S("<home>/itc/run1.itc");
    QTest::newRow("another user's home stays") << S("~lab/run1.itc") << S("~lab/run1.itc");
    QTest::newRow("tilde inside stays") << S("/data/~/run1.itc") << S("/data/~/run1.itc");
    QTest::newRow("web address stays")
        << S("https://example.org/run1.itc") << S("https://example.org/run1.itc");
    QTest::newRow("remote file URL stays")
        << S("file://server/share/run1.itc") << S("file://server/share/run1.itc");
    QTest::newRow("blank stays") << S(" ") << S(" ");
  }

  void localPathOf() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    expected.replace(S("<home>"), QDir::homePath());
    QCOMPARE(LocalPathOf(text), expected);
  }

  void holdsPath_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("blanks") << S("   ") << false;
    QTest::newRow("a line end") << S("\n") << false;
    QTest::newRow("a name") << S("a.itc") << true;
    QTest::newRow("a URL") << S("file:///a.itc") << true;
  }

  void holdsPath() {
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(HoldsPath(text), expected);
  }

  void startFolderFor_data() {
    QTest::addColumn<QString>("box");  // "<dir>" an existing folder, "<last>" another
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("expected");
    QTest::newRow("file in the box") << S("<dir>/a.itc") << S("<last>") << S("<dir>");
    QTest::newRow("folder in the box") << S("<dir>") << S("<last>") << S("<dir>");
    QTest::newRow("URL in the box") << S("file://<dir>/a.itc") << S("<last>") << S("<dir>");
    QTest::newRow("box folder missing") << S("<dir>/x/a.itc") << S("<last>") << S("<last>");
    QTest::newRow("relative in the box") << S("a.itc") << S("<last>") << S("<last>");
    QTest::newRow("empty box") << QString() << S("<last>") << S("<last>");
    QTest::newRow("last folder relative") << QString() << S("data") << S("<home>");
    QTest::newRow("last folder missing") << QString() << S("<last>/x") << S("<home>");
    QTest::newRow("nothing") << QString() << QString() << S("<home>");
  }

  void startFolderFor() {
    QFETCH(QString, box);
    QFETCH(QString, last);
    QFETCH(QString, expected);
    QTemporaryDir dir, lastDir;
    auto fill = [&](QString s) {
      return s.replace(S("<dir>"), dir.path())
          .replace(S("<last>"), lastDir.path())
          .replace(S("<home>"), QDir::homePath());
    };
    QCOMPARE(StartFolderFor(fill(box), fill(last)), fill(expected));
  }

  void suggestedOutput_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("expected");
    QTest::newRow("beside the first")
        << S("/data/lysozyme-part1.itc") << S("/data/lysozyme-part1-merged.itc");
    QTest::newRow("last extension only")
        << S("/data/run.2026.itc") << S("/data/run.2026-merged.itc");
    QTest::newRow("no extension") << S("/data/run1") << S("/data/run1-merged.itc");
    QTest::newRow("URL") << S("file:///data/run1.itc") << S("/data/run1-merged.itc");
    QTest::newRow("no first file") << QString() << QString();
    QTest::newRow("a folder only") << S("/data/") << QString();
  }

  void suggestedOutput() {
    QFETCH(QString, first);
    QFETCH(QString, expected);
    QCOMPARE(SuggestedOutputFor(first), expected);
  }

  void droppedFiles() {
    QTemporaryDir dir;
    const QString a = dir.filePath(S("a.itc")), b = dir.filePath(S("b.itc"));
    WriteBytes(a, "x");
    WriteBytes(b, "x");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(b), QUrl(S("https://example.org/c.itc")),
                  QUrl::fromLocalFile(dir.path()), QUrl::fromLocalFile(a)});
    QCOMPARE(DroppedFiles(&mime), (QStringList{b, a}));  // in the order they came
    QCOMPARE(DroppedFiles(nullptr), QStringList());
  }

  void defaultSuffix_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no extension") << S("/d/run1") << S("/d/run1.itc");
    QTest::newRow("has one") << S("/d/run1.itc") << S("/d/run1.itc");
    QTest::newRow("another one") << S("/d/run1.txt") << S("/d/run1.txt");
    QTest::newRow("dot in the folder only") << S("/d.x/run1") << S("/d.x/run1.itc");
    QTest::newRow("empty") << QString() << QString();
  }

  void defaultSuffix() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(WithDefaultSuffix(path, S("itc")), expected);
  }

  void configure_data() {
    QTest::addColumn<DialogKind>("kind");
    QTest::addColumn<int>("acceptMode");
    QTest::addColumn<int>("fileMode");
    QTest::newRow("open") << DialogKind::Open << int(QFileDialog::AcceptOpen)
                          << int(QFileDialog::ExistingFile);
    QTest::newRow("save") << DialogKind::Save << int(QFileDialog::AcceptSave)
                          << int(QFileDialog::AnyFile);
  }

  void configure() {
    QFETCH(DialogKind, kind);
    QFETCH(int, acceptMode);
    QFETCH(int, fileMode);
    QTemporaryDir dir;
    QFileDialog dialog;
    FileRequest request = Request(kind, dir.path());
    request.suggestedName = S("run1.itc");
    request.options = QFileDialog::DontUseNativeDialog;
    Configure(dialog, request);
    QCOMPARE(dialog.windowTitle(), S("Pick one"));
    QCOMPARE(int(dialog.acceptMode()), acceptMode);
    QCOMPARE(int(dialog.fileMode()), fileMode);
    QCOMPARE(dialog.defaultSuffix(), S("itc"));
    QCOMPARE(dialog.nameFilters(), QStringList{S("ITC Files (*.itc)")});
    QCOMPARE(dialog.directory().absolutePath(), dir.path());
    QVERIFY(dialog.testOption(QFileDialog::DontUseNativeDialog));
    // The chooser asks about replacing itself, whichever dialog is shown.
    QVERIFY(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(dialog.findChild<QLineEdit*>(S("fileNameEdit"))->text(), S("run1.itc"));
  }

  void openTakesAnExistingFile() {
    QTemporaryDir dir;
    WriteBytes(dir.filePath(S("run1.itc")), "x");
    RecordingNotifier notifier;
    QtFileChooser chooser(notifier);
    bool modal = false;
    QString shownDir;
    WhenModal<QFileDialog> act([&](QFileDialog* d) {
      modal = d->isModal();
      shownDir = d->directory().absolutePath();
      TypeAndAccept(d, S("run1"));  // the default suffix completes it
    });
    const auto chosen = chooser.Choose(Request(DialogKind::Open, dir.path()), nullptr);
    QVERIFY(act.fired() && !act.timedOut());
    QVERIFY(modal);
    QCOMPARE(shownDir, dir.path());
    QCOMPARE(chosen, std::optional<QString>(dir.filePath(S("run1.itc"))));
    QVERIFY(notifier.events.empty());
  }

  void openRefusesAMissingFile() {
    QTemporaryDir dir;
    RecordingNotifier notifier;
    QtFileChooser chooser(notifier);
    bool stayedOpen = false;
    std::unique_ptr<WhenModal<QMessageBox>> dismissRefusal;
    WhenModal<QFileDialog> act([&](QFileDialog* d) {
      // The dialog may say why it refused in a box of its own.
      dismissRefusal =
          std::make_unique<WhenModal<QMessageBox>>([](QMessageBox* m) { m->accept(); }, 2000);
      TypeAndAccept(d, S("missing.itc"));
      stayedOpen = d->isVisible();
      dismissRefusal.reset();
      d->reject();
    });
    const auto chosen = chooser.Choose(Request(DialogKind::Open, dir.path()), nullptr);
    QVERIFY(act.fired() && !act.timedOut());
    QVERIFY(stayedOpen);
    QCOMPARE(chosen, std::nullopt);
  }

  // A new output file is taken as it is: no question about creating it.
  void saveTakesANewFileWithoutAsking() {
    QTemporaryDir dir;
    RecordingNotifier notifier;
    QtFileChooser chooser(notifier);
    WhenModal<QFileDialog> act([&](QFileDialog* d) { TypeAndAccept(d, S("merged")); });
    const auto chosen = chooser.Choose(Request(DialogKind::Save, dir.path()), nullptr);
    QVERIFY(act.fired() && !act.timedOut());
    QCOMPARE(chosen, std::optional<QString>(dir.filePath(S("merged.itc"))));
    QVERIFY(notifier.events.empty());
    QVERIFY(!QFileInfo::exists(dir.filePath(S("merged.itc"))));  // choosing writes nothing
  }

  void saveAsksBeforeReplacing() {
    QTemporaryDir dir;
    WriteBytes(dir.filePath(S("merged.itc")), "keep me");
    RecordingNotifier notifier;
    notifier.answers = {false};  // do not replace; then choose another
    QtFileChooser chooser(notifier);
    std::unique_ptr<WhenModal<QFileDialog>> again;
    QString nameShownAgain;
    WhenModal<QFileDialog> act([&](QFileDialog* d) {
      again = std::make_unique<WhenModal<QFileDialog>>([&](QFileDialog* d2) {
        nameShownAgain = d2->findChild<QLineEdit*>(S("fileNameEdit"))->text();
        TypeAndAccept(d2, S("other.itc"));
      });
      TypeAndAccept(d, S("merged.itc"));
    });
    const auto chosen = chooser.Choose(Request(DialogKind::Save, dir.path()), nullptr);
    QVERIFY(act.fired() && again && again->fired() && !again->timedOut());
    QCOMPARE(notifier.kinds(), QStringList{S("ask")});
    QCOMPARE(notifier.events[0].title, S("Pick one"));
    QCOMPARE(notifier.events[0].text, QDir::toNativeSeparators(dir.filePath(S("merged.itc"))) +
                                          S(" already exists.\nDo you want to replace it?"));
    QVERIFY(!notifier.events[0].yesIsDefault);  // Enter keeps the file
    QCOMPARE(nameShownAgain, S("merged.itc"));  // the refused name is offered again
    QCOMPARE(chosen.value_or(S("(nothing)")), dir.filePath(S("other.itc")));
  }

  void saveRefusesAMissingFolder() {
    QTemporaryDir dir;
    RecordingNotifier notifier;
    QtFileChooser chooser(notifier);
    std::unique_ptr<WhenModal<QFileDialog>> again;
    WhenModal<QFileDialog> act([&](QFileDialog* d) {
      again = std::make_unique<WhenModal<QFileDialog>>([](QFileDialog* d2) { d2->reject(); });
      TypeAndAccept(d, dir.filePath(S("no such folder/merged.itc")));
    });
    const auto chosen = chooser.Choose(Request(DialogKind::Save, dir.path()), nullptr);
    QVERIFY(act.fired() && again && again->fired());
    QCOMPARE(chosen, std::nullopt);
    QCOMPARE(notifier.kinds(), QStringList{S("warn")});
    QVERIFY(notifier.events[0].detail.contains(S("folder does not exist")));
    QVERIFY(!QFileInfo::exists(dir.filePath(S("no such folder"))));
  }

  void cancelReturnsNothing_data() {
    QTest::addColumn<DialogKind>("kind");
    QTest::newRow("open") << DialogKind::Open;
    QTest::newRow("save") << DialogKind::Save;
  }

  void cancelReturnsNothing() {
    QFETCH(DialogKind, kind);
    QTemporaryDir dir;
    RecordingNotifier notifier;
    QtFileChooser chooser(notifier);
    WhenModal<QFileDialog> act([](QFileDialog* d) { d->reject(); });
    const auto chosen = chooser.Choose(Request(kind, dir.path()), nullptr);
    QVERIFY(act.fired());
    QCOMPARE(chosen, std::nullopt);
    QVERIFY(notifier.events.empty());
  }
};

QTEST_MAIN(FileChooserTest)
#include "file_chooser_test.moc"
