// The main window on the offscreen platform: window, status pane, menus and
// check marks, keys, tray entry, information boxes and the two ways out.
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "config/cp1251.h"
#include "desktop/desktop_rig.h"
#include "links/relay.h"
#include "shell/controls/menu_ids.h"
#include "shell/controls/menu_table.h"
#include "shell/desktop/qt_text.h"

namespace velgor::test {
namespace {

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QStringList labels(const QList<QAction*>& actions) {
    QStringList texts;
    for (const QAction* action : actions) texts << action->text();
    return texts;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void windowHasTitleFixedSizeAndOnlyMinimizeAndClose() {
        DesktopRig rig;
        MainWindow& window = rig.window();
        QCOMPARE(window.windowTitle(), text("Связывающая программа (Velgor)"));
        QVERIFY(window.isVisible());
        // No frame on this platform: the outer size is the window itself.
        QCOMPARE(window.frameGeometry().size(), QSize(585, 372));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(window.windowIcon().availableSizes().value(0), QSize(32, 32));
    }

    void paneHasEighteenLogLinesAndTwoStatusLinesInPlace() {
        DesktopRig rig;
        StatusPane& pane = rig.window().pane();
        for (int i = 0; i < PANE_LOG_LINES; ++i) {
            QCOMPARE(pane.logLine(i)->geometry(), QRect(0, 16 * i, 676, 16));
            QVERIFY(pane.logLine(i)->text().isEmpty());
        }
        QCOMPARE(pane.sourceStatusLine()->geometry(), QRect(0, 288, 676, 16));
        QCOMPARE(pane.consumerStatusLine()->geometry(), QRect(0, 304, 676, 16));
        // Wider than the window: long texts are cut at its right edge.
        QVERIFY(pane.logLine(0)->width() > rig.window().width());

        const QFontInfo logFont(pane.logLine(0)->font());
        const QFontInfo statusFont(pane.sourceStatusLine()->font());
        QVERIFY(!logFont.fixedPitch());
        QVERIFY(logFont.pointSize() >= 7 && logFont.pointSize() <= 9);
        QVERIFY(statusFont.fixedPitch());
    }

    void paneDrawsWhatTheMessageLogShows() {
        DesktopRig rig;
        MessageLog& log = rig.relay().messageLog();
        StatusPane& pane = rig.window().pane();
        const std::string russian = utf8ToCp1251("Ошибка Compress");
        log.logMessage(russian.c_str(), LOG_SHOW);
        log.logMessage("*8D4840D6202CC371C32CE0576098;\r\n", LOG_STORE);
        QVERIFY(pane.logLine(17)->text() == text("Ошибка Compress"));
        log.logMessage(nullptr, LOG_SHOW_NEWEST);  // the tick's step
        QCOMPARE(pane.logLine(16)->text(), text("Ошибка Compress"));
        QCOMPARE(pane.logLine(17)->text(), text("*8D4840D6202CC371C32CE0576098;"));
        for (int i = 0; i < 17; ++i) log.logMessage(std::to_string(i).c_str(), LOG_SHOW);
        QCOMPARE(pane.logLine(0)->text(), text("*8D4840D6202CC371C32CE0576098;"));
        QCOMPARE(pane.logLine(17)->text(), text("16"));

        rig.relay().links().setStatusText(LINK_SOURCE, utf8ToCp1251("Связь разорвана"));
        rig.relay().links().setEndpoint(LINK_CONSUMER, 30005, "127.0.0.1");
        rig.relay().refreshStatusLines();
        QCOMPARE(pane.sourceStatusLine()->text(), text("Клиент:  7777  Связь разорвана"));
        QCOMPARE(pane.consumerStatusLine()->text(), text("Клиент:  30005  "));
    }

    void menuBarShowsTheMenuTableDecoded() {
        DesktopRig rig;
        const QList<QAction*> popups = rig.window().menuBar()->actions();
        const auto table = mainMenu();
        QCOMPARE(popups.size(), qsizetype(table.size()));
        for (std::size_t p = 0; p < table.size(); ++p) {
            const QList<QAction*> items = popups[qsizetype(p)]->menu()->actions();
            QCOMPARE(popups[qsizetype(p)]->text(), fromCp1251(table[p].title));
            QCOMPARE(items.size(), qsizetype(table[p].items.size()));
            for (qsizetype i = 0; i < items.size(); ++i) {
                const MenuItem& item = table[p].items[std::size_t(i)];
                QCOMPARE(items[i]->text(), fromCp1251(item.label));
                QCOMPARE(items[i]->data().toInt(), item.id);
                QCOMPARE(items[i]->isCheckable(), item.checkMark);
                QVERIFY(!items[i]->isChecked());
            }
        }
        QCOMPARE(popups[0]->menu()->actions()[0]->text(), text("&Настройки TCP источника  "));
    }

    void checkMarksStartFromTheLoadedFlags() {
        DesktopRig rig(DesktopRig::Files{{"BinarComOn.ini", "1\n0\n1\n60\n"}});
        QVERIFY(rig.window().menuAction(IDM_BINARY_MODE)->isChecked());
        QVERIFY(!rig.window().menuAction(IDM_COMPRESS)->isChecked());
        QVERIFY(!rig.window().menuAction(IDM_RELATIVE_TIME)->isChecked());
        QVERIFY(rig.window().menuAction(IDM_NO_DATA_WATCHDOG)->isChecked());

        // A toggle's mark follows its flag, not Qt's own check on click.
        rig.choose(IDM_BINARY_MODE);
        QVERIFY(!rig.window().menuAction(IDM_BINARY_MODE)->isChecked());
        QCOMPARE(rig.relay().settings().binaryMode, 0);
        QCOMPARE(*rig.files.read("BinarComOn.ini"), std::string("0\n0\n1\n60\n"));
    }

    void keysFourAndFiveOnlyOthersDoNothing() {
        DesktopRig rig;
        MainWindow& window = rig.window();
        ReceiveTimeDisplay& display = rig.relay().display();
        for (const char key : std::string("0123689aZ-")) QTest::keyClick(&window, key);
        QTest::keyClick(&window, Qt::Key_Return);
        QTest::keyClick(&window, Qt::Key_F5);
        QCOMPARE(display.displayEnabled(), 1);
        QCOMPARE(display.relativeTimeMode(), 0);

        QTest::keyClick(&window, '4');
        QCOMPARE(display.displayEnabled(), 0);
        QTest::keyClick(&window, '4');
        QCOMPARE(display.displayEnabled(), 1);

        QTest::keyClick(&window, '5');
        QCOMPARE(display.relativeTimeMode(), 1);
        QVERIFY(!window.menuAction(IDM_RELATIVE_TIME)->isChecked());  // the key leaves the mark
        rig.choose(IDM_RELATIVE_TIME);
        QCOMPARE(display.relativeTimeMode(), 0);
        QVERIFY(!window.menuAction(IDM_RELATIVE_TIME)->isChecked());
        rig.choose(IDM_RELATIVE_TIME);
        QCOMPARE(display.relativeTimeMode(), 1);
        QVERIFY(window.menuAction(IDM_RELATIVE_TIME)->isChecked());
    }

    void trayEntryHasTheTitleTipAndOneExitItem() {
        DesktopRig rig;
        rig.startRelay();
        TrayEntry& tray = rig.desktop().tray();
        qInfo("system tray available on this platform: %s",
              QSystemTrayIcon::isSystemTrayAvailable() ? "yes" : "no");
        QCOMPARE(tray.icon().toolTip(), text("Связывающая программа (Velgor)"));
        QVERIFY(!tray.icon().icon().isNull());
        QCOMPARE(tray.icon().contextMenu(), &tray.menu());
        QCOMPARE(labels(tray.menu().actions()), QStringList{text("&Exit")});
        QCOMPARE(tray.menu().actions()[0]->data().toInt(), int{IDM_EXIT});

        // Left clicks and double clicks are not handled: the window stays as it is.
        rig.window().showMinimized();
        Q_EMIT tray.icon().activated(QSystemTrayIcon::Trigger);
        Q_EMIT tray.icon().activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(rig.window().isMinimized());
    }

    void infoBoxesBlockNothingWhileTheRelayGoesOn() {
        DesktopRig rig;
        rig.startRelay();
        rig.choose(IDM_HELP);
        rig.choose(IDM_AUTHOR);
        const auto boxes = rig.desktop().view().openInfoBoxes();
        QCOMPARE(boxes.size(), std::size_t{2});
        QCOMPARE(boxes[0]->windowTitle(), text("Меню"));
        QVERIFY(boxes[0]->text().startsWith(text("\"НАСТРОЙКИ СОМ ИСТОЧНИКА\"\n")));
        QCOMPARE(boxes[1]->windowTitle(), text("Автор"));
        QVERIFY(boxes[0]->isVisible());
        QCOMPARE(boxes[0]->parentWidget(), nullptr);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);

        // Ticks go on: a stored line reaches the pane while the boxes are open.
        rig.relay().messageLog().logMessage("@00000000001A8D4840D6202CC371C32CE0576098;\r\n",
                                            LOG_STORE);
        QTRY_COMPARE_WITH_TIMEOUT(rig.window().pane().logLine(17)->text(),
                                  text("@00000000001A8D4840D6202CC371C32CE0576098;"), 2000);
        rig.choose(IDM_COORDINATES);  // the menus stay usable
        QVERIFY(rig.newestDialog() != nullptr);
    }

    void exitAndCloseBoxBothEndTheLoopWithZero() {
        for (const bool viaExit : {true, false}) {
            DesktopRig rig;
            rig.startRelay();
            rig.choose(IDM_COORDINATES);
            QTimer::singleShot(50, &rig.window(), [&rig, viaExit] {
                if (viaExit) {
                    rig.desktop().tray().menuAction(IDM_EXIT)->trigger();
                } else {
                    rig.window().close();  // what the caption's close box does
                }
            });
            QTimer guard;  // ends a loop that nothing else would end
            guard.setSingleShot(true);
            QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
            guard.start(5000);
            QCOMPARE(QApplication::exec(), 0);
            QVERIFY(!rig.window().isVisible());
            rig.desktop().removeTrayIcon();
            QVERIFY(!rig.desktop().tray().icon().isVisible());
        }
    }
};

}  // namespace velgor::test

QTEST_MAIN(velgor::test::MainWindowTest)
#include "main_window_test.moc"
