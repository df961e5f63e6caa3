// Build step: draws an icon from its SVG source as a PNG of the given size, for
// the icon theme of the installed application.
//   tandemo-export-icon program|tip SIZE OUT.png      (SIZE from 16 to 1024)
#include <QGuiApplication>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "ui/icons.hpp"

int main(int argc, char** argv) {
  constexpr int kSmallest = 16;
  constexpr int kLargest = 1024;
  int size = 0;
  const bool sizeRead =
      argc == 4 && std::from_chars(argv[2], argv[2] + std::strlen(argv[2]), size).ec == std::errc{};
  if (!sizeRead || size < kSmallest || size > kLargest ||
      (std::strcmp(argv[1], "program") != 0 && std::strcmp(argv[1], "tip") != 0)) {
    std::fputs("usage: tandemo-export-icon program|tip SIZE OUT.png   (SIZE from 16 to 1024)\n",
               stderr);
    return 2;
  }
  QGuiApplication app(argc, argv);  // Qt's painting wants an application object
  const auto kind = std::strcmp(argv[1], "tip") == 0 ? tandemo::ui::IconKind::Tip
                                                     : tandemo::ui::IconKind::Program;
  const QImage image = tandemo::ui::IconImage(kind, size);
  if (image.isNull() || !image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "tandemo-export-icon: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
