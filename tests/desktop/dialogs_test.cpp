// The settings dialogs on the offscreen platform: built from their templates,
// filled on opening, "OK" writing the file, the Tab rule, and the compression
// toggle against a live consumer.
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTest>

#include "config/cp1251.h"
#include "desktop/desktop_rig.h"
#include "links/relay.h"
#include "program/loopback.h"
#include "shell/controls/menu_ids.h"

namespace velgor::test {
namespace {

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QWidget* focusIn(SettingsDialogWidget* dialog) {
    return dialog->focusWidget();
}

void pressTabOn(QWidget* target) {
    QTest::keyClick(target, Qt::Key_Tab);
}

// Counts the Tab presses that reach a widget (after the application's filters).
class TabSpy : public QObject {
  public:
    explicit TabSpy(QWidget* widget) { widget->installEventFilter(this); }
    int seen = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Tab) {
            ++seen;
        }
        return false;
    }
};

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void dialogIsBuiltFromItsTemplate() {
        DesktopRig rig;
        rig.choose(IDM_SOURCE_SETTINGS);
        SettingsDialogWidget* dialog = rig.newestDialog();
        QVERIFY(dialog != nullptr);
        QCOMPARE(dialog->windowTitle(), text("Настройки TCP"));
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->parentWidget(), &rig.window());  // owned by the main window
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());

        // Positions in dialog units for the dialog font: everything scales alike.
        const QWidget* ok = dialog->control(DIALOG_OK);
        const QWidget* cancel = dialog->control(DIALOG_CANCEL);
        const QWidget* port = dialog->control(DIALOG_FIELD_1);
        const QWidget* host = dialog->control(DIALOG_FIELD_2);
        QVERIFY(ok && cancel && port && host);
        QCOMPARE(ok->y(), cancel->y());
        QCOMPARE(ok->size(), cancel->size());
        QVERIFY(port->x() == host->x() && port->x() == ok->x());
        QVERIFY(host->width() > port->width());  // 50 against 40 units
        QVERIFY(cancel->geometry().right() < dialog->width());
        QVERIFY(ok->geometry().bottom() < dialog->height());
        QVERIFY(qobject_cast<const QPushButton*>(ok)->isDefault());
        QStringList labelTexts;
        for (const QLabel* label : dialog->findChildren<QLabel*>()) labelTexts << label->text();
        QCOMPARE(labelTexts, (QStringList{text("Порт"), text("IP адрес")}));

        rig.choose(IDM_COORDINATES);
        const auto* coordinatesOk =
            qobject_cast<const QPushButton*>(rig.newestDialog()->control(DIALOG_OK));
        QVERIFY(!coordinatesOk->isDefault());  // plain push buttons here
    }

    void thresholdDialogShowsFiftyForThreeHundredAndOkWritesTheFile() {
        DesktopRig rig(DesktopRig::Files{{"porog.ini", "300\n"}});
        QCOMPARE(rig.relay().settings().signalThreshold, 300);
        rig.choose(IDM_THRESHOLD);
        SettingsDialogWidget* dialog = rig.newestDialog();
        QCOMPARE(dialog->field(0)->text(), text("50"));
        QCOMPARE(rig.relay().settings().signalThreshold, 50);

        dialog->field(0)->clear();
        QTest::keyClicks(dialog->field(0), "120");
        QTest::mouseClick(qobject_cast<QPushButton*>(dialog->control(DIALOG_OK)), Qt::LeftButton);
        QCOMPARE(*rig.files.read("porog.ini"), std::string("120\n"));
        QCOMPARE(rig.relay().settings().signalThreshold, 120);
        QCOMPARE(rig.newestDialog(), nullptr);  // closed
    }

    void typedTextReachesFileAndMemoryAsWindows1251() {
        DesktopRig rig(DesktopRig::Files{{"name.ini", utf8ToCp1251("Ёлка") + "\n"}});
        rig.choose(IDM_STATION_NAME);
        SettingsDialogWidget* dialog = rig.newestDialog();
        QCOMPARE(dialog->field(0)->text(), text("Ёлка"));
        dialog->field(0)->setText(text("Приёмник №7 日本"));
        QTest::mouseClick(qobject_cast<QPushButton*>(dialog->control(DIALOG_OK)), Qt::LeftButton);
        const std::string expected = utf8ToCp1251("Приёмник №7 ??");
        QCOMPARE(*rig.files.read("name.ini"), expected + "\n");
        QCOMPARE(std::string(rig.relay().settings().stationName.view()), expected);
    }

    void cancelAndCloseBoxChangeNothing() {
        DesktopRig rig;
        rig.choose(IDM_COMPRESS_TICKS);
        SettingsDialogWidget* dialog = rig.newestDialog();
        dialog->field(0)->setText("9");
        QTest::mouseClick(qobject_cast<QPushButton*>(dialog->control(DIALOG_CANCEL)),
                          Qt::LeftButton);
        rig.choose(IDM_COMPRESS_TICKS);
        rig.newestDialog()->field(0)->setText("8");
        rig.newestDialog()->close();  // the caption's close box
        QCOMPARE(rig.newestDialog(), nullptr);
        QCOMPARE(rig.relay().settings().compressTicks, 50);
        QVERIFY(!rig.files.read("time.ini").has_value());
    }

    void returnAndEscapeDoNothingInADialog() {
        DesktopRig rig;
        rig.choose(IDM_STATION_NAME);
        SettingsDialogWidget* dialog = rig.newestDialog();
        QTest::keyClick(dialog->field(0), Qt::Key_Escape);
        QTest::keyClick(dialog->field(0), Qt::Key_Return);
        QCOMPARE(rig.newestDialog(), dialog);
        QVERIFY(!rig.files.read("name.ini").has_value());
    }

    void tabCyclesTheNewestCoordinatesDialogFromAnyWindow() {
        DesktopRig rig;
        rig.choose(IDM_COORDINATES);
        SettingsDialogWidget* older = rig.newestDialog();
        rig.choose(IDM_COORDINATES);
        SettingsDialogWidget* newer = rig.newestDialog();
        QVERIFY(older != newer);
        QCOMPARE(focusIn(newer), newer->control(DIALOG_FIELD_1));

        // Typed into the main window or the older dialog: the newer one cycles.
        TabSpy windowSpy(&rig.window());
        TabSpy olderSpy(older->field(0));
        pressTabOn(&rig.window());
        QCOMPARE(focusIn(newer), newer->control(DIALOG_FIELD_2));
        pressTabOn(older->field(0));
        QCOMPARE(focusIn(newer), newer->control(DIALOG_OK));
        pressTabOn(newer->control(DIALOG_OK));
        QCOMPARE(focusIn(newer), newer->control(DIALOG_CANCEL));
        pressTabOn(newer->control(DIALOG_CANCEL));
        QCOMPARE(focusIn(newer), newer->control(DIALOG_FIELD_1));
        QCOMPARE(focusIn(older), older->control(DIALOG_FIELD_1));  // untouched

        // The key is swallowed: the widgets it was typed into never see it.
        QCOMPARE(windowSpy.seen, 0);
        QCOMPARE(olderSpy.seen, 0);
        QCOMPARE(newer->field(0)->text(), text("47.198200"));
    }

    void oneTabAdvancesBothCyclesAndAfterCloseTabIsNotSwallowed() {
        DesktopRig rig;
        rig.choose(IDM_COORDINATES);
        SettingsDialogWidget* coordinates = rig.newestDialog();
        rig.choose(IDM_SOURCE_SETTINGS);
        SettingsDialogWidget* source = rig.newestDialog();
        pressTabOn(&rig.window());
        QCOMPARE(focusIn(coordinates), coordinates->control(DIALOG_FIELD_2));
        QCOMPARE(focusIn(source), source->control(DIALOG_FIELD_2));
        // The source dialog's step runs last, so its window ends up active.
        QTRY_COMPARE(QApplication::activeWindow(), source);

        QTest::mouseClick(qobject_cast<QPushButton*>(coordinates->control(DIALOG_CANCEL)),
                          Qt::LeftButton);
        QTest::mouseClick(qobject_cast<QPushButton*>(source->control(DIALOG_CANCEL)),
                          Qt::LeftButton);
        // Nothing cycles now: a Tab goes on to its widget, which does nothing with it.
        rig.choose(IDM_CONSUMER_SETTINGS);
        SettingsDialogWidget* consumer = rig.newestDialog();
        consumer->activateWindow();
        consumer->field(0)->setFocus();
        TabSpy consumerSpy(consumer->field(0));
        pressTabOn(consumer->field(0));
        QCOMPARE(consumerSpy.seen, 1);
        QCOMPARE(focusIn(consumer), consumer->control(DIALOG_FIELD_1));
    }

    void compressionToggleDropsTheLiveConsumerAndTheNewHandshakeSaysSo() {
        LoopbackListener source;
        LoopbackListener consumer;
        DesktopRig rig(
            DesktopRig::Files{{"initmkp1.ini", std::to_string(source.port()) + "\n127.0.0.1\n"},
                              {"initmkp2.ini", std::to_string(consumer.port()) + "\n127.0.0.1\n"}});
        rig.startRelay();
        Relay& relay = rig.relay();

        // Accepts the next consumer connection and reads its handshake.
        const auto connectAndHandshake = [&](std::string& handshake) {
            int fd = -1;
            if (!QTest::qWaitFor(
                    [&] { return (fd = consumer.accept(std::chrono::milliseconds(0))) >= 0; },
                    5000)) {
                return -1;
            }
            const bool up = QTest::qWaitFor(
                [&] {
                    readWaiting(fd, handshake);
                    return relay.links().isUp(LINK_CONSUMER);
                },
                5000);
            readWaiting(fd, handshake);
            return up ? fd : -1;
        };

        std::string first;
        const int firstFd = connectAndHandshake(first);
        QVERIFY(firstFd >= 0);
        QVERIFY2(first.ends_with("#TEXT\r\n"), first.c_str());

        rig.choose(IDM_COMPRESS);
        QVERIFY(rig.window().menuAction(IDM_COMPRESS)->isChecked());
        QCOMPARE(*rig.files.read("BinarComOn.ini"), std::string("0\n1\n0\n60\n"));
        std::string rest;
        QVERIFY(QTest::qWaitFor([&] { return !readWaiting(firstFd, rest); }, 2000));
        ::close(firstFd);
        QCOMPARE(rig.window().pane().consumerStatusLine()->text().endsWith(text("Связь разорвана")),
                 true);

        std::string second;
        const int secondFd = connectAndHandshake(second);
        QVERIFY(secondFd >= 0);
        QVERIFY2(second.ends_with("#TEXT:COMPRESS\r\n"), second.c_str());

        rig.choose(IDM_COMPRESS);  // and back
        QVERIFY(QTest::qWaitFor([&] { return !readWaiting(secondFd, rest); }, 2000));
        ::close(secondFd);
        std::string third;
        const int thirdFd = connectAndHandshake(third);
        QVERIFY(thirdFd >= 0);
        QVERIFY2(third.ends_with("#TEXT\r\n"), third.c_str());
        ::close(thirdFd);
    }
};

}  // namespace velgor::test

QTEST_MAIN(velgor::test::DialogsTest)
#include "dialogs_test.moc"
