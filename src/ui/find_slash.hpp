// The folder part of a path as the file dialogs use it: positions count from 1 in
// 16-bit signed integers, and 0 means that no separator was found.
#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>

namespace tandemo::ui {

enum class SlashFailure : std::uint8_t {
  None,
  Overflow,  // a separator at or beyond position 32767: it or the next start does not fit in 16 bits
  BadStart,  // a start position below 1
};

struct SlashPosition {
  std::int16_t position = 0;
  SlashFailure failure = SlashFailure::None;
  bool ok() const { return failure == SlashFailure::None; }
};

// True for the characters that separate folders on this platform: "/" here,
// "\" and "/" on Windows.
bool IsFolderSeparator(QChar c);

// The position of the last separator in strPath at or after intCurPos (from 1),
// or 0 when there is none.
SlashPosition FindSlash(std::int16_t intCurPos, QStringView strPath);

// The path up to and including its last separator; empty for an empty path or a
// bare name. Unset when FindSlash fails on the path.
struct StartFolder {
  QString folder;
  SlashFailure failure = SlashFailure::None;
  bool ok() const { return failure == SlashFailure::None; }
};
StartFolder StartFolderOf(const QString& strPath);

}  // namespace tandemo::ui
