// The preview's data away from any widget: the trace it builds while the merge
// runs is the trace of the merged file as written, whatever the inputs' line
// ends and blank lines; its settings come from the headers; a file that cannot be
// read gives the engine's error and leaves no scratch folder behind.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

#include "itcgen.hpp"
#include "merge/line_io.hpp"
#include "merge/merge_run.hpp"
#include "ui/preview_data.hpp"
#include "ui_test_support.hpp"

using tandemo::Trace;
using tandemo::ui::PreviewInput;
using tandemo::ui::SettingsRow;

namespace {

QString S(const char* text) { return QString::fromUtf8(text); }
std::string Local(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The trace as the merged file on disk gives it: every line read back, its
// portion told by counting the first file's non-empty lines.
Trace TraceOfMergedFile(const PreviewInput& input, const std::string& output) {
  const tandemo::MergeOutcome outcome =
      tandemo::RunMerge(input.first, input.second, output, input.compensate);
  if (!outcome.ok()) return {};
  long long firstLines = 0;
  tandemo::LineReader first;
  std::string_view line;
  if (first.Open(input.first))
    while (first.Next(line) == tandemo::LineReader::Status::Line)
      firstLines += line.empty() ? 0 : 1;
  tandemo::TraceBuilder builder;
  tandemo::LineReader merged;
  long long index = 0;
  if (merged.Open(output))
    while (merged.Next(line) == tandemo::LineReader::Status::Line)
      builder.Put(line, index++ < firstLines ? 0 : 1);
  const tandemo::RewriteReport& join = outcome.summary.joins.at(0);
  builder.SetJoin(1, join.offsetTaken ? std::optional<float>(join.dpOffset) : std::nullopt,
                  input.compensate);
  return builder.Finish();
}

QStringList ScratchFolders() {
  return QDir(QDir::tempPath()).entryList({S("tandemo-preview-*")}, QDir::Dirs | QDir::Hidden);
}

}  // namespace

class PreviewDataTest : public QObject {
  Q_OBJECT

 private slots:
  // A temporary folder of this test's own, so that scratch folders of other
  // programs running at the same time do not show in its listings.
  void initTestCase() {
    QVERIFY(ownTemp_.isValid());
    QVERIFY(qputenv("TMPDIR", QFile::encodeName(ownTemp_.path())));
    QCOMPARE(QDir::tempPath(), QDir(ownTemp_.path()).canonicalPath());
  }

  void traceIsTheMergedFiles_data() {
    QTest::addColumn<bool>("crlf");
    QTest::addColumn<bool>("blankLines");
    QTest::addColumn<bool>("compensate");
    QTest::newRow("CR LF") << true << false << true;
    QTest::newRow("LF only: the merge writes CR LF") << false << false << true;
    QTest::newRow("blank lines in the first file: not copied") << true << true << false;
  }

  void traceIsTheMergedFiles() {
    QFETCH(bool, crlf);
    QFETCH(bool, blankLines);
    QFETCH(bool, compensate);
    QTemporaryDir dir;
    tandemo::itcgen::TitrationSettings settings;
    settings.crlf = crlf;
    tandemo::itcgen::StringSink first, second;
    tandemo::itcgen::WritePair(settings, first, second);
    std::string firstText = first.text;
    if (blankLines) {
      firstText.insert(0, "\r\n");                         // before the header
      firstText.insert(firstText.find("@1"), "\r\n\r\n");  // inside the data
    }
    QVERIFY(
        tandemo::test::WriteBytes(dir.filePath(S("a.itc")), QByteArray::fromStdString(firstText)));
    QVERIFY(tandemo::test::WriteBytes(dir.filePath(S("b.itc")),
                                      QByteArray::fromStdString(second.text)));
    const PreviewInput input{Local(dir.filePath(S("a.itc"))), Local(dir.filePath(S("b.itc"))),
                             compensate};

    const tandemo::ui::MergedLines merged = tandemo::ui::TraceMergedLines(input);
    QVERIFY(!merged.error && !merged.stopped);
    const Trace expected = TraceOfMergedFile(input, Local(dir.filePath(S("merged.itc"))));
    const Trace& got = merged.trace;
    QVERIFY(!expected.points.empty());
    QCOMPARE(got.points.size(), expected.points.size());
    for (std::size_t i = 0; i < got.points.size(); ++i) {
      QCOMPARE(got.points[i].time, expected.points[i].time);
      QCOMPARE(got.points[i].dp, expected.points[i].dp);
    }
    QCOMPARE(got.portions.size(), std::size_t{2});
    for (std::size_t p = 0; p < 2; ++p) {
      QCOMPARE(got.portions[p].firstPoint, expected.portions[p].firstPoint);
      QCOMPARE(got.portions[p].endPoint, expected.portions[p].endPoint);
    }
    QCOMPARE(got.injections.size(), std::size_t{18});
    QCOMPARE(got.injections[10].number, std::int64_t{11});
    QCOMPARE(got.injections[10].portion, std::size_t{1});
    // The engine hands over each line's place: the appended first marker's line in the second file.
    const std::size_t marker = second.text.find("\n@1,");
    QVERIFY(marker != std::string::npos);
    QCOMPARE(
        got.injections[10].line,
        static_cast<long long>(std::count(
            second.text.begin(), second.text.begin() + static_cast<std::ptrdiff_t>(marker), '\n')) +
            2);
    QCOMPARE(got.joins.at(0).offset, expected.joins.at(0).offset);
    QCOMPARE(got.joins.at(0).compensated, compensate);
  }

  void previewCarriesSettingsAndHeats() {
    const std::string examples = TANDEMO_EXAMPLES_DIR;
    const tandemo::ui::PreviewData data =
        tandemo::ui::BuildPreview({examples + "/portion1.itc", examples + "/portion2.itc", true});
    QVERIFY(data.ok());
    QCOMPARE(data.heats.size(), std::size_t{18});
    QCOMPARE(data.reduced.size(), std::size_t{2});
    QCOMPARE(data.settings.columns.size(), std::size_t{2});
    QCOMPARE(data.settings.columns[1].role, std::string("second file"));
    QCOMPARE(data.settings.columns[1][SettingsRow::Numbering].text, std::string("11-18"));
    // Syringe concentration and injection volume are in the header: heat per mole is there.
    QVERIFY(data.heats[0].heatPerMole.has_value());
  }

  void unreadableFileGivesTheEnginesErrorAndNoScratch_data() {
    QTest::addColumn<bool>("firstMissing");
    QTest::addColumn<QString>("message");
    QTest::newRow("first") << true
                           << S("File not found (53): first file: \"/nonexistent/a.itc\" cannot be "
                                "opened: No such file or directory");
    QTest::newRow("second") << false
                            << S("File not found (53): second file: \"/nonexistent/a.itc\" cannot "
                                 "be opened: No such file or directory");
  }

  void unreadableFileGivesTheEnginesErrorAndNoScratch() {
    QFETCH(bool, firstMissing);
    QFETCH(QString, message);
    const QStringList before = ScratchFolders();
    const std::string example = TANDEMO_EXAMPLES_DIR "/portion1.itc";
    const std::string missing = "/nonexistent/a.itc";
    const tandemo::ui::PreviewData data = tandemo::ui::BuildPreview(
        {firstMissing ? missing : example, firstMissing ? example : missing, true});
    QVERIFY(data.error.has_value());
    QCOMPARE(QString::fromStdString(data.error->Message()), message);
    QVERIFY(!data.trace);
    QCOMPARE(ScratchFolders(), before);
    QVERIFY(before.isEmpty());
  }

  void stoppedBeforeItStartsSaysSo() {
    std::stop_source stop;
    stop.request_stop();
    const std::string examples = TANDEMO_EXAMPLES_DIR;
    const tandemo::ui::PreviewData data = tandemo::ui::BuildPreview(
        {examples + "/portion1.itc", examples + "/portion2.itc", true}, stop.get_token());
    QVERIFY(data.stopped);
    QVERIFY(!data.ok());
    QVERIFY(!data.error);
    QVERIFY(ScratchFolders().isEmpty());
  }

 private:
  QTemporaryDir ownTemp_;
};

QTEST_MAIN(PreviewDataTest)
#include "preview_data_test.moc"
