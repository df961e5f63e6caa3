// The two icons: drawn from their SVG sources at any size, each a picture with
// a transparent surround, the two pictures different, sharp at 16 pixels and at 2x scale.
#include <QGuiApplication>
#include <QIcon>
#include <QSet>
#include <QTest>

#include "ui/icons.hpp"

using tandemo::ui::IconImage;
using tandemo::ui::IconKind;
using tandemo::ui::MakeIcon;

Q_DECLARE_METATYPE(tandemo::ui::IconKind)

namespace {
QImage Argb(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32); }
}  // namespace

class IconsTest : public QObject {
  Q_OBJECT

 private slots:
  void images_data() {
    QTest::addColumn<IconKind>("kind");
    QTest::addColumn<int>("size");
    for (int size : {16, 32, 48, 256}) {
      QTest::addRow("program %d", size) << IconKind::Program << size;
      QTest::addRow("tip %d", size) << IconKind::Tip << size;
    }
  }

  void images() {
    QFETCH(IconKind, kind);
    QFETCH(int, size);
    const QImage image = Argb(IconImage(kind, size));
    QCOMPARE(image.size(), QSize(size, size));
    QSet<QRgb> colours;
    int opaque = 0;
    int clear = 0;
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        const QRgb p = image.pixel(x, y);
        if (qAlpha(p) == 0) ++clear;
        if (qAlpha(p) == 255) colours.insert(p);
        if (qAlpha(p) >= 128) ++opaque;  // edges are smoothed: half covered counts
      }
    }
    QVERIFY(colours.size() >= 4);  // a picture, not a blot
    QVERIFY(opaque > size * size / 4);
    QVERIFY(clear > size * size / 20);  // shaped, not a square
  }

  // At 16 pixels every pixel is either part of the picture or not: the small
  // picture is drawn on the pixel grid, so no edge is smeared across two pixels.
  void sharpAt16_data() {
    QTest::addColumn<IconKind>("kind");
    QTest::newRow("program") << IconKind::Program;
    QTest::newRow("tip") << IconKind::Tip;
  }

  void sharpAt16() {
    QFETCH(IconKind, kind);
    const QImage image = Argb(IconImage(kind, 16));
    int smeared = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) smeared += qAlpha(image.pixel(x, y)) % 255 != 0 ? 1 : 0;
    }
    QCOMPARE(smeared, 0);
    QCOMPARE(Argb(MakeIcon(kind).pixmap(16).toImage()), image);
  }

  void theTwoPicturesDiffer() {
    const QImage program = Argb(IconImage(IconKind::Program, 32));
    const QImage tip = Argb(IconImage(IconKind::Tip, 32));
    int differing = 0;
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) differing += program.pixel(x, y) != tip.pixel(x, y) ? 1 : 0;
    }
    QVERIFY(differing > 32 * 32 / 4);
  }

  // Asked for 32 logical pixels at 2x, the icon is drawn at 64 device pixels from
  // its source, not enlarged from a 32-pixel picture.
  void sharpAtEveryScale_data() {
    QTest::addColumn<IconKind>("kind");
    QTest::addColumn<qreal>("scale");
    QTest::newRow("program 1x") << IconKind::Program << qreal(1);
    QTest::newRow("program 2x") << IconKind::Program << qreal(2);
    QTest::newRow("tip 2x") << IconKind::Tip << qreal(2);
    QTest::newRow("program 3x") << IconKind::Program << qreal(3);
  }

  void sharpAtEveryScale() {
    QFETCH(IconKind, kind);
    QFETCH(qreal, scale);
    const QIcon icon = MakeIcon(kind);
    QVERIFY(!icon.isNull());
    const QPixmap pixmap = icon.pixmap(QSize(32, 32), scale);
    const int device = qRound(32 * scale);
    QCOMPARE(pixmap.size(), QSize(device, device));
    QCOMPARE(pixmap.devicePixelRatio(), scale);
    QImage drawn = Argb(pixmap.toImage());
    drawn.setDevicePixelRatio(1);
    QCOMPARE(drawn, Argb(IconImage(kind, device)));
  }
};

QTEST_MAIN(IconsTest)
#include "icons_test.moc"
