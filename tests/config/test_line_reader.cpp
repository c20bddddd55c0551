#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "config/line_reader.h"
#include "config/temp_settings_dir.h"

namespace velgor {
namespace {

using test::TempSettingsDir;

// Every read of size n until the end of the file, as the exact bytes delivered.
std::vector<std::string> readAll(const TempSettingsDir& dir, const std::string& bytes,
                                 std::size_t n) {
    dir.write("f.ini", bytes);
    LineReader reader = LineReader::open(dir.dir(), "f.ini");
    EXPECT_TRUE(reader.isOpen());
    std::vector<std::string> reads;
    std::vector<char> buffer(n, '#');
    while (reader.readLine(buffer.data(), n)) {
        // The delivered characters end at the NUL the read put after them; NUL
        // bytes inside are counted by finding that terminator from the end.
        std::size_t length = n - 1;
        while (length > 0 && buffer[length] != '\0') --length;
        reads.emplace_back(buffer.data(), length);
        std::fill(buffer.begin(), buffer.end(), '#');
    }
    return reads;
}

struct ReadCase {
    const char* what;
    std::string bytes;
    std::size_t n;
    std::vector<std::string> reads;
};

TEST(LineReader, ReadsAsAWindowsTextStream) {
    const ReadCase cases[] = {
        {"LF lines", "7777\nhost\n", 256, {"7777\n", "host\n"}},
        {"CR LF reads as LF", "7777\r\nhost\r\n", 256, {"7777\n", "host\n"}},
        {"lone CR is a character", "a\rb\rc\n", 256, {"a\rb\rc\n"}},
        {"CR CR LF", "a\r\r\nb", 256, {"a\r\n", "b"}},
        {"CR at the end of the file", "a\r", 256, {"a\r"}},
        {"last line without LF", "x\ny", 256, {"x\n", "y"}},
        {"empty lines", "\n\r\n\n", 256, {"\n", "\n", "\n"}},
        {"at most n - 1 characters", "abcdefgh\n", 4, {"abc", "def", "gh\n"}},
        {"CR LF across the limit", "abc\r\nd", 4, {"abc", "\n", "d"}},
        {"exactly n - 1 then LF", "abc\nd", 4, {"abc", "\n", "d"}},
        {"NUL bytes are delivered and counted",
         std::string("a\0b\nc", 5),
         3,
         {std::string("a\0", 2), "b\n", "c"}},
        {"empty file", "", 256, {}},
    };
    TempSettingsDir dir;
    for (const auto& c : cases) {
        EXPECT_EQ(readAll(dir, c.bytes, c.n), c.reads) << c.what;
    }
}

TEST(LineReader, ReadAtEndOfFileLeavesTheBufferExactlyAsItWas) {
    TempSettingsDir dir;
    dir.write("f.ini", "12\n");
    LineReader reader = LineReader::open(dir.dir(), "f.ini");
    char buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), 'z');
    ASSERT_TRUE(reader.readLine(buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer), "12\n");
    EXPECT_EQ(buffer[4], 'z');  // nothing written past the terminator

    const std::string before(buffer, sizeof buffer);
    EXPECT_FALSE(reader.readLine(buffer, sizeof buffer));
    EXPECT_FALSE(reader.readLine(buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer, sizeof buffer), before);
}

TEST(LineReader, AbsentFileOrDirectoryIsNotOpen) {
    TempSettingsDir dir;
    std::filesystem::create_directory(dir.path("initmkp1.ini"));
    for (const char* name : {"missing.ini", "initmkp1.ini"}) {
        LineReader reader = LineReader::open(dir.dir(), name);
        EXPECT_FALSE(reader.isOpen()) << name;
        char buffer[8] = "keep";
        EXPECT_FALSE(reader.readLine(buffer, sizeof buffer));
        EXPECT_EQ(std::string(buffer), "keep");
    }
}

}  // namespace
}  // namespace velgor
