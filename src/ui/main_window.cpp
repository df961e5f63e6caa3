#include "main_window.hpp"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "icons.hpp"
#include "merge/compatibility.hpp"
#include "notifier.hpp"
#include "path_box.hpp"
#include "tip_window.hpp"
#include "wrapping_check_box.hpp"

namespace tandemo::ui {
namespace {

const QString kProgramTitle = QStringLiteral("Tandemo");
const QString kLastFolderKey = QStringLiteral("files/lastFolder");
const QStringList kItcFilters = {QStringLiteral("ITC Files (*.itc)")};
const QString kItcSuffix = QStringLiteral("itc");

std::string ToEngine(const QString& path) { return QFile::encodeName(path).toStdString(); }

// What the check before a merge found: a failure to read, or how the files compare.
struct InputCheck {
  std::optional<tandemo::MergeError> error;
  tandemo::Comparison comparison;
};

InputCheck CheckInputs(const std::vector<std::string>& inputs) {
  std::vector<tandemo::FileFacts> facts;
  InputCheck result;
  result.error = tandemo::ScanInputs(inputs, facts);
  if (!result.error) result.comparison = tandemo::CompareAll(facts);
  return result;
}

// Runs `work` on a worker thread and `done` with its result on the window's thread.
template <class Result>
void RunOffThread(QObject* owner, std::function<Result()> work, std::function<void(Result)> done) {
  auto* watcher = new QFutureWatcher<Result>(owner);
  QObject::connect(watcher, &QFutureWatcher<Result>::finished, owner, [watcher, done] {
    const Result result = watcher->result();
    watcher->deleteLater();
    done(result);
  });
  watcher->setFuture(QtConcurrent::run(std::move(work)));
}

}  // namespace

namespace {

// Compares names as people read them: runs of digits by their value ("run9"
// before "run10"), everything else character by character.
int CompareNames(const QString& a, const QString& b) {
  qsizetype i = 0;
  qsizetype j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      const qsizetype startA = i;
      const qsizetype startB = j;
      while (i < a.size() && a[i].isDigit()) ++i;
      while (j < b.size() && b[j].isDigit()) ++j;
      // Without leading zeros, the longer run is the larger number.
      QStringView digitsA = QStringView(a).sliced(startA, i - startA);
      QStringView digitsB = QStringView(b).sliced(startB, j - startB);
      while (digitsA.size() > 1 && digitsA.front() == u'0') digitsA = digitsA.sliced(1);
      while (digitsB.size() > 1 && digitsB.front() == u'0') digitsB = digitsB.sliced(1);
      if (digitsA.size() != digitsB.size()) return digitsA.size() < digitsB.size() ? -1 : 1;
      if (const int c = digitsA.compare(digitsB); c != 0) return c;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

QStringList OrderByRun(QStringList paths) {
  // By file name as people read it, the folder breaking ties: the name order stands
  // in for the run order until the engine reports when each file's run started.
  std::stable_sort(paths.begin(), paths.end(), [](const QString& a, const QString& b) {
    const int byName = CompareNames(QFileInfo(a).fileName(), QFileInfo(b).fileName());
    return byName != 0 ? byName < 0 : a < b;
  });
  return paths;
}

MainWindow::MainWindow() : ownNotifier_(std::make_unique<QtNotifier>()) {
  ownChooser_ = std::make_unique<QtFileChooser>(*ownNotifier_);
  notifier_ = ownNotifier_.get();
  Build(*ownChooser_);
}

MainWindow::MainWindow(FileChooser& chooser, Notifier& notifier) : notifier_(&notifier) {
  Build(chooser);
}

MainWindow::~MainWindow() {
  // The worker reads the cancel request and writes the progress of this window.
  control_.cancelRequested = true;
  QThreadPool::globalInstance()->waitForDone();
}

QGroupBox* MainWindow::MakeFileGroup(const QString& title, PathBox*& box, QPushButton*& browse,
                                     const QString& browseName) {
  auto* group = new QGroupBox(title, this);
  box = new PathBox(group);
  browse = new QPushButton(tr("Browse"), group);
  browse->setAccessibleName(browseName);
  browse->setAutoDefault(true);  // Enter on a focused Browse presses it
  auto* row = new QHBoxLayout(group);
  row->addWidget(box, 1);
  row->addWidget(browse);
  connect(box, &QLineEdit::textChanged, this, &MainWindow::UpdateReadiness);
  connect(box, &QLineEdit::textEdited, this, [this] { notice_.clear(); });
  connect(box, &PathBox::filesDropped, this,
          [this, box](const QStringList& files) { TakeDroppedFiles(files, box); });
  return group;
}

void MainWindow::Build(FileChooser& chooser) {
  chooser_ = &chooser;
  merge_ = [](const tandemo::MergeRequest& request, MergeControl&) {
    return tandemo::RunMerge(request);
  };
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(kProgramTitle);
  setWindowIcon(MakeIcon(IconKind::Program));
  setAcceptDrops(true);

  // "&" marks the access key: Alt+F, Alt+S and Alt+O move the focus to the group's box.
  firstGroup_ = MakeFileGroup(tr("&First ITC File"), firstFileBox_, firstBrowseButton_,
                              tr("Browse for the first ITC file"));
  secondGroup_ = MakeFileGroup(tr("&Second ITC File"), secondFileBox_, secondBrowseButton_,
                               tr("Browse for the second ITC file"));
  outputGroup_ = MakeFileGroup(tr("&Output ITC File"), outputFileBox_, outputBrowseButton_,
                               tr("Browse for the output ITC file"));
  firstGroup_->setObjectName(QStringLiteral("firstGroup"));
  secondGroup_->setObjectName(QStringLiteral("secondGroup"));
  outputGroup_->setObjectName(QStringLiteral("outputGroup"));
  firstFileBox_->setObjectName(QStringLiteral("firstFileBox"));
  secondFileBox_->setObjectName(QStringLiteral("secondFileBox"));
  outputFileBox_->setObjectName(QStringLiteral("outputFileBox"));
  firstBrowseButton_->setObjectName(QStringLiteral("firstBrowseButton"));
  secondBrowseButton_->setObjectName(QStringLiteral("secondBrowseButton"));
  outputBrowseButton_->setObjectName(QStringLiteral("outputBrowseButton"));
  firstFileBox_->setAccessibleName(tr("First ITC File"));
  secondFileBox_->setAccessibleName(tr("Second ITC File"));
  outputFileBox_->setAccessibleName(tr("Output ITC File"));

  compensateBox_ = new WrappingCheckBox(tr("&Compensate for DP offset between data sets."), this);
  compensateBox_->setObjectName(QStringLiteral("compensateBox"));
  compensateBox_->setToolTip(
      tr("Tick this when the second portion's baseline starts at a different DP level than "
         "the first portion ended."));
  headerBox_ = new WrappingCheckBox(tr("&Update the header to list every injection."), this);
  headerBox_->setObjectName(QStringLiteral("headerBox"));
  headerBox_->setToolTip(
      tr("Tick this when the analysis software should list and read every injection."));

  doItButton_ = new QPushButton(tr("&Do It"), this);
  doItButton_->setObjectName(QStringLiteral("doItButton"));
  doItButton_->setDefault(true);
  doItButton_->setMinimumSize(161, 41);  // as large as it was designed

  hintLabel_ = new QLabel(this);
  hintLabel_->setObjectName(QStringLiteral("hintLabel"));
  hintLabel_->setWordWrap(true);
  hintLabel_->setTextFormat(Qt::PlainText);
  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName(QStringLiteral("progressBar"));
  progressBar_->setTextVisible(false);
  progressBar_->setAccessibleName(tr("Merge progress"));
  cancelButton_ = new QPushButton(tr("Cancel"), this);
  cancelButton_->setObjectName(QStringLiteral("cancelButton"));
  cancelButton_->setAutoDefault(true);
  auto* progressPage = new QWidget(this);
  auto* progressRow = new QHBoxLayout(progressPage);
  progressRow->setContentsMargins(0, 0, 0, 0);
  progressRow->addWidget(progressBar_, 1);
  progressRow->addWidget(cancelButton_);
  statusArea_ = new QStackedWidget(this);
  statusArea_->setObjectName(QStringLiteral("statusArea"));
  statusArea_->addWidget(hintLabel_);
  statusArea_->addWidget(progressPage);

  auto* switches = new QVBoxLayout;
  switches->addWidget(compensateBox_);
  switches->addWidget(headerBox_);
  switches->addStretch(1);
  auto* actionRow = new QHBoxLayout;
  actionRow->addLayout(switches, 1);
  actionRow->addWidget(doItButton_, 0, Qt::AlignTop);
  auto* column = new QVBoxLayout(this);
  column->addWidget(firstGroup_);
  column->addWidget(secondGroup_);
  column->addWidget(outputGroup_);
  column->addLayout(actionRow);
  column->addWidget(statusArea_);
  column->addStretch(1);

  // Tab follows the window: each box, then its Browse; the switches; Do It.
  QWidget* order[] = {firstFileBox_,  firstBrowseButton_, secondFileBox_, secondBrowseButton_,
                      outputFileBox_, outputBrowseButton_, compensateBox_, headerBox_,
                      doItButton_,    cancelButton_};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  progressDelay_ = new QTimer(this);
  progressDelay_->setSingleShot(true);
  progressDelay_->setInterval(kProgressDelayMs);
  connect(progressDelay_, &QTimer::timeout, this, &MainWindow::ShowProgress);
  progressPoll_ = new QTimer(this);
  progressPoll_->setInterval(100);
  connect(progressPoll_, &QTimer::timeout, this, &MainWindow::ShowProgress);

  connect(firstBrowseButton_, &QPushButton::clicked, this, [this] {
    ChooseFile(firstFileBox_, DialogKind::Open, tr("Select the First ITC File..."));
  });
  connect(secondBrowseButton_, &QPushButton::clicked, this, [this] {
    ChooseFile(secondFileBox_, DialogKind::Open, tr("Select the Second ITC File..."));
  });
  connect(outputBrowseButton_, &QPushButton::clicked, this, [this] {
    ChooseFile(outputFileBox_, DialogKind::Save, tr("Select the Output ITC File..."));
  });
  connect(doItButton_, &QPushButton::clicked, this, &MainWindow::DoIt);
  connect(cancelButton_, &QPushButton::clicked, this, &MainWindow::RequestCancel);

  UpdateReadiness();
  layout()->activate();
  const int startWidth = std::max(kClassicSize.width(), sizeHint().width());
  resize(startWidth, kClassicSize.height());
  UpdateMinimumSize();
  resize(startWidth, minimumHeight());  // no taller than its controls need at that width
}

void MainWindow::UpdateMinimumSize() {
  if (!layout()) return;
  // The switches wrap: the height they need depends on the width they get.
  const int minimumWidth = std::max(kClassicSize.width(), layout()->totalMinimumSize().width());
  const int forWidth = std::max(width(), minimumWidth);
  const int neededHeight = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(forWidth)
                                                         : layout()->totalMinimumSize().height();
  const QSize minimum(minimumWidth, std::max(kClassicSize.height(), neededHeight));
  if (minimum != minimumSize()) setMinimumSize(minimum);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  UpdateMinimumSize();
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    UpdateMinimumSize();
  }
}

void MainWindow::Start() {
  if (TipWindow::ShowAtStart()) {
    TipWindow tip;  // no owner: it stands alone while this window is not yet shown
    tip.exec();
  }
  show();
  firstFileBox_->setFocus();
}

QString MainWindow::LastFolder() const { return QSettings().value(kLastFolderKey).toString(); }

void MainWindow::RememberFolderOf(const QString& path) {
  const QFileInfo info(path);
  if (!info.isAbsolute()) return;
  QSettings().setValue(kLastFolderKey, info.absolutePath());
}

void MainWindow::ChooseFile(PathBox* box, DialogKind kind, const QString& title) {
  FileRequest request;
  request.kind = kind;
  request.title = title;
  request.nameFilters = kItcFilters;
  request.defaultSuffix = kItcSuffix;
  QString named = box->text();
  if (box == outputFileBox_ && !HoldsPath(named)) named = SuggestedOutputFor(firstFileBox_->text());
  request.startFolder = StartFolderFor(named, LastFolder());
  if (HoldsPath(named)) request.suggestedName = QFileInfo(LocalPathOf(named)).fileName();

  const std::optional<QString> chosen = chooser_->Choose(request, this);
  if (!chosen) return;  // a cancel leaves the box as it was
  notice_.clear();
  box->setText(*chosen);
  RememberFolderOf(*chosen);
}

void MainWindow::TakeDroppedFiles(const QStringList& files, PathBox* target) {
  if (files.isEmpty() || merging_) return;
  notice_.clear();
  if (files.size() == 1) {
    // One file goes where it was dropped; dropped beside the boxes, into the first empty input.
    if (!target) target = !HoldsPath(firstFileBox_->text()) ? firstFileBox_ : secondFileBox_;
    target->setText(files.constFirst());
  } else {
    const QStringList ordered = OrderByRun(files);
    firstFileBox_->setText(ordered[0]);
    secondFileBox_->setText(ordered[1]);
    target = secondFileBox_;
    if (files.size() > 2) {
      notice_ = tr("The window joins two files; %1 were dropped and the first two taken "
                   "(tandemo-merge joins more).")
                    .arg(files.size());
    }
  }
  RememberFolderOf(target->text());
  UpdateReadiness();
  activateWindow();
  target->setFocus();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!merging_ && !DroppedFiles(event->mimeData()).isEmpty()) {
    AcceptAsCopy(*event);
    return;
  }
  event->ignore();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
  if (!merging_ && !DroppedFiles(event->mimeData()).isEmpty()) {
    AcceptAsCopy(*event);
    return;
  }
  event->ignore();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QStringList files = DroppedFiles(event->mimeData());
  if (merging_ || files.isEmpty()) {
    event->ignore();
    return;
  }
  if (AcceptAsCopy(*event)) TakeDroppedFiles(files, nullptr);
}

QString MainWindow::hint() const { return hintLabel_->text(); }

void MainWindow::UpdateReadiness() {
  QStringList missing;
  if (!HoldsPath(firstFileBox_->text())) missing << tr("the first file");
  if (!HoldsPath(secondFileBox_->text())) missing << tr("the second file");
  if (!HoldsPath(outputFileBox_->text())) missing << tr("the output file");
  doItButton_->setEnabled(missing.isEmpty() && !merging_);
  if (merging_) return;  // the hint line speaks of the merge until it ends

  QString text;
  if (!missing.isEmpty()) {
    QString list = missing.takeLast();
    if (!missing.isEmpty()) list = missing.join(QStringLiteral(", ")) + tr(" and ") + list;
    text = tr("Choose %1").arg(list);
  }
  if (!notice_.isEmpty()) text = text.isEmpty() ? notice_ : notice_ + u' ' + text;
  hintLabel_->setText(text);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  // Enter that no control took (a path box, a switch) presses the default button.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (doItButton_->isEnabled()) doItButton_->click();
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Escape && merging_) {
    RequestCancel();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (merging_) {
    // The window goes once the merge has stopped; the output stays as it was.
    closeWhenDone_ = true;
    RequestCancel();
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void MainWindow::SetBusy(bool busy) {
  merging_ = busy;
  for (QWidget* control : {static_cast<QWidget*>(firstGroup_), static_cast<QWidget*>(secondGroup_),
                           static_cast<QWidget*>(outputGroup_), static_cast<QWidget*>(compensateBox_),
                           static_cast<QWidget*>(headerBox_)}) {
    control->setEnabled(!busy);
  }
  if (busy) {
    control_.cancelRequested = false;
    control_.bytesRead = 0;
    control_.bytesTotal = 0;
    progressBar_->setRange(0, 0);  // turning without a figure until the engine reports one
    cancelButton_->setText(tr("Cancel"));
    cancelButton_->setEnabled(true);
    progressDelay_->start();
  } else {
    progressDelay_->stop();
    progressPoll_->stop();
    statusArea_->setCurrentWidget(hintLabel_);
  }
  UpdateReadiness();
}

void MainWindow::ShowProgress() {
  if (!merging_) return;
  if (statusArea_->currentWidget() == hintLabel_) {
    statusArea_->setCurrentIndex(1);
    progressPoll_->start();
    if (cancelButton_->isEnabled()) cancelButton_->setFocus();
  }
  const long long total = control_.bytesTotal;
  if (total > 0) {
    constexpr int kSteps = 1000;
    progressBar_->setRange(0, kSteps);
    progressBar_->setValue(static_cast<int>(std::clamp(control_.bytesRead.load(), 0LL, total) * kSteps / total));
  }
}

void MainWindow::RequestCancel() {
  if (!merging_) return;
  control_.cancelRequested = true;
  cancelButton_->setEnabled(false);
  cancelButton_->setText(tr("Cancelling..."));
  hintLabel_->setText(tr("Cancelling..."));
}

void MainWindow::DoIt() {
  if (merging_ || !doItButton_->isEnabled()) return;
  // Typed URLs and "~/" paths are shown as the files they name before they are used.
  for (PathBox* box : {firstFileBox_, secondFileBox_, outputFileBox_}) {
    if (box->path() != box->text()) box->setText(box->path());
  }
  SetBusy(true);
  hintLabel_->setText(tr("Comparing the files..."));
  const std::vector<std::string> inputs = {ToEngine(firstFileBox_->path()),
                                           ToEngine(secondFileBox_->path())};
  RunOffThread<InputCheck>(
      this, [inputs] { return CheckInputs(inputs); },
      [this](const InputCheck& inspection) {
        if (inspection.error) {  // the merge would fail the same way: say so now
          FinishMerge(tandemo::MergeOutcome{inspection.error, {}});
          return;
        }
        if (control_.cancelRequested) {  // stopped between the comparison and the merge
          FinishCancelled();
          return;
        }
        if (!inspection.comparison.agrees()) {
          progressDelay_->stop();
          statusArea_->setCurrentWidget(hintLabel_);
          if (!AskWhenFilesDiffer(inspection.comparison)) {
            SetBusy(false);
            return;
          }
          progressDelay_->start();
        }
        StartMerge();
      });
}

tandemo::MergeRequest MainWindow::BuildMergeRequest() {
  tandemo::MergeRequest request;
  request.inputs = {ToEngine(firstFileBox_->path()), ToEngine(secondFileBox_->path())};
  request.output = ToEngine(outputFileBox_->path());
  request.compensate = compensateBox_->isChecked();
  request.updateHeader = headerBox_->isChecked();
  // The engine's progress report and cancel request belong here, once it takes them:
  // the report calls control_.Report(bytesRead, bytesTotal) (ShowProgress reads it on
  // this thread), the cancel flag is &control_.cancelRequested.
  return request;
}

void MainWindow::StartMerge() {
  hintLabel_->setText(tr("Merging..."));
  const tandemo::MergeRequest request = BuildMergeRequest();
  RunOffThread<tandemo::MergeOutcome>(
      this, [merge = merge_, request, control = &control_] { return merge(request, *control); },
      [this](const tandemo::MergeOutcome& outcome) { FinishMerge(outcome); });
}

void MainWindow::FinishMerge(const tandemo::MergeOutcome& outcome) {
  // A merge that failed after a cancel request was stopped by it: the user asked
  // for that, so the hint line says so instead of a message box.
  if (control_.cancelRequested && !outcome.ok()) {
    FinishCancelled();
    return;
  }
  SetBusy(false);
  if (closeWhenDone_) {
    close();
    return;
  }
  ReportOutcome(outcome);
}

void MainWindow::FinishCancelled() {
  SetBusy(false);
  if (closeWhenDone_) {
    close();
    return;
  }
  hintLabel_->setText(tr("Cancelled: nothing was written; the output file is as it was."));
}

bool MainWindow::AskWhenFilesDiffer(const tandemo::Comparison& comparison) {
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

void MainWindow::ReportOutcome(const tandemo::MergeOutcome& outcome) {
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
                  rest + QStringLiteral("\n\n") +
                      tr("Nothing was written; the output file is as it was."));
}

}  // namespace tandemo::ui
