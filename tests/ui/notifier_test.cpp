// The real message boxes: icon, title, texts, buttons, application-modal.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "ui/notifier.hpp"
#include "ui_test_support.hpp"

using tandemo::test::WhenModal;
using tandemo::ui::QtNotifier;

namespace {
QString S(const char* text) { return QString::fromUtf8(text); }

struct Seen {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  Qt::WindowModality modality = Qt::NonModal;
  QString title, text, detail;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

Seen Look(QMessageBox* box) {
  Seen s;
  s.icon = box->icon();
  s.modality = box->windowModality();
  s.title = box->windowTitle();
  s.text = box->text();
  s.detail = box->informativeText();
  s.buttons = box->standardButtons();
  if (box->defaultButton()) s.defaultButton = box->standardButton(box->defaultButton());
  return s;
}
}  // namespace

class NotifierTest : public QObject {
  Q_OBJECT

 private slots:
  void informIsAnApplicationModalBoxWithOk() {
    QtNotifier notifier;
    Seen seen;
    WhenModal<QMessageBox> act([&](QMessageBox* box) {
      seen = Look(box);
      QTest::keyClick(box, Qt::Key_Return);
    });
    notifier.Inform(nullptr, S("Tandemo"), S("Done"));  // returns once dismissed
    QVERIFY(act.fired() && !act.timedOut());
    QCOMPARE(seen.icon, QMessageBox::Information);
    QCOMPARE(seen.modality, Qt::ApplicationModal);
    QCOMPARE(seen.title, S("Tandemo"));
    QCOMPARE(seen.text, S("Done"));
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  }

  void warnShowsItsDetailAsPlainText() {
    QtNotifier notifier;
    Seen seen;
    Qt::TextFormat detailFormat = Qt::RichText;
    WhenModal<QMessageBox> act([&](QMessageBox* box) {
      seen = Look(box);
      if (auto* label = box->findChild<QLabel*>(S("qt_msgbox_informativelabel"))) {
        detailFormat = label->textFormat();
      }
      box->button(QMessageBox::Ok)->click();
    });
    const QString detail = S("second file, line 3: the DP field \"<b>x</b>\" is not a number");
    notifier.Warn(nullptr, S("Tandemo"), S("Type mismatch (13)"), detail);
    QVERIFY(act.fired() && !act.timedOut());
    QCOMPARE(seen.icon, QMessageBox::Warning);
    QCOMPARE(seen.modality, Qt::ApplicationModal);
    QCOMPARE(seen.title, S("Tandemo"));
    QCOMPARE(seen.text, S("Type mismatch (13)"));
    QCOMPARE(seen.detail, detail);
    QCOMPARE(detailFormat, Qt::PlainText);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  }

  void askAnswersWithTheButtonPressed_data() {
    QTest::addColumn<bool>("yesIsDefault");
    QTest::addColumn<int>("press");  // 0: Enter, else the button
    QTest::addColumn<bool>("expected");
    QTest::newRow("Enter, No default") << false << 0 << false;
    QTest::newRow("Enter, Yes default") << true << 0 << true;
    QTest::newRow("Yes clicked") << false << int(QMessageBox::Yes) << true;
    QTest::newRow("No clicked") << true << int(QMessageBox::No) << false;
  }

  void askAnswersWithTheButtonPressed() {
    QFETCH(bool, yesIsDefault);
    QFETCH(int, press);
    QFETCH(bool, expected);
    QtNotifier notifier;
    Seen seen;
    WhenModal<QMessageBox> act([&](QMessageBox* box) {
      seen = Look(box);
      if (press == 0) {
        QTest::keyClick(box, Qt::Key_Return);
      } else {
        box->button(QMessageBox::StandardButton(press))->click();
      }
    });
    const bool answer = notifier.Ask(nullptr, S("Save"), S("Replace it?"), yesIsDefault);
    QVERIFY(act.fired() && !act.timedOut());
    QCOMPARE(answer, expected);
    QCOMPARE(seen.icon, QMessageBox::Question);
    QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(seen.defaultButton, yesIsDefault ? QMessageBox::Yes : QMessageBox::No);
  }
};

QTEST_MAIN(NotifierTest)
#include "notifier_test.moc"
