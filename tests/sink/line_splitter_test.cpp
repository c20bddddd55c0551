#include "sink/line_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velgor::sink {
namespace {

// Records lines as "L:text" and runs of raw bytes as "R:count", and everything
// passed on in order.
struct Recorder : LineSink {
    std::vector<std::string> events;
    std::string passedOn;

    void line(Bytes bytes) override {
        const std::string text(bytes.begin(), bytes.end());
        events.push_back("L:" + text);
        passedOn += text;
    }
    void rawBytes(Bytes bytes) override {
        EXPECT_FALSE(bytes.empty());
        std::size_t count = bytes.size();
        if (!events.empty() && events.back().starts_with("R:")) {
            count += std::stoul(events.back().substr(2));
            events.pop_back();
        }
        events.push_back("R:" + std::to_string(count));
        passedOn.append(bytes.begin(), bytes.end());
    }
};

Bytes bytesOf(const std::string& text) {
    return Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Feeds `stream` cut at `cuts` (positions, ascending), then finishes.
Recorder split(const std::string& stream, std::vector<std::size_t> cuts) {
    Recorder recorder;
    LineSplitter splitter(recorder);
    std::size_t from = 0;
    cuts.push_back(stream.size());
    for (std::size_t cut : cuts) {
        splitter.feed(bytesOf(stream.substr(from, cut - from)));
        from = cut;
    }
    splitter.finish();
    return recorder;
}

// A binary record of the receiver as it is passed through raw: 0x1A, type '3',
// 6 timestamp bytes, level, 14 message bytes; this one holds 0x0A bytes and a
// short printable run between them.
const std::string RECORD = std::string("\x1A\x33\x00\x0A", 4) + "AB*" +
                           std::string(
                               "\x0A\x7F\x0A\x0A\x90\x10\x41\x42\x43\x44\x45\x46\x47\x48"
                               "\x49\x4A\x4B\x0A\x01",
                               19);

TEST(LineSplitter, TellsLinesFromRawDataWhereverTheStreamIsCut) {
    const std::string overlong(LineSplitter::MAX_LINE + 5, '*');
    struct Case {
        const char* name;
        std::string stream;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"lines with CR LF or LF",
         "@0000123456785D4840D6202CC3;\r\n*8D4840D6;\nMSG,3,1\r\n",
         {"L:@0000123456785D4840D6202CC3;\r\n", "L:*8D4840D6;\n", "L:MSG,3,1\r\n"}},
        {"binary records are raw however many 0x0A they hold",
         RECORD + RECORD,
         {"R:" + std::to_string(2 * RECORD.size())}},
        {"a relay line after binary data is a line again",
         RECORD + "\n@0000123456785D4840D6202CC3;\r\n",
         {"R:" + std::to_string(RECORD.size() + 1), "L:@0000123456785D4840D6202CC3;\r\n"}},
        {"short or unmarked text after binary data stays raw",
         RECORD + "\n*8D;\r\nhello world\r\n*8D4840D6;\r\n",
         {"R:" + std::to_string(RECORD.size() + 1 + 6 + 13), "L:*8D4840D6;\r\n"}},
        {"empty lines are not lines", "\r\n\n*8D4840D6;\r\n", {"R:3", "L:*8D4840D6;\r\n"}},
        {"a piece longer than any line is raw",
         overlong + "\r\n*8D4840D6;\r\n",
         {"R:" + std::to_string(overlong.size() + 2), "L:*8D4840D6;\r\n"}},
        {"a line cut off at the end is raw", "*8D4840D6;\r\n*8D48", {"L:*8D4840D6;\r\n", "R:5"}},
    };
    for (const Case& c : cases) {
        const Recorder whole = split(c.stream, {});
        EXPECT_EQ(whole.events, c.events) << c.name;
        EXPECT_EQ(whole.passedOn, c.stream) << c.name;
        for (std::size_t cut = 1; cut < c.stream.size(); ++cut) {
            const Recorder pieces = split(c.stream, {cut});
            ASSERT_EQ(pieces.events, c.events) << c.name << ", cut at " << cut;
            ASSERT_EQ(pieces.passedOn, c.stream) << c.name << ", cut at " << cut;
        }
        std::vector<std::size_t> everyByte;
        for (std::size_t cut = 1; cut < c.stream.size(); ++cut) everyByte.push_back(cut);
        EXPECT_EQ(split(c.stream, everyByte).events, c.events) << c.name << ", byte by byte";
    }
}

}  // namespace
}  // namespace velgor::sink
