#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "config/cp1251.h"
#include "config/cp1251_literal.h"
#include "report/text_escapes.h"

namespace velgor {
namespace {

// A station name or status text, as the relay holds it (Windows-1251), and how
// each file must carry it once converted to UTF-8.
struct EscapeCase {
    const char* name;
    std::string_view cp1251Text;
    std::string_view json;
    std::string_view label;
};

void PrintTo(const EscapeCase& c, std::ostream* out) {
    *out << c.name;
}

class TextEscapes : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(TextEscapes, JsonStringAndLabelValue) {
    const std::string utf8 = cp1251ToUtf8(GetParam().cp1251Text);
    std::string json;
    appendJsonString(json, utf8);
    EXPECT_EQ(json, GetParam().json);
    std::string label;
    appendLabelValue(label, utf8);
    EXPECT_EQ(label, GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextEscapes,
    ::testing::Values(EscapeCase{"CyrillicStatus", cp1251<u8"Связь разорвана">,
                                 "\"Связь разорвана\"", "\"Связь разорвана\""},
                      EscapeCase{"QuotesAndBackslash", cp1251<u8"Юг \"7\" C:\\st">,
                                 R"("Юг \"7\" C:\\st")", R"("Юг \"7\" C:\\st")"},
                      // Control bytes a settings file may hold: JSON escapes them all, a
                      // label only the line feed.
                      EscapeCase{"ControlBytes", "a\tb\x01\x7F\n", R"("a\tb\u0001\u007f\n")",
                                 "\"a\tb\x01\x7F\\n\""}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace velgor
