// FindSlash and the start-folder update: positions from 1 in 16 bits, 0 for none.
#include <QTest>

#include "ui/find_slash.hpp"

using tandemo::ui::FindSlash;
using tandemo::ui::SlashFailure;
using tandemo::ui::StartFolderOf;

Q_DECLARE_METATYPE(tandemo::ui::SlashFailure)

namespace {

// `length` characters with "/" at the given 1-based positions and "a" elsewhere.
QString PathWithSlashesAt(qsizetype length, std::initializer_list<qsizetype> positions) {
  QString path(length, u'a');
  for (qsizetype p : positions) path[p - 1] = u'/';
  return path;
}

}  // namespace

class FindSlashTest : public QObject {
  Q_OBJECT

 private slots:
  void findSlash_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("expected");
    QTest::addColumn<SlashFailure>("failure");
    const auto ok = SlashFailure::None;

    // "/Data/run1.itc" has its separators at 1 and 6.
    QTest::newRow("from 1") << QStringLiteral("/Data/run1.itc") << 1 << 6 << ok;
    QTest::newRow("from between") << QStringLiteral("/Data/run1.itc") << 3 << 6 << ok;
    QTest::newRow("from the last one") << QStringLiteral("/Data/run1.itc") << 6 << 6 << ok;
    QTest::newRow("from after the last") << QStringLiteral("/Data/run1.itc") << 7 << 0 << ok;
    QTest::newRow("bare name") << QStringLiteral("run1.itc") << 1 << 0 << ok;
    QTest::newRow("empty path") << QString() << 1 << 0 << ok;
    QTest::newRow("start beyond the end") << QStringLiteral("/Data/run1.itc") << 15 << 0 << ok;
    QTest::newRow("largest start, short path") << QStringLiteral("/a/b") << 32767 << 0 << ok;
    QTest::newRow("root file") << QStringLiteral("/run1.itc") << 1 << 1 << ok;
    QTest::newRow("folder with trailing separator") << QStringLiteral("/Data/") << 1 << 6 << ok;
    QTest::newRow("doubled separator") << QStringLiteral("/Data//run1.itc") << 1 << 7 << ok;
#ifdef Q_OS_WIN
    QTest::newRow("backslash separates") << QStringLiteral("C:\\Data\\run1.itc") << 1 << 8 << ok;
    QTest::newRow("mixed separators") << QStringLiteral("C:\\Data/run1.itc") << 1 << 8 << ok;
#else
    QTest::newRow("backslash is a name character") << QStringLiteral("C:\\Data\\run1.itc") << 1 << 0
                                                   << ok;
#endif

    // Limits: 32767 is the largest 16-bit position. A separator at 32766 is
    // found and the next start, 32767, still fits; one at 32767 fits but the next
    // start (32768) does not, so the search fails there.
    QTest::newRow("separator at 32766") << PathWithSlashesAt(32766, {32766}) << 1 << 32766 << ok;
    QTest::newRow("separator at 32767") << PathWithSlashesAt(32767, {32767}) << 1 << 0
                                        << SlashFailure::Overflow;
    QTest::newRow("separator beyond 32767") << PathWithSlashesAt(40000, {5, 40000}) << 1 << 0
                                            << SlashFailure::Overflow;
    QTest::newRow("start at 32767 on the separator") << PathWithSlashesAt(32767, {32767}) << 32767
                                                     << 0 << SlashFailure::Overflow;
    QTest::newRow("long tail without separators") << PathWithSlashesAt(40000, {10}) << 1 << 10 << ok;
    QTest::newRow("start 0") << QStringLiteral("/Data/run1.itc") << 0 << 0 << SlashFailure::BadStart;
    QTest::newRow("negative start") << QStringLiteral("/Data/run1.itc") << -3 << 0
                                    << SlashFailure::BadStart;
  }

  void findSlash() {
    QFETCH(QString, path);
    QFETCH(int, start);
    QFETCH(int, expected);
    QFETCH(SlashFailure, failure);
    const auto found = FindSlash(static_cast<std::int16_t>(start), path);
    QCOMPARE(found.failure, failure);
    QCOMPARE(int(found.position), expected);
  }

  void startFolder_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("ok");
    QTest::newRow("file in a folder") << QStringLiteral("/Data/run1.itc") << QStringLiteral("/Data/") << true;
    QTest::newRow("file at the root") << QStringLiteral("/run1.itc") << QStringLiteral("/") << true;
    QTest::newRow("cancel") << QString() << QString() << true;
    QTest::newRow("bare name") << QStringLiteral("run1.itc") << QString() << true;
    QTest::newRow("separator past 16 bits") << PathWithSlashesAt(33000, {1, 32999}) << QString()
                                            << false;
  }

  void startFolder() {
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(bool, ok);
    const auto result = StartFolderOf(path);
    QCOMPARE(result.ok(), ok);
    QCOMPARE(result.folder, folder);
  }
};

QTEST_APPLESS_MAIN(FindSlashTest)
#include "find_slash_test.moc"
