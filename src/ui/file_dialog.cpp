#include "file_dialog.hpp"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "notifier.hpp"

namespace tandemo::ui {

QStringList NameFiltersOf(const QString& filter) {
  QStringList result;
  const QStringList parts = filter.split(u'|');
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    QString patterns = parts[i + 1].trimmed();
    patterns.replace(u';', u' ');
    // Qt reads the patterns from the parentheses at the end of the entry.
    if (description.endsWith(u'(' + patterns + u')')) {
      result << description;
    } else {
      result << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
  }
  return result;
}

QString WithDefaultExt(const QString& path, const QString& defaultExt) {
  if (defaultExt.isEmpty() || path.isEmpty()) return path;
  const QString name = QFileInfo(path).fileName();
  if (name.isEmpty() || name.contains(u'.')) return path;
  return path + u'.' + defaultExt;
}

void Configure(QFileDialog& dialog, DialogKind kind, const DialogSettings& settings) {
  using namespace dialog_flags;
  dialog.setObjectName(QStringLiteral("cdlFilesDialog"));
  dialog.setWindowTitle(settings.DialogTitle);
  dialog.setAcceptMode(kind == DialogKind::Open ? QFileDialog::AcceptOpen
                                                : QFileDialog::AcceptSave);
  dialog.setFileMode((settings.Flags & kFileMustExist) ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
  dialog.setDefaultSuffix(settings.DefaultExt);
  const QStringList filters = NameFiltersOf(settings.Filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!settings.InitDir.isEmpty()) dialog.setDirectory(settings.InitDir);
  if (!settings.FileName.isEmpty()) dialog.selectFile(settings.FileName);
  // Replacing is confirmed by the chooser itself after the dialog, together with
  // creating, so both prompts look and behave alike whichever dialog was shown.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  // Qt's dialogs have no read-only check box and always take long names, so the
  // hide-read-only and long-names flags hold as they are.
}

std::optional<QString> QtFileChooser::Choose(DialogKind kind, const DialogSettings& settings,
                                             QWidget* parent) {
  using namespace dialog_flags;
  DialogSettings shown = settings;
  for (;;) {
    QFileDialog dialog(parent);
    Configure(dialog, kind, shown);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
      return std::nullopt;
    }
    const QString path = QDir::cleanPath(
        QFileInfo(WithDefaultExt(dialog.selectedFiles().constFirst(), settings.DefaultExt))
            .absoluteFilePath());
    const QFileInfo info(path);
    const QString title = settings.DialogTitle;
    const QString name = QDir::toNativeSeparators(path);
    // Shown again, the dialog opens in the folder of the name just refused.
    shown.InitDir = info.absolutePath();
    shown.FileName = info.fileName();

    if (info.isDir()) continue;  // a folder is no file: show it and let the user go on
    if ((settings.Flags & kFileMustExist) && !info.exists()) {
      notifier_.Warn(parent, title, name, QObject::tr("File not found.\nCheck the file name and try again."));
      continue;
    }
    if ((settings.Flags & kPathMustExist) && !QFileInfo(info.absolutePath()).isDir()) {
      notifier_.Warn(parent, title, name, QObject::tr("The folder does not exist.\nCheck the path and try again."));
      continue;
    }
    if ((settings.Flags & kOverwritePrompt) && info.exists() &&
        !notifier_.Ask(parent, title, QObject::tr("%1 already exists.\nDo you want to replace it?").arg(name),
                       false)) {
      continue;
    }
    if ((settings.Flags & kCreatePrompt) && !info.exists() &&
        !notifier_.Ask(parent, title, QObject::tr("%1 does not exist.\nDo you want to create it?").arg(name),
                       true)) {
      continue;
    }
    return path;
  }
}

FileDialogControl::FileDialogControl(FileChooser& chooser, QWidget* owner)
    : QObject(owner), chooser_(chooser), owner_(owner) {
  setObjectName(QStringLiteral("cdlFiles"));
}

void FileDialogControl::Show(DialogKind kind) {
  if (std::optional<QString> chosen = chooser_.Choose(kind, settings, owner_)) {
    settings.FileName = *chosen;
  }
}

}  // namespace tandemo::ui
