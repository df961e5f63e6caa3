#include "preview_panel.hpp"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "ui/heats_chart.hpp"
#include "ui/preview_picture.hpp"
#include "ui/settings_view.hpp"
#include "ui/thermogram_chart.hpp"

namespace tandemo::ui {
namespace {

const QString kWaitingText = QStringLiteral(
    "The preview of the join shows here once the first and second files are chosen.");
const QString kWorkingText = QStringLiteral("Reading the files...");

// File names as the system's calls want them, whatever characters they hold.
std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString NoteOn(const Trace& trace) {
  if (trace.unreadableLines == 0) return {};
  QString note =
      QStringLiteral(
          "Not drawn: %1 data line(s) whose time or DP is not a number, the first in the %2")
          .arg(trace.unreadableLines)
          .arg(QString::fromStdString(
              FileLabel(FilePlace::Input(static_cast<int>(trace.firstUnreadablePortion) + 1))));
  if (trace.firstUnreadableLine > 0)
    note += QStringLiteral(", line %1").arg(trace.firstUnreadableLine);
  return note + QLatin1Char('.');
}

}  // namespace

PreviewPanel::PreviewPanel(QWidget* parent) : QWidget(parent) {
  status_ = new QLabel;
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  zoomOnJoin_ = new QPushButton(QStringLiteral("Zoom on join"));
  zoomOnJoin_->setToolTip(QStringLiteral("Show a few injections either side of the join"));
  showAll_ = new QPushButton(QStringLiteral("Show all"));
  showAll_->setToolTip(
      QStringLiteral("Show the whole titration. Over the thermogram, the mouse wheel zooms in "
                     "time, dragging zooms on "
                     "a rectangle and a right click shows all again."));
  savePicture_ = new QPushButton(QStringLiteral("Save picture..."));
  savePicture_->setToolTip(
      QStringLiteral("Write the thermogram and the heats as a PNG or SVG picture"));

  auto* bar = new QHBoxLayout;
  bar->addWidget(status_, 1);
  bar->addWidget(zoomOnJoin_);
  bar->addWidget(showAll_);
  bar->addWidget(savePicture_);

  placeholder_ = new QLabel;
  placeholder_->setAlignment(Qt::AlignCenter);
  placeholder_->setWordWrap(true);
  placeholder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  placeholder_->setMargin(12);

  thermogram_ = new ThermogramChart;
  heats_ = new HeatsChart;
  settings_ = new SettingsView;
  thermogram_->setAccessibleName(QStringLiteral("Thermogram of the merged titration"));
  heats_->setAccessibleName(QStringLiteral("Integrated heats"));
  settings_->setAccessibleName(QStringLiteral("Settings of each file"));
  thermogram_->setMinimumSize(480, 300);
  heats_->setMinimumSize(320, 280);
  auto* content = new QWidget;
  auto* grid = new QGridLayout(content);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(thermogram_, 0, 0, 1, 2);
  grid->addWidget(heats_, 1, 0);
  grid->addWidget(settings_, 1, 1, Qt::AlignTop);
  settings_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
  grid->setRowStretch(0, 3);
  grid->setRowStretch(1, 2);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);

  pages_ = new QStackedWidget;
  pages_->addWidget(placeholder_);
  pages_->addWidget(content);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(bar);
  layout->addWidget(pages_, 1);

  connect(zoomOnJoin_, &QPushButton::clicked, this, [this] { thermogram_->ZoomOnJoin(); });
  connect(showAll_, &QPushButton::clicked, this, [this] { thermogram_->ShowAll(); });
  connect(savePicture_, &QPushButton::clicked, this, &PreviewPanel::SavePictureClicked);
  ShowMessage(State::WaitingForFiles, kWaitingText);
}

PreviewPanel::~PreviewPanel() { stop_.request_stop(); }

QString PreviewPanel::message() const {
  return pages_->currentWidget() == placeholder_ ? placeholder_->text() : status_->text();
}

void PreviewPanel::ShowMessage(State state, const QString& text) {
  state_ = state;
  const bool keepPreview = state == State::Working && shown_.ok();
  if (!keepPreview) {
    shown_ = PreviewData{};
    thermogram_->Clear();
    heats_->Clear();
    settings_->Clear();
  }
  placeholder_->setText(text);
  status_->setText(keepPreview ? text : QString());
  pages_->setCurrentWidget(keepPreview ? pages_->widget(1) : placeholder_);
  zoomOnJoin_->setEnabled(keepPreview && thermogram_->hasJoin());
  showAll_->setEnabled(keepPreview);
  savePicture_->setEnabled(keepPreview);
}

void PreviewPanel::Stop() {
  ++generation_;
  stop_.request_stop();
}

void PreviewPanel::Request(const QString& first, const QString& second, bool compensate) {
  ++generation_;
  stop_.request_stop();
  stop_ = std::stop_source();
  if (first.trimmed().isEmpty() || second.trimmed().isEmpty()) {
    ShowMessage(State::WaitingForFiles, kWaitingText);
    return;
  }
  ShowMessage(State::Working, kWorkingText);
  const PreviewInput input{LocalPath(first), LocalPath(second), compensate};
  const std::uint64_t generation = generation_;
  auto* watcher = new QFutureWatcher<PreviewData>(this);
  connect(watcher, &QFutureWatcher<PreviewData>::finished, this, [this, watcher, generation] {
    watcher->deleteLater();
    if (generation != generation_) return;  // superseded while it was worked on
    Apply(watcher->future().takeResult());
  });
  watcher->setFuture(
      QtConcurrent::run([input, stop = stop_.get_token()] { return BuildPreview(input, stop); }));
}

void PreviewPanel::Apply(PreviewData preview) {
  if (preview.error) {
    ShowMessage(State::Failed, QString::fromStdString(preview.error->Message()));
  } else if (preview.ok()) {
    state_ = State::Shown;
    shown_ = std::move(preview);
    thermogram_->Show(shown_);
    heats_->Show(shown_);
    settings_->Show(shown_.settings);
    status_->setText(NoteOn(*shown_.trace));
    pages_->setCurrentIndex(1);
    zoomOnJoin_->setEnabled(thermogram_->hasJoin());
    showAll_->setEnabled(true);
    savePicture_->setEnabled(true);
    if (pictureFolder_.isEmpty())
      pictureFolder_ = QFileInfo(QFile::decodeName(shown_.input.first.c_str())).absolutePath();
  } else {
    return;  // stopped, and so superseded: the newer request will answer
  }
  emit finished();
}

void PreviewPanel::SetPictureChooser(PictureChooser chooser) {
  pictureChooser_ = std::move(chooser);
}

std::optional<std::pair<QString, QString>> PreviewPanel::AskForPicturePath(QWidget* parent) {
  const QString first = QFileInfo(QFile::decodeName(shown_.input.first.c_str())).completeBaseName();
  QFileDialog dialog(parent, QStringLiteral("Save picture"), pictureFolder_);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(PictureFilters());
  // The dialog adds the chosen kind's extension itself, so that its question
  // about replacing a file asks about the file that will be written.
  auto suffixFor = [](const QString& filter) {
    return PictureTargetFor(QString(), filter).format == PictureFormat::Svg ? QStringLiteral("svg")
                                                                            : QStringLiteral("png");
  };
  dialog.setDefaultSuffix(suffixFor(PictureFilters().front()));
  connect(
      &dialog, &QFileDialog::filterSelected, &dialog,
      [&dialog, suffixFor](const QString& filter) { dialog.setDefaultSuffix(suffixFor(filter)); });
  dialog.selectFile(first + QStringLiteral("-join.png"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return std::make_pair(dialog.selectedFiles().front(), dialog.selectedNameFilter());
}

QString PreviewPanel::SavePicture(const QString& path, const QString& selectedFilter) {
  if (state_ != State::Shown && !(state_ == State::Working && shown_.ok()))
    return QStringLiteral("There is no preview to save yet.");
  const PictureTarget target = PictureTargetFor(path, selectedFilter);
  QString error = WritePicture(target, {thermogram_, heats_});
  if (error.isEmpty()) pictureFolder_ = QFileInfo(target.path).absolutePath();
  return error;
}

void PreviewPanel::SavePictureClicked() {
  const auto chosen = pictureChooser_ ? pictureChooser_(this) : AskForPicturePath(this);
  if (!chosen) return;
  const QString error = SavePicture(chosen->first, chosen->second);
  if (!error.isEmpty()) QMessageBox::warning(this, QStringLiteral("Tandemo"), error);
}

}  // namespace tandemo::ui
