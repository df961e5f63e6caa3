// Choosing files: what a file dialog is asked (title, filters, start folder, a
// suggested name), where it starts, and how typed, pasted or dropped text names a file.
#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <optional>

class QMimeData;
class QWidget;

namespace tandemo::ui {

class Notifier;

enum class DialogKind { Open, Save };

struct FileRequest {
  DialogKind kind = DialogKind::Open;
  QString title;
  QStringList nameFilters;  // Qt's own form: "ITC Files (*.itc)"
  QString defaultSuffix;    // added to a name typed without an extension
  QString startFolder;      // the folder shown first
  QString suggestedName;    // the name shown in the dialog's name box, or empty
  QFileDialog::Options options;

  bool operator==(const FileRequest&) const = default;
};

// Whatever shows the dialog: QFileDialog for the user, a script in tests.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // Modal over `parent`. The full path chosen, or nothing after a cancel.
  virtual std::optional<QString> Choose(const FileRequest& request, QWidget* parent) = 0;
};

// The file that typed or pasted text names: a "file:" URL becomes its local path,
// "~" and "~/..." start in the home folder, a line end picked up with a paste is
// dropped. Anything else is taken as it stands.
QString LocalPathOf(const QString& text);

// True when the text names a file at all (blank text does not).
bool HoldsPath(const QString& text);

// The folder a dialog opens in: the folder of the path already in the box when
// that folder exists, else the last folder used when it still exists, else home.
QString StartFolderFor(const QString& boxText, const QString& lastFolder);

// What the output dialog suggests when the output box is empty:
// "<first file's name>-merged.itc" in the first file's folder, or nothing.
QString SuggestedOutputFor(const QString& firstFileText);

// The local files a drag carries (folders and remote addresses left out), in
// the order they came.
QStringList DroppedFiles(const QMimeData* mime);

// `path` with "." + suffix added when its file name has no extension.
QString WithDefaultSuffix(const QString& path, const QString& suffix);

// Applies a request to a dialog before it is shown.
void Configure(QFileDialog& dialog, const FileRequest& request);

// QFileDialog. Replacing an existing file is confirmed after the dialog closes
// (No is the default), so that it holds for the platform's own dialogs too; a
// new file is taken without a question. A refused name shows the dialog again
// with that name in it.
class QtFileChooser final : public FileChooser {
 public:
  explicit QtFileChooser(Notifier& notifier) : notifier_(notifier) {}
  std::optional<QString> Choose(const FileRequest& request, QWidget* parent) override;

 private:
  Notifier& notifier_;
};

}  // namespace tandemo::ui
