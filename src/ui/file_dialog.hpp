// The window's file dialog control: six settings written before each display,
// an Open or a Save display, and the file name read back afterwards.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

class QFileDialog;
class QWidget;

namespace tandemo::ui {

class Notifier;

// Option flags, with the values of the classic open-file-name flags.
namespace dialog_flags {
inline constexpr std::uint32_t kOverwritePrompt = 0x2;     // confirm replacing an existing file
inline constexpr std::uint32_t kHideReadOnly = 0x4;        // no read-only check box
inline constexpr std::uint32_t kPathMustExist = 0x800;     // refuse names in a missing folder
inline constexpr std::uint32_t kFileMustExist = 0x1000;    // refuse names of missing files
inline constexpr std::uint32_t kCreatePrompt = 0x2000;     // confirm creating a new file
inline constexpr std::uint32_t kLongNames = 0x200000;      // long file names shown and returned
inline constexpr std::uint32_t kOpen = kHideReadOnly | kFileMustExist | kLongNames;  // 0x201004
inline constexpr std::uint32_t kSave =
    kOverwritePrompt | kHideReadOnly | kPathMustExist | kCreatePrompt;                // 0x2806
}  // namespace dialog_flags

enum class DialogKind { Open, Save };

struct DialogSettings {
  QString DefaultExt;   // added to a name typed without an extension
  QString Filter;       // "description|pattern|description|pattern..."
  QString FileName;     // the name shown when the dialog opens
  QString DialogTitle;
  std::uint32_t Flags = 0;
  QString InitDir;      // the folder shown first; empty leaves the choice to the chooser

  bool operator==(const DialogSettings&) const = default;
};

// Whatever shows the dialog: QFileDialog for the user, a script in tests.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // Modal over `parent`. The full path chosen, or nothing after a cancel.
  virtual std::optional<QString> Choose(DialogKind kind, const DialogSettings& settings,
                                        QWidget* parent) = 0;
};

// "ITC Files (*.itc)|*.itc" as Qt's name filters: ["ITC Files (*.itc)"]. Patterns
// separated by ";" become Qt's space-separated list.
QStringList NameFiltersOf(const QString& filter);

// `path` with "." + defaultExt added when its file name has no extension.
QString WithDefaultExt(const QString& path, const QString& defaultExt);

// Applies the settings to a dialog before it is shown.
void Configure(QFileDialog& dialog, DialogKind kind, const DialogSettings& settings);

// QFileDialog, with the option flags' checks and confirmations made after it
// closes, so that they hold for the platform's own dialogs too. A refused or
// unconfirmed name shows the dialog again with that name in it.
class QtFileChooser final : public FileChooser {
 public:
  explicit QtFileChooser(Notifier& notifier) : notifier_(notifier) {}
  std::optional<QString> Choose(DialogKind kind, const DialogSettings& settings,
                                QWidget* parent) override;

 private:
  Notifier& notifier_;
};

// cdlFiles. Keeps its settings between displays; after ShowOpen or ShowSave,
// FileName holds the full path chosen, or is as it was set after a cancel.
class FileDialogControl final : public QObject {
  Q_OBJECT

 public:
  FileDialogControl(FileChooser& chooser, QWidget* owner);

  DialogSettings settings;

  void ShowOpen() { Show(DialogKind::Open); }
  void ShowSave() { Show(DialogKind::Save); }

 private:
  void Show(DialogKind kind);

  FileChooser& chooser_;
  QWidget* owner_;
};

}  // namespace tandemo::ui
