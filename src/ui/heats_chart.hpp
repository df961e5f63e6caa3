// The heat of each injection, integrated for a quick look at the isotherm (not a
// fit): per mole of injectant against molar ratio where the headers give the
// concentrations, else as measured against the injection number; each portion in
// its own colour, so the isotherm is seen to run on across the join.
#pragma once

#include <QChartView>
#include <QString>
#include <vector>

#include "ui/preview_data.hpp"

class QScatterSeries;
class QValueAxis;

namespace tandemo::ui {

class HeatsChart final : public QChartView {
  Q_OBJECT

 public:
  explicit HeatsChart(QWidget* parent = nullptr);

  void Show(const PreviewData& preview);
  void Clear();

  QString horizontalTitle() const;
  QString verticalTitle() const;
  QScatterSeries* portionSeries(std::size_t portion) const;

 private:
  void ShowHeatTip(const QPointF& point, bool entered, std::size_t portion);

  QValueAxis* xAxis_ = nullptr;
  QValueAxis* yAxis_ = nullptr;
  std::vector<QScatterSeries*> series_;
  std::vector<std::vector<InjectionHeat>> heats_;  // as drawn, by portion
  std::vector<QString> names_;
  bool byRatio_ = false;
  bool perMole_ = false;
};

}  // namespace tandemo::ui
