#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/relay_settings.h"
#include "config/settings_file_names.h"
#include "config/settings_writers.h"
#include "config/temp_settings_dir.h"
#include "support/small_tmpfs_posix.h"

// The settings writers against POSIX permissions, users, links and file size
// limits.

namespace velgor {
namespace {

using test::TempSettingsDir;

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

    // A disk so full that not even the new file can be made beside the old one:
    // that is no closed directory, and the old file is not rewritten in place
    // (more than the room it frees would be needed: the file would be cut).
    TempSettingsDir full;
    const test::SmallTmpfsRun run = test::runOnSmallTmpfs(full.dir(), [&] {
        full.write("name.ini", "Old\n");
        test::fillUp(full.dir(), true);
        const std::string longLine(3000, 'n');
        if (writeSettingsLines(full.dir(), "name.ini", {longLine, longLine, longLine})) return 1;
        return full.read("name.ini") == "Old\n" ? 0 : 2;
    });
    // Last in the test: a skip here leaves the rows above run and checked.
    if (!run.skipped.empty()) GTEST_SKIP() << "full-disk row: no small tmpfs: " << run.skipped;
    EXPECT_EQ(run.status, 0) << "1: reported as saved, 2: the old file was not kept whole";
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

}  // namespace
}  // namespace velgor
