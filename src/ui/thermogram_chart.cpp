#include "thermogram_chart.hpp"

#include <QBrush>
#include <QChart>
#include <QCursor>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPen>
#include <QScatterSeries>
#include <QTimer>
#include <QToolTip>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>

#include "ui/preview_colours.hpp"

namespace tandemo::ui {
namespace {

constexpr double kSecondsPerMinute = 60.0;
constexpr double kNarrowestWindow = 0.1;  // minutes: a few data lines of the slowest instrument
constexpr double kDpMargin = 0.08;        // of the DP span, above and below what is drawn

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

QString OffsetText(float offset) { return QString::number(static_cast<double>(offset), 'g', 4); }

QString JoinText(const JoinPoint& join) {
  if (!join.offset) return QStringLiteral("Join");
  if (join.compensated)
    return QStringLiteral("Join: DP offset %1 \u00B5cal/s taken off").arg(OffsetText(*join.offset));
  return QStringLiteral("Join: DP offset %1 \u00B5cal/s, not compensated")
      .arg(OffsetText(*join.offset));
}

// Ticks at round values (1, 2 or 5 times a power of ten) whatever the window,
// four to ten of them, so a zoomed axis reads 18, 20, 22 rather than 18.5833.
// Set before a range is widened too: the axis lays out its labels at once, and
// the old interval over a wide range would make hundreds of them.
void RoundTicks(QValueAxis* axis, double min, double max) {
  const double span = max - min;
  if (!(span > 0.0)) return;
  const double rough = span / 4.0;  // the largest round step that still gives four ticks
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power;
  for (double factor : {2.0, 5.0})
    if (power * factor <= rough) step = power * factor;
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(0.0);
  axis->setTickInterval(step);
}

void Append(QList<QPointF>& out, const TracePoint& p, double dpShift = 0.0) {
  out.append(QPointF(p.time / kSecondsPerMinute, p.dp + dpShift));
}

}  // namespace

ThermogramChart::ThermogramChart(QWidget* parent) : QChartView(parent) {
  auto* chart = new QChart;
  MatchPalette(*chart, palette());
  chart->setTitle(QStringLiteral("Thermogram of the merged titration"));
  chart->setBackgroundRoundness(0);
  chart->setMargins(QMargins(4, 4, 4, 4));
  chart->legend()->setAlignment(Qt::AlignBottom);
  timeAxis_ = new QValueAxis;
  timeAxis_->setTitleText(QStringLiteral("Time (min)"));
  timeAxis_->setLabelFormat(QStringLiteral("%g"));
  dpAxis_ = new QValueAxis;
  dpAxis_->setTitleText(QStringLiteral("DP (\u00B5cal/s)"));
  dpAxis_->setLabelFormat(QStringLiteral("%g"));
  chart->addAxis(timeAxis_, Qt::AlignBottom);
  chart->addAxis(dpAxis_, Qt::AlignLeft);
  setChart(chart);
  setRenderHint(QPainter::Antialiasing);
  setRubberBand(QChartView::RectangleRubberBand);

  connect(timeAxis_, &QValueAxis::rangeChanged, this, [this](qreal min, qreal max) {
    RoundTicks(timeAxis_, min, max);
    ScheduleRedraw();
  });
  connect(dpAxis_, &QValueAxis::rangeChanged, this, [this](qreal min, qreal max) {
    RoundTicks(dpAxis_, min, max);
    PlaceJoins();
  });
  connect(chart, &QChart::plotAreaChanged, this, [this] { PlaceJoins(); });
}

void ThermogramChart::Clear() {
  chart()->removeAllSeries();
  for (JoinMark& join : joins_) delete join.label;
  joins_.clear();
  portionSeries_.clear();
  uncompensatedSeries_.clear();
  marks_ = nullptr;
  markInfo_.clear();
  names_.clear();
  whole_.clear();
  trace_.reset();
}

void ThermogramChart::Show(const PreviewData& preview) {
  Clear();
  if (!preview.ok()) return;
  trace_ = preview.trace;
  whole_ = preview.reduced;
  const Trace& trace = *trace_;
  for (std::size_t p = 0; p < trace.portions.size(); ++p) {
    names_ << (p < preview.settings.columns.size() ? FromUtf8(preview.settings.columns[p].name)
                                                   : QStringLiteral("portion %1").arg(p + 1));
  }

  auto attach = [this](QAbstractSeries* series) {
    chart()->addSeries(series);
    series->attachAxis(timeAxis_);
    series->attachAxis(dpAxis_);
  };

  // Added first, so drawn behind the portions as written.
  uncompensatedSeries_.assign(trace.portions.size(), nullptr);
  for (std::size_t p = 0; p < trace.portions.size(); ++p) {
    if (!trace.portions[p].compensated || !trace.portions[p].offset) continue;
    auto* series = new QLineSeries;
    series->setName(
        QStringLiteral("%1 without compensation").arg(names_[static_cast<qsizetype>(p)]));
    QColor faint = PortionColour(p);
    faint.setAlpha(110);
    series->setPen(QPen(faint, 1.2, Qt::DashLine));
    attach(series);
    uncompensatedSeries_[p] = series;
  }
  for (std::size_t p = 0; p < trace.portions.size(); ++p) {
    auto* series = new QLineSeries;
    series->setName(names_[static_cast<qsizetype>(p)]);
    series->setPen(QPen(PortionColour(p), 1.4));
    attach(series);
    portionSeries_.push_back(series);
  }

  for (const JoinPoint& join : trace.joins) {
    if (!join.time) continue;
    JoinMark mark;
    mark.minutes = *join.time / kSecondsPerMinute;
    mark.line = new QLineSeries;
    mark.line->setName(QStringLiteral("join"));
    mark.line->setPen(QPen(palette().color(QPalette::WindowText), 1.0, Qt::DashDotLine));
    attach(mark.line);
    for (QLegendMarker* legend : chart()->legend()->markers(mark.line)) legend->setVisible(false);
    mark.label = new QGraphicsRectItem(chart());
    mark.label->setPen(Qt::NoPen);
    QColor backing = palette().color(QPalette::Base);
    backing.setAlpha(220);
    mark.label->setBrush(backing);
    mark.text = new QGraphicsSimpleTextItem(JoinText(join), mark.label);
    mark.text->setBrush(palette().color(QPalette::Text));
    mark.label->setZValue(20);
    joins_.push_back(mark);
  }

  marks_ = new QScatterSeries;
  marks_->setName(QStringLiteral("injections (hover for the number)"));
  marks_->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
  marks_->setMarkerSize(8.0);
  marks_->setColor(palette().color(QPalette::WindowText));
  marks_->setBorderColor(Qt::transparent);
  QList<QPointF> markPoints;
  for (const InjectionMark& mark : trace.injections) {
    if (!mark.time || mark.firstPoint >= trace.points.size()) continue;
    markInfo_.push_back(mark);
    Append(markPoints, trace.points[mark.firstPoint]);
  }
  marks_->replace(markPoints);
  attach(marks_);
  connect(marks_, &QScatterSeries::hovered, this, &ThermogramChart::ShowInjectionTip);

  if (trace.points.empty()) {
    fullFrom_ = 0.0;
    fullTo_ = 1.0;
  } else {
    fullFrom_ = trace.points.front().time / kSecondsPerMinute;
    fullTo_ = trace.points.back().time / kSecondsPerMinute;
    if (fullTo_ - fullFrom_ < kNarrowestWindow) fullTo_ = fullFrom_ + kNarrowestWindow;
  }
  ShowAll();
}

void ThermogramChart::ShowAll() { SetWindow(fullFrom_, fullTo_, true); }

bool ThermogramChart::hasJoin() const { return trace_ && !joins_.empty(); }

bool ThermogramChart::ZoomOnJoin() {
  if (!hasJoin()) return false;
  const Trace& trace = *trace_;
  const double join = joins_.front().minutes;
  // The marks either side of the join: the window opens at the mark a few
  // injections before it and closes where the interval a few after it ends.
  std::size_t after = 0;
  while (after < markInfo_.size() && *markInfo_[after].time / kSecondsPerMinute < join) ++after;
  const std::size_t firstShown = after >= kInjectionsAroundJoin ? after - kInjectionsAroundJoin : 0;
  double from = markInfo_.empty() ? fullFrom_ : *markInfo_[firstShown].time / kSecondsPerMinute;
  double to = fullTo_;
  const std::size_t lastShown = after + kInjectionsAroundJoin - 1;
  if (lastShown < markInfo_.size()) {
    const InjectionMark& last = markInfo_[lastShown];
    if (last.endPoint > 0 && last.endPoint <= trace.points.size())
      to = trace.points[last.endPoint - 1].time / kSecondsPerMinute;
  }
  from = std::min(from, join);
  to = std::max(to, join);
  SetWindow(from, to, true);
  return true;
}

bool ThermogramChart::zoomed() const {
  return timeAxis_->min() > fullFrom_ || timeAxis_->max() < fullTo_;
}

std::pair<double, double> ThermogramChart::timeWindow() const {
  return {timeAxis_->min(), timeAxis_->max()};
}

QStringList ThermogramChart::joinLabels() const {
  QStringList labels;
  for (const JoinMark& join : joins_) labels << join.text->text();
  return labels;
}

QLineSeries* ThermogramChart::portionSeries(std::size_t portion) const {
  return portion < portionSeries_.size() ? portionSeries_[portion] : nullptr;
}

QLineSeries* ThermogramChart::uncompensatedSeries(std::size_t portion) const {
  return portion < uncompensatedSeries_.size() ? uncompensatedSeries_[portion] : nullptr;
}

void ThermogramChart::SetWindow(double fromMinutes, double toMinutes, bool fitDp) {
  fromMinutes = std::max(fromMinutes, fullFrom_);
  toMinutes = std::min(toMinutes, fullTo_);
  if (toMinutes - fromMinutes < kNarrowestWindow) {
    const double middle = (fromMinutes + toMinutes) / 2;
    fromMinutes = std::max(fullFrom_, middle - kNarrowestWindow / 2);
    toMinutes = std::min(fullTo_, fromMinutes + kNarrowestWindow);
  }
  fitDp_ = fitDp;
  RoundTicks(timeAxis_, fromMinutes, toMinutes);
  timeAxis_->setRange(fromMinutes, toMinutes);
  Redraw();  // now, not later: whoever set the window sees it drawn
}

void ThermogramChart::ScheduleRedraw() {
  if (redrawPending_) return;
  redrawPending_ = true;
  QTimer::singleShot(0, this, [this] { Redraw(); });
}

void ThermogramChart::Redraw() {
  redrawPending_ = false;
  if (!trace_) return;
  const Trace& trace = *trace_;
  const bool whole = !zoomed();
  const double from = timeAxis_->min() * kSecondsPerMinute,
               to = timeAxis_->max() * kSecondsPerMinute;
  double low = std::numeric_limits<double>::infinity(), high = -low;
  auto widen = [&](const QList<QPointF>& points) {
    for (const QPointF& p : points) {
      if (p.x() * kSecondsPerMinute < from || p.x() * kSecondsPerMinute > to) continue;
      low = std::min(low, p.y());
      high = std::max(high, p.y());
    }
  };

  for (std::size_t p = 0; p < portionSeries_.size(); ++p) {
    QList<QPointF> written, without;
    const TracePortion& portion = trace.portions[p];
    const double offset = portion.offset ? static_cast<double>(*portion.offset) : 0.0;
    if (whole) {
      written.reserve(static_cast<qsizetype>(whole_[p].points.size()));
      for (const TracePoint& point : whole_[p].points) Append(written, point);
      for (const TracePoint& point : whole_[p].uncompensated) Append(without, point);
    } else {
      // The window's data lines, and one either side so the line runs to the edges.
      const std::span<const TracePoint> all = trace.PortionPoints(p);
      const std::span<const TracePoint> inside = PointsBetween(all, from, to);
      std::size_t begin = static_cast<std::size_t>(inside.data() - all.data());
      std::size_t end = begin + inside.size();
      if (begin > 0) --begin;
      if (end < all.size()) ++end;
      const std::span<const TracePoint> window = all.subspan(begin, end - begin);
      const std::vector<std::size_t> kept = ReduceForDrawing(window, kPreviewPointsPerPortion);
      written.reserve(static_cast<qsizetype>(kept.size()));
      for (std::size_t i : kept) Append(written, window[i]);
      if (uncompensatedSeries_[p])
        for (std::size_t i : kept) Append(without, window[i], offset);
    }
    portionSeries_[p]->replace(written);
    widen(written);
    if (uncompensatedSeries_[p]) {
      uncompensatedSeries_[p]->replace(without);
      widen(without);
    }
  }

  if (fitDp_ && low <= high) {
    const double span = high > low ? high - low : 1.0;
    RoundTicks(dpAxis_, low - span * kDpMargin, high + span * kDpMargin);
    dpAxis_->setRange(low - span * kDpMargin, high + span * kDpMargin);
  }
  PlaceJoins();
}

void ThermogramChart::PlaceJoins() {
  const QRectF area = chart()->plotArea();
  for (JoinMark& join : joins_) {
    join.line->replace(
        QList<QPointF>{{join.minutes, dpAxis_->min()}, {join.minutes, dpAxis_->max()}});
    const bool visible = join.minutes >= timeAxis_->min() && join.minutes <= timeAxis_->max();
    join.label->setVisible(visible && area.isValid());
    if (!visible) continue;
    const QRectF textBox = join.text->boundingRect();
    const QRectF box(0, 0, textBox.width() + 6, textBox.height() + 2);
    join.label->setRect(box);
    join.text->setPos(3, 1);
    const double x = chart()->mapToPosition(QPointF(join.minutes, dpAxis_->max())).x();
    // Right of the line where it fits, else left of it.
    const double left =
        x + 4 + box.width() <= area.right() ? x + 4 : std::max(area.left(), x - 4 - box.width());
    join.label->setPos(left, area.top() + 2);
  }
}

void ThermogramChart::ShowInjectionTip(const QPointF& point, bool entered) {
  if (!entered || markInfo_.empty()) {
    QToolTip::hideText();
    return;
  }
  const auto nearest = std::min_element(
      markInfo_.begin(), markInfo_.end(), [&](const InjectionMark& a, const InjectionMark& b) {
        return std::fabs(*a.time / kSecondsPerMinute - point.x()) <
               std::fabs(*b.time / kSecondsPerMinute - point.x());
      });
  QString text = QStringLiteral("Injection %1 (%2)")
                     .arg(nearest->number)
                     .arg(names_.value(static_cast<qsizetype>(nearest->portion)));
  if (nearest->volume) text += QStringLiteral(", %1 \u00B5L").arg(*nearest->volume, 0, 'g', 4);
  text += QStringLiteral(", at %1 min").arg(*nearest->time / kSecondsPerMinute, 0, 'f', 2);
  QToolTip::showText(QCursor::pos(), text, this);
}

void ThermogramChart::wheelEvent(QWheelEvent* event) {
  if (!trace_) return;
  const double steps = event->angleDelta().y() / 120.0;
  if (steps == 0.0) return;
  const double factor = std::pow(0.8, steps);
  const double at = chart()->mapToValue(event->position()).x();
  const double from = timeAxis_->min(), to = timeAxis_->max();
  SetWindow(at - (at - from) * factor, at + (to - at) * factor, true);
  event->accept();
}

void ThermogramChart::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {  // QChartView would zoom out by half; all is plainer
    ShowAll();
    event->accept();
    return;
  }
  if (event->button() == Qt::LeftButton) fitDp_ = false;  // the rectangle chose the DP range too
  QChartView::mouseReleaseEvent(event);
}

}  // namespace tandemo::ui
