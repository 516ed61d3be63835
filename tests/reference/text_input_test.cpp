#include "reference/text_input.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>

namespace calivant {
namespace {

std::vector<std::string> readAllLines(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; readTextLine(in, line) == 0;) lines.push_back(line);
    return lines;
}

TEST(ReadTextLine, EveryLineEndNoEmptyLinesLongLinesInPieces) {
    EXPECT_EQ(readAllLines("\r\na\r\n\r\n\nb\rc\n\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_TRUE(readAllLines("\r\n\n\r").empty());
    EXPECT_EQ(readAllLines(std::string("a\0b\xC3\xA9\n", 6)), (std::vector<std::string>{std::string("a\0b\xC3\xA9", 5)}));
    // 300 characters arrive as 255 and 45; at exactly 255 the line end is
    // skipped as an empty line.
    EXPECT_EQ(readAllLines(std::string(300, 'x') + "\nz"), (std::vector<std::string>{std::string(255, 'x'), std::string(45, 'x'), "z"}));
    EXPECT_EQ(readAllLines(std::string(255, 'y') + "\r\nz"), (std::vector<std::string>{std::string(255, 'y'), "z"}));
}

TEST(SplitTokens, BlanksTabsQuotesAndTheCap) {
    EXPECT_EQ(splitTokens("  A1\t 0.5,3  \"A B\" \"\" x"), (std::vector<std::string>{"A1", "0.5,3", "A B", "", "x"}));
    EXPECT_TRUE(splitTokens(" \t ").empty());
    // An unterminated quote runs to the end; a quote inside a token is a
    // character; a closing quote glued to the next token starts it fresh.
    EXPECT_EQ(splitTokens("a \"b c"), (std::vector<std::string>{"a", "b c"}));
    EXPECT_EQ(splitTokens("ab\"c \"x\"y"), (std::vector<std::string>{"ab\"c", "x", "y"}));
    std::string line;
    for (int i = 0; i < 101; ++i) line += 't' + std::to_string(i) + ' ';
    EXPECT_EQ(splitTokens(line).size(), kMaxTokens);
    EXPECT_EQ(splitTokens(line).back(), "t99");
    EXPECT_EQ(splitTokens(std::string(240, '"')).size(), kMaxTokens);  // empty quoted tokens count too
    EXPECT_EQ(splitTokens("\"" + std::string(300, 'q') + "\"").front().size(), kMaxQuotedTokenLength);
}

// The value is the digits divided by an exact power of ten, so a number
// comes out as the nearest double of its decimal text.
TEST(ParseReal, AcceptedAndRefusedForms) {
    const struct { const char* text; double value; int result; } cases[] = {
        {"1,5", 15.0, 0},    {"12%", 0.12, 0},         {"1.5E-2", 0.015, 0}, {".", 0.0, 0},        {"12.5x", 12.5, 1},
        {"abc", 0.0, 1},     {"", 0.0, 1},             {"1..5", 1.0, 1},     {"5%%", 0.05, 1},     {"3E", 3.0, 1},
        {"1E-05", 1e-5, 0},  {"1E-005", 1.0, 1},       {"-2.5", -2.5, 0},    {"+7", 7.0, 0},       {"-", 0.0, 1},
        {"1e2", 100.0, 0},   {"2.5e+1", 25.0, 0},      {"50.5%", 0.505, 0},  {"1E+", 1.0, 1},      {"82.49", 82.49, 0},
        {"0.1", 0.1, 0},     {"1,000.25", 1000.25, 0}, {"1 ", 1.0, 1},       {"7e12", 7e12, 0},    {"-0.004", -0.004, 0},
    };
    for (const auto& c : cases) {
        double value = -12345.0;
        EXPECT_EQ(parseReal(c.text, value), c.result) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(ParseInteger, SignsLeftoversAndSaturation) {
    const struct { const char* text; std::int32_t value; int result; } cases[] = {
        {"42", 42, 0},  {"-17", -17, 0}, {"+3", 3, 0}, {"12x", 12, 1}, {"1.5", 1, 1}, {"", 0, 1}, {"-", 0, 1},
        {"2147483647", INT_MAX, 0}, {"-2147483648", INT_MIN, 0}, {"2147483648", INT_MAX, 1}, {"-99999999999999999999999", INT_MIN, 1}};
    for (const auto& c : cases) {
        std::int32_t value = -1;
        EXPECT_EQ(parseInteger(c.text, value), c.result) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

}  // namespace
}  // namespace calivant
