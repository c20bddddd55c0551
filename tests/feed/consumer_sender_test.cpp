#include "feed/consumer_sender.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "feed/consumer_commands.h"
#include "feed/feed_test_support.h"
#include "sink/frame_reader.h"

namespace velgor {
namespace {

using test::RecordingOutlet;
using test::ShownLines;

struct Decoded {
    std::vector<std::string> blocks;
    std::string joined;
    std::uint64_t badFrames = 0;
    std::uint64_t strayBytes = 0;
    std::string lastError;
};

Decoded decode(const std::string& wire) {
    Decoded d;
    sink::FrameReader reader([&](const std::string& block) {
        d.blocks.push_back(block);
        d.joined += block;
    });
    reader.feed(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size());
    d.badFrames = reader.badFrames();
    d.strayBytes = reader.strayBytes();
    d.lastError = reader.lastError();
    return d;
}

// A receiver line of 20, 30 or 44 bytes as the decoder makes them.
std::string receiverLine(std::mt19937& random, std::size_t length) {
    static const char hex[] = "0123456789ABCDEF";
    std::string line = "@";
    while (line.size() < length - 3) line += hex[random() % 16];
    return line + ";\r\n";
}

// Bytes that do not compress, with no line end.
std::string noise(std::mt19937& random, std::size_t length, bool allowLineEnds) {
    std::string bytes(length, '\0');
    for (char& c : bytes) {
        do {
            c = static_cast<char>(random() % 256);
        } while (!allowLineEnds && (c == '\n' || c == '\r'));
    }
    return bytes;
}

std::size_t zlibLength(const std::string& bytes) {
    // zlib's lengths are unsigned long, 32 bits on Windows; a batch fits.
    const auto size = static_cast<uLong>(bytes.size());
    std::vector<Bytef> out(compressBound(size));
    uLongf length = compressBound(size);
    compress(out.data(), &length, reinterpret_cast<const Bytef*>(bytes.data()), size);
    return length;
}

std::string lengths(std::size_t before, std::size_t after) {
    return std::to_string(before) + " -> " + std::to_string(after);
}

int failingCompress(unsigned char*, unsigned long*, const unsigned char*, unsigned long) {
    return Z_BUF_ERROR;
}

class ConsumerSenderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings.compressEnabled = 1;
        settings.compressTicks = 50;
        log.setObserver(&shown);
    }

    ConsumerSender& sender() {
        if (!sender_) sender_ = std::make_unique<ConsumerSender>(settings, compressFn, log, out);
        return *sender_;
    }
    void give(std::string_view bytes, int socket = 9) {
        sender().sendToConsumer(socket, bytes.data(), static_cast<int>(bytes.size()));
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) sender().advanceBatchClock();
    }

    CompressFn compressFn = &::compress;
    RelaySettings settings;
    MessageLog log;
    ShownLines shown;
    RecordingOutlet out;
    std::mt19937 random{2024};

  private:
    std::unique_ptr<ConsumerSender> sender_;
};

TEST_F(ConsumerSenderTest, WithoutCompressionEachBlockGoesOutAtOnce) {
    settings.compressEnabled = 0;
    const std::string line = receiverLine(random, 44);
    give(line);
    give(line, 12);
    EXPECT_EQ(out.sends, (std::vector<std::string>{line, line}));
    EXPECT_EQ(out.sockets, (std::vector<int>{9, 12}));

    ticks(100);  // the batch clock only runs while compressing
    sender().flushIfDue(9);
    EXPECT_EQ(out.sends.size(), 2u);
    EXPECT_EQ(sender().batchTicks(), 0);
    EXPECT_EQ(sender().batchLength(), 0);
    EXPECT_TRUE(shown.lines.empty());
}

// A quiet station: a lone line goes out on the tick that makes the batch older than
// its time, without waiting for another line; an empty batch sends nothing.
TEST_F(ConsumerSenderTest, TheTickFlushesABatchOnceItIsDue) {
    ticks(60);
    sender().flushIfDue(9);
    EXPECT_TRUE(out.sends.empty()) << "an empty batch is no frame";
    give(receiverLine(random, 30));  // the clock is past: flushed at once
    ASSERT_EQ(out.sends.size(), 1u);

    const std::string line = receiverLine(random, 44);
    give(line);
    for (int tick = 1; tick <= 50; ++tick) {
        ticks(1);
        sender().flushIfDue(9);
    }
    EXPECT_EQ(out.sends.size(), 1u);
    ticks(1);
    sender().flushIfDue(9);
    ASSERT_EQ(out.sends.size(), 2u);
    EXPECT_EQ(decode(out.sends[1]).blocks, std::vector<std::string>{line});
    EXPECT_EQ(shown.lines.back(), lengths(line.size(), out.sends[1].size()));
    EXPECT_TRUE(isCompressionNote(shown.lines.back())) << "a routine note, not an error";
    EXPECT_EQ(sender().batchLength(), 0);
    EXPECT_EQ(sender().batchTicks(), 0);
}

TEST_F(ConsumerSenderTest, LinesWaitUntilTheFirstOneAfterTheFiftyFirstTick) {
    std::string given;
    for (int tick = 0; tick <= 50; ++tick) {
        const std::string line = receiverLine(random, tick % 2 ? 44 : 30);
        given += line;
        give(line);
        if (tick < 50) ticks(1);
    }
    EXPECT_EQ(sender().batchTicks(), 50);
    EXPECT_TRUE(out.wire.empty());
    EXPECT_EQ(sender().batchLength(), static_cast<int>(given.size()));

    ticks(1);
    const std::string last = receiverLine(random, 20);
    given += last;
    give(last);

    ASSERT_EQ(out.sends.size(), 1u);
    const Decoded d = decode(out.wire);
    EXPECT_EQ(d.badFrames, 0u) << d.lastError;
    EXPECT_EQ(d.strayBytes, 0u);
    EXPECT_EQ(d.blocks, std::vector<std::string>{given});
    // A timed flush reports the batch length and the length on the wire.
    EXPECT_EQ(shown.lines, std::vector<std::string>{lengths(given.size(), out.wire.size())});
    EXPECT_EQ(sender().batchLength(), 0);
    EXPECT_EQ(sender().batchTicks(), 0);
}

TEST_F(ConsumerSenderTest, HundredMoreBytesAreAppendedTwoHundredOverflow) {
    const std::string batch = receiverLine(random, 44).append(std::string(65434 - 44, 'q'));
    ASSERT_EQ(batch.size(), 65534u - 100);
    struct Case {
        std::size_t added;
        bool flushed;
    };
    for (const Case c : {Case{100, false}, Case{200, true}}) {
        out = RecordingOutlet{};
        shown.lines.clear();
        auto s = std::make_unique<ConsumerSender>(settings, compressFn, log, out);
        s->sendToConsumer(9, batch.data(), static_cast<int>(batch.size()));
        for (int i = 0; i < 7; ++i) s->advanceBatchClock();
        const std::string added(c.added, 'n');
        s->sendToConsumer(9, added.data(), static_cast<int>(c.added));

        if (!c.flushed) {
            EXPECT_EQ(s->batchLength(), 65534);
            EXPECT_EQ(s->batchTicks(), 7);
            EXPECT_TRUE(out.wire.empty());
            EXPECT_TRUE(shown.lines.empty());
            continue;
        }
        const Decoded d = decode(out.wire);
        EXPECT_EQ(d.badFrames, 0u) << d.lastError;
        EXPECT_EQ(d.strayBytes, 0u);
        EXPECT_EQ(d.blocks, std::vector<std::string>{batch});
        // An overflow flush reports the compressed length before framing.
        EXPECT_EQ(shown.lines,
                  (std::vector<std::string>{lengths(batch.size(), zlibLength(batch)), "Compress"}));
        EXPECT_EQ(s->batchLength(), 200);
        EXPECT_EQ(s->batchTicks(), 0);
    }
}

// A batch too long for one frame is cut after the line end nearest its middle,
// wherever that lies: many lines, or a single line end below or above the middle.
TEST_F(ConsumerSenderTest, IncompressibleLinesAreSplitAtLineEndsIntoFramesThatFit) {
    struct Case {
        const char* name;
        std::size_t lineEvery;  // a line end after every this many bytes; 0: only at `lone`
        std::size_t lone;       // where a single line end ends (exclusive)
    };
    for (const Case c : {Case{"many lines", 100, 0}, Case{"one end below the middle", 0, 20002},
                         Case{"one end above the middle", 0, 45002}}) {
        SCOPED_TRACE(c.name);
        out = RecordingOutlet{};
        shown.lines.clear();
        auto s = std::make_unique<ConsumerSender>(settings, compressFn, log, out);
        std::string given = noise(random, 65534, false);
        for (std::size_t end = c.lineEvery; c.lineEvery > 0 && end <= given.size();
             end += c.lineEvery) {
            given.replace(end - 2, 2, "\r\n");
        }
        if (c.lone > 0) given.replace(c.lone - 2, 2, "\r\n");
        if (c.lineEvery > 0) given.replace(given.size() - 2, 2, "\r\n");
        ASSERT_GT(zlibLength(given) + 4, 65535u);  // one frame could not carry it
        s->sendToConsumer(9, given.data(), static_cast<int>(given.size()));
        s->sendToConsumer(9, "@1234;\r\n", 8);  // overflows

        const Decoded d = decode(out.wire);
        EXPECT_EQ(d.badFrames, 0u) << d.lastError;
        EXPECT_EQ(d.strayBytes, 0u);
        ASSERT_GE(d.blocks.size(), 2u);
        EXPECT_TRUE(d.joined == given);
        if (c.lone > 0) {
            EXPECT_EQ(d.blocks[0].size(), c.lone) << "the cut is not at the line end";
        } else {
            for (const std::string& block : d.blocks) {
                EXPECT_TRUE(block.ends_with("\r\n")) << "a frame ends inside a line";
            }
        }
        ASSERT_EQ(shown.lines.size(), d.blocks.size() + 1);
        EXPECT_EQ(shown.lines.back(), "Compress");
        EXPECT_EQ(s->batchLength(), 8);
    }
}

struct FeedPattern {
    const char* name;
    int compressTicks;
    int maxTicksBetween;  // ticks passing between two blocks: 0..this
    int rawEvery;         // every n-th block a raw incompressible block of 65535 bytes; 0: none
    int blocks;
};

class ConsumerFeedRoundTrip : public ConsumerSenderTest,
                              public ::testing::WithParamInterface<FeedPattern> {};

// Whatever the tick pattern, an independent reader of the feed gets back exactly the
// bytes given, in order, from well-formed frames and nothing outside them.
TEST_P(ConsumerFeedRoundTrip, ReaderGetsBackEveryByteGiven) {
    const FeedPattern& p = GetParam();
    settings.compressTicks = p.compressTicks;
    std::string given;
    for (int i = 1; i <= p.blocks; ++i) {
        std::string block;
        if (p.rawEvery > 0 && i % p.rawEvery == 0) {
            block = noise(random, i % (3 * p.rawEvery) == 0 ? 150000 : 65535, true);
        } else {
            block = receiverLine(random, std::array<std::size_t, 3>{20, 30, 44}[random() % 3]);
        }
        given += block;
        give(block);
        if (p.maxTicksBetween > 0)
            ticks(static_cast<int>(random() % static_cast<unsigned>(p.maxTicksBetween + 1)));
    }
    // Flush what is left: a last line after the batch's time, and a call with no
    // bytes in case that line overflowed the batch and restarted its clock.
    const std::string last = receiverLine(random, 44);
    given += last;
    ticks(p.compressTicks + 1);
    give(last);
    ticks(p.compressTicks + 1);
    give("");
    ASSERT_EQ(sender().batchLength(), 0);

    const Decoded d = decode(out.wire);
    EXPECT_EQ(d.badFrames, 0u) << d.lastError;
    EXPECT_EQ(d.strayBytes, 0u);
    EXPECT_EQ(d.joined.size(), given.size());
    EXPECT_TRUE(d.joined == given);
    if (p.rawEvery == 0) {
        for (const std::string& block : d.blocks) {
            EXPECT_TRUE(block.empty() || block.ends_with("\r\n"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Patterns, ConsumerFeedRoundTrip,
                         ::testing::Values(FeedPattern{"EveryCallFlushes", -1, 0, 0, 300},
                                           FeedPattern{"FlushAfterEveryTick", 0, 1, 0, 3000},
                                           FeedPattern{"ShortBatches", 3, 2, 0, 5000},
                                           FeedPattern{"DefaultStepOverflows", 50, 0, 0, 8000},
                                           FeedPattern{"RawBlocksAmongLines", 50, 3, 40, 400},
                                           FeedPattern{"RawBlocksEveryCallFlushes", -1, 0, 5, 60}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(ConsumerSenderTest, FailedTimedFlushShowsTheErrorDropsTheBatchAndSendsNothing) {
    compressFn = &failingCompress;
    give(receiverLine(random, 44));
    ticks(51);
    give(receiverLine(random, 44));

    EXPECT_TRUE(out.sends.empty());
    EXPECT_EQ(shown.lines, std::vector<std::string>{"Error Compress"});
    EXPECT_FALSE(isCompressionNote(shown.lines.back())) << "an error is no routine note";
    EXPECT_EQ(sender().batchLength(), 0);
    EXPECT_EQ(sender().batchTicks(), 0);
}

TEST_F(ConsumerSenderTest, FailedOverflowFlushDropsTheBatchAndKeepsTheNewBytes) {
    compressFn = &failingCompress;
    give(std::string(65000, 'b'));
    give(std::string(1000, 'n'));

    EXPECT_TRUE(out.sends.empty());
    EXPECT_EQ(shown.lines, (std::vector<std::string>{"Error Compress", "Compress"}));
    EXPECT_EQ(sender().batchLength(), 1000);
}

TEST_F(ConsumerSenderTest, BatchOutlivesCompressionOffAndGoesToTheSocketOfTheFlush) {
    const std::string early = receiverLine(random, 44);
    give(early, 9);
    ticks(60);

    settings.compressEnabled = 0;
    const std::string plain = receiverLine(random, 30);
    give(plain, 9);
    EXPECT_EQ(out.wire, plain);
    EXPECT_EQ(sender().batchLength(), 44);

    // Compression on again, on a new connection.
    settings.compressEnabled = 1;
    const std::string late = receiverLine(random, 44);
    give(late, 12);
    ASSERT_EQ(out.sockets.size(), 2u);
    EXPECT_EQ(out.sockets.back(), 12);
    const Decoded d = decode(out.wire.substr(plain.size()));
    EXPECT_EQ(d.blocks, std::vector<std::string>{early + late});
}

TEST_F(ConsumerSenderTest, OnlyAnExactCommandSwitchesRawPassThrough) {
    struct Case {
        std::string block;
        int before;
        int after;
    };
    const std::string raw(CONSUMER_COMMAND_RAW_OUTPUT);
    const std::string text(CONSUMER_COMMAND_TEXT_OUTPUT);
    const Case cases[] = {
        {raw, 0, 1},
        {text, 1, 0},
        {raw + "x", 0, 0},
        {raw + text, 0, 0},
        {raw.substr(0, 12), 0, 0},
        {raw.substr(12), 0, 0},
        {text + "\n", 1, 1},
        {"#set out date original\r\n", 0, 0},
    };
    for (const Case& c : cases) {
        auto s = std::make_unique<ConsumerSender>(settings, compressFn, log, out);
        if (c.before == 1) s->handleConsumerCommand(raw.data(), static_cast<int>(raw.size()));
        ASSERT_EQ(s->rawPassThrough(), c.before);
        s->handleConsumerCommand(c.block.data(), static_cast<int>(c.block.size()));
        EXPECT_EQ(s->rawPassThrough(), c.after) << '"' << c.block << '"';
    }
}

}  // namespace
}  // namespace velgor
