#include "find_slash.hpp"

#include <limits>

namespace tandemo::ui {
namespace {

constexpr qsizetype kLargestPosition = std::numeric_limits<std::int16_t>::max();

// The 1-based position of the first separator at or after `from`, 0 if none.
qsizetype FirstSeparator(qsizetype from, QStringView path) {
  for (qsizetype i = from - 1; i < path.size(); ++i) {
    if (IsFolderSeparator(path[i])) return i + 1;
  }
  return 0;
}

}  // namespace

bool IsFolderSeparator(QChar c) {
#ifdef Q_OS_WIN
  return c == u'\\' || c == u'/';
#else
  return c == u'/';
#endif
}

SlashPosition FindSlash(std::int16_t intCurPos, QStringView strPath) {
  if (intCurPos < 1) return {0, SlashFailure::BadStart};
  // Each separator found restarts the search one place after it; the last one
  // found is the answer. A loop keeps the stack flat for paths full of separators.
  std::int16_t lastFound = 0;
  qsizetype start = intCurPos;
  for (;;) {
    const qsizetype p = FirstSeparator(start, strPath);
    if (p == 0) return {lastFound, SlashFailure::None};
    // p must fit in 16 bits, and so must the next start p + 1.
    if (p >= kLargestPosition) return {0, SlashFailure::Overflow};
    lastFound = static_cast<std::int16_t>(p);
    start = p + 1;
  }
}

StartFolder StartFolderOf(const QString& strPath) {
  const SlashPosition n = FindSlash(1, strPath);
  if (!n.ok()) return {QString(), n.failure};
  return {strPath.left(n.position), SlashFailure::None};
}

}  // namespace tandemo::ui
