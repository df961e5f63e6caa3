// tandemo: the desktop program. Its start-up object is the main window.
#include <QApplication>

#include "ui/form1.hpp"
#include "ui/icons.hpp"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tandemo"));
  QApplication::setApplicationVersion(QStringLiteral(TANDEMO_VERSION));
  // Ties the window to the installed .desktop entry and so to its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tandemo.Tandemo"));
  QApplication::setWindowIcon(tandemo::ui::MakeIcon(tandemo::ui::IconKind::Program));

  tandemo::ui::Form1 form;
  form.Start();
  return QApplication::exec();
}
