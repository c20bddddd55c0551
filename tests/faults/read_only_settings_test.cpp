// The working directory turns read-only under a running relay (a remount, a full
// or failing disk): the toggles and the dialogs' "OK" still change the running
// settings (all but the no-data limit, which waits for its file), and every
// settings file keeps the content it had.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>

#include "controls/controls_rig.h"
#include "shell/controls/menu_ids.h"

namespace velgor::test {
namespace {

constexpr int EXIT_NO_NAMESPACE = 77;
constexpr int EXIT_STILL_WRITABLE = 78;

// Makes `dir` read-only for this process alone: a private mount namespace in
// which the directory is bound onto itself read-only. Needs a single-threaded
// caller with the right to mount.
bool makeReadOnlyHere(const std::string& dir) {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

DialogFields typed(std::string_view first, std::string_view second = {}) {
    DialogFields fields;
    fields.texts[0] = first;
    fields.texts[1] = second;
    return fields;
}

// What the running relay holds after the operator's changes, as one text.
std::string memoryReport(ControlsRig& rig, bool keptAfterCompression, int sourceFarEnd,
                         int consumerFarEnd) {
    const RelaySettings& s = rig.settings();
    const LinkEndpoint source = rig.relay().links().endpoint(LINK_SOURCE);
    const LinkEndpoint consumer = rig.relay().links().endpoint(LINK_CONSUMER);
    char text[2048];
    std::snprintf(text, sizeof text,
                  "binary=%d compress=%d watchdog=%d limit=%d name=%s lat=%.1f lon=%.1f "
                  "ticks=%d threshold=%d frequency=%d source=%s:%u consumer=%s:%u "
                  "keptAfterCompression=%d sourceDropped=%d consumerDropped=%d marks=%d%d%d",
                  s.binaryMode, s.compressEnabled, s.watchdogEnabled, s.noDataLimit,
                  s.stationName.c_str(), s.stationLatitude / 3600, s.stationLongitude / 3600,
                  s.compressTicks, s.signalThreshold, s.timerFrequency, source.host.c_str(),
                  unsigned{source.port}, consumer.host.c_str(), unsigned{consumer.port},
                  keptAfterCompression ? 1 : 0, ControlsRig::peerClosed(sourceFarEnd) ? 1 : 0,
                  ControlsRig::peerClosed(consumerFarEnd) ? 1 : 0,
                  rig.view.check(IDM_BINARY_MODE).value_or(false) ? 1 : 0,
                  rig.view.check(IDM_COMPRESS).value_or(false) ? 1 : 0,
                  rig.view.check(IDM_NO_DATA_WATCHDOG).value_or(false) ? 1 : 0);
    return text;
}

TEST(ReadOnlyWorkingDirectory, ChangesReachMemoryButNoFileIsTouched) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a read-only bind mount";
    ControlsRig rig;
    const std::map<std::string, std::string> files = {
        {"BinarComOn.ini", "0\n0\n0\n60\n"},
        {"name.ini", "Kervala\n"},
        {"point.ini", "47.1982\n39.6282\n"},
        {"porog.ini", "50\n"},
        {"time.ini", "50\n"},
        {"frequency.ini", "12000000\n"},
        {"initmkp1.ini", "7777\n127.0.0.1\n"},
        {"initmkp2.ini", "8888\n127.0.0.1\n"},
    };
    for (const auto& [name, content] : files) rig.files.write(name, content);
    const std::string listing = rig.files.listing();

    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        if (!makeReadOnlyHere(rig.files.dir())) ::_exit(EXIT_NO_NAMESPACE);
        const int probe = ::open(rig.files.path("probe").c_str(), O_WRONLY | O_CREAT, 0644);
        if (probe >= 0 || errno != EROFS) ::_exit(EXIT_STILL_WRITABLE);

        const int source = rig.bringUp(LINK_SOURCE);
        const int consumer = rig.bringUp(LINK_CONSUMER);
        RelayControls& controls = rig.controls();
        controls.command(IDM_BINARY_MODE);
        controls.command(IDM_COMPRESS);
        const bool kept = rig.relay().links().isUp(LINK_CONSUMER);
        controls.command(IDM_NO_DATA_WATCHDOG);  // opens the limit dialog
        controls.acceptDialog(DialogKind::NoDataLimit, typed("5"));
        controls.acceptDialog(DialogKind::StationName, typed("Nowhere"));
        controls.acceptDialog(DialogKind::Coordinates, typed("10.5", "-20"));
        controls.acceptDialog(DialogKind::CompressStep, typed("7"));
        controls.acceptDialog(DialogKind::Threshold, typed("77"));
        controls.acceptDialog(DialogKind::TimerFrequency, typed("16000000"));
        controls.acceptDialog(DialogKind::SourceLink, typed("4000", "127.0.0.2"));
        controls.acceptDialog(DialogKind::ConsumerLink, typed("4001", "localhost"));
        const std::string text = memoryReport(rig, kept, source, consumer);
        (void)!::write(report[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(report[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died: " << status;
    if (WEXITSTATUS(status) == EXIT_NO_NAMESPACE) {
        GTEST_SKIP() << "no private mount namespace here (unshare or mount refused)";
    }
    ASSERT_NE(WEXITSTATUS(status), EXIT_STILL_WRITABLE) << "the bind mount did not stop writes";
    ASSERT_EQ(WEXITSTATUS(status), 0);

    // The mode toggles drop the consumer link although their file could not be
    // written, as the endpoint dialogs drop theirs. The limit dialog sets the
    // limit only once its file is written.
    EXPECT_EQ(text,
              "binary=1 compress=1 watchdog=1 limit=60 name=Nowhere lat=10.5 lon=-20.0 ticks=7 "
              "threshold=77 frequency=16000000 source=127.0.0.2:4000 consumer=localhost:4001 "
              "keptAfterCompression=0 sourceDropped=1 consumerDropped=1 marks=111");
    for (const auto& [name, content] : files) {
        EXPECT_EQ(rig.files.read(name), content) << name;
    }
    EXPECT_EQ(rig.files.listing(), listing) << "no file appeared";
}

}  // namespace
}  // namespace velgor::test
