#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
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

// A directory where nothing can be written: a save returns false and leaves
// the old file as it was.
TEST(Writers, UnwritableDirectoryReturnsFalseAndChangesNothing) {
    TempSettingsDir dir;
    dir.write("BinarComOn.ini", "0\n0\n0\n60\n");
    dir.write("name.ini", "Old\n");
    namespace fs = std::filesystem;
    fs::permissions(dir.path("BinarComOn.ini"), fs::perms::owner_read | fs::perms::group_read);
    fs::permissions(dir.path("name.ini"), fs::perms::owner_read | fs::perms::group_read);
    fs::permissions(dir.path(""), fs::perms::owner_read | fs::perms::owner_exec);
    // A privileged user writes through permissions; check that it really is read-only.
    const bool enforced = !std::ofstream(dir.path("probe.tmp")).is_open();
    if (!enforced) {
        fs::permissions(dir.path(""), fs::perms::owner_all);
        GTEST_SKIP() << "permissions are not enforced for this user";
    }
    RelaySettings settings;
    settings.binaryMode = 1;
    EXPECT_FALSE(saveModeFile(dir.dir(), settings));
    EXPECT_FALSE(writeNameFile(dir.dir(), "New"));
    EXPECT_FALSE(writeThresholdFile(dir.dir(), "7"));
    fs::permissions(dir.path(""), fs::perms::owner_all);
    EXPECT_EQ(dir.read("BinarComOn.ini"), "0\n0\n0\n60\n");
    EXPECT_EQ(dir.read("name.ini"), "Old\n");
    EXPECT_EQ(dir.listing(), "BinarComOn.ini;name.ini;");
}

// A service user who owns the settings files but not their directory: no new
// file can appear beside a settings file, so a file the user may write is
// rewritten in place; one that is read-only, or missing, still fails. Root is
// not stopped by the directory's permissions, so it runs the writes as "nobody"
// who then owns the files.
TEST(Writers, ClosedDirectoryRewritesWritableFilesInPlace) {
    TempSettingsDir dir;
    dir.write("name.ini", "Old\n");
    dir.write("porog.ini", "50\n");
    dir.write("BinarComOn.ini", "0\n0\n0\n60\n");
    dir.write("BinarComOn.ini.new", "left by a crash\n");
    namespace fs = std::filesystem;
    fs::permissions(dir.path("porog.ini"), fs::perms::owner_read);
    constexpr uid_t NOBODY = 65534;
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        for (const char* name : {"name.ini", "porog.ini", "BinarComOn.ini", "BinarComOn.ini.new"}) {
            ASSERT_EQ(::chown(dir.path(name).c_str(), NOBODY, NOBODY), 0) << name;
        }
    }
    fs::permissions(dir.path(""), fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
    const std::string listing = dir.listing();

    constexpr int NO_DROP = 100;
    constexpr int STILL_OPEN = 101;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (asRoot && (::setgid(NOBODY) != 0 || ::setuid(NOBODY) != 0)) std::_Exit(NO_DROP);
        if (std::ofstream(dir.path("probe.tmp")).is_open()) std::_Exit(STILL_OPEN);
        RelaySettings settings;
        settings.binaryMode = 1;
        settings.noDataLimit = 60;
        const int saved = (writeNameFile(dir.dir(), "New") ? 1 : 0) |
                          (writeThresholdFile(dir.dir(), "7") ? 2 : 0) |
                          (writeCompressStepFile(dir.dir(), "9") ? 4 : 0) |
                          (saveModeFile(dir.dir(), settings) ? 8 : 0);
        std::_Exit(saved);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == NO_DROP) GTEST_SKIP() << "root could not become nobody";
    ASSERT_NE(WEXITSTATUS(status), STILL_OPEN) << "the directory still takes new files";
    EXPECT_EQ(WEXITSTATUS(status), 1 | 8) << "1 name, 2 threshold, 4 step, 8 modes saved";
    EXPECT_EQ(dir.read("name.ini"), "New\n");
    EXPECT_EQ(dir.read("porog.ini"), "50\n");
    EXPECT_EQ(dir.read("BinarComOn.ini"), "1\n0\n0\n60\n");
    EXPECT_EQ(dir.listing(), listing) << "no file appeared or went";
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

// A write that the device refuses is not reported as a saved file.
TEST(Writers, FailedWriteIsNotReportedAsSaved) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    EXPECT_FALSE(writeSettingsLines("/dev", "full", {"1", "0", "0", "60"}));
}

// A write that fails part way (the disk fills up) keeps the old settings whole:
// an emptied or cut file would be read at the next start as other settings
// (defaults, or a port cut short). The file size limit stands in for a full disk.
TEST(Writers, WriteThatFailsPartWayKeepsTheOldFileWhole) {
    TempSettingsDir dir;
    dir.write("initmkp2.ini", "30004\nfeed.example.org\n");
    dir.write("name.ini", "Old\n");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{8, 8};
        ::setrlimit(RLIMIT_FSIZE, &small);
        const bool endpoint = writeEndpointFile(dir.dir(), SETTINGS_FILE_CONSUMER_LINK, "8888",
                                                "collector.example.org");
        const bool name = writeNameFile(dir.dir(), "A much longer station name");
        std::_Exit(!endpoint && !name ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a cut write was reported as saved";
    EXPECT_EQ(dir.read("initmkp2.ini"), "30004\nfeed.example.org\n");
    EXPECT_EQ(dir.read("name.ini"), "Old\n");
    EXPECT_EQ(dir.listing(), "initmkp2.ini;name.ini;");
    // Without the limit the same writes go through, and keep the file's permissions.
    std::filesystem::permissions(dir.path("name.ini"), std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::owner_write);
    EXPECT_TRUE(writeNameFile(dir.dir(), "A much longer station name"));
    EXPECT_EQ(dir.read("name.ini"), "A much longer station name\n");
    EXPECT_EQ(std::filesystem::status(dir.path("name.ini")).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(dir.listing(), "initmkp2.ini;name.ini;");
}

// A settings file that is a link to a file elsewhere stays a link: the write
// goes through it.
TEST(Writers, LinkedFileIsWrittenThroughTheLink) {
    TempSettingsDir dir;
    TempSettingsDir elsewhere;
    elsewhere.write("shared-name.ini", "Old\n");
    std::filesystem::create_symlink(elsewhere.path("shared-name.ini"), dir.path("name.ini"));
    EXPECT_TRUE(writeNameFile(dir.dir(), "New"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path("name.ini")));
    EXPECT_EQ(elsewhere.read("shared-name.ini"), "New\n");
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
