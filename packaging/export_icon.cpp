// Build step: writes one image of an icon as PNG, for the icon theme of the
// installed application.   tandemo-export-icon program|tip SIZE OUT.png
#include <cstdio>
#include <cstring>
#include <string>

#include "ui/icons.hpp"

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "program") != 0 && std::strcmp(argv[1], "tip") != 0) ||
      (std::strcmp(argv[2], "16") != 0 && std::strcmp(argv[2], "32") != 0)) {
    std::fputs("usage: tandemo-export-icon program|tip 16|32 OUT.png\n", stderr);
    return 2;
  }
  const auto kind = std::strcmp(argv[1], "tip") == 0 ? tandemo::ui::IconKind::Tip
                                                     : tandemo::ui::IconKind::Program;
  const QImage image = tandemo::ui::IconImage(kind, std::stoi(argv[2]));
  if (image.isNull() || !image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "tandemo-export-icon: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
