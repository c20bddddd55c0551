#include "shell/controls/window_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/cp1251.h"

namespace velgor {
namespace {

std::vector<std::string> splitAtLineFeeds(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string_view::npos;
         end = text.find('\n', start)) {
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    lines.emplace_back(text.substr(start));  // after the last line feed
    return lines;
}

struct Section {
    std::string title;
    std::vector<std::string> body;
};

// The help text as sections; fails the test when the layout is broken.
std::vector<Section> helpSections() {
    const std::string text = cp1251ToUtf8(helpBoxText());
    std::vector<std::string> lines = splitAtLineFeeds(text);
    EXPECT_EQ(lines.back(), "") << "the text ends with a line feed";
    lines.pop_back();
    std::vector<Section> sections;
    bool expectTitle = true;
    for (const std::string& line : lines) {
        if (line.empty()) {
            EXPECT_FALSE(expectTitle) << "two empty lines in a row";
            expectTitle = true;
        } else if (expectTitle) {
            EXPECT_TRUE(line.size() > 2 && line.front() == '"' && line.back() == '"') << line;
            sections.push_back({line.substr(1, line.size() - 2), {}});
            expectTitle = false;
        } else {
            sections.back().body.push_back(line);
        }
    }
    return sections;
}

TEST(WindowTexts, TitleIsTheThirtyCharacterRussianName) {
    EXPECT_EQ(cp1251ToUtf8(mainWindowTitle()), "Связывающая программа (Velgor)");
}

TEST(HelpText, HasTenSectionsWithTheirTitlesAndLineCounts) {
    EXPECT_EQ(cp1251ToUtf8(helpBoxCaption()), "Меню");
    EXPECT_EQ(helpBoxText().find('\r'), std::string_view::npos);
    const std::vector<Section> sections = helpSections();
    const struct {
        const char* title;
        std::size_t bodyLines;
    } expected[] = {
        {"НАСТРОЙКИ СОМ ИСТОЧНИКА", 1},   {"НАСТРОЙКИ ТСР ИСТОЧНИКА", 1},
        {"БИНАРНЫЙ РЕЖИМ ИСТОЧНИКА", 2},  {"НАСТРОЙКИ СЕРВЕРА", 2},
        {"НАСТРОЙКИ ТСР ПОТРЕБИТЕЛЯ", 1}, {"НИЖНИЙ ПОРОГ УРОВНЯ ПРИЕМА", 4},
        {"ЧАСТОТА ТАЙМЕРА", 1},           {"ПОКАЗЫВАТЬ ОТНОСИТЕЛЬНОЕ ВРЕМЯ", 7},
        {"КООРДИНАТЫ ПРИЕМНИКА", 2},      {"ИМЯ ПРИЕМНИКА", 2},
    };
    ASSERT_EQ(sections.size(), std::size(expected));
    for (std::size_t i = 0; i < sections.size(); ++i) {
        // The titles above are typed with Cyrillic СОМ and ТСР.
        EXPECT_EQ(sections[i].title, expected[i].title);
        EXPECT_EQ(sections[i].body.size(), expected[i].bodyLines) << expected[i].title;
    }
}

TEST(HelpText, LatinAndCyrillicLetterGroupsStandWhereTheyBelong) {
    const std::string text = cp1251ToUtf8(helpBoxText());
    const auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("COM"), 1u);  // Latin, in the first body line only
    EXPECT_EQ(count("TCP"), 0u);
    EXPECT_EQ(count("СОМ"), 2u);  // Cyrillic
    EXPECT_EQ(count("ТСР"), 7u);
    EXPECT_EQ(count("MLAT"), 3u);
    EXPECT_EQ(count("ADS-B"), 1u);
    EXPECT_EQ(count("IP "), 1u);
    EXPECT_EQ(helpSections()[0].body[0],
              "Выставляются настройки COM порта, а именно его наименование и его скорость.");
}

TEST(HelpText, KeepsQuotationMarksSpacesAndPunctuationOfItsLines) {
    const std::vector<Section> sections = helpSections();
    ASSERT_EQ(sections.size(), 10u);
    EXPECT_EQ(sections[3].body[0].back(), ' ');
    EXPECT_TRUE(sections[5].body[0].ends_with("от 0 до 255"));
    EXPECT_EQ(sections[5].body[3],
              "прием на уровне шумов, в связи с чем возникает большой "
              "трафик с \"мусором\".");
    EXPECT_EQ(sections[7].body[2],
              "режим в меню, или двойным нажатием клавиши \"5\". Если частота таймера "
              "выставлена правильно, то значения \"прм\" и \"комп\" ");
    EXPECT_EQ(sections[7].body[4].back(), ' ');
    EXPECT_NE(sections[8].body[1].find("=  170635 / 3600 = 47.398611"), std::string::npos);
    EXPECT_EQ(sections[9].body[1],
              "Имена различных источников подключенных к одному серверу не должны совпадать.");
}

TEST(AuthorText, IsANoteAboutTheProgram) {
    EXPECT_EQ(cp1251ToUtf8(authorBoxCaption()), "Автор");
    const std::string text = cp1251ToUtf8(authorBoxText());
    EXPECT_NE(text.find("Velgor"), std::string::npos);
    EXPECT_EQ(text.find('@'), std::string::npos);  // no mail address
    EXPECT_EQ(text.back(), '\n');
}

}  // namespace
}  // namespace velgor
