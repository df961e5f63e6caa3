// The preview panel: it fills from a real pair in the background, follows the
// compensation switch, marks a setting that differs, zooms on the join with
// detail, keeps only the newest request's answer, and writes its picture.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineSeries>
#include <QPen>
#include <QPushButton>
#include <QScatterSeries>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QValueAxis>
#include <QWheelEvent>

#include "itcgen.hpp"
#include "ui/heats_chart.hpp"
#include "ui/preview_panel.hpp"
#include "ui/preview_picture.hpp"
#include "ui/settings_view.hpp"
#include "ui/thermogram_chart.hpp"
#include "ui_test_support.hpp"

using tandemo::ui::PictureFormat;
using tandemo::ui::PictureTargetFor;
using tandemo::ui::PreviewPanel;
using tandemo::ui::SettingsRow;

namespace {

QString S(const char* text) { return QString::fromUtf8(text); }
QString Example(const char* name) { return S(TANDEMO_EXAMPLES_DIR "/") + S(name); }

// The generator's pair, with the second portion's settings changed by `second`.
bool WritePair(const QString& dir, const tandemo::itcgen::TitrationSettings& first,
               const tandemo::itcgen::TitrationSettings& second) {
  tandemo::itcgen::StringSink a, b, unused;
  tandemo::itcgen::WritePair(first, a, unused);
  tandemo::itcgen::WritePair(second, unused, b);
  return tandemo::test::WriteBytes(dir + S("/first.itc"), QByteArray::fromStdString(a.text)) &&
         tandemo::test::WriteBytes(dir + S("/second.itc"), QByteArray::fromStdString(b.text));
}

bool Finish(QSignalSpy& spy) { return spy.count() > 0 || spy.wait(20000); }

// The panel shown at a usual size with the compensated join of the example
// portions; true once the preview is done.
bool ShowExampleJoin(PreviewPanel& panel) {
  panel.resize(1000, 700);
  panel.show();
  QSignalSpy spy(&panel, &PreviewPanel::finished);
  panel.Request(Example("portion1.itc"), Example("portion2.itc"), true);
  return Finish(spy);
}

QTableWidgetItem* Cell(const PreviewPanel& panel, int file, SettingsRow row) {
  return panel.settings()->item(static_cast<int>(row), file);
}

int PointsWithin(const QLineSeries* series, double from, double to) {
  int n = 0;
  for (const QPointF& p : series->points()) n += p.x() >= from && p.x() <= to ? 1 : 0;
  return n;
}

}  // namespace

class PreviewPanelTest : public QObject {
  Q_OBJECT

 private slots:
  void fillsWhenBothPathsAreSet() {
    PreviewPanel panel;
    QSignalSpy spy(&panel, &PreviewPanel::finished);
    panel.Request(Example("portion1.itc"), Example("portion2.itc"), true);
    QCOMPARE(panel.state(), PreviewPanel::State::Working);
    QCOMPARE(panel.message(), S("Reading the files..."));
    QVERIFY(Finish(spy));
    QCOMPARE(panel.state(), PreviewPanel::State::Shown);
    QCOMPARE(panel.message(), QString());

    // 360 and 296 lines: every data line is drawn, none is reduced away.
    const tandemo::Trace& trace = *panel.shown().trace;
    QCOMPARE(panel.thermogram()->portionSeries(0)->count(),
             static_cast<int>(trace.PortionPoints(0).size()));
    QCOMPARE(panel.thermogram()->portionSeries(1)->count(),
             static_cast<int>(trace.PortionPoints(1).size()));
    QVERIFY(panel.thermogram()->portionSeries(0)->count() > 300);
    QCOMPARE(panel.heats()->portionSeries(0)->count(), 10);
    QCOMPARE(panel.heats()->portionSeries(1)->count(), 8);
    // The headers give both concentrations and the cell volume: against molar ratio.
    QCOMPARE(panel.heats()->horizontalTitle(), S("Molar ratio"));
    QCOMPARE(panel.heats()->verticalTitle(), S("Heat (kcal/mol)"));

    QCOMPARE(panel.settings()->columnCount(), 2);
    QCOMPARE(panel.settings()->horizontalHeaderItem(1)->text(), S("Second file\nportion2.itc"));
    struct Expected {
      SettingsRow row;
      const char* first;
      const char* second;
    };
    const Expected rows[] = {
        {SettingsRow::InstrumentUnit, "ITCGEN synthetic unit", "ITCGEN synthetic unit"},
        {SettingsRow::Software, "ITCGEN Ver: 1.0", "ITCGEN Ver: 1.0"},
        {SettingsRow::Temperature, "25", "25"},
        {SettingsRow::SyringeConcentration, "0.5", "0.5"},
        {SettingsRow::CellConcentration, "0.05", "0.05"},
        {SettingsRow::CellVolume, "0.2", "0.2"},
        {SettingsRow::TimeStep, "5", "5"},
        {SettingsRow::InjectionsAnnounced, "10", "8"},
        {SettingsRow::InjectionsPerformed, "10", "8"},
        {SettingsRow::Numbering, "1-10", "11-18"},
    };
    for (const Expected& e : rows) {
      QCOMPARE(Cell(panel, 0, e.row)->text(), S(e.first));
      QCOMPARE(Cell(panel, 1, e.row)->text(), S(e.second));
      QVERIFY(!Cell(panel, 1, e.row)->font().bold());
    }
  }

  void waitsForOrExplainsTheFiles_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<PreviewPanel::State>("state");
    QTest::addColumn<QString>("message");
    const QString waiting =
        S("The preview of the join shows here once the first and second files are chosen.");
    QTest::newRow("no second") << Example("portion1.itc") << QString()
                               << PreviewPanel::State::WaitingForFiles << waiting;
    QTest::newRow("blank first") << S("  ") << Example("portion2.itc")
                                 << PreviewPanel::State::WaitingForFiles << waiting;
    QTest::newRow("missing second")
        << Example("portion1.itc") << S("/nonexistent/portion2.itc") << PreviewPanel::State::Failed
        << S("File not found (53): second file: \"/nonexistent/portion2.itc\" cannot be "
             "opened: No such file or directory");
  }

  void waitsForOrExplainsTheFiles() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(PreviewPanel::State, state);
    QFETCH(QString, message);
    PreviewPanel panel;
    QSignalSpy spy(&panel, &PreviewPanel::finished);
    panel.Request(first, second, true);
    if (state != PreviewPanel::State::WaitingForFiles) QVERIFY(Finish(spy));
    QCOMPARE(panel.state(), state);
    QCOMPARE(panel.message(), message);
    QVERIFY(!panel.savePictureButton()->isEnabled());
    QVERIFY(!panel.zoomOnJoinButton()->isEnabled());
  }

  void followsTheCompensationSwitch_data() {
    QTest::addColumn<bool>("compensate");
    QTest::addColumn<QString>("label");
    // The example's offset, as tandemo-merge reports it: 0.39960003, four digits here.
    QTest::newRow("on") << true << S("Join: DP offset 0.3996 \u00B5cal/s taken off");
    QTest::newRow("off") << false << S("Join: DP offset 0.3996 \u00B5cal/s, not compensated");
  }

  void followsTheCompensationSwitch() {
    QFETCH(bool, compensate);
    QFETCH(QString, label);
    PreviewPanel panel;
    QSignalSpy spy(&panel, &PreviewPanel::finished);
    panel.Request(Example("portion1.itc"), Example("portion2.itc"), !compensate);
    QVERIFY(Finish(spy));
    const double otherFirstDp = panel.thermogram()->portionSeries(1)->at(0).y();
    panel.Request(Example("portion1.itc"), Example("portion2.itc"), compensate);
    QVERIFY(spy.wait(20000));

    QCOMPARE(panel.thermogram()->joinLabels(), QStringList{label});
    const QLineSeries* written = panel.thermogram()->portionSeries(1);
    const QLineSeries* faint = panel.thermogram()->uncompensatedSeries(1);
    QCOMPARE(faint != nullptr, compensate);
    QVERIFY(panel.thermogram()->uncompensatedSeries(0) == nullptr);
    // The appended portion moves down by the offset when compensated, up when not.
    const double shift = written->at(0).y() - otherFirstDp;
    QVERIFY2(std::fabs(std::fabs(shift) - 0.3996) < 1e-4, qPrintable(QString::number(shift)));
    QCOMPARE(shift < 0, compensate);
    if (faint) {
      QCOMPARE(faint->pen().style(), Qt::DashLine);
      QVERIFY(faint->pen().color().alpha() < 255);
      QCOMPARE(faint->count(), written->count());
      QVERIFY(std::fabs(faint->at(0).y() - otherFirstDp) < 1e-6);
    }
  }

  void marksASettingThatDiffers() {
    QTemporaryDir dir;
    tandemo::itcgen::TitrationSettings first, second;
    second.temperature = 30.0;
    QVERIFY(WritePair(dir.path(), first, second));
    PreviewPanel panel;
    QSignalSpy spy(&panel, &PreviewPanel::finished);
    panel.Request(dir.filePath(S("first.itc")), dir.filePath(S("second.itc")), false);
    QVERIFY(Finish(spy));
    QCOMPARE(panel.state(), PreviewPanel::State::Shown);

    const QTableWidgetItem* differs = Cell(panel, 1, SettingsRow::Temperature);
    QCOMPARE(differs->text(), S("30"));
    QVERIFY(differs->font().bold());
    QVERIFY(differs->background().style() != Qt::NoBrush);
    QCOMPARE(differs->toolTip(),
             S("target temperature: 25 in the first file, 30 in the second file"));
    for (const QTableWidgetItem* same : {Cell(panel, 0, SettingsRow::Temperature),
                                         Cell(panel, 1, SettingsRow::SyringeConcentration)}) {
      QVERIFY(!same->font().bold());
      QCOMPARE(same->background().style(), Qt::NoBrush);
    }
  }

  // A pair of some 2 MB: more data lines than a portion keeps for the whole view.
  void zoomOnJoinDrawsEveryLineOfTheWindow() {
    QTemporaryDir dir;
    tandemo::itcgen::TitrationSettings settings;
    QVERIFY(!tandemo::itcgen::FitToSize(settings, 2'000'000).has_value());
    QVERIFY(WritePair(dir.path(), settings, settings));
    PreviewPanel panel;
    QSignalSpy spy(&panel, &PreviewPanel::finished);
    panel.Request(dir.filePath(S("first.itc")), dir.filePath(S("second.itc")), true);
    QVERIFY(Finish(spy));
    tandemo::ui::ThermogramChart& chart = *panel.thermogram();
    QVERIFY(panel.shown().trace->PortionPoints(1).size() > tandemo::ui::kPreviewPointsPerPortion);
    QVERIFY(!chart.zoomed());

    const double join = *panel.shown().trace->joins.at(0).time / 60.0;
    QVERIFY(panel.zoomOnJoinButton()->isEnabled());
    const auto [wholeFrom, wholeTo] = chart.timeWindow();
    // What the whole view drew of the window the join zoom will show.
    QTest::mouseClick(panel.zoomOnJoinButton(), Qt::LeftButton);
    QVERIFY(chart.zoomed());
    const auto [from, to] = chart.timeWindow();
    QVERIFY(from < join && join < to);
    QVERIFY(to - from < (wholeTo - wholeFrom) / 2);
    // Three injections before the join and three after: 6 of the 18 marks shown.
    int marks = 0;
    for (const tandemo::InjectionMark& m : panel.shown().trace->injections)
      marks += *m.time / 60.0 >= from && *m.time / 60.0 <= to ? 1 : 0;
    QCOMPARE(marks, 6);

    for (std::size_t p = 0; p < 2; ++p) {
      const std::span<const tandemo::TracePoint> inside =
          tandemo::PointsBetween(panel.shown().trace->PortionPoints(p), from * 60.0, to * 60.0);
      const int drawn = PointsWithin(chart.portionSeries(p), from, to);
      int wholeDrawn = 0;
      for (const tandemo::TracePoint& point : panel.shown().reduced[p].points)
        wholeDrawn += point.time >= from * 60.0 && point.time <= to * 60.0 ? 1 : 0;
      QVERIFY2(
          drawn > wholeDrawn,
          qPrintable(
              QStringLiteral("portion %1: %2 drawn, %3 before").arg(p).arg(drawn).arg(wholeDrawn)));
      if (inside.size() <= tandemo::ui::kPreviewPointsPerPortion)
        QCOMPARE(drawn, static_cast<int>(inside.size()));
    }

    QTest::mouseClick(panel.showAllButton(), Qt::LeftButton);
    QVERIFY(!chart.zoomed());
    QCOMPARE(chart.portionSeries(1)->count(),
             static_cast<int>(panel.shown().reduced[1].points.size()));
  }

  void wheelZoomsInTimeAndRightClickShowsAll() {
    PreviewPanel panel;
    QVERIFY(ShowExampleJoin(panel));
    tandemo::ui::ThermogramChart& chart = *panel.thermogram();
    const auto [from, to] = chart.timeWindow();
    const QRectF area = chart.chart()->plotArea();
    const QPoint at =
        chart.mapFromScene(QPointF(area.left() + area.width() / 4, area.center().y()));
    const double timeAt = chart.chart()->mapToValue(chart.mapToScene(at)).x();

    // One notch of the wheel (120 eighths of a degree) takes a fifth off the window.
    QWheelEvent notch(at, chart.viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart.viewport(), &notch);
    const auto [zoomedFrom, zoomedTo] = chart.timeWindow();
    QVERIFY(chart.zoomed());
    QVERIFY(std::fabs((zoomedTo - zoomedFrom) - 0.8 * (to - from)) < 1e-9);
    // The time under the cursor stays where it was.
    QVERIFY(std::fabs(chart.chart()->mapToValue(chart.mapToScene(at)).x() - timeAt) <
            1e-6 * (to - from));

    QTest::mouseClick(chart.viewport(), Qt::RightButton, Qt::NoModifier, at);
    QVERIFY(!chart.zoomed());
    QCOMPARE(chart.timeWindow(), std::make_pair(from, to));
  }

  // The slower request comes back last and is dropped: the newer one's answer stays.
  void newerRequestSupersedesAnOlderOne() {
    PreviewPanel panel;
    QSignalSpy spy(&panel, &PreviewPanel::finished);
    panel.Request(Example("portion1.itc"), Example("portion2.itc"), true);
    panel.Request(Example("portion1.itc"), S("/nonexistent/second.itc"), true);
    QVERIFY(Finish(spy));
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(panel.state(), PreviewPanel::State::Failed);
    QVERIFY(panel.message().startsWith(S("File not found (53): second file:")));
  }

  void pictureTargetFollowsExtensionThenFilter_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("written");
    QTest::addColumn<PictureFormat>("format");
    const QString png = S("PNG image (*.png)"), svg = S("SVG drawing (*.svg)");
    QTest::newRow("png name") << S("/x/a.png") << svg << S("/x/a.png") << PictureFormat::Png;
    QTest::newRow("svg name, any case")
        << S("/x/a.SVG") << png << S("/x/a.SVG") << PictureFormat::Svg;
    QTest::newRow("bare name, svg filter")
        << S("/x/a") << svg << S("/x/a.svg") << PictureFormat::Svg;
    QTest::newRow("other extension, png filter")
        << S("/x/a.v2") << png << S("/x/a.v2.png") << PictureFormat::Png;
    QTest::newRow("no filter") << S("/x/a") << QString() << S("/x/a.png") << PictureFormat::Png;
  }

  void pictureTargetFollowsExtensionThenFilter() {
    QFETCH(QString, path);
    QFETCH(QString, filter);
    QFETCH(QString, written);
    QFETCH(PictureFormat, format);
    const tandemo::ui::PictureTarget target = PictureTargetFor(path, filter);
    QCOMPARE(target.path, written);
    QCOMPARE(target.format, format);
  }

  void savePictureWritesAValidFile_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("written");
    QTest::newRow("png") << S("join.png") << S("PNG image (*.png)") << S("join.png");
    QTest::newRow("svg") << S("join.svg") << S("SVG drawing (*.svg)") << S("join.svg");
    QTest::newRow("svg by filter") << S("join") << S("SVG drawing (*.svg)") << S("join.svg");
  }

  void savePictureWritesAValidFile() {
    QFETCH(QString, name);
    QFETCH(QString, filter);
    QFETCH(QString, written);
    QTemporaryDir dir;
    PreviewPanel panel;
    QVERIFY(ShowExampleJoin(panel));
    int asked = 0;
    QWidget* askedOver = nullptr;
    panel.SetPictureChooser([&](QWidget* parent) {
      ++asked;
      askedOver = parent;
      return std::optional<std::pair<QString, QString>>({dir.filePath(name), filter});
    });
    QTest::mouseClick(panel.savePictureButton(), Qt::LeftButton);
    QCOMPARE(asked, 1);
    QCOMPARE(askedOver, &panel);
    QCOMPARE(tandemo::test::Listing(dir.path()), QStringList{written});
    const QString path = dir.filePath(written);
    if (written.endsWith(S(".png"))) {
      QImage image;
      QVERIFY(image.load(path, "PNG"));
      // Both charts side by side, at twice the screen's pixels.
      QCOMPARE(image.width(),
               2 * (panel.thermogram()->viewport()->width() + panel.heats()->viewport()->width()));
    } else {
      const QByteArray bytes = tandemo::test::ReadBytes(path);
      QVERIFY(bytes.startsWith("<?xml"));
      QVERIFY(bytes.contains("<svg"));
      QVERIFY(bytes.contains("Time (min)"));  // text stays text
      QSvgRenderer renderer(path);
      QVERIFY(renderer.isValid());
    }
  }

  // The real dialog: it asks to save, offers PNG and SVG, and adds the extension
  // of the kind chosen, so that its question about replacing names the real file.
  void savePictureDialogAddsTheChosenKindsExtension() {
    QTemporaryDir dir;
    PreviewPanel panel;
    QVERIFY(ShowExampleJoin(panel));
    QString pngSuffix, svgSuffix;
    QStringList filters;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    tandemo::test::WhenModal<QFileDialog> act([&](QFileDialog* dialog) {
      mode = dialog->acceptMode();
      filters = dialog->nameFilters();
      pngSuffix = dialog->defaultSuffix();
      auto* kinds = dialog->findChild<QComboBox*>(S("fileTypeCombo"));
      if (kinds) {  // as if the user chose the second kind
        kinds->setCurrentIndex(1);
        emit kinds->activated(1);
        emit kinds->textActivated(kinds->itemText(1));
      }
      svgSuffix = dialog->defaultSuffix();
      dialog->selectFile(QDir(dir.path()).filePath(S("join")));
      QMetaObject::invokeMethod(dialog, "accept");  // as the Save button does
    });
    QTest::mouseClick(panel.savePictureButton(), Qt::LeftButton);
    QVERIFY(act.fired() && !act.timedOut());
    QCOMPARE(mode, QFileDialog::AcceptSave);
    QCOMPARE(filters, (QStringList{S("PNG image (*.png)"), S("SVG drawing (*.svg)")}));
    QCOMPARE(pngSuffix, S("png"));
    QCOMPARE(svgSuffix, S("svg"));
    QCOMPARE(tandemo::test::Listing(dir.path()), QStringList{S("join.svg")});
    QVERIFY(QSvgRenderer(dir.filePath(S("join.svg"))).isValid());
  }

  void savePictureSaysWhyItCannot() {
    PreviewPanel panel;
    QCOMPARE(panel.SavePicture(S("/nonexistent/a.png")), S("There is no preview to save yet."));
    QVERIFY(ShowExampleJoin(panel));
    QCOMPARE(
        panel.SavePicture(S("/nonexistent/a.png")),
        S("The picture could not be written to \"/nonexistent/a.png\": No such file or directory"));
  }
};

QTEST_MAIN(PreviewPanelTest)
#include "preview_panel_test.moc"
