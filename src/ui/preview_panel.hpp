// The preview of a join, for the area below the window's classic controls: the
// thermogram, the isotherm and the settings of both files, worked out away from
// the window's thread whenever a path or the compensation switch changes.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>

#include "ui/preview_data.hpp"

class QLabel;
class QPushButton;
class QStackedWidget;

namespace tandemo::ui {

class HeatsChart;
class SettingsView;
class ThermogramChart;

class PreviewPanel final : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewPanel(QWidget* parent = nullptr);
  ~PreviewPanel() override;

  // Previews the join of these files. With a path empty it says what it waits
  // for. A newer request supersedes one still being worked on: that one is told
  // to stop and its result is dropped when it comes.
  void Request(const QString& first, const QString& second, bool compensate);

  // Tells the work under way to stop and drops its result; what is shown stays.
  void Stop();

  enum class State { WaitingForFiles, Working, Shown, Failed };
  State state() const { return state_; }
  // The words shown in place of the preview (waiting, working, or why the files
  // cannot be previewed), or above it (a note on what it leaves out).
  QString message() const;
  const PreviewData& shown() const { return shown_; }  // ok() false when none is shown

  // Asks where "Save picture..." writes: a path and the filter chosen, or nothing
  // after a cancel. The file dialog unless set otherwise.
  using PictureChooser = std::function<std::optional<std::pair<QString, QString>>(QWidget* parent)>;
  void SetPictureChooser(PictureChooser chooser);
  // Writes the thermogram and the isotherm; an empty text on success, else why not.
  QString SavePicture(const QString& path, const QString& selectedFilter = {});

  ThermogramChart* thermogram() const { return thermogram_; }
  HeatsChart* heats() const { return heats_; }
  SettingsView* settings() const { return settings_; }
  QPushButton* zoomOnJoinButton() const { return zoomOnJoin_; }
  QPushButton* showAllButton() const { return showAll_; }
  QPushButton* savePictureButton() const { return savePicture_; }

 signals:
  // The latest request's preview, or the reason there is none, is on screen.
  void finished();

 private:
  void ShowMessage(State state, const QString& text);
  void Apply(PreviewData preview);
  void SavePictureClicked();
  std::optional<std::pair<QString, QString>> AskForPicturePath(QWidget* parent);

  State state_ = State::WaitingForFiles;
  PreviewData shown_;
  std::uint64_t generation_ = 0;  // of the latest request; older results are dropped
  std::stop_source stop_;
  PictureChooser pictureChooser_;
  QString pictureFolder_;

  QLabel* status_ = nullptr;       // above the preview
  QLabel* placeholder_ = nullptr;  // in its place
  QStackedWidget* pages_ = nullptr;
  ThermogramChart* thermogram_ = nullptr;
  HeatsChart* heats_ = nullptr;
  SettingsView* settings_ = nullptr;
  QPushButton* zoomOnJoin_ = nullptr;
  QPushButton* showAll_ = nullptr;
  QPushButton* savePicture_ = nullptr;
};

}  // namespace tandemo::ui
