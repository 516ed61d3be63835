#include "reference/text_input.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>

namespace calivant {
namespace {

std::vector<std::string> readAllLines(const std::string& text, std::size_t limit = kMaxLineLength) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    std::string line;
    while (readTextLine(in, line, limit) == 0) lines.push_back(line);
    return lines;
}

TEST(ReadTextLine, SkipsEmptyLinesAndAcceptsEveryLineEnd) {
    EXPECT_EQ(readAllLines("a\r\n\r\n\nb\rc\n\nd"),
              (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_TRUE(readAllLines("").empty());
    EXPECT_TRUE(readAllLines("\r\n\n\r").empty());
}

TEST(ReadTextLine, LongLinesArriveInPieces) {
    const std::string longLine(300, 'x');
    const auto lines = readAllLines(longLine + "\nnext");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 255u);
    EXPECT_EQ(lines[1].size(), 45u);
    EXPECT_EQ(lines[2], "next");
    // A line of exactly the limit: the line end after it is skipped as an
    // empty line, not delivered.
    EXPECT_EQ(readAllLines(std::string(255, 'y') + "\r\nz"),
              (std::vector<std::string>{std::string(255, 'y'), "z"}));
}

TEST(ReadTextLine, KeepsNulAndHighBytes) {
    const std::string text("a\0b\xC3\xA9\n", 6);
    const auto lines = readAllLines(text);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string("a\0b\xC3\xA9", 5));
}

TEST(SplitTokens, BlanksTabsAndQuotes) {
    EXPECT_EQ(splitTokens("  A1\t 0.5,3  \"A B\" \"\" x"),
              (std::vector<std::string>{"A1", "0.5,3", "A B", "", "x"}));
    EXPECT_TRUE(splitTokens("").empty());
    EXPECT_TRUE(splitTokens(" \t ").empty());
    // An unterminated quote runs to the end of the line.
    EXPECT_EQ(splitTokens("a \"b c"), (std::vector<std::string>{"a", "b c"}));
    // A quote inside a token is an ordinary character; a closing quote glued
    // to the next token starts it fresh.
    EXPECT_EQ(splitTokens("ab\"c \"x\"y"), (std::vector<std::string>{"ab\"c", "x", "y"}));
}

TEST(SplitTokens, StopsAtOneHundredTokens) {
    std::string line;
    for (int i = 0; i < 101; ++i) line += "t" + std::to_string(i) + " ";
    const auto tokens = splitTokens(line);
    ASSERT_EQ(tokens.size(), 100u);
    EXPECT_EQ(tokens.back(), "t99");
    // Empty quoted tokens count too.
    std::string quotes;
    for (int i = 0; i < 120; ++i) quotes += "\"\"";
    EXPECT_EQ(splitTokens(quotes).size(), 100u);
}

TEST(EqualsNoCase, SameLengthAndLetters) {
    EXPECT_EQ(equalsNoCase("dmin", "Dmin"), 1);
    EXPECT_EQ(equalsNoCase("Dmin", "Dmin "), 0);
    EXPECT_EQ(equalsNoCase("", ""), 1);
    EXPECT_EQ(equalsNoCase("SAMPLE_ID", "sample_id"), 1);
    EXPECT_EQ(equalsNoCase("a_", "A?"), 0);
}

struct RealCase {
    const char* text;
    double value;
    int result;
};

TEST(ParseReal, AcceptedAndRefusedForms) {
    const RealCase cases[] = {
        {"1,5", 15.0, 0},        {"12%", 0.12, 0},      {"1.5E-2", 0.015, 0}, {".", 0.0, 0},
        {"12.5x", 12.5, 1},      {"abc", 0.0, 1},       {"", 0.0, 1},         {"1..5", 1.0, 1},
        {"5%%", 0.05, 1},        {"3E", 3.0, 1},        {"1E-05", 0.00001, 0}, {"1E-005", 1.0, 1},
        {"-2.5", -2.5, 0},       {"+7", 7.0, 0},        {"-", 0.0, 1},        {"1e2", 100.0, 0},
        {"2.5e+1", 25.0, 0},     {"1,000.25", 1000.25, 0}, {"50.5%", 0.505, 0}, {"1E+", 1.0, 1},
        {"96.42", 96.42, 0},     {"-0.004", -0.004, 0}, {"1 ", 1.0, 1},
    };
    for (const RealCase& c : cases) {
        double value = -12345.0;
        EXPECT_EQ(parseReal(c.text, value), c.result) << c.text;
        EXPECT_DOUBLE_EQ(value, c.value) << c.text;
    }
}

TEST(ParseReal, ExactDivisionLikeTheStoredFiles) {
    // The value is the digits divided by an exact power of ten, so values in
    // reference files come out as the nearest double of their decimal text.
    double value = 0;
    ASSERT_EQ(parseReal("82.49", value), 0);
    EXPECT_EQ(value, 82.49);
    ASSERT_EQ(parseReal("0.1", value), 0);
    EXPECT_EQ(value, 0.1);
}

TEST(ParseInteger, SignsLeftoversAndSaturation) {
    std::int32_t v = -1;
    EXPECT_EQ(parseInteger("42", v), 0);
    EXPECT_EQ(v, 42);
    EXPECT_EQ(parseInteger("-17", v), 0);
    EXPECT_EQ(v, -17);
    EXPECT_EQ(parseInteger("+3", v), 0);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(parseInteger("12x", v), 1);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(parseInteger("1.5", v), 1);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(parseInteger("", v), 1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(parseInteger("-", v), 1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(parseInteger("2147483647", v), 0);
    EXPECT_EQ(v, INT_MAX);
    EXPECT_EQ(parseInteger("-2147483648", v), 0);
    EXPECT_EQ(v, INT_MIN);
    EXPECT_EQ(parseInteger("2147483648", v), 1);
    EXPECT_EQ(v, INT_MAX);
    EXPECT_EQ(parseInteger("-99999999999999999999999", v), 1);
    EXPECT_EQ(v, INT_MIN);
}

}  // namespace
}  // namespace calivant
