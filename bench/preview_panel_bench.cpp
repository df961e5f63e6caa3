// tandemo-preview-panel-bench: the time from a pair of paths being handed to the
// preview panel to the preview being on screen, as the window will see it: the
// work off the window's thread (BuildPreview) and the drawing on it. Runs on the
// offscreen platform unless another is chosen. Reports figures; judges nothing.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/preview_data.hpp"
#include "ui/preview_panel.hpp"

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
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
    std::fputs("Usage: tandemo-preview-panel-bench [--repeat R] [--no-compensate] FIRST SECOND\n", stderr);
    return 2;
  }

  std::vector<double> building, ready, onScreen;
  for (int run = 0; run < repeat; ++run) {
    QElapsedTimer clock;
    clock.start();
    const tandemo::ui::PreviewData data = tandemo::ui::BuildPreview(
        {QFile::encodeName(args[0]).toStdString(), QFile::encodeName(args[1]).toStdString(), compensate});
    building.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    if (data.error) {
      std::fprintf(stderr, "tandemo-preview-panel-bench: %s\n", data.error->Message().c_str());
      return 1;
    }

    tandemo::ui::PreviewPanel panel;
    panel.resize(1000, 720);
    panel.show();
    QEventLoop loop;
    bool done = false;
    QObject::connect(&panel, &tandemo::ui::PreviewPanel::finished, &loop, [&] {
      done = true;
      loop.quit();
    });
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    clock.restart();
    panel.Request(args[0], args[1], compensate);
    if (!done) loop.exec();
    if (!done) {
      std::fputs("tandemo-preview-panel-bench: no preview within 10 minutes\n", stderr);
      return 1;
    }
    ready.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    panel.repaint();  // drawn, not just laid out
    onScreen.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
  }
  std::printf("median of %d runs, compensation %s:\n", repeat, compensate ? "on" : "off");
  std::printf("  BuildPreview alone, on this thread                                              %9.1f ms\n",
              Median(building));
  std::printf("  request to preview laid out (finished)                                          %9.1f ms\n",
              Median(ready));
  std::printf("  request to preview drawn on screen                                              %9.1f ms\n",
              Median(onScreen));
  return 0;
}
