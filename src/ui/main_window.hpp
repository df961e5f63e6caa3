// The main window: the first, second and output file, each in a path box with its
// Browse button, the two switches, Do It, a hint line that says what is missing,
// a progress bar with Cancel while a merge runs, and below them the preview of
// the join, redrawn whenever a path or the compensation switch changes.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "file_chooser.hpp"
#include "merge/inspection.hpp"
#include "merge/merge_run.hpp"

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTimer;

namespace tandemo::ui {

class Notifier;
class PathBox;
class PreviewPanel;
class WrappingCheckBox;

// The two portions dropped together, in the order of their runs.
QStringList OrderByRun(QStringList paths);

// What a running merge and the window share across threads: the merge reports how
// far it has read, the window asks it to stop.
struct MergeControl {
  std::atomic<long long> bytesRead{0};
  std::atomic<long long> bytesTotal{0};
  std::atomic<bool> cancelRequested{false};

  void Report(long long read, long long total) {
    bytesTotal = total;
    bytesRead = read;
  }
};

class MainWindow final : public QWidget {
  Q_OBJECT

 public:
  // The engine call that merges, on a worker thread; replaced in tests by one that
  // holds a merge open, reports progress or stops at the cancel request.
  using MergeFunction = std::function<tandemo::MergeOutcome(
      const tandemo::MergeRequest&, const tandemo::Inspection&, MergeControl&)>;

  // With the real file dialogs and message boxes.
  MainWindow();
  // With the given ones; both must outlive the window.
  MainWindow(FileChooser& chooser, Notifier& notifier);
  ~MainWindow() override;

  // The start-up: shows the tip window first, when the user wants it, and the
  // main window once it has been closed.
  void Start();

  // The size the window was designed at; it never gets smaller than this.
  static constexpr QSize kClassicSize{395, 258};
  // A merge that takes longer than this shows the progress bar and Cancel.
  static constexpr int kProgressDelayMs = 500;
  // Typing waits this long after the last key before the preview is worked out,
  // so each keystroke does not start a merge of its own.
  static constexpr int kPreviewDelayMs = 200;
  // The size the window opens at, to hold the preview below the classic controls;
  // never more than the screen offers.
  static constexpr QSize kPreviewSize{980, 920};

  void setMergeFunction(MergeFunction merge) { merge_ = std::move(merge); }
  bool isMerging() const { return merging_; }
  QString hint() const;
  PreviewPanel* preview() const { return preview_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Build(FileChooser& chooser);
  QGroupBox* MakeFileGroup(const QString& title, PathBox*& box, QPushButton*& browse,
                           const QString& browseName);

  void ChooseFile(PathBox* box, DialogKind kind, const QString& title);
  void RememberFolderOf(const QString& path);
  QString LastFolder() const;
  void TakeDroppedFiles(const QStringList& files, PathBox* target);

  void UpdateReadiness();
  void UpdateMinimumSize();
  // Asks the panel for the preview of the files in the first and second boxes, at
  // once; it waits for files until both boxes name readable files. The files
  // asked for before are not asked for again unless `evenIfUnchanged` (a Browse or
  // a drop: the file chosen again may hold new data).
  void RequestPreview();
  void AskForPreview(bool evenIfUnchanged);

  void DoIt();
  void StartMerge(const tandemo::Inspection& inspection, bool force);
  void FinishMerge(const tandemo::MergeOutcome& outcome, const tandemo::Inspection& inspection);
  void FinishCancelled();
  // The one place where the window's paths, switches, progress and cancel
  // request become an engine request.
  tandemo::MergeRequest BuildMergeRequest(bool force);
  void SetBusy(bool busy);
  void ShowProgress();
  void RequestCancel();
  bool AskWhenFilesDiffer(const tandemo::Inspection& inspection);
  bool AskToReplaceInput(std::size_t inputIndex);
  void ReportOutcome(const tandemo::MergeOutcome& outcome, const tandemo::Inspection& inspection);

  std::unique_ptr<FileChooser> ownChooser_;
  std::unique_ptr<Notifier> ownNotifier_;
  FileChooser* chooser_ = nullptr;
  Notifier* notifier_ = nullptr;
  MergeFunction merge_;

  QGroupBox* firstGroup_ = nullptr;
  QGroupBox* secondGroup_ = nullptr;
  QGroupBox* outputGroup_ = nullptr;
  PathBox* firstFileBox_ = nullptr;
  PathBox* secondFileBox_ = nullptr;
  PathBox* outputFileBox_ = nullptr;
  QPushButton* firstBrowseButton_ = nullptr;
  QPushButton* secondBrowseButton_ = nullptr;
  QPushButton* outputBrowseButton_ = nullptr;
  WrappingCheckBox* compensateBox_ = nullptr;
  WrappingCheckBox* headerBox_ = nullptr;
  QPushButton* doItButton_ = nullptr;
  QStackedWidget* statusArea_ = nullptr;
  QLabel* hintLabel_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QTimer* progressDelay_ = nullptr;
  QTimer* progressPoll_ = nullptr;
  QTimer* previewDelay_ = nullptr;
  PreviewPanel* preview_ = nullptr;
  struct PreviewRequest {
    QString first, second;
    bool compensate = false;
    bool operator==(const PreviewRequest&) const = default;
  };
  std::optional<PreviewRequest> previewAsked_;  // the last one the panel was given
  bool previewAfterMerge_ = false;              // asked for while a merge ran

  QString notice_;  // said in the hint line until the boxes change again
  bool merging_ = false;
  bool closeWhenDone_ = false;  // closed during a merge: goes once the merge has stopped
  MergeControl control_;        // shared with the merge running on a worker thread
};

}  // namespace tandemo::ui
