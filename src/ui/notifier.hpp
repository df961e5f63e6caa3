// What the windows tell the user: message boxes and the system beep. Behind an
// interface so that tests can record them instead of blocking on a modal box.
#pragma once

#include <QString>

class QWidget;

namespace tandemo::ui {

class Notifier {
 public:
  virtual ~Notifier() = default;
  // An application-modal box with an information icon and OK; returns once dismissed.
  virtual void Inform(QWidget* parent, const QString& title, const QString& text) = 0;
  // An application-modal box with a warning icon and OK: `text` as its main line,
  // `detail` below it; returns once dismissed.
  virtual void Warn(QWidget* parent, const QString& title, const QString& text,
                    const QString& detail) = 0;
  // A Yes/No question with a question icon; true for Yes. `yesIsDefault` picks the
  // button that Enter presses.
  virtual bool Ask(QWidget* parent, const QString& title, const QString& text,
                   bool yesIsDefault) = 0;
  virtual void Beep() = 0;
};

// QMessageBox and QApplication::beep.
class QtNotifier final : public Notifier {
 public:
  void Inform(QWidget* parent, const QString& title, const QString& text) override;
  void Warn(QWidget* parent, const QString& title, const QString& text,
            const QString& detail) override;
  bool Ask(QWidget* parent, const QString& title, const QString& text, bool yesIsDefault) override;
  void Beep() override;
};

}  // namespace tandemo::ui
