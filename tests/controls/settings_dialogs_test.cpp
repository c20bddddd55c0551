// Opening, "OK" and "Cancel" of the eight settings dialogs: what they show,
// what they take into memory and what they write.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <string>

#include "config/cp1251.h"
#include "controls/controls_rig.h"
#include "links/link_texts.h"
#include "shell/controls/menu_ids.h"

namespace velgor {
namespace {

using test::ControlsRig;

DialogFields typed(std::string_view first, std::string_view second = {}) {
    DialogFields fields;
    fields.texts[0] = first;
    fields.texts[1] = second;
    return fields;
}

std::string field(const DialogFields& fields, int index) {
    return std::string(fields.texts[static_cast<std::size_t>(index)].view());
}

struct OpeningCase {
    const char* what;
    DialogKind kind;
    const char* file;                     // written after the relay has loaded its settings
    std::optional<std::string> contents;  // nothing: the file is missing
    std::function<void(Relay&)> before;   // memory set up before opening
    std::string field1;
    std::string field2;
    std::function<void(Relay&)> check;  // memory after opening
};

TEST(SettingsDialogOpening, FillsFieldsFromFileDefaultsOrMemory) {
    const std::string russianName = utf8ToCp1251("Приёмник №1");
    const OpeningCase cases[] = {
        {"source link file shown, memory untouched", DialogKind::SourceLink, "initmkp1.ini",
         "30005\r\nreceiver.local\r\n", nullptr, "30005", "receiver.local",
         [](Relay& r) {
             EXPECT_EQ(r.links().endpoint(LINK_SOURCE).port, 7777);
             EXPECT_EQ(r.links().endpoint(LINK_SOURCE).host, "127.0.0.1");
         }},
        {"source link from memory", DialogKind::SourceLink, "initmkp1.ini", std::nullopt,
         [](Relay& r) { r.links().setEndpoint(LINK_SOURCE, 4001, "host.example"); }, "4001",
         "host.example", nullptr},
        {"consumer link defaults", DialogKind::ConsumerLink, "initmkp2.ini", std::nullopt, nullptr,
         "8888", "127.0.0.1", nullptr},
        {"consumer link file with one line", DialogKind::ConsumerLink, "initmkp2.ini", "9000\n",
         nullptr, "9000", "", nullptr},
        {"coordinates as typed in the file", DialogKind::Coordinates, "point.ini",
         "47,5\n-39.1e0\n", nullptr, "47,5", "-39.1e0",
         [](Relay& r) { EXPECT_DOUBLE_EQ(r.settings().stationLatitude, 47.1982 * 3600); }},
        {"coordinates default texts, not memory", DialogKind::Coordinates, "point.ini",
         std::nullopt,
         [](Relay& r) {
             r.editSettings([&](RelaySettings& s) { s.stationLatitude = 10.0 * 3600; });
         },
         "47.198200", "39.628200", nullptr},
        {"name taken into memory", DialogKind::StationName, "name.ini",
         russianName + "\nsecond line\n", nullptr, russianName, "",
         [&](Relay& r) { EXPECT_EQ(r.settings().stationName, russianName); }},
        {"name missing: default shown, memory kept", DialogKind::StationName, "name.ini",
         std::nullopt,
         [](Relay& r) { r.editSettings([&](RelaySettings& s) { s.stationName = "Other"; }); },
         "Kervala", "", [](Relay& r) { EXPECT_EQ(r.settings().stationName, "Other"); }},
        {"name file empty: nothing shown or taken", DialogKind::StationName, "name.ini", "",
         [](Relay& r) { r.editSettings([&](RelaySettings& s) { s.stationName = "Other"; }); }, "",
         "", [](Relay& r) { EXPECT_EQ(r.settings().stationName, "Other"); }},
        {"compression step taken", DialogKind::CompressStep, "time.ini", "7 ticks\n", nullptr,
         "7 ticks", "", [](Relay& r) { EXPECT_EQ(r.settings().compressTicks, 7); }},
        {"compression step missing", DialogKind::CompressStep, "time.ini", std::nullopt,
         [](Relay& r) { r.editSettings([&](RelaySettings& s) { s.compressTicks = 3; }); }, "50", "",
         [](Relay& r) { EXPECT_EQ(r.settings().compressTicks, 3); }},
        {"threshold above 255 back to 50", DialogKind::Threshold, "porog.ini", "300\n", nullptr,
         "50", "", [](Relay& r) { EXPECT_EQ(r.settings().signalThreshold, 50); }},
        {"threshold below 0 back to 50", DialogKind::Threshold, "porog.ini", "-1\n", nullptr, "50",
         "", [](Relay& r) { EXPECT_EQ(r.settings().signalThreshold, 50); }},
        {"threshold 255 kept as typed", DialogKind::Threshold, "porog.ini", "255 max\n", nullptr,
         "255 max", "", [](Relay& r) { EXPECT_EQ(r.settings().signalThreshold, 255); }},
        {"threshold missing", DialogKind::Threshold, "porog.ini", std::nullopt,
         [](Relay& r) { r.editSettings([&](RelaySettings& s) { s.signalThreshold = 300; }); }, "50",
         "", [](Relay& r) { EXPECT_EQ(r.settings().signalThreshold, 300); }},
        {"timer frequency taken", DialogKind::TimerFrequency, "frequency.ini", "16000000\r\n",
         nullptr, "16000000", "",
         [](Relay& r) { EXPECT_EQ(r.settings().timerFrequency, 16000000); }},
        {"timer frequency missing", DialogKind::TimerFrequency, "frequency.ini", std::nullopt,
         nullptr, "12000000", "", nullptr},
        {"no-data limit from memory, file not read", DialogKind::NoDataLimit, "BinarComOn.ini",
         "1\n1\n1\n999\n",
         [](Relay& r) { r.editSettings([&](RelaySettings& s) { s.noDataLimit = -5; }); }, "-5", "",
         [](Relay& r) { EXPECT_EQ(r.settings().binaryMode, 0); }},
    };
    for (const OpeningCase& c : cases) {
        SCOPED_TRACE(c.what);
        ControlsRig rig;
        Relay& relay = rig.relay();
        if (c.contents) rig.files.write(c.file, *c.contents);
        if (c.before) c.before(relay);
        rig.controls().openDialog(c.kind);
        ASSERT_EQ(rig.view.dialogs.size(), 1u);
        EXPECT_EQ(rig.view.lastDialog().kind, c.kind);
        EXPECT_EQ(field(rig.view.lastDialog().fields, 0), c.field1);
        EXPECT_EQ(field(rig.view.lastDialog().fields, 1), c.field2);
        if (c.check) c.check(relay);
        // Opening never writes.
        if (!c.contents) {
            EXPECT_FALSE(rig.files.read(c.file).has_value());
        }
    }
}

TEST(SettingsDialogOpening, ThresholdResetStaysWhenCancelledAndTheFileKeepsItsText) {
    ControlsRig rig;
    rig.files.write("porog.ini", "300\n");
    EXPECT_EQ(rig.settings().signalThreshold, 300);  // start-up takes it unchecked
    rig.controls().command(IDM_THRESHOLD);
    rig.controls().cancelDialog(DialogKind::Threshold);
    EXPECT_EQ(rig.settings().signalThreshold, 50);
    EXPECT_EQ(rig.files.read("porog.ini"), "300\n");
}

struct OkCase {
    const char* what;
    DialogKind kind;
    DialogFields fields;
    const char* file;
    std::string written;
    std::function<void(Relay&)> check;
};

TEST(SettingsDialogOk, TakesTheTextsIntoMemoryAndWritesThemAsTyped) {
    const std::string russianName = utf8ToCp1251("Станция Ёлка");
    const OkCase cases[] = {
        {"source link", DialogKind::SourceLink, typed("30005", "receiver.local"), "initmkp1.ini",
         "30005\nreceiver.local\n",
         [](Relay& r) {
             EXPECT_EQ(r.links().endpoint(LINK_SOURCE).port, 30005);
             EXPECT_EQ(r.links().endpoint(LINK_SOURCE).host, "receiver.local");
         }},
        {"consumer port wraps to 16 bits", DialogKind::ConsumerLink, typed("70000", "10.0.0.9"),
         "initmkp2.ini", "70000\n10.0.0.9\n",
         [](Relay& r) { EXPECT_EQ(r.links().endpoint(LINK_CONSUMER).port, 70000 - 65536); }},
        {"consumer port not a number", DialogKind::ConsumerLink, typed("port", ""), "initmkp2.ini",
         "port\n\n", [](Relay& r) { EXPECT_EQ(r.links().endpoint(LINK_CONSUMER).port, 0); }},
        {"coordinates in arc-seconds", DialogKind::Coordinates, typed("47,5", "-39.5"), "point.ini",
         "47,5\n-39.5\n",
         [](Relay& r) {
             EXPECT_DOUBLE_EQ(r.settings().stationLatitude, 47.0 * 3600);
             EXPECT_DOUBLE_EQ(r.settings().stationLongitude, -39.5 * 3600);
             EXPECT_DOUBLE_EQ(r.handshakeValues().stationLatitude, 47.0 * 3600);
         }},
        {"station name bytes", DialogKind::StationName, typed(russianName), "name.ini",
         russianName + "\n",
         [&](Relay& r) { EXPECT_EQ(r.handshakeValues().stationName, russianName); }},
        {"compression step", DialogKind::CompressStep, typed("12"), "time.ini", "12\n",
         [](Relay& r) { EXPECT_EQ(r.settings().compressTicks, 12); }},
        {"threshold without range check", DialogKind::Threshold, typed("300"), "porog.ini", "300\n",
         [](Relay& r) { EXPECT_EQ(r.settings().signalThreshold, 300); }},
        {"timer frequency", DialogKind::TimerFrequency, typed("16000000"), "frequency.ini",
         "16000000\n", [](Relay& r) { EXPECT_EQ(r.settings().timerFrequency, 16000000); }},
        {"no-data limit with the flags from memory", DialogKind::NoDataLimit, typed(" 25 s"),
         "BinarComOn.ini", "1\n0\n1\n 25 s\n",
         [](Relay& r) { EXPECT_EQ(r.settings().noDataLimit, 25); }},
    };
    for (const OkCase& c : cases) {
        SCOPED_TRACE(c.what);
        ControlsRig rig;
        rig.relay().editSettings([&](RelaySettings& s) { s.binaryMode = 1; });
        rig.relay().editSettings([&](RelaySettings& s) { s.watchdogEnabled = 1; });
        rig.controls().acceptDialog(c.kind, c.fields);
        EXPECT_EQ(rig.files.read(c.file), c.written);
        c.check(rig.relay());
    }
}

TEST(SettingsDialogOk, NameDialogUnchangedCreatesTheNameFile) {
    ControlsRig rig;
    rig.controls().openDialog(DialogKind::StationName);
    rig.controls().acceptDialog(DialogKind::StationName, rig.view.lastDialog().fields);
    EXPECT_EQ(rig.files.read("name.ini"), "Kervala\n");
}

TEST(SettingsDialogOk, FrequencyRestartsTheElapsedTimes) {
    ControlsRig rig;
    ReceiveTimeDisplay& display = rig.relay().display();
    display.setRelativeTimeMode(1);
    const char line[] = "@0000000000018D4840D6202CC371C32CE0576098;\r\n";
    display.displayReceivedLine(line, sizeof line - 1);
    ASSERT_NE(display.timeReference().set, 0);
    rig.controls().acceptDialog(DialogKind::TimerFrequency, typed("16000000"));
    EXPECT_EQ(display.timeReference().set, 0);
}

TEST(SettingsDialogOk, LinkDialogDropsItsLinkOnlyWhenItIsUp) {
    for (DialogKind kind : {DialogKind::SourceLink, DialogKind::ConsumerLink}) {
        const int link = kind == DialogKind::SourceLink ? LINK_SOURCE : LINK_CONSUMER;
        const int other = link == LINK_SOURCE ? LINK_CONSUMER : LINK_SOURCE;
        ControlsRig rig;
        const int farEnd = rig.bringUp(link);
        const int otherFarEnd = rig.bringUp(other);
        rig.controls().acceptDialog(kind, typed("4000", "127.0.0.1"));
        EXPECT_TRUE(ControlsRig::peerClosed(farEnd));
        EXPECT_FALSE(ControlsRig::peerClosed(otherFarEnd));
        EXPECT_EQ(rig.relay().links().slot(link).state.load(), LINK_DOWN);
        EXPECT_EQ(rig.relay().links().statusText(link), link_texts::DROPPED);
        EXPECT_TRUE(rig.relay().links().isUp(other));

        // Down: only the endpoint changes, for the next attempt.
        rig.controls().acceptDialog(kind, typed("4001", "127.0.0.2"));
        EXPECT_EQ(rig.relay().links().endpoint(link).port, 4001);
        EXPECT_EQ(rig.host.unwatched[link], 1);
    }
}

TEST(SettingsDialogOk, UnwritableFilesLeaveMemoryStepsInForceButNotTheLimit) {
    ControlsRig rig;
    const int farEnd = rig.bringUp(LINK_SOURCE);
    rig.relay().editSettings([&](RelaySettings& s) { s.noDataLimit = 60; });
    rig.makeSettingsUnwritable();
    RelayControls& controls = rig.controls();
    controls.acceptDialog(DialogKind::StationName, typed("Nowhere"));
    controls.acceptDialog(DialogKind::Threshold, typed("77"));
    controls.acceptDialog(DialogKind::SourceLink, typed("4000", "127.0.0.1"));
    controls.acceptDialog(DialogKind::NoDataLimit, typed("5"));
    EXPECT_EQ(rig.settings().stationName, "Nowhere");
    EXPECT_EQ(rig.settings().signalThreshold, 77);
    EXPECT_EQ(rig.relay().links().endpoint(LINK_SOURCE).port, 4000);
    EXPECT_TRUE(ControlsRig::peerClosed(farEnd));
    EXPECT_EQ(rig.settings().noDataLimit, 60);  // its file was not written
}

TEST(SettingsDialogCancel, ChangesNothingBeyondOpening) {
    ControlsRig rig;
    rig.relay();
    rig.files.write("initmkp1.ini", "30005\nreceiver.local\n");
    RelayControls& controls = rig.controls();
    controls.command(IDM_SOURCE_SETTINGS);
    controls.cancelDialog(DialogKind::SourceLink);
    controls.command(IDM_COORDINATES);
    controls.cancelDialog(DialogKind::Coordinates);
    EXPECT_EQ(rig.relay().links().endpoint(LINK_SOURCE).port, 7777);
    EXPECT_DOUBLE_EQ(rig.settings().stationLatitude, 47.1982 * 3600);
    EXPECT_EQ(rig.files.listing(), "initmkp1.ini;");
}

}  // namespace
}  // namespace velgor
