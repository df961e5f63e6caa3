// The two icons: each a 32x32 and a 16x16 image of at most 16 colours, and
// two different pictures.
#include <QGuiApplication>
#include <QSet>
#include <QTest>

#include "ui/icons.hpp"

using tandemo::ui::IconImage;
using tandemo::ui::IconKind;

namespace {
// The 16 colours of a 4-bit icon: black, the dark and the light primaries and
// mixtures, two greys and white.
const QSet<QRgb> kPalette = {
    qRgb(0, 0, 0),     qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),   qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0), qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),   qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}  // namespace

Q_DECLARE_METATYPE(tandemo::ui::IconKind)

class IconsTest : public QObject {
  Q_OBJECT

 private slots:
  void images_data() {
    QTest::addColumn<IconKind>("kind");
    QTest::addColumn<int>("size");
    QTest::newRow("program 32") << IconKind::Program << 32;
    QTest::newRow("program 16") << IconKind::Program << 16;
    QTest::newRow("tip 32") << IconKind::Tip << 32;
    QTest::newRow("tip 16") << IconKind::Tip << 16;
  }

  void images() {
    QFETCH(IconKind, kind);
    QFETCH(int, size);
    const QImage image = IconImage(kind, size).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(size, size));
    QSet<QRgb> colours;
    int opaque = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        const QRgb p = image.pixel(x, y);
        if (qAlpha(p) == 0) continue;  // the mask, as an icon's transparent part
        QCOMPARE(qAlpha(p), 255);
        QVERIFY2(kPalette.contains(p), qPrintable(QString::number(p, 16)));
        colours.insert(p);
        ++opaque;
      }
    }
    QVERIFY(colours.size() >= 3);      // a picture, not a blot
    QVERIFY(opaque > size * size / 4);
  }

  void theTwoPicturesDiffer_data() {
    QTest::addColumn<int>("size");
    QTest::newRow("32") << 32;
    QTest::newRow("16") << 16;
  }

  void theTwoPicturesDiffer() {
    QFETCH(int, size);
    const QImage program = IconImage(IconKind::Program, size).convertToFormat(QImage::Format_ARGB32);
    const QImage tip = IconImage(IconKind::Tip, size).convertToFormat(QImage::Format_ARGB32);
    int differing = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) differing += program.pixel(x, y) != tip.pixel(x, y) ? 1 : 0;
    }
    QVERIFY(differing > size * size / 4);
  }
};

QTEST_GUILESS_MAIN(IconsTest)
#include "icons_test.moc"
