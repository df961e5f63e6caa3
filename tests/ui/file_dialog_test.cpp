// cdlFiles: its six settings on a QFileDialog, and the option flags' effects on
// what the chooser returns, with the real dialog driven from inside its loop.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "ui/file_dialog.hpp"
#include "ui_test_support.hpp"

using tandemo::ui::Configure;
using tandemo::ui::DialogKind;
using tandemo::ui::DialogSettings;
using tandemo::ui::FileDialogControl;
using tandemo::ui::NameFiltersOf;
using tandemo::ui::QtFileChooser;
using tandemo::ui::WithDefaultExt;
using tandemo::ui::testing::RecordingNotifier;
using tandemo::ui::testing::ScriptedChooser;
using tandemo::ui::testing::WhenModal;
using tandemo::ui::testing::WriteBytes;
namespace flags = tandemo::ui::dialog_flags;

namespace {

QString S(const char* text) { return QString::fromUtf8(text); }

DialogSettings Settings(std::uint32_t optionFlags, const QString& dir) {
  return {S("itc"), S("ITC Files (*.itc)|*.itc"), QString(), S("Pick one"), optionFlags, dir};
}

// Types a name into the dialog's name box and presses Enter there, as a user
// would; the dialog's Open or Save button takes it, if that button is enabled.
void TypeAndAccept(QFileDialog* dialog, const QString& name) {
  auto* box = dialog->findChild<QLineEdit*>(S("fileNameEdit"));
  QVERIFY(box);
  // Typed with the focus in the box, as a user types: the dialog then drops a
  // file preselected in its list in favour of the typed name.
  QVERIFY(QTest::qWaitForWindowActive(dialog));
  box->setFocus();
  box->selectAll();
  QTest::keyClicks(box, name);
  QTest::keyClick(box, Qt::Key_Return);
}

}  // namespace

class FileDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // The widget dialog on every platform, so that the test can type into it.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  }

  void flagValues() {
    QCOMPARE(flags::kOpen, std::uint32_t{0x201004});
    QCOMPARE(flags::kSave, std::uint32_t{0x2806});
  }

  void nameFilters_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("the program's filter") << S("ITC Files (*.itc)|*.itc")
                                          << QStringList{S("ITC Files (*.itc)")};
    QTest::newRow("description without patterns") << S("ITC Files|*.itc")
                                                  << QStringList{S("ITC Files (*.itc)")};
    QTest::newRow("two entries, several patterns")
        << S("Data|*.itc;*.ITC|All files (*.*)|*.*")
        << QStringList{S("Data (*.itc *.ITC)"), S("All files (*.*)")};
    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("description without a pattern") << S("ITC Files") << QStringList();
  }

  void nameFilters() {
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QCOMPARE(NameFiltersOf(filter), expected);
  }

  void defaultExt_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no extension") << S("/d/run1") << S("/d/run1.itc");
    QTest::newRow("has one") << S("/d/run1.itc") << S("/d/run1.itc");
    QTest::newRow("another one") << S("/d/run1.txt") << S("/d/run1.txt");
    QTest::newRow("dot in the folder only") << S("/d.x/run1") << S("/d.x/run1.itc");
    QTest::newRow("empty") << QString() << QString();
  }

  void defaultExt() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(WithDefaultExt(path, S("itc")), expected);
  }

  void configure_data() {
    QTest::addColumn<DialogKind>("kind");
    QTest::addColumn<quint32>("optionFlags");
    QTest::addColumn<int>("acceptMode");
    QTest::addColumn<int>("fileMode");
    QTest::newRow("open") << DialogKind::Open << quint32(flags::kOpen)
                          << int(QFileDialog::AcceptOpen) << int(QFileDialog::ExistingFile);
    QTest::newRow("save") << DialogKind::Save << quint32(flags::kSave)
                          << int(QFileDialog::AcceptSave) << int(QFileDialog::AnyFile);
  }

  void configure() {
    QFETCH(DialogKind, kind);
    QFETCH(quint32, optionFlags);
    QFETCH(int, acceptMode);
    QFETCH(int, fileMode);
    QTemporaryDir dir;
    QFileDialog dialog;
    Configure(dialog, kind, Settings(optionFlags, dir.path()));
    QCOMPARE(dialog.windowTitle(), S("Pick one"));
    QCOMPARE(int(dialog.acceptMode()), acceptMode);
    QCOMPARE(int(dialog.fileMode()), fileMode);
    QCOMPARE(dialog.defaultSuffix(), S("itc"));
    QCOMPARE(dialog.nameFilters(), QStringList{S("ITC Files (*.itc)")});
    QCOMPARE(dialog.directory().absolutePath(), dir.path());
  }

  void controlKeepsItsNameAfterACancel() {
    ScriptedChooser chooser;
    FileDialogControl cdlFiles(chooser, nullptr);
    QCOMPARE(cdlFiles.objectName(), S("cdlFiles"));
    cdlFiles.settings.FileName = S("as set");
    chooser.answers = {std::nullopt, S("/d/chosen.itc")};
    cdlFiles.ShowOpen();
    QCOMPARE(cdlFiles.settings.FileName, S("as set"));
    cdlFiles.ShowSave();
    QCOMPARE(cdlFiles.settings.FileName, S("/d/chosen.itc"));
    QCOMPARE(chooser.calls.size(), std::size_t{2});
    QCOMPARE(chooser.calls[0].kind, DialogKind::Open);
    QCOMPARE(chooser.calls[1].kind, DialogKind::Save);
    QCOMPARE(chooser.calls[0].settings.FileName, S("as set"));
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
      TypeAndAccept(d, S("run1"));  // the default extension completes it
    });
    const auto chosen = chooser.Choose(DialogKind::Open, Settings(flags::kOpen, dir.path()), nullptr);
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
      dismissRefusal = std::make_unique<WhenModal<QMessageBox>>([](QMessageBox* m) { m->accept(); }, 2000);
      TypeAndAccept(d, S("missing.itc"));
      stayedOpen = d->isVisible();
      dismissRefusal.reset();
      d->reject();
    });
    const auto chosen = chooser.Choose(DialogKind::Open, Settings(flags::kOpen, dir.path()), nullptr);
    QVERIFY(act.fired() && !act.timedOut());
    QVERIFY(stayedOpen);
    QCOMPARE(chosen, std::nullopt);
  }

  void saveAsksBeforeCreating() {
    QTemporaryDir dir;
    RecordingNotifier notifier;
    notifier.answers = {true};
    QtFileChooser chooser(notifier);
    WhenModal<QFileDialog> act([&](QFileDialog* d) { TypeAndAccept(d, S("merged")); });
    const auto chosen = chooser.Choose(DialogKind::Save, Settings(flags::kSave, dir.path()), nullptr);
    QVERIFY(act.fired() && !act.timedOut());
    QCOMPARE(chosen, std::optional<QString>(dir.filePath(S("merged.itc"))));
    QCOMPARE(notifier.kinds(), QStringList{S("ask")});
    QVERIFY2(notifier.events[0].text.contains(S("create")), qPrintable(notifier.events[0].text));
    QCOMPARE(notifier.events[0].title, S("Pick one"));
  }

  void saveAsksBeforeReplacing() {
    QTemporaryDir dir;
    WriteBytes(dir.filePath(S("merged.itc")), "keep me");
    RecordingNotifier notifier;
    notifier.answers = {false, true};  // do not replace; then create another
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
    const auto chosen = chooser.Choose(DialogKind::Save, Settings(flags::kSave, dir.path()), nullptr);
    QVERIFY(act.fired() && again && again->fired() && !again->timedOut());
    QCOMPARE(notifier.kinds(), (QStringList{S("ask"), S("ask")}));
    QVERIFY(notifier.events[0].text.contains(S("replace")));
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
    const auto chosen = chooser.Choose(DialogKind::Save, Settings(flags::kSave, dir.path()), nullptr);
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
    const auto chosen = chooser.Choose(
        kind, Settings(kind == DialogKind::Open ? flags::kOpen : flags::kSave, dir.path()), nullptr);
    QVERIFY(act.fired());
    QCOMPARE(chosen, std::nullopt);
    QVERIFY(notifier.events.empty());
  }
};

QTEST_MAIN(FileDialogTest)
#include "file_dialog_test.moc"
