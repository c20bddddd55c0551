// Under a real X server (xvfb-run): the main window with traffic flowing and
// every settings dialog and information box, saved as pictures in the build
// directory for a person to look at.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "desktop/desktop_rig.h"
#include "links/relay.h"
#include "program/loopback.h"
#include "shell/controls/menu_ids.h"

namespace velgor::test {
namespace {

// A receiver's text stream: '@' lines with a running 12 MHz timestamp.
class TextSource {
  public:
    explicit TextSource(int fd) : fd_(fd) {}
    void sendSome() {
        static const char* const messages[] = {"8D4840D6202CC371C32CE0576098", "5D4840D6E2A3C1",
                                               "8D40621D58C382D690C8AC2863A7", "02E197B00179C3"};
        std::string lines;
        for (int i = 0; i < 3; ++i) {
            count_ += 360000 + 1234 * static_cast<std::uint64_t>(i);
            char line[64];
            std::snprintf(line, sizeof line, "@%012llX%s;\r\n",
                          static_cast<unsigned long long>(count_ & 0xFFFFFFFFFFFFull),
                          messages[(sent_++) % 4]);
            lines += line;
        }
        sendAll(fd_, lines);
    }

  private:
    int fd_;
    std::uint64_t count_ = 0x0123456789ull;
    int sent_ = 0;
};

QPixmap grabFrame(const QWidget& window) {
    const QRect frame = window.frameGeometry();
    return window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
}

// Saves a picture and checks that it shows more than one flat colour.
void save(const QPixmap& picture, const QString& name) {
    QVERIFY(!picture.isNull());
    const QString path = QStringLiteral(VELGOR_SCREENSHOT_DIR "/") + name + ".png";
    QVERIFY(picture.save(path));
    const QImage image = picture.toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
    }
    QVERIFY2(colours.size() > 2, qPrintable(name));
    std::printf("saved %s (%dx%d)\n", qPrintable(path), image.width(), image.height());
}

}  // namespace

class ScreenshotsTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void mainWindowWithTrafficAndEveryDialog() {
        QVERIFY(QDir().mkpath(VELGOR_SCREENSHOT_DIR));
        LoopbackListener sourceListener;
        LoopbackListener consumerListener;
        DesktopRig rig(DesktopRig::Files{
            {"initmkp1.ini", std::to_string(sourceListener.port()) + "\n127.0.0.1\n"},
            {"initmkp2.ini", std::to_string(consumerListener.port()) + "\n127.0.0.1\n"}});
        rig.startRelay();
        int sourceFd = -1;
        int consumerFd = -1;
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (sourceFd < 0) sourceFd = sourceListener.accept(std::chrono::milliseconds(0));
                if (consumerFd < 0) {
                    consumerFd = consumerListener.accept(std::chrono::milliseconds(0));
                }
                return sourceFd >= 0 && consumerFd >= 0 &&
                       rig.relay().links().isUp(LINK_CONSUMER) &&
                       rig.relay().links().isUp(LINK_SOURCE);
            },
            10000));

        TextSource source(sourceFd);
        QTimer feeder;
        QObject::connect(&feeder, &QTimer::timeout, [&] {
            source.sendSome();
            std::string drained;
            readWaiting(consumerFd, drained);
        });
        feeder.start(30);
        rig.choose(IDM_RELATIVE_TIME);
        QTest::qWait(2500);
        QVERIFY(!rig.window().pane().logLine(0)->text().isEmpty());
        save(grabFrame(rig.window()), "main_window");

        const struct {
            int command;
            const char* name;
        } dialogs[] = {
            {IDM_SOURCE_SETTINGS, "dialog8_source_link"},
            {IDM_CONSUMER_SETTINGS, "dialog9_consumer_link"},
            {IDM_COORDINATES, "dialog3_coordinates"},
            {IDM_STATION_NAME, "dialog4_station_name"},
            {IDM_COMPRESS_TICKS, "dialog_timecompress"},
            {IDM_THRESHOLD, "dialog_porog"},
            {IDM_TIMER_FREQUENCY, "dialog_freq"},
            {IDM_NO_DATA_WATCHDOG, "dialog_no_dann"},  // turning the watchdog on opens it
        };
        for (const auto& d : dialogs) {
            rig.choose(d.command);
            SettingsDialogWidget* dialog = rig.newestDialog();
            QVERIFY(dialog != nullptr);
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            QTest::qWait(150);
            save(grabFrame(*dialog), d.name);
            dialog->close();
        }

        rig.choose(IDM_HELP);
        QMessageBox* help = rig.desktop().view().openInfoBoxes().back();
        QVERIFY(QTest::qWaitForWindowExposed(help));
        QTest::qWait(300);
        // The whole text fits on a desktop-sized screen.
        QVERIFY(help->screen()->availableGeometry().contains(help->frameGeometry()));
        save(grabFrame(*help), "help_box");
        rig.choose(IDM_AUTHOR);
        QMessageBox* author = rig.desktop().view().openInfoBoxes().back();
        QVERIFY(QTest::qWaitForWindowExposed(author));
        QTest::qWait(150);
        save(grabFrame(*author), "author_box");

        feeder.stop();
        ::close(sourceFd);
        ::close(consumerFd);
    }
};

}  // namespace velgor::test

QTEST_MAIN(velgor::test::ScreenshotsTest)
#include "screenshots_test.moc"
