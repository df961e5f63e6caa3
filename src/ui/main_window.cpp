#include "main_window.hpp"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QStackedWidget>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

#include "icons.hpp"
#include "merge/inspection.hpp"
#include "notifier.hpp"
#include "path_box.hpp"
#include "preview_panel.hpp"
#include "tip_window.hpp"
#include "wrapping_check_box.hpp"

namespace tandemo::ui {
namespace {

const QString kProgramTitle = QStringLiteral("Tandemo");
const QString kLastFolderKey = QStringLiteral("files/lastFolder");
const QStringList kItcFilters = {QStringLiteral("ITC Files (*.itc)")};
const QString kItcSuffix = QStringLiteral("itc");

std::string ToEngine(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromEngine(const std::string& text) { return QString::fromStdString(text); }

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
  // By file name as people read it, the folder breaking ties; where every file
  // gives the time its run started, by that time, the name order breaking ties.
  std::vector<std::string> inputs;
  for (const QString& path : paths) inputs.push_back(ToEngine(path));
  const tandemo::Inspection inspection = tandemo::Inspect(inputs);
  QHash<QString, long long> started;
  for (qsizetype i = 0; i < paths.size(); ++i) {
    const auto index = static_cast<std::size_t>(i);
    if (index >= inspection.files.size() || !inspection.files[index].header.runStart) {
      started.clear();
      break;
    }
    started.insert(paths[i], inspection.files[index].header.runStart->secondsKey);
  }
  std::stable_sort(paths.begin(), paths.end(), [&started](const QString& a, const QString& b) {
    if (!started.isEmpty() && started.value(a) != started.value(b)) {
      return started.value(a) < started.value(b);
    }
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
  preview_->Stop();
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
  merge_ = [](const tandemo::MergeRequest& request, const tandemo::Inspection& inspection,
              MergeControl&) { return tandemo::RunMerge(request, inspection); };
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

  preview_ = new PreviewPanel;
  preview_->setObjectName(QStringLiteral("previewPanel"));
  // The window may be made smaller than the preview needs: it scrolls, and the
  // classic controls above it keep their size and look.
  auto* previewArea = new QScrollArea(this);
  previewArea->setObjectName(QStringLiteral("previewArea"));
  previewArea->setWidget(preview_);
  previewArea->setWidgetResizable(true);
  previewArea->setFrameShape(QFrame::NoFrame);
  previewArea->setFocusPolicy(Qt::NoFocus);
  previewArea->setMinimumHeight(0);
  previewDelay_ = new QTimer(this);
  previewDelay_->setSingleShot(true);
  previewDelay_->setInterval(kPreviewDelayMs);
  connect(previewDelay_, &QTimer::timeout, this, &MainWindow::RequestPreview);
  // A path set by Browse or a drop asks at once (see ChooseFile); typing waits.
  for (PathBox* box : {firstFileBox_, secondFileBox_})
    connect(box, &QLineEdit::textChanged, previewDelay_, qOverload<>(&QTimer::start));

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
  column->addWidget(previewArea, 1);

  // Tab follows the window: each box, then its Browse; the switches; Do It.
  QWidget* order[] = {firstFileBox_,  firstBrowseButton_,  secondFileBox_, secondBrowseButton_,
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
  connect(compensateBox_, &QCheckBox::toggled, this, &MainWindow::RequestPreview);
  connect(cancelButton_, &QPushButton::clicked, this, &MainWindow::RequestCancel);

  UpdateReadiness();
  layout()->activate();
  const int startWidth = std::max(kClassicSize.width(), sizeHint().width());
  resize(startWidth, kClassicSize.height());
  UpdateMinimumSize();
  // Room for the preview below the classic controls, within the screen's free area.
  QSize wanted(std::max(startWidth, kPreviewSize.width()),
               std::max(minimumHeight(), kPreviewSize.height()));
  if (const QScreen* shown = screen())
    wanted = wanted.boundedTo(shown->availableGeometry().size() * 9 / 10);
  resize(wanted.expandedTo(minimumSize()));
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
  AskForPreview(true);  // the same file chosen again may hold new data
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
  AskForPreview(true);
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

void MainWindow::RequestPreview() { AskForPreview(false); }

void MainWindow::AskForPreview(bool evenIfUnchanged) {
  previewDelay_->stop();
  if (merging_) {
    previewAfterMerge_ =
        true;  // the merge has the machine first; the boxes cannot change meanwhile
    return;
  }
  auto readable = [](const PathBox* box) {
    const QFileInfo info(box->path());
    return HoldsPath(box->text()) && info.isFile() && info.isReadable() ? info.filePath()
                                                                        : QString();
  };
  PreviewRequest request{readable(firstFileBox_), readable(secondFileBox_),
                         compensateBox_->isChecked()};
  // The same files again (a path retyped as it was): the preview on screen stands.
  if (!evenIfUnchanged && previewAsked_ == request &&
      preview_->state() != PreviewPanel::State::Failed)
    return;
  previewAsked_ = request;
  preview_->Request(request.first, request.second, request.compensate);
}

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
  for (QWidget* control :
       {static_cast<QWidget*>(firstGroup_), static_cast<QWidget*>(secondGroup_),
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
  if (busy) return;
  // A merge into one of the previewed files (the window asked first) changed what it shows.
  const QString written = QFileInfo(outputFileBox_->path()).canonicalFilePath();
  const bool previewedWritten = previewAsked_ && !written.isEmpty() &&
                                (written == QFileInfo(previewAsked_->first).canonicalFilePath() ||
                                 written == QFileInfo(previewAsked_->second).canonicalFilePath());
  if (previewAfterMerge_ || previewedWritten) {
    previewAfterMerge_ = false;
    AskForPreview(true);
  }
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
    progressBar_->setValue(
        static_cast<int>(std::clamp(control_.bytesRead.load(), 0LL, total) * kSteps / total));
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
  RunOffThread<tandemo::Inspection>(
      this, [inputs] { return tandemo::Inspect(inputs); },
      [this](const tandemo::Inspection& inspection) {
        if (inspection.failure) {  // no merge of these files is possible: say so now
          FinishMerge(tandemo::MergeOutcome{inspection.failure, {}}, inspection);
          return;
        }
        if (control_.cancelRequested) {  // stopped between the inspection and the merge
          FinishCancelled();
          return;
        }
        bool force = false;
        const std::optional<std::size_t> replaced =
            inspection.InputAt(ToEngine(outputFileBox_->path()));
        if (replaced || !inspection.agrees()) {
          progressDelay_->stop();
          statusArea_->setCurrentWidget(hintLabel_);
          if (replaced && !AskToReplaceInput(*replaced)) {
            SetBusy(false);
            return;
          }
          if (!inspection.agrees() && !AskWhenFilesDiffer(inspection)) {
            SetBusy(false);
            return;
          }
          force = true;
          progressDelay_->start();
        }
        StartMerge(inspection, force);
      });
}

tandemo::MergeRequest MainWindow::BuildMergeRequest(bool force) {
  tandemo::MergeRequest request;
  request.inputs = {ToEngine(firstFileBox_->path()), ToEngine(secondFileBox_->path())};
  request.output = ToEngine(outputFileBox_->path());
  request.options.compensate = compensateBox_->isChecked();
  request.options.updateHeader = headerBox_->isChecked();
  request.options.force = force;
  // The merge reports on its worker thread; ShowProgress reads the figures on this one.
  MergeControl* control = &control_;
  request.options.progress = [control](std::uint64_t read, std::uint64_t total) {
    control->Report(static_cast<long long>(read), static_cast<long long>(total));
  };
  request.options.cancel = &control_.cancelRequested;
  return request;
}

void MainWindow::StartMerge(const tandemo::Inspection& inspection, bool force) {
  hintLabel_->setText(tr("Merging..."));
  const tandemo::MergeRequest request = BuildMergeRequest(force);
  RunOffThread<tandemo::MergeOutcome>(
      this,
      [merge = merge_, request, inspection, control = &control_] {
        return merge(request, inspection, *control);
      },
      [this, inspection](const tandemo::MergeOutcome& outcome) {
        FinishMerge(outcome, inspection);
      });
}

void MainWindow::FinishMerge(const tandemo::MergeOutcome& outcome,
                             const tandemo::Inspection& inspection) {
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
  ReportOutcome(outcome, inspection);
}

void MainWindow::FinishCancelled() {
  SetBusy(false);
  if (closeWhenDone_) {
    close();
    return;
  }
  hintLabel_->setText(tr("Cancelled: nothing was written; the output file is as it was."));
}

bool MainWindow::AskWhenFilesDiffer(const tandemo::Inspection& inspection) {
  QString text = tr("These files may not belong to one titration:") + QStringLiteral("\n");
  for (const tandemo::Difference& d : inspection.differences) {
    text += QStringLiteral("\n") + FromEngine(d.text);
  }
  text += QStringLiteral("\n\n") + tr("Merge them anyway?");
  return notifier_->Ask(this, kProgramTitle, text, /*yesIsDefault=*/false);
}

bool MainWindow::AskToReplaceInput(std::size_t inputIndex) {
  const QString text = tr("The output file is %1. Replace the original data?")
                           .arg(FromEngine(tandemo::InputRole(inputIndex)));
  return notifier_->Ask(this, kProgramTitle, text, /*yesIsDefault=*/false);
}

void MainWindow::ReportOutcome(const tandemo::MergeOutcome& outcome,
                               const tandemo::Inspection& inspection) {
  if (outcome.ok()) {
    // "Done", then what was written and every remark, as tandemo-merge reports them.
    QString text =
        tr("Done") + QStringLiteral("\n\n") + FromEngine(tandemo::Describe(outcome.summary));
    for (const std::string& remark : tandemo::MergeRemarks(inspection, outcome.summary)) {
      text += QStringLiteral("\n") + FromEngine(remark);
    }
    notifier_->Inform(this, kProgramTitle, text);
    notifier_->Beep();
    return;
  }
  const tandemo::MergeError& error = *outcome.error;
  const QString title = QString::fromStdString(error.Title());
  QString rest = QString::fromStdString(error.Message());
  if (rest.startsWith(title + QStringLiteral(": "))) rest.remove(0, title.size() + 2);
  notifier_->Warn(
      this, kProgramTitle, title,
      rest + QStringLiteral("\n\n") + tr("Nothing was written; the output file is as it was."));
}

}  // namespace tandemo::ui
