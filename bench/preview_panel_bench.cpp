// tandemo-preview-panel-bench: the time from the second path being set in the main
// window (chosen with Browse, with the first already there) to the preview data
// being ready and to the preview being on screen; beside it the work off the
// window's thread (BuildPreview) alone and the panel without the window. Runs on
// the offscreen platform unless another is chosen. Reports figures; judges nothing.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "ui/file_chooser.hpp"
#include "ui/main_window.hpp"
#include "ui/notifier.hpp"
#include "ui/preview_data.hpp"
#include "ui/preview_panel.hpp"

namespace {

// Browse answers with the second file at once, as a user who picked it.
class GivenFile final : public tandemo::ui::FileChooser {
 public:
  explicit GivenFile(QString path) : path_(std::move(path)) {}
  std::optional<QString> Choose(const tandemo::ui::FileRequest&, QWidget*) override {
    return path_;
  }

 private:
  QString path_;
};

class Silent final : public tandemo::ui::Notifier {
 public:
  void Inform(QWidget*, const QString&, const QString&) override {}
  void Warn(QWidget*, const QString&, const QString&, const QString&) override {}
  bool Ask(QWidget*, const QString&, const QString&, bool) override { return false; }
  void Beep() override {}
};

// Runs the event loop until the panel has said it is done; false after 10 minutes.
bool WaitForPreview(tandemo::ui::PreviewPanel& panel) {
  QEventLoop loop;
  bool done = false;
  QObject::connect(&panel, &tandemo::ui::PreviewPanel::finished, &loop, [&] {
    done = true;
    loop.quit();
  });
  QTimer::singleShot(600000, &loop, &QEventLoop::quit);
  if (!done) loop.exec();
  return done;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QStandardPaths::setTestModeEnabled(true);  // the window's remembered folder goes to a test place
  QStringList args = app.arguments().mid(1);
  int repeat = 5;
  bool compensate = true;
  for (qsizetype i = 0; i < args.size();) {
    if (args[i] == QLatin1String("--repeat") && i + 1 < args.size()) {
      repeat = std::max(1, args[i + 1].toInt());
      args.remove(i, 2);
    } else if (args[i] == QLatin1String("--no-compensate")) {
      compensate = false;
      args.remove(i);
    } else {
      ++i;
    }
  }
  if (args.size() != 2) {
    std::fputs("Usage: tandemo-preview-panel-bench [--repeat R] [--no-compensate] FIRST SECOND\n",
               stderr);
    return 2;
  }

  std::vector<double> building, ready, onScreen, windowReady, windowOnScreen;
  for (int run = 0; run < repeat; ++run) {
    QElapsedTimer clock;
    clock.start();
    const tandemo::ui::PreviewData data =
        tandemo::ui::BuildPreview({QFile::encodeName(args[0]).toStdString(),
                                   QFile::encodeName(args[1]).toStdString(), compensate});
    building.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    if (data.error) {
      std::fprintf(stderr, "tandemo-preview-panel-bench: %s\n", data.error->Message().c_str());
      return 1;
    }

    tandemo::ui::PreviewPanel panel;
    panel.resize(1000, 720);
    panel.show();
    clock.restart();
    panel.Request(args[0], args[1], compensate);
    if (!WaitForPreview(panel)) {
      std::fputs("tandemo-preview-panel-bench: no preview within 10 minutes\n", stderr);
      return 1;
    }
    ready.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    panel.repaint();  // drawn, not just laid out
    onScreen.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);

    // The window: the first path is there, the second is chosen with Browse.
    GivenFile chooser(args[1]);
    Silent notifier;
    tandemo::ui::MainWindow window(chooser, notifier);
    window.findChild<QLineEdit*>(QStringLiteral("firstFileBox"))->setText(args[0]);
    window.findChild<QCheckBox*>(QStringLiteral("compensateBox"))->setChecked(compensate);
    window.show();
    QCoreApplication::processEvents();
    clock.restart();
    window.findChild<QPushButton*>(QStringLiteral("secondBrowseButton"))->click();
    if (!WaitForPreview(*window.preview())) {
      std::fputs("tandemo-preview-panel-bench: no preview in the window within 10 minutes\n",
                 stderr);
      return 1;
    }
    windowReady.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    window.repaint();
    windowOnScreen.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
  }
  std::printf("median of %d runs, compensation %s:\n", repeat, compensate ? "on" : "off");
  std::printf(
      "  BuildPreview alone, on this thread                                              %9.1f "
      "ms\n",
      Median(building));
  std::printf(
      "  request to preview laid out (finished)                                          %9.1f "
      "ms\n",
      Median(ready));
  std::printf(
      "  request to preview drawn on screen                                              %9.1f "
      "ms\n",
      Median(onScreen));
  std::printf(
      "  in the window: second path set (Browse) to preview data ready (finished)        %9.1f "
      "ms\n",
      Median(windowReady));
  std::printf(
      "  in the window: second path set (Browse) to preview drawn on screen              %9.1f "
      "ms\n",
      Median(windowOnScreen));
  return 0;
}
