#include "log/message_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/cp1251.h"
#include "config/cp1251_literal.h"

namespace velgor {
namespace {

// prefix followed by the number (built with append: GCC 12 warns falsely on
// "literal" + std::string temporaries).
std::string numbered(const char* prefix, int n) {
    std::string text(prefix);
    text.append(std::to_string(n));
    return text;
}

struct RecordingObserver : PaneObserver {
    std::vector<std::string> shown;
    std::vector<std::string> messages;
    int statusChanges = 0;
    void logLineShown(std::string_view text) override { shown.emplace_back(text); }
    void messageShown(std::string_view text) override { messages.emplace_back(text); }
    void statusLinesChanged() override { ++statusChanges; }
};

class MessageLogTest : public ::testing::Test {
  protected:
    MessageLogTest() { log.setObserver(&observer); }
    void store(const std::string& text) { log.logMessage(text.c_str(), LOG_STORE); }
    void tick() { log.logMessage(nullptr, LOG_SHOW_NEWEST); }
    std::vector<std::string> lines() const {
        std::vector<std::string> all;
        for (int i = 0; i < PANE_LOG_LINES; ++i) all.emplace_back(log.logLine(i));
        return all;
    }

    MessageLog log;
    RecordingObserver observer;
};

TEST_F(MessageLogTest, FirstStoreGoesToSlotOneAndSlotZeroIsUsedByTheThirtieth) {
    tick();
    EXPECT_TRUE(observer.shown.empty()) << "a tick with nothing stored shows nothing";
    store("first");
    EXPECT_EQ(log.newestSlot(), 1);
    EXPECT_STREQ(log.slotText(1), "first");
    EXPECT_TRUE(observer.shown.empty()) << "storing draws nothing";
    tick();
    ASSERT_EQ(observer.shown, std::vector<std::string>{"first"});
    EXPECT_EQ(log.logLine(17), "first");
    tick();
    EXPECT_EQ(observer.shown.size(), 1u) << "a shown text is not shown again";

    for (int i = 2; i <= 30; ++i) store(numbered("text ", i));
    EXPECT_EQ(log.newestSlot(), 0);
    EXPECT_STREQ(log.slotText(0), "text 30");
}

TEST_F(MessageLogTest, OnlyTheLastOfTheTextsStoredBetweenTwoTicksIsShown) {
    for (int i = 1; i <= 5; ++i) store(numbered("line ", i));
    tick();
    EXPECT_EQ(observer.shown, std::vector<std::string>{"line 5"});
    EXPECT_EQ(log.logLine(17), "line 5");
    EXPECT_EQ(log.logLine(16), "");
}

TEST_F(MessageLogTest, ThirtyOrSixtyStoresBetweenTicksShowNothingUntilTheNextStore) {
    for (int round : {30, 60}) {
        SCOPED_TRACE(round);
        store("seen");
        tick();
        observer.shown.clear();
        for (int i = 0; i < round; ++i) store(numbered("unseen ", i));
        tick();
        tick();
        EXPECT_TRUE(observer.shown.empty());
        store("after");
        tick();
        EXPECT_EQ(observer.shown, std::vector<std::string>{"after"});
    }
}

TEST_F(MessageLogTest, LinesScrollUpAndTheNineteenthPushesTheFirstOut) {
    std::vector<std::string> expected(PANE_LOG_LINES);
    for (int i = 1; i <= 18; ++i) {
        store(numbered("t", i));
        tick();
    }
    for (int i = 0; i < PANE_LOG_LINES; ++i)
        expected[static_cast<std::size_t>(i)] = numbered("t", i + 1);
    EXPECT_EQ(lines(), expected);

    store("t19");
    tick();
    expected.erase(expected.begin());
    expected.push_back("t19");
    EXPECT_EQ(lines(), expected);
}

TEST_F(MessageLogTest, ShowNowScrollsAtOnceAndLeavesTheNextTickAlone) {
    store("stored");
    log.logMessage("sender message", LOG_SHOW);
    EXPECT_EQ(log.logLine(17), "sender message");
    EXPECT_EQ(log.newestSlot(), 1);
    EXPECT_EQ(log.shownSlot(), 0);
    tick();
    EXPECT_EQ(log.logLine(16), "sender message");
    EXPECT_EQ(log.logLine(17), "stored");
    EXPECT_EQ(observer.shown, (std::vector<std::string>{"sender message", "stored"}));
    EXPECT_EQ(observer.messages, std::vector<std::string>{"sender message"})
        << "a stored line shown by the tick is traffic, not a message";
}

TEST_F(MessageLogTest, EveryModeOtherThanStoreAndShowIsTheTickStep) {
    for (int mode : {2, 3, -1, 42}) {
        SCOPED_TRACE(mode);
        store(numbered("m", mode));
        log.logMessage("ignored", mode);
        EXPECT_EQ(log.logLine(17), numbered("m", mode));
    }
}

TEST_F(MessageLogTest, TextsLongerThanASlotAreCut) {
    const std::string longText(3000, 'x');
    store(longText);
    log.storeNewest(longText.data(), longText.size());
    EXPECT_EQ(std::string(log.slotText(1)), longText.substr(0, 1023));
    EXPECT_EQ(std::string(log.slotText(2)), longText.substr(0, 1023));
    tick();
    EXPECT_EQ(log.logLine(17).size(), 1023u);
    log.logMessage(longText.c_str(), LOG_SHOW);
    EXPECT_EQ(log.logLine(17).size(), 1023u);
}

TEST(StatusLineTest, PortsOfFourAndFiveDigitsInBothFormats) {
    struct Case {
        bool consumer;
        std::uint16_t port;
        std::string status;
        std::string expected;  // UTF-8
    };
    const std::vector<Case> cases = {
        {false, 7777, cp1251<u8"Связь разорвана">, "Клиент:  7777  Связь разорвана"},
        {true, 8888, cp1251<u8"Ошибка connect">, "Клиент:  8888  Ошибка connect"},
        {false, 30005, cp1251<u8"Связь разорвана">, "Клиент: 30005  Связь разорвана"},
        {true, 30005, cp1251<u8"Ошибка connect">, "Клиент:  30005  Ошибка connect"},
        {false, 80, "", "Клиент:    80  "},
        {true, 65535, "", "Клиент:  65535  "},
    };
    for (const Case& c : cases) {
        const std::string line = c.consumer ? formatConsumerStatusLine(c.port, c.status)
                                            : formatSourceStatusLine(c.port, c.status);
        EXPECT_EQ(cp1251ToUtf8(line), c.expected);
    }
}

TEST(StatusLineTest, StatusTextStopsAtItsNulAndAtItsFieldSize) {
    const std::string withNul("abc\0def", 7);
    EXPECT_EQ(formatSourceStatusLine(1, withNul), utf8ToCp1251("Клиент:     1  abc"));
    const std::string overlong(600, 'y');
    const std::string line = formatConsumerStatusLine(30005, overlong);  // the longest line
    EXPECT_EQ(line.size(), 8u + 6u + 2u + 255u);
    EXPECT_EQ(line.substr(16), std::string(255, 'y'));
}

TEST_F(MessageLogTest, RefreshSetsBothStatusLinesAndTellsTheObserver) {
    log.refreshStatusLines(7777, "up", 8888, "down");
    EXPECT_EQ(log.sourceStatusLine(), formatSourceStatusLine(7777, "up"));
    EXPECT_EQ(log.consumerStatusLine(), formatConsumerStatusLine(8888, "down"));
    EXPECT_EQ(observer.statusChanges, 1);
}

}  // namespace
}  // namespace velgor
