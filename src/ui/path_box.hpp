// A box that holds one file's path: the path is the box's text and its tooltip;
// a path too long for the box is shown with its middle elided while the box has
// no focus. Pasted or dropped "file:" URLs and "~/" paths become the files they name.
#pragma once

#include <QLineEdit>
#include <QStringList>

class QDropEvent;

namespace tandemo::ui {

class PathBox final : public QLineEdit {
  Q_OBJECT

 public:
  explicit PathBox(QWidget* parent = nullptr);

  // The file the box names, with URLs and "~" resolved.
  QString path() const;
  // The text as the box paints it.
  QString shownText() const;

 signals:
  // Local files dropped onto the box, in the order the drag carried them.
  void filesDropped(const QStringList& files);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void PasteAsPath();
  void ShowResolved();
  QRect TextRect() const;
};

// Takes a drop of files as a copy or a link, never a move: only the names are
// used, and a file manager deletes the source of a move that was accepted.
// False (and the event ignored) when the drag offers neither.
bool AcceptAsCopy(QDropEvent& event);

}  // namespace tandemo::ui
