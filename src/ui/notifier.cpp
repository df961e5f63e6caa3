#include "notifier.hpp"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

namespace tandemo::ui {
namespace {

int ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
            const QString& detail, QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton defaultButton) {
  QMessageBox box(icon, title, text, buttons, parent);
  box.setObjectName(QStringLiteral("messageBox"));
  box.setWindowModality(Qt::ApplicationModal);
  box.setTextFormat(Qt::PlainText);
  if (!detail.isEmpty()) {
    box.setInformativeText(detail);
    // Paths and quoted file text are shown as they are, never read as markup.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
      label->setTextFormat(Qt::PlainText);
    }
  }
  box.setDefaultButton(defaultButton);
  return box.exec();
}

}  // namespace

void QtNotifier::Inform(QWidget* parent, const QString& title, const QString& text) {
  ShowBox(parent, QMessageBox::Information, title, text, QString(), QMessageBox::Ok,
          QMessageBox::Ok);
}

void QtNotifier::Warn(QWidget* parent, const QString& title, const QString& text,
                      const QString& detail) {
  ShowBox(parent, QMessageBox::Warning, title, text, detail, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtNotifier::Ask(QWidget* parent, const QString& title, const QString& text,
                     bool yesIsDefault) {
  return ShowBox(parent, QMessageBox::Question, title, text, QString(),
                 QMessageBox::Yes | QMessageBox::No,
                 yesIsDefault ? QMessageBox::Yes : QMessageBox::No) == QMessageBox::Yes;
}

void QtNotifier::Beep() { QApplication::beep(); }

}  // namespace tandemo::ui
