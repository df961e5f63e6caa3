#include "path_box.hpp"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QStyleOptionFrame>

#include "file_chooser.hpp"

namespace tandemo::ui {
namespace {
// QLineEdit keeps this much room between its frame's contents and the text.
constexpr int kLineEditTextMargin = 2;
}  // namespace

bool AcceptAsCopy(QDropEvent& event) {
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

PathBox::PathBox(QWidget* parent) : QLineEdit(parent) {
  connect(this, &QLineEdit::textChanged, this,
          [this](const QString& text) { setToolTip(QDir::toNativeSeparators(text)); });
  // A typed URL or "~/" path is shown as the file it names once the typing is done.
  connect(this, &QLineEdit::editingFinished, this, &PathBox::ShowResolved);
}

QString PathBox::path() const { return LocalPathOf(text()); }

void PathBox::ShowResolved() {
  const QString resolved = LocalPathOf(text());
  if (resolved != text()) setText(resolved);
}

QRect PathBox::TextRect() const {
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  QRect r = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
  r = r.marginsRemoved(textMargins());
  return r.adjusted(kLineEditTextMargin, 0, -kLineEditTextMargin, 0);
}

QString PathBox::shownText() const {
  // With the focus the box is being edited: it shows its text as a line edit does.
  if (hasFocus() || text().isEmpty() || echoMode() != QLineEdit::Normal) return text();
  const int room = TextRect().width();
  if (fontMetrics().horizontalAdvance(text()) <= room) return text();
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, room);
}

void PathBox::paintEvent(QPaintEvent* event) {
  const QString shown = shownText();
  if (shown == text()) {
    QLineEdit::paintEvent(event);
    return;
  }
  QPainter painter(this);
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
  painter.drawText(TextRect(), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

void PathBox::PasteAsPath() {
  if (isReadOnly()) return;
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  if (!mime) return;
  const QStringList files = DroppedFiles(mime);
  QString pasted = !files.isEmpty() ? files.constFirst() : mime->text();
  if (pasted.isEmpty()) return;
  const QString resolved = LocalPathOf(pasted);
  // A URL or "~/" path names a whole file: it replaces what the box held.
  if (resolved != pasted || !files.isEmpty()) {
    setText(resolved);
    return;
  }
  insert(pasted);
}

void PathBox::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    PasteAsPath();
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void PathBox::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  if (auto* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"))) {
    disconnect(paste, &QAction::triggered, nullptr, nullptr);
    connect(paste, &QAction::triggered, this, &PathBox::PasteAsPath);
  }
  menu->popup(event->globalPos());
}

void PathBox::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFiles(event->mimeData()).isEmpty()) {
    AcceptAsCopy(*event);
    return;
  }
  QLineEdit::dragEnterEvent(event);  // text, as a line edit takes it
}

void PathBox::dragMoveEvent(QDragMoveEvent* event) {
  if (!DroppedFiles(event->mimeData()).isEmpty()) {
    AcceptAsCopy(*event);
    return;
  }
  QLineEdit::dragMoveEvent(event);
}

void PathBox::dropEvent(QDropEvent* event) {
  const QStringList files = DroppedFiles(event->mimeData());
  if (!files.isEmpty()) {
    if (AcceptAsCopy(*event)) emit filesDropped(files);
    return;
  }
  // Dropped text that is a URL or a "~/" path names a whole file.
  const QString text = event->mimeData() ? event->mimeData()->text() : QString();
  if (!text.isEmpty() && LocalPathOf(text) != text) {
    setText(LocalPathOf(text));
    event->acceptProposedAction();
    return;
  }
  QLineEdit::dropEvent(event);
}

}  // namespace tandemo::ui
