// Stand-ins for the file dialogs and message boxes, and a way to act on a modal
// window from inside its own event loop.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "ui/file_chooser.hpp"
#include "ui/notifier.hpp"

namespace tandemo::test {

// Answers each display from a script and keeps what it was asked.
class ScriptedChooser final : public ui::FileChooser {
 public:
  struct Call {
    ui::FileRequest request;
    QWidget* parent;
  };

  std::optional<QString> Choose(const ui::FileRequest& request, QWidget* parent) override {
    calls.push_back({request, parent});
    if (answers.empty()) return std::nullopt;
    std::optional<QString> answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::deque<std::optional<QString>> answers;  // nullopt: the user cancels
  std::vector<Call> calls;
};

// Keeps every box and beep in the order they came, and answers questions from a script.
class RecordingNotifier final : public ui::Notifier {
 public:
  struct Event {
    QString kind;  // "inform", "warn", "ask" or "beep"
    QString title;
    QString text;
    QString detail;
    bool yesIsDefault = false;  // for a question: the button Enter presses
    bool operator==(const Event&) const = default;
  };

  void Inform(QWidget* /*parent*/, const QString& title, const QString& text) override {
    events.push_back({QStringLiteral("inform"), title, text, QString()});
  }
  void Warn(QWidget* /*parent*/, const QString& title, const QString& text,
            const QString& detail) override {
    events.push_back({QStringLiteral("warn"), title, text, detail});
  }
  bool Ask(QWidget* /*parent*/, const QString& title, const QString& text,
           bool yesIsDefault) override {
    events.push_back({QStringLiteral("ask"), title, text, QString(), yesIsDefault});
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Beep() override { events.push_back({QStringLiteral("beep"), {}, {}, {}}); }

  QStringList kinds() const {
    QStringList k;
    for (const Event& e : events) k << e.kind;
    return k;
  }

  std::deque<bool> answers;
  std::vector<Event> events;
};

// Runs `act` once on the first visible modal widget of type W, from inside the
// modal's event loop. If none comes within the limit, closes whatever modal is
// open so that the test fails instead of hanging.
template <class W>
class WhenModal final : public QObject {
 public:
  explicit WhenModal(std::function<void(W*)> act, int limitMs = 10000)
      : act_(std::move(act)), limitMs_(limitMs) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start();
  }

  bool fired() const { return fired_; }
  bool timedOut() const { return timedOut_; }

 private:
  void Poll() {
    auto* modal = qobject_cast<W*>(QApplication::activeModalWidget());
    if (modal && modal->isVisible()) {
      timer_.stop();
      fired_ = true;
      act_(modal);
      return;
    }
    waitedMs_ += timer_.interval();
    if (waitedMs_ > limitMs_) {
      timer_.stop();
      timedOut_ = true;
      if (QWidget* other = QApplication::activeModalWidget()) other->close();
    }
  }

  std::function<void(W*)> act_;
  int limitMs_;
  int waitedMs_ = 0;
  bool fired_ = false;
  bool timedOut_ = false;
  QTimer timer_;
};

// Keeps the tests' remembered settings in a folder of their own, never the user's.
class IsolatedSettings {
 public:
  IsolatedSettings() {
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("TandemoTest"));
    QCoreApplication::setApplicationName(QStringLiteral("TandemoTest"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder_.path());
  }
  // Forgets everything remembered, as on a first run.
  static void Clear() {
    QSettings settings;
    settings.clear();
    settings.sync();
  }

 private:
  QTemporaryDir folder_;
};

inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return f.write(bytes) == bytes.size();
}

inline QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

// The names in a folder, hidden ones included, so that a stray scratch file shows.
inline QStringList Listing(const QString& dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDir::Name);
}

}  // namespace tandemo::test
