#include "form1.hpp"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <iterator>

#include "file_dialog.hpp"
#include "merge/compatibility.hpp"
#include "find_slash.hpp"
#include "frm_tip.hpp"
#include "icons.hpp"
#include "notifier.hpp"
#include "wrapping_check_box.hpp"

namespace tandemo::ui {
namespace {

const QString kProgramTitle = QStringLiteral("Tandemo");

std::string ToEngine(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The local file a drag from a file manager carries, or an empty string.
QString DroppedFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls() || mime->urls().isEmpty()) return {};
  const QUrl url = mime->urls().constFirst();
  if (!url.isLocalFile()) return {};
  const QString path = url.toLocalFile();
  if (path.isEmpty() || QFileInfo(path).isDir()) return {};
  return path;
}

// Only the file's name is taken, so the drop is a copy or a link, never a move:
// a file manager deletes the source of a move that was accepted.
bool TakeAsCopy(QDropEvent& event) {
  for (Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction}) {
    if (event.possibleActions() & action) {
      event.setDropAction(action);
      event.accept();
      return true;
    }
  }
  event.ignore();
  return false;
}

}  // namespace

Form1::Form1() : ownNotifier_(std::make_unique<QtNotifier>()), notifier_(ownNotifier_.get()) {
  ownChooser_ = std::make_unique<QtFileChooser>(*ownNotifier_);
  Build(*ownChooser_);
}

Form1::Form1(FileChooser& chooser, Notifier& notifier) : notifier_(&notifier) { Build(chooser); }

Form1::~Form1() = default;

void Form1::Build(FileChooser& chooser) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(kProgramTitle);
  setWindowIcon(MakeIcon(IconKind::Program));

  static const char* const kFrameCaptions[] = {QT_TR_NOOP("First ITC File"),
                                               QT_TR_NOOP("Second ITC File"),
                                               QT_TR_NOOP("Output ITC File")};
  static const int kFrameTops[] = {8, 64, 120};
  for (int i = 0; i < 3; ++i) {
    Frame1[i] = new QGroupBox(tr(kFrameCaptions[i]), this);
    Frame1[i]->setObjectName(QStringLiteral("Frame1"));  // one control array: told apart by index
    Frame1[i]->setProperty("index", i);
    Frame1[i]->setGeometry(8, kFrameTops[i], 377, 49);
  }
  auto makeBox = [this](QGroupBox* frame, const char* name) {
    auto* box = new QLineEdit(frame);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(8, 16, 297, 25);
    box->installEventFilter(this);
    return box;
  };
  auto makeBrowse = [](QGroupBox* frame, const char* name) {
    auto* button = new QPushButton(tr("Browse"), frame);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(312, 16, 57, 25);
    button->setAutoDefault(false);
    return button;
  };
  // Created in tab order.
  txtFile1 = makeBox(Frame1[0], "txtFile1");
  cmdFile1 = makeBrowse(Frame1[0], "cmdFile1");
  cmdFile2 = makeBrowse(Frame1[1], "cmdFile2");
  txtFile2 = makeBox(Frame1[1], "txtFile2");
  cmdOutputFile = makeBrowse(Frame1[2], "cmdOutputFile");
  txtOutputFile = makeBox(Frame1[2], "txtOutputFile");

  cmdDoIt = new QPushButton(tr("Do It"), this);
  cmdDoIt->setObjectName(QStringLiteral("cmdDoIt"));
  cmdDoIt->setGeometry(224, 184, 161, 41);
  cmdDoIt->setAutoDefault(false);

  Check1 = new WrappingCheckBox(tr("Compensate for DP offset between data sets."), this);
  Check1->setObjectName(QStringLiteral("Check1"));
  Check2 = new WrappingCheckBox(tr("Update the header to list every injection."), this);
  Check2->setObjectName(QStringLiteral("Check2"));
  // The captions are wider than the boxes: they wrap, each box growing downwards as
  // far as its lines need, and widening up to Do It where two lines at 193 px do
  // not hold it (a larger font). The window grows to hold the second box.
  constexpr int kCheckLeft = 8;
  constexpr int kCheckTop = 184;
  constexpr int kCheckWidth = 193;
  const int roomWidth = cmdDoIt->x() - 8 - kCheckLeft;
  int top = kCheckTop;
  for (WrappingCheckBox* box : {Check1, Check2}) {
    int width = kCheckWidth;
    if (box->heightForWidth(width) > cmdDoIt->height()) width = roomWidth;
    box->setGeometry(kCheckLeft, top, width, std::max(box->heightForWidth(width), 25));
    top = box->geometry().bottom() + 1 + kCheckGap;
  }
  setFixedSize(kClientSize.width(), std::max(kClientSize.height(), top - kCheckGap + 8));

  QWidget* order[] = {txtFile1,      cmdFile1,      cmdFile2, txtFile2,
                      cmdOutputFile, txtOutputFile, cmdDoIt,  Check1, Check2};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  cdlFiles = new FileDialogControl(chooser, this);

  // The merge uses what the boxes show: editing a box edits its stored path.
  connect(txtFile1, &QLineEdit::textChanged, this, [this](const QString& t) { s_.strFile1 = t; });
  connect(txtFile2, &QLineEdit::textChanged, this, [this](const QString& t) { s_.strFile2 = t; });
  connect(txtOutputFile, &QLineEdit::textChanged, this,
          [this](const QString& t) { s_.strOutputFile = t; });
  connect(cmdFile1, &QPushButton::clicked, this, &Form1::cmdFile1_Click);
  connect(cmdFile2, &QPushButton::clicked, this, &Form1::cmdFile2_Click);
  connect(cmdOutputFile, &QPushButton::clicked, this, &Form1::cmdOutputFile_Click);
  connect(cmdDoIt, &QPushButton::clicked, this, &Form1::cmdDoIt_Click);
}

void Form1::Start() {
  Form_Load();
  show();
  txtFile1->setFocus();
}

void Form1::Form_Load() {
  s_.strInitDir = QCoreApplication::applicationDirPath();
  frmTip tip;  // no owner: it stands alone while this window is not yet shown
  tip.exec();
}

void Form1::PrepareDialog(const QString& strTitle, std::uint32_t flags) {
  DialogSettings& d = cdlFiles->settings;
  d.DefaultExt = QStringLiteral("itc");
  d.Filter = QStringLiteral("ITC Files (*.itc)|*.itc");
  d.FileName = QString();  // so that a cancel gives an empty path, never an earlier one
  d.DialogTitle = strTitle;
  d.Flags = flags;
  d.InitDir = s_.strInitDir;
}

QString Form1::GetFileName(const QString& strTitle) {
  PrepareDialog(strTitle, dialog_flags::kOpen);
  cdlFiles->ShowOpen();
  return cdlFiles->settings.FileName;
}

void Form1::UpdateStartFolder(const QString& strPath) {
  // A path whose last separator is beyond the 16-bit positions keeps the old folder.
  const StartFolder folder = StartFolderOf(strPath);
  if (folder.ok()) s_.strInitDir = folder.folder;
}

void Form1::cmdFile1_Click() {
  const QString chosen = GetFileName(tr("Select the First ITC File..."));
  txtFile1->setText(chosen);
  s_.strFile1 = chosen;
  UpdateStartFolder(s_.strFile1);
}

void Form1::cmdFile2_Click() {
  const QString chosen = GetFileName(tr("Select the Second ITC File..."));
  txtFile2->setText(chosen);
  s_.strFile2 = chosen;
  UpdateStartFolder(s_.strFile2);
}

void Form1::cmdOutputFile_Click() {
  PrepareDialog(tr("Select the Output ITC File..."), dialog_flags::kSave);
  cdlFiles->ShowSave();
  txtOutputFile->setText(cdlFiles->settings.FileName);
  s_.strOutputFile = cdlFiles->settings.FileName;
  UpdateStartFolder(txtOutputFile->text());
}

void Form1::cmdDoIt_Click() {
  const QString text1 = txtFile1->text();
  const QString text2 = txtFile2->text();
  const QString textOut = txtOutputFile->text();
  if (text1.isEmpty() || text2.isEmpty() || textOut.isEmpty()) return;

  if (!FilesBelongTogether()) return;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const tandemo::MergeOutcome outcome = MergeStoredFiles();
  QGuiApplication::restoreOverrideCursor();
  ReportOutcome(outcome);
}

bool Form1::FilesBelongTogether() {
  std::vector<tandemo::FileFacts> facts;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  std::optional<tandemo::MergeError> error =
      tandemo::ScanInputs({ToEngine(s_.strFile1), ToEngine(s_.strFile2)}, facts);
  QGuiApplication::restoreOverrideCursor();
  if (error) {  // the merge would fail the same way: say so now
    ReportOutcome(tandemo::MergeOutcome{std::move(error), {}});
    return false;
  }
  const tandemo::Comparison comparison = tandemo::CompareAll(facts);
  if (comparison.agrees()) return true;
  QString text = tr("These files may not belong to one titration:") + QStringLiteral("\n");
  for (const tandemo::Difference& d : comparison.differences) {
    text += QStringLiteral("\n") +
            tr("%1: %2 in the first file, %3 in the second file")
                .arg(QString::fromStdString(d.what), QString::fromStdString(d.firstValue),
                     QString::fromStdString(d.laterValue));
  }
  text += QStringLiteral("\n\n") + tr("Merge them anyway?");
  return notifier_->Ask(this, kProgramTitle, text, /*yesIsDefault=*/false);
}

tandemo::MergeOutcome Form1::MergeStoredFiles() const {
  tandemo::MergeRequest request;
  request.inputs = {ToEngine(s_.strFile1), ToEngine(s_.strFile2)};
  request.output = ToEngine(s_.strOutputFile);
  request.compensate = Check1->isChecked();
  request.updateHeader = Check2->isChecked();
  return tandemo::RunMerge(request);
}

void Form1::ReportOutcome(const tandemo::MergeOutcome& outcome) {
  if (outcome.ok()) {
    notifier_->Inform(this, kProgramTitle, tr("Done"));
    notifier_->Beep();
    return;
  }
  const tandemo::MergeError& error = *outcome.error;
  const QString title = QString::fromStdString(error.Title());
  QString rest = QString::fromStdString(error.Message());
  if (rest.startsWith(title + QStringLiteral(": "))) rest.remove(0, title.size() + 2);
  notifier_->Warn(this, kProgramTitle, title,
                  rest + QStringLiteral("\n\n") + tr("Nothing was written; the output file is as it was."));
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  auto* box = qobject_cast<QLineEdit*>(watched);
  if (!box || (box != txtFile1 && box != txtFile2 && box != txtOutputFile)) {
    return QWidget::eventFilter(watched, event);
  }
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (DroppedFile(drag->mimeData()).isEmpty()) break;  // text drags as a line edit takes them
      TakeAsCopy(*drag);
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QString path = DroppedFile(drop->mimeData());
      if (path.isEmpty()) break;
      if (!TakeAsCopy(*drop)) return true;
      // As Browse would: store, show, and move the start folder to the file's folder.
      box->setText(path);
      UpdateStartFolder(path);
      activateWindow();
      box->setFocus();
      return true;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tandemo::ui
