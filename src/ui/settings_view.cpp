#include "settings_view.hpp"

#include <QHeaderView>

namespace tandemo::ui {

SettingsView::SettingsView(QWidget* parent) : QTableWidget(parent) {
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::NoSelection);
  setFocusPolicy(Qt::NoFocus);
  setWordWrap(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  setRowCount(static_cast<int>(kSettingsRows));
  QStringList rows;
  for (std::size_t r = 0; r < kSettingsRows; ++r)
    rows << QString::fromUtf8(RowName(static_cast<SettingsRow>(r)));
  setVerticalHeaderLabels(rows);
}

void SettingsView::Clear() { setColumnCount(0); }

void SettingsView::Show(const SettingsTable& table) {
  setColumnCount(static_cast<int>(table.columns.size()));
  // A tint of the selection colour keeps the text readable in light and dark palettes.
  QColor tint = palette().color(QPalette::Highlight);
  tint.setAlpha(70);
  for (int c = 0; c < columnCount(); ++c) {
    const SettingsColumn& column = table.columns[static_cast<std::size_t>(c)];
    QString role = QString::fromStdString(column.role);
    if (!role.isEmpty()) role[0] = role[0].toUpper();
    auto* head =
        new QTableWidgetItem(role + QLatin1Char('\n') + QString::fromStdString(column.name));
    head->setToolTip(QString::fromStdString(column.name));
    setHorizontalHeaderItem(c, head);
    for (std::size_t r = 0; r < kSettingsRows; ++r) {
      const SettingsCell& cell = column.cells[r];
      auto* item = new QTableWidgetItem(QString::fromStdString(cell.text));
      if (cell.differs) {
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
        item->setBackground(tint);
        item->setToolTip(QString::fromStdString(cell.reason));
      } else if (!cell.text.empty()) {
        item->setToolTip(QString::fromStdString(cell.text));  // long values are cut on screen
      }
      setItem(static_cast<int>(r), c, item);
    }
  }
}

QSize SettingsView::sizeHint() const {
  int height = horizontalHeader()->sizeHint().height() + 2 * frameWidth();
  for (int r = 0; r < rowCount(); ++r) height += verticalHeader()->sectionSize(r);
  return {verticalHeader()->sizeHint().width() + 2 * 160, height};
}

}  // namespace tandemo::ui
