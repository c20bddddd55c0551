// Menu commands, the mode toggles, the keys and the Tab rule.
#include "shell/controls/relay_controls.h"

#include <gtest/gtest.h>

#include <string>

#include "config/cp1251.h"
#include "controls/controls_rig.h"
#include "shell/controls/menu_ids.h"
#include "shell/controls/window_texts.h"

namespace velgor {
namespace {

using test::ControlsRig;

TEST(StartupChecks, MarkTheTogglesWhoseLoadedFlagIsOn) {
    const struct {
        const char* modes;  // "BinarComOn.ini", or null
        std::optional<bool> binary, compress, watchdog;
    } cases[] = {
        {"1\n0\n1\n60\n", true, std::nullopt, true},
        {"0\n7\n0\n60\n", std::nullopt, true, std::nullopt},
        {"1\n", true, true, true},  // one line: all four values become 1
        {nullptr, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.modes == nullptr ? "no file" : c.modes);
        ControlsRig rig;
        if (c.modes != nullptr) rig.files.write("BinarComOn.ini", c.modes);
        rig.controls().applyStartupChecks();
        EXPECT_EQ(rig.view.check(IDM_BINARY_MODE), c.binary);
        EXPECT_EQ(rig.view.check(IDM_COMPRESS), c.compress);
        EXPECT_EQ(rig.view.check(IDM_NO_DATA_WATCHDOG), c.watchdog);
        EXPECT_EQ(rig.view.check(IDM_RELATIVE_TIME), std::nullopt);
    }
}

TEST(ModeToggles, FlipTheFlagAndMarkAndRewriteAllFourValues) {
    const struct {
        int command;
        const char* before;
        const char* after;
        bool mark;
    } cases[] = {
        {IDM_BINARY_MODE, "0\n0\n0\n60\n", "1\n0\n0\n60\n", true},
        {IDM_BINARY_MODE, "5\n1\n1\n9\n", "0\n1\n1\n9\n", false},  // any non-zero is on
        {IDM_COMPRESS, "0\n0\n0\n60\n", "0\n1\n0\n60\n", true},
        {IDM_COMPRESS, "1\n-1\n0\n60\n", "1\n0\n0\n60\n", false},
        {IDM_NO_DATA_WATCHDOG, "0\n0\n3\n60\n", "0\n0\n0\n60\n", false},
        {IDM_NO_DATA_WATCHDOG, "0\n0\n0\n-4\n", "0\n0\n1\n-4\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.command) + " from " + c.before);
        ControlsRig rig;
        rig.files.write("BinarComOn.ini", c.before);
        rig.controls().command(c.command);
        EXPECT_EQ(rig.files.read("BinarComOn.ini"), c.after);
        EXPECT_EQ(rig.view.check(c.command), c.mark);
    }
}

// Either mode toggle drops a live consumer, whether or not the mode file could be
// written, so that the next handshake announces the mode the feed then has; the
// source stays up, and a consumer that is down already is left alone.
TEST(ModeToggles, BothModesDropALiveConsumerSoTheNextHandshakeCarriesThem) {
    for (const bool writable : {true, false}) {
        for (const int command : {IDM_COMPRESS, IDM_BINARY_MODE}) {
            SCOPED_TRACE(std::string(writable ? "writable" : "unwritable") +
                         (command == IDM_COMPRESS ? " compression" : " binary mode"));
            ControlsRig rig;
            const int consumer = rig.bringUp(LINK_CONSUMER);
            const int source = rig.bringUp(LINK_SOURCE);
            if (!writable) rig.makeSettingsUnwritable();
            rig.controls().command(command);
            EXPECT_TRUE(ControlsRig::peerClosed(consumer));
            EXPECT_FALSE(ControlsRig::peerClosed(source));
            EXPECT_EQ(rig.relay().links().slot(LINK_CONSUMER).state.load(), LINK_DOWN);
            const HandshakeValues next = rig.relay().handshakeValues();
            EXPECT_EQ(command == IDM_COMPRESS ? next.compressEnabled : next.binaryMode, 1);
            EXPECT_EQ(rig.view.check(command), true);

            rig.controls().command(command);  // down already: nothing more is dropped
            EXPECT_EQ(rig.host.unwatched[LINK_CONSUMER], 1);
            EXPECT_TRUE(rig.relay().links().isUp(LINK_SOURCE));
        }
    }
}

TEST(ModeToggles, WatchdogOnOpensTheLimitDialogAndCancelKeepsItOn) {
    ControlsRig rig;
    rig.files.write("BinarComOn.ini", "0\n0\n0\n45\n");
    RelayControls& controls = rig.controls();
    controls.toggleWatchdog();
    ASSERT_EQ(rig.view.dialogs.size(), 1u);
    EXPECT_EQ(rig.view.lastDialog().kind, DialogKind::NoDataLimit);
    EXPECT_EQ(rig.view.lastDialog().fields.texts[0], "45");
    controls.cancelDialog(DialogKind::NoDataLimit);
    EXPECT_EQ(rig.settings().watchdogEnabled, 1);
    EXPECT_EQ(rig.settings().noDataLimit, 45);
    EXPECT_EQ(rig.files.read("BinarComOn.ini"), "0\n0\n1\n45\n");

    controls.toggleWatchdog();  // off: no dialog
    EXPECT_EQ(rig.view.dialogs.size(), 1u);
    EXPECT_EQ(rig.files.read("BinarComOn.ini"), "0\n0\n0\n45\n");
}

TEST(RelativeTime, MenuItemAndKeyFiveShareTheModeButOnlyTheItemSetsTheMark) {
    ControlsRig rig;
    ReceiveTimeDisplay& display = rig.relay().display();
    RelayControls& controls = rig.controls();

    controls.character('5');
    EXPECT_EQ(display.relativeTimeMode(), 1);
    EXPECT_EQ(rig.view.check(IDM_RELATIVE_TIME), std::nullopt);

    controls.command(IDM_RELATIVE_TIME);  // on, so it goes off and clears a mark never shown
    EXPECT_EQ(display.relativeTimeMode(), 0);
    EXPECT_EQ(rig.view.check(IDM_RELATIVE_TIME), false);

    const char line[] = "@0000000000018D4840D6202CC371C32CE0576098;\r\n";
    controls.command(IDM_RELATIVE_TIME);
    EXPECT_EQ(display.relativeTimeMode(), 1);
    EXPECT_EQ(rig.view.check(IDM_RELATIVE_TIME), true);
    display.displayReceivedLine(line, sizeof line - 1);
    ASSERT_NE(display.timeReference().set, 0);

    // '5' twice: off and on again, the next timestamped line is the new reference.
    controls.character('5');
    controls.character('5');
    EXPECT_EQ(display.relativeTimeMode(), 1);
    EXPECT_EQ(display.timeReference().set, 0);
    EXPECT_EQ(rig.view.check(IDM_RELATIVE_TIME), true);
    EXPECT_FALSE(rig.files.read("BinarComOn.ini").has_value());
}

TEST(Keys, FourSwitchesTheDisplayAndEveryOtherCharacterDoesNothing) {
    ControlsRig rig;
    ReceiveTimeDisplay& display = rig.relay().display();
    for (int code :
         {int{'0'}, int{'1'}, int{'2'}, int{'3'}, int{'6'}, int{'9'}, int{'a'}, 9, 13, 32, 0xC0}) {
        rig.controls().character(code);
    }
    EXPECT_EQ(display.displayEnabled(), 1);
    EXPECT_EQ(display.relativeTimeMode(), 0);
    EXPECT_TRUE(rig.view.checks.empty());
    EXPECT_TRUE(rig.view.dialogs.empty());

    rig.controls().character('4');
    EXPECT_EQ(display.displayEnabled(), 0);
    const char line[] = "*8D4840D6202CC371C32CE0576098;\r\n";
    display.displayReceivedLine(line, sizeof line - 1);
    EXPECT_EQ(rig.relay().messageLog().newestSlot(), 0);  // not stored while off
    rig.controls().character('4');
    EXPECT_EQ(display.displayEnabled(), 1);
}

TEST(Commands, EachOpensItsDialogOrBoxAndUnknownOnesDoNothing) {
    const struct {
        int command;
        DialogKind kind;
    } dialogs[] = {
        {IDM_SOURCE_SETTINGS, DialogKind::SourceLink},
        {IDM_CONSUMER_SETTINGS, DialogKind::ConsumerLink},
        {IDM_COORDINATES, DialogKind::Coordinates},
        {IDM_STATION_NAME, DialogKind::StationName},
        {IDM_COMPRESS_TICKS, DialogKind::CompressStep},
        {IDM_THRESHOLD, DialogKind::Threshold},
        {IDM_TIMER_FREQUENCY, DialogKind::TimerFrequency},
    };
    ControlsRig rig;
    RelayControls& controls = rig.controls();
    for (const auto& d : dialogs) {
        controls.command(d.command);
        ASSERT_FALSE(rig.view.dialogs.empty());
        EXPECT_EQ(rig.view.lastDialog().kind, d.kind) << d.command;
    }
    // Every choice opens a further instance.
    controls.command(IDM_COORDINATES);
    EXPECT_EQ(rig.view.dialogs.size(), std::size(dialogs) + 1);
    EXPECT_NE(rig.view.dialogs[2].instance, rig.view.lastDialog().instance);

    controls.command(IDM_HELP);
    controls.command(IDM_AUTHOR);
    ASSERT_EQ(rig.view.infoBoxes.size(), 2u);
    EXPECT_EQ(rig.view.infoBoxes[0].first, helpBoxCaption());
    EXPECT_EQ(rig.view.infoBoxes[0].second, helpBoxText());
    EXPECT_EQ(cp1251ToUtf8(rig.view.infoBoxes[1].first), "Автор");

    for (int unknown : {0, 100, 107, 112, 120, 303, 0x10000 + IDM_EXIT}) controls.command(unknown);
    EXPECT_EQ(rig.view.dialogs.size(), std::size(dialogs) + 1);
    EXPECT_EQ(rig.view.mainWindowCloses, 0);
    EXPECT_FALSE(rig.files.read("BinarComOn.ini").has_value());

    controls.command(IDM_EXIT);
    EXPECT_EQ(rig.view.mainWindowCloses, 1);
}

class TabRule : public ::testing::Test {
  protected:
    // The focus moves made by one Tab press, and whether it was taken.
    std::pair<bool, std::vector<std::pair<DialogInstanceId, int>>> pressTab() {
        rig.view.focusMoves.clear();
        const bool taken = rig.controls().offerTab();
        return {taken, rig.view.focusMoves};
    }
    DialogInstanceId open(DialogKind kind) { return rig.controls().openDialog(kind); }

    ControlsRig rig;
};

TEST_F(TabRule, NotTakenWhileNoCyclingDialogIsOpen) {
    open(DialogKind::ConsumerLink);  // two fields, but no cycle
    open(DialogKind::StationName);
    EXPECT_EQ(pressTab().first, false);
    EXPECT_TRUE(rig.view.focusMoves.empty());
}

TEST_F(TabRule, CyclesThroughFieldsAndButtonsOfTheCoordinatesDialog) {
    const DialogInstanceId dialog = open(DialogKind::Coordinates);
    // Opening puts the focus on field 1000.
    ASSERT_EQ(rig.view.focusMoves.size(), 1u);
    EXPECT_EQ(rig.view.focusMoves[0], std::make_pair(dialog, int{DIALOG_FIELD_1}));
    for (int expected :
         {DIALOG_FIELD_2, DIALOG_OK, DIALOG_CANCEL, DIALOG_FIELD_1, DIALOG_FIELD_2}) {
        const auto [taken, moves] = pressTab();
        EXPECT_TRUE(taken);
        ASSERT_EQ(moves.size(), 1u);
        EXPECT_EQ(moves[0], std::make_pair(dialog, expected));
    }
}

TEST_F(TabRule, OneTabAdvancesBothCyclesTheSourceDialogLast) {
    const DialogInstanceId coordinates = open(DialogKind::Coordinates);
    const DialogInstanceId source = open(DialogKind::SourceLink);
    pressTab();
    const auto [taken, moves] = pressTab();
    EXPECT_TRUE(taken);
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0], std::make_pair(coordinates, int{DIALOG_OK}));
    EXPECT_EQ(moves[1], std::make_pair(source, int{DIALOG_OK}));

    // The source dialog closed by "OK": only the coordinates dialog cycles on.
    rig.controls().acceptDialog(DialogKind::SourceLink, rig.view.lastDialog().fields);
    const auto after = pressTab();
    EXPECT_TRUE(after.first);
    ASSERT_EQ(after.second.size(), 1u);
    EXPECT_EQ(after.second[0].first, coordinates);

    rig.controls().cancelDialog(DialogKind::Coordinates);
    EXPECT_FALSE(pressTab().first);
}

TEST_F(TabRule, TheNewestInstanceCyclesAndClosingAnyInstanceEndsTheCycle) {
    const DialogInstanceId older = open(DialogKind::Coordinates);
    pressTab();
    pressTab();
    const DialogInstanceId newer = open(DialogKind::Coordinates);
    const auto [taken, moves] = pressTab();
    EXPECT_TRUE(taken);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0], std::make_pair(newer, int{DIALOG_FIELD_2}));  // restarted at step 0
    EXPECT_NE(older, newer);

    // The cycle counts closes, not instances: cancelling the older one ends it.
    rig.controls().cancelDialog(DialogKind::Coordinates);
    EXPECT_FALSE(pressTab().first);
}

}  // namespace
}  // namespace velgor
