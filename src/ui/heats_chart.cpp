#include "heats_chart.hpp"

#include <QChart>
#include <QCursor>
#include <QLegend>
#include <QPen>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

#include "ui/preview_colours.hpp"

namespace tandemo::ui {
namespace {

// Rich text: the title over a smaller line that says what this is not.
QString Title(bool perMole) {
  return QStringLiteral(
             "<p align=\"center\">Integrated heats%1<br><small>"
             "Quick look: integrated against a straight baseline, not a fit</small></p>")
      .arg(perMole ? QStringLiteral(" per mole of injectant") : QString());
}

constexpr double kMargin = 0.08;  // of a span, either side of what is drawn

void FitAxis(QValueAxis* axis, double low, double high) {
  if (!(low <= high)) {
    axis->setRange(0.0, 1.0);
    return;
  }
  const double span = high > low ? high - low : std::max(std::fabs(high), 1.0);
  axis->setRange(low - span * kMargin, high + span * kMargin);
  axis->applyNiceNumbers();
}

}  // namespace

HeatsChart::HeatsChart(QWidget* parent) : QChartView(parent) {
  auto* chart = new QChart;
  MatchPalette(*chart, palette());
  chart->setBackgroundRoundness(0);
  chart->setMargins(QMargins(4, 4, 4, 4));
  chart->legend()->setAlignment(Qt::AlignBottom);
  xAxis_ = new QValueAxis;
  xAxis_->setLabelFormat(QStringLiteral("%g"));
  yAxis_ = new QValueAxis;
  yAxis_->setLabelFormat(QStringLiteral("%g"));
  chart->addAxis(xAxis_, Qt::AlignBottom);
  chart->addAxis(yAxis_, Qt::AlignLeft);
  setChart(chart);
  setRenderHint(QPainter::Antialiasing);
  Clear();
}

void HeatsChart::Clear() {
  chart()->removeAllSeries();
  series_.clear();
  heats_.clear();
  names_.clear();
  xAxis_->setTitleText(QStringLiteral("Injection"));
  yAxis_->setTitleText(QStringLiteral("Heat (\u00B5cal)"));
  chart()->setTitle(Title(false));
}

void HeatsChart::Show(const PreviewData& preview) {
  Clear();
  if (!preview.ok()) return;
  const std::size_t portions = preview.trace->portions.size();
  heats_.resize(portions);
  for (const InjectionHeat& heat : preview.heats)
    if (heat.heat && heat.portion < portions) heats_[heat.portion].push_back(heat);

  // One kind of value across the whole isotherm: mixing would mislead.
  byRatio_ = !preview.heats.empty();
  perMole_ = !preview.heats.empty();
  for (const InjectionHeat& heat : preview.heats) {
    if (!heat.heat) continue;
    byRatio_ = byRatio_ && heat.molarRatio.has_value();
    perMole_ = perMole_ && heat.heatPerMole.has_value();
  }
  xAxis_->setTitleText(byRatio_ ? QStringLiteral("Molar ratio") : QStringLiteral("Injection"));
  chart()->setTitle(Title(perMole_));
  yAxis_->setTitleText(perMole_ ? QStringLiteral("Heat (kcal/mol)")
                                : QStringLiteral("Heat (\u00B5cal)"));

  double xLow = std::numeric_limits<double>::infinity(), xHigh = -xLow, yLow = xLow, yHigh = -xLow;
  for (std::size_t p = 0; p < portions; ++p) {
    auto* series = new QScatterSeries;
    names_.push_back(p < preview.settings.columns.size()
                         ? QString::fromStdString(preview.settings.columns[p].name)
                         : QStringLiteral("portion %1").arg(p + 1));
    series->setName(names_.back());
    series->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    series->setMarkerSize(8.0);
    series->setColor(PortionColour(p));
    series->setBorderColor(PortionColour(p).darker(130));
    QList<QPointF> points;
    for (const InjectionHeat& heat : heats_[p]) {
      const double x = byRatio_ ? *heat.molarRatio : static_cast<double>(heat.number);
      const double y = perMole_ ? *heat.heatPerMole : *heat.heat;
      points.append(QPointF(x, y));
      xLow = std::min(xLow, x);
      xHigh = std::max(xHigh, x);
      yLow = std::min(yLow, y);
      yHigh = std::max(yHigh, y);
    }
    series->replace(points);
    chart()->addSeries(series);
    series->attachAxis(xAxis_);
    series->attachAxis(yAxis_);
    connect(series, &QScatterSeries::hovered, this,
            [this, p](const QPointF& point, bool entered) { ShowHeatTip(point, entered, p); });
    series_.push_back(series);
  }
  // Zero in view: whether a heat changes sign is the first thing to see.
  if (byRatio_) {
    FitAxis(xAxis_, std::min(xLow, 0.0), xHigh);
  } else {  // injection numbers: from 0, so the first is clear of the axis
    xAxis_->setRange(0.0, xHigh + 1.0);
    xAxis_->applyNiceNumbers();
  }
  FitAxis(yAxis_, std::min(yLow, 0.0), std::max(yHigh, 0.0));
}

QString HeatsChart::horizontalTitle() const { return xAxis_->titleText(); }
QString HeatsChart::verticalTitle() const { return yAxis_->titleText(); }

QScatterSeries* HeatsChart::portionSeries(std::size_t portion) const {
  return portion < series_.size() ? series_[portion] : nullptr;
}

void HeatsChart::ShowHeatTip(const QPointF& point, bool entered, std::size_t portion) {
  if (!entered || portion >= heats_.size() || heats_[portion].empty()) {
    QToolTip::hideText();
    return;
  }
  const std::vector<InjectionHeat>& heats = heats_[portion];
  auto xOf = [this](const InjectionHeat& h) {
    return byRatio_ ? *h.molarRatio : static_cast<double>(h.number);
  };
  const auto nearest = std::min_element(
      heats.begin(), heats.end(), [&](const InjectionHeat& a, const InjectionHeat& b) {
        return std::fabs(xOf(a) - point.x()) < std::fabs(xOf(b) - point.x());
      });
  QString text = QStringLiteral("Injection %1 (%2): %3 \u00B5cal")
                     .arg(nearest->number)
                     .arg(names_[portion])
                     .arg(*nearest->heat, 0, 'g', 4);
  if (nearest->heatPerMole)
    text += QStringLiteral(", %1 kcal/mol").arg(*nearest->heatPerMole, 0, 'g', 4);
  if (nearest->molarRatio)
    text += QStringLiteral(", molar ratio %1").arg(*nearest->molarRatio, 0, 'g', 3);
  QToolTip::showText(QCursor::pos(), text, this);
}

}  // namespace tandemo::ui
