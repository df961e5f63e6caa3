// The settings table on screen: one column per file, one row per setting; a value
// that differs from the first file's is set off in place (a palette colour, and
// bold so it reads without colour) with the reason on hover.
#pragma once

#include <QTableWidget>

#include "ui/settings_table.hpp"

namespace tandemo::ui {

class SettingsView final : public QTableWidget {
  Q_OBJECT

 public:
  explicit SettingsView(QWidget* parent = nullptr);

  void Show(const SettingsTable& table);
  void Clear();

  QSize sizeHint() const override;
};

}  // namespace tandemo::ui
