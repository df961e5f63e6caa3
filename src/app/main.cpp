// tandemo: the desktop program. Its start-up object is the main window.
#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

#include "ui/icons.hpp"
#include "ui/main_window.hpp"

namespace {

// TANDEMO_PALETTE=dark shows the windows in the Fusion style with a dark palette,
// as under a dark desktop theme; the screenshot script uses it.
void ApplyPaletteFromEnvironment() {
  if (qEnvironmentVariable("TANDEMO_PALETTE") != QStringLiteral("dark")) return;
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QPalette dark;
  const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230), disabled(128, 128, 128);
  dark.setColor(QPalette::Window, window);
  dark.setColor(QPalette::WindowText, text);
  dark.setColor(QPalette::Base, base);
  dark.setColor(QPalette::AlternateBase, window);
  dark.setColor(QPalette::ToolTipBase, base);
  dark.setColor(QPalette::ToolTipText, text);
  dark.setColor(QPalette::Text, text);
  dark.setColor(QPalette::Button, window);
  dark.setColor(QPalette::ButtonText, text);
  dark.setColor(QPalette::BrightText, Qt::red);
  dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
  dark.setColor(QPalette::HighlightedText, Qt::black);
  dark.setColor(QPalette::Link, QColor(100, 170, 240));
  dark.setColor(QPalette::PlaceholderText, disabled);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    dark.setColor(QPalette::Disabled, role, disabled);
  }
  QApplication::setPalette(dark);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Tandemo"));
  QApplication::setApplicationName(QStringLiteral("Tandemo"));
  QApplication::setApplicationVersion(QStringLiteral(TANDEMO_VERSION));
  // Ties the window to the installed .desktop entry and so to its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tandemo.Tandemo"));
  QApplication::setWindowIcon(tandemo::ui::MakeIcon(tandemo::ui::IconKind::Program));
  ApplyPaletteFromEnvironment();

  tandemo::ui::MainWindow window;
  window.Start();
  return QApplication::exec();
}
