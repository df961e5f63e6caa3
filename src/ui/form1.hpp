// The main window: three path boxes with their Browse buttons, the compensation
// switch and Do It.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "merge/merge_run.hpp"

class QGroupBox;
class QLineEdit;
class QPushButton;

namespace tandemo::ui {

class FileChooser;
class FileDialogControl;
class Notifier;
class WrappingCheckBox;

class Form1 final : public QWidget {
  Q_OBJECT

 public:
  // With the real file dialogs and message boxes.
  Form1();
  // With the given ones; both must outlive the window.
  Form1(FileChooser& chooser, Notifier& notifier);
  ~Form1() override;

  // The start-up: loads the window, which shows the tip window modally, and shows
  // the window once the tip window has been closed.
  void Start();

  // The window's own strings: the three stored paths and the dialogs' start folder.
  struct Strings {
    QString strFile1;
    QString strFile2;
    QString strOutputFile;
    QString strInitDir;
  };
  const Strings& strings() const { return s_; }

  // The designed client area; the window grows downwards to hold the second check box.
  static constexpr QSize kClientSize{395, 238};
  static constexpr int kCheckGap = 2;  // between the two check boxes

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build(FileChooser& chooser);

  void Form_Load();
  void cmdFile1_Click();
  void cmdFile2_Click();
  void cmdOutputFile_Click();
  void cmdDoIt_Click();

  QString GetFileName(const QString& strTitle);
  // The dialog settings every display starts from.
  void PrepareDialog(const QString& strTitle, std::uint32_t flags);
  void UpdateStartFolder(const QString& strPath);
  // Compares the two files; where they differ, asks whether to merge anyway.
  bool FilesBelongTogether();
  // The one call into the engine, with the stored paths and the switches.
  tandemo::MergeOutcome MergeStoredFiles() const;
  void ReportOutcome(const tandemo::MergeOutcome& outcome);

  std::unique_ptr<FileChooser> ownChooser_;
  std::unique_ptr<Notifier> ownNotifier_;
  Notifier* notifier_ = nullptr;
  Strings s_;

  QGroupBox* Frame1[3];
  QLineEdit* txtFile1;
  QPushButton* cmdFile1;
  QPushButton* cmdFile2;
  QLineEdit* txtFile2;
  QPushButton* cmdOutputFile;
  QLineEdit* txtOutputFile;
  QPushButton* cmdDoIt;
  WrappingCheckBox* Check1;
  WrappingCheckBox* Check2;
  FileDialogControl* cdlFiles;
};

}  // namespace tandemo::ui
