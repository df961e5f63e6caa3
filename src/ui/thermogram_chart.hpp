// The thermogram of the merged titration: DP against time as the merge will
// write it, each portion in its own colour, each join marked with the DP offset,
// the appended portion without compensation faint behind it, the injection marks
// with their numbers on hover. Zooms with the wheel or a rubber band; a zoomed
// window is drawn again from every data line it holds, so zooming shows detail.
#pragma once

#include <QChartView>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

#include "ui/preview_data.hpp"

class QGraphicsRectItem;
class QGraphicsSimpleTextItem;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace tandemo::ui {

class ThermogramChart final : public QChartView {
  Q_OBJECT

 public:
  explicit ThermogramChart(QWidget* parent = nullptr);

  void Show(const PreviewData& preview);  // keeps a share of the data's trace
  void Clear();

  void ShowAll();
  // A few injections either side of the first join; false when there is no join.
  bool ZoomOnJoin();
  bool hasJoin() const;
  bool zoomed() const;

  // Time shown, in minutes.
  std::pair<double, double> timeWindow() const;
  QStringList joinLabels() const;
  // The series of a portion as written, and without compensation (null when none).
  QLineSeries* portionSeries(std::size_t portion) const;
  QLineSeries* uncompensatedSeries(std::size_t portion) const;

  static constexpr int kInjectionsAroundJoin = 3;

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  struct JoinMark {
    double minutes = 0.0;
    QLineSeries* line = nullptr;
    QGraphicsRectItem* label = nullptr;  // a backing holding the text
    QGraphicsSimpleTextItem* text = nullptr;
  };

  void SetWindow(double fromMinutes, double toMinutes, bool fitDp);
  void ScheduleRedraw();
  void Redraw();
  void PlaceJoins();
  void ShowInjectionTip(const QPointF& point, bool entered);

  std::shared_ptr<const Trace> trace_;
  std::vector<ReducedPortion> whole_;
  QValueAxis* timeAxis_ = nullptr;  // minutes
  QValueAxis* dpAxis_ = nullptr;    // µcal/s
  std::vector<QLineSeries*> portionSeries_;
  std::vector<QLineSeries*> uncompensatedSeries_;  // null where a portion has none
  QScatterSeries* marks_ = nullptr;
  std::vector<InjectionMark> markInfo_;  // the marks drawn, in time order
  std::vector<JoinMark> joins_;
  QStringList names_;                     // the files' names, by portion
  double fullFrom_ = 0.0, fullTo_ = 1.0;  // minutes
  bool fitDp_ = true;                     // fit DP to what the window shows
  bool redrawPending_ = false;
};

}  // namespace tandemo::ui
