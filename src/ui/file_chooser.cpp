#include "file_chooser.hpp"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include "notifier.hpp"

namespace tandemo::ui {

QString LocalPathOf(const QString& text) {
  // A file manager's copy may bring a line end, or one line per file: the first names it.
  QString line = text.section(QLatin1Char('\n'), 0, 0);
  while (line.endsWith(QLatin1Char('\r'))) line.chop(1);
  if (line.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)) {
    QUrl url(line, QUrl::TolerantMode);
    if (url.host().compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0) url.setHost({});
    if (url.isValid() && url.isLocalFile() && url.host().isEmpty()) return url.toLocalFile();
    return line;
  }
  if (line == QStringLiteral("~")) return QDir::homePath();
  if (line.startsWith(QStringLiteral("~/"))) return QDir::homePath() + line.mid(1);
  return line;
}

bool HoldsPath(const QString& text) { return !LocalPathOf(text).trimmed().isEmpty(); }

QString StartFolderFor(const QString& boxText, const QString& lastFolder) {
  if (HoldsPath(boxText)) {
    // Only an absolute path says where: a relative one would start in whatever
    // folder the program was started from.
    const QFileInfo info(LocalPathOf(boxText));
    if (info.isAbsolute()) {
      const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
      if (QFileInfo(folder).isDir()) return QDir::cleanPath(folder);
    }
  }
  if (!lastFolder.isEmpty()) {
    const QFileInfo last(lastFolder);
    if (last.isAbsolute() && last.isDir()) return QDir::cleanPath(last.absoluteFilePath());
  }
  return QDir::homePath();
}

QString SuggestedOutputFor(const QString& firstFileText) {
  if (!HoldsPath(firstFileText)) return {};
  const QFileInfo first(LocalPathOf(firstFileText));
  if (first.fileName().isEmpty()) return {};
  return QDir(first.path()).filePath(first.completeBaseName() + QStringLiteral("-merged.itc"));
}

QStringList DroppedFiles(const QMimeData* mime) {
  QStringList files;
  if (!mime || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (path.isEmpty() || QFileInfo(path).isDir()) continue;
    files << path;
  }
  return files;
}

QString WithDefaultSuffix(const QString& path, const QString& suffix) {
  if (suffix.isEmpty() || path.isEmpty()) return path;
  const QString name = QFileInfo(path).fileName();
  if (name.isEmpty() || name.contains(u'.')) return path;
  return path + u'.' + suffix;
}

void Configure(QFileDialog& dialog, const FileRequest& request) {
  dialog.setObjectName(QStringLiteral("fileDialog"));
  dialog.setWindowTitle(request.title);
  dialog.setAcceptMode(request.kind == DialogKind::Open ? QFileDialog::AcceptOpen
                                                        : QFileDialog::AcceptSave);
  dialog.setFileMode(request.kind == DialogKind::Open ? QFileDialog::ExistingFile
                                                      : QFileDialog::AnyFile);
  // Replacing is confirmed by the chooser itself, after the dialog, so the question
  // looks and behaves alike whichever dialog was shown.
  dialog.setOptions(request.options | QFileDialog::DontConfirmOverwrite);
  dialog.setDefaultSuffix(request.defaultSuffix);
  if (!request.nameFilters.isEmpty()) dialog.setNameFilters(request.nameFilters);
  if (!request.startFolder.isEmpty()) dialog.setDirectory(request.startFolder);
  if (!request.suggestedName.isEmpty()) dialog.selectFile(request.suggestedName);
}

std::optional<QString> QtFileChooser::Choose(const FileRequest& request, QWidget* parent) {
  FileRequest shown = request;
  for (;;) {
    QFileDialog dialog(parent);
    Configure(dialog, shown);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
      return std::nullopt;
    }
    const QString path = QDir::cleanPath(
        QFileInfo(WithDefaultSuffix(dialog.selectedFiles().constFirst(), request.defaultSuffix))
            .absoluteFilePath());
    const QFileInfo info(path);
    const QString name = QDir::toNativeSeparators(path);
    // Shown again, the dialog opens in the folder of the name just refused, with that name.
    shown.startFolder = info.absolutePath();
    shown.suggestedName = info.fileName();

    if (info.isDir()) continue;  // a folder is no file: show it and let the user go on
    if (request.kind == DialogKind::Open && !info.exists()) {
      notifier_.Warn(parent, request.title, name,
                     QObject::tr("File not found.\nCheck the file name and try again."));
      continue;
    }
    if (request.kind == DialogKind::Save && !QFileInfo(info.absolutePath()).isDir()) {
      notifier_.Warn(parent, request.title, name,
                     QObject::tr("The folder does not exist.\nCheck the path and try again."));
      continue;
    }
    if (request.kind == DialogKind::Save && info.exists() &&
        !request.options.testFlag(QFileDialog::DontConfirmOverwrite) &&
        !notifier_.Ask(parent, request.title,
                       QObject::tr("%1 already exists.\nDo you want to replace it?").arg(name),
                       /*yesIsDefault=*/false)) {
      continue;
    }
    return path;
  }
}

}  // namespace tandemo::ui
