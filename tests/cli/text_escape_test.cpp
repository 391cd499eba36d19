#include "app/cli/text_escape.h"

#include <gtest/gtest.h>

namespace keluflash::cli {
namespace {

TEST(TextEscape, InvalidUtf8BecomesHexAndControlsOnlyForTheTerminal) {
    const struct {
        std::string text;
        std::string json;       // EscapeInvalidUtf8
        std::string terminal;   // PrintableText
    } rows[] = {
        {"plain ASCII", "plain ASCII", "plain ASCII"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbf", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbf",
         "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbf"},
        {"\xff\xfe", "\\xff\\xfe", "\\xff\\xfe"},
        {"cut \xe2\x82", "cut \\xe2\\x82", "cut \\xe2\\x82"},              // a sequence cut short
        {"\xc0\xaf", "\\xc0\\xaf", "\\xc0\\xaf"},                          // overlong '/'
        {"\xed\xa0\x80", "\\xed\\xa0\\x80", "\\xed\\xa0\\x80"},            // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80", "\\xf4\\x90\\x80\\x80"},  // above U+10FFFF
        {"\x1b[2J\x7f\ttab", "\x1b[2J\x7f\ttab", "\\x1b[2J\\x7f\\x09tab"},
        {std::string("nul\0byte", 8), std::string("nul\0byte", 8), "nul\\x00byte"},
        {"c1 \xc2\x9b" "2J \xc2\xa0nbsp", "c1 \xc2\x9b" "2J \xc2\xa0nbsp", "c1 \\xc2\\x9b2J \xc2\xa0nbsp"},  // U+009B is CSI
    };
    for (const auto& row : rows) {
        EXPECT_EQ(EscapeInvalidUtf8(row.text), row.json) << row.text;
        EXPECT_EQ(PrintableText(row.text), row.terminal) << row.text;
    }
}

TEST(TextEscape, LinesKeepTheProgramsOwnBreaks) {
    EXPECT_EQ(PrintableLines("one\ntwo \x1b[31m\n"), "one\ntwo \\x1b[31m\n");
}

TEST(TextEscape, EveryStringOfADocumentAtAnyDepth) {
    nlohmann::json document{{"file", "\xff"}, {"images", {{{"model", "a\xfe"}}}}, {"count", 3}};
    EscapeInvalidUtf8(document);
    EXPECT_EQ(document.dump(), R"({"count":3,"file":"\\xff","images":[{"model":"a\\xfe"}]})");
}

}  // namespace
}  // namespace keluflash::cli
