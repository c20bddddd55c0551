#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "config/cp1251.h"
#include "config/dialog_file_reader.h"
#include "config/link_endpoint.h"
#include "config/relay_settings.h"
#include "config/settings_file_names.h"
#include "config/settings_loader.h"
#include "config/settings_probe.h"
#include "config/settings_writers.h"
#include "config/temp_settings_dir.h"

namespace velgor {
namespace {

using test::TempSettingsDir;

TEST(SaveModeFile, WritesFourDecimalLines) {
    TempSettingsDir dir;
    dir.write("BinarComOn.ini", "old content that is longer than the new one\n\n\n\n\n");
    RelaySettings settings;
    settings.binaryMode = 1;
    settings.compressEnabled = 0;
    settings.watchdogEnabled = -3;
    settings.noDataLimit = -2147483647 - 1;
    ASSERT_TRUE(saveModeFile(dir.dir(), settings));
    EXPECT_EQ(dir.read("BinarComOn.ini"), "1\n0\n-3\n-2147483648\n");

    RelaySettings reloaded;
    LinkEndpoint local, source, consumer;
    loadSettings(dir.dir(), reloaded, local, source, consumer);
    EXPECT_EQ(reloaded.binaryMode, 1);
    EXPECT_EQ(reloaded.compressEnabled, 0);
    EXPECT_EQ(reloaded.watchdogEnabled, -3);
    EXPECT_EQ(reloaded.noDataLimit, -2147483647 - 1);
}

struct WriterCase {
    const char* what;
    std::function<bool(const std::string&)> write;
    const char* file;
    std::string bytes;
};

TEST(DialogWriters, WriteTheTextsByteForByte) {
    RelaySettings modes;
    modes.binaryMode = 1;
    modes.compressEnabled = 1;
    modes.watchdogEnabled = 0;
    modes.noDataLimit = 999;  // the dialog writes its typed text instead
    const std::string russian = utf8ToCp1251("Приёмник №1");
    const std::string tooLong = std::string(255, 'a') + "bcd";
    const WriterCase cases[] = {
        {"source endpoint",
         [](const std::string& d) {
             return writeEndpointFile(d, SETTINGS_FILE_SOURCE_LINK, "30005", "receiver.local");
         },
         "initmkp1.ini", "30005\nreceiver.local\n"},
        {"consumer endpoint with unparsed text",
         [](const std::string& d) {
             return writeEndpointFile(d, SETTINGS_FILE_CONSUMER_LINK, " 88x ", "");
         },
         "initmkp2.ini", " 88x \n\n"},
        {"point as typed",
         [](const std::string& d) { return writePointFile(d, "47,5", "39.628200"); }, "point.ini",
         "47,5\n39.628200\n"},
        {"Russian name", [&](const std::string& d) { return writeNameFile(d, russian); },
         "name.ini", russian + "\n"},
        {"name longer than a field",
         [&](const std::string& d) { return writeNameFile(d, tooLong); }, "name.ini",
         std::string(255, 'a') + "\n"},
        {"text with a NUL ends there",
         [](const std::string& d) { return writeNameFile(d, std::string_view("Ab\0cd", 5)); },
         "name.ini", "Ab\n"},
        {"threshold", [](const std::string& d) { return writeThresholdFile(d, "300"); },
         "porog.ini", "300\n"},
        {"compression step", [](const std::string& d) { return writeCompressStepFile(d, "-1"); },
         "time.ini", "-1\n"},
        {"frequency", [](const std::string& d) { return writeFrequencyFile(d, "12000000"); },
         "frequency.ini", "12000000\n"},
        {"limit dialog",
         [&](const std::string& d) { return writeLimitDialogModeFile(d, modes, "30 s"); },
         "BinarComOn.ini", "1\n1\n0\n30 s\n"},
    };
    for (const auto& c : cases) {
        TempSettingsDir dir;
        dir.write(c.file, std::string(600, 'o') + "\nold\nold\n");  // rewritten whole
        EXPECT_TRUE(c.write(dir.dir())) << c.what;
        EXPECT_EQ(dir.read(c.file), c.bytes) << c.what;
        EXPECT_EQ(dir.listing(), std::string(c.file) + ";") << c.what;
    }
}

// Holds for every user: a "directory" that is a plain file can take no file.
TEST(Writers, DirectoryThatIsAFileReturnsFalse) {
    TempSettingsDir dir;
    dir.write("plain", "content");
    const std::string notADirectory = dir.path("plain").string();
    RelaySettings settings;
    EXPECT_FALSE(saveModeFile(notADirectory, settings));
    EXPECT_FALSE(writeEndpointFile(notADirectory, SETTINGS_FILE_SOURCE_LINK, "1", "h"));
    EXPECT_FALSE(writeFrequencyFile(notADirectory, "1"));
    EXPECT_EQ(dir.read("plain"), "content");
    EXPECT_EQ(dir.listing(), "plain;");
}

TEST(ProbeSettingsDir, LeavesNoFileBehind) {
    TempSettingsDir dir;
    dir.write("name.ini", "Kervala\n");
    probeSettingsDir(dir.dir());
    EXPECT_EQ(dir.listing(), "name.ini;");
}

TEST(ProbeSettingsDir, NeverTouchesAFileItDidNotCreate) {
    TempSettingsDir dir;
    dir.write("testNaWriteFile.txt", "somebody's notes\n");
    probeSettingsDir(dir.dir());
    EXPECT_EQ(dir.read("testNaWriteFile.txt"), "somebody's notes\n");
}

TEST(ReadDialogLines, ShowsTheFileAsItsDialogDoes) {
    TempSettingsDir dir;
    EXPECT_FALSE(readDialogLines(dir.dir(), SETTINGS_FILE_POINT).has_value());

    const struct {
        const char* what;
        std::string bytes;
        int count;
        std::string first;
        std::string second;
    } cases[] = {
        {"two CR LF lines", "47.1982\r\n39.6282\r\n", 2, "47.1982", "39.6282"},
        {"one line", "Kervala\n", 1, "Kervala", ""},
        {"empty file", "", 0, "", ""},
        {"CR-only separators", "5000\rhost\r", 1, "5000", ""},
        {"line longer than a field", std::string(300, 'x') + "\nsecond\n", 2, std::string(255, 'x'),
         std::string(45, 'x')},
    };
    for (const auto& c : cases) {
        dir.write("point.ini", c.bytes);
        const auto lines = readDialogLines(dir.dir(), SETTINGS_FILE_POINT);
        ASSERT_TRUE(lines.has_value()) << c.what;
        EXPECT_EQ(lines->lineCount, c.count) << c.what;
        EXPECT_EQ(lines->lines[0].view(), c.first) << c.what;
        EXPECT_EQ(lines->lines[1].view(), c.second) << c.what;
    }
}

}  // namespace
}  // namespace velgor
