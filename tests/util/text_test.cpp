#include "util/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <sstream>

#include "util/local_time.h"
#include "util/paths.h"
#include "util/text_output.h"
#include "util/utf8.h"

namespace calivant {
namespace {

TEST(Text, FormattingPathsAndUtf8Caps) {
    const std::pair<std::string, std::string> cases[] = {
        {formatInteger(0), "0"}, {formatInteger(INT_MIN), "-2147483648"}, {formatInteger(INT_MAX), "2147483647"},
        // Half up on the magnitude, the sign written before rounding.
        {formatReal(0.125, 2), "0.13"}, {formatReal(-0.125, 2), "-0.13"}, {formatReal(-0.004, 2), "-0.00"},
        {formatReal(-0.0, 2), "0.00"}, {formatReal(0.0, 1), "0.0"}, {formatReal(0.05, 2), "0.05"},
        {formatReal(0.0000005, 6), "0.000001"}, {formatReal(2.5, 0), "3"}, {formatReal(1.23456789, 9), "1.234568"},
        {formatReal(1.5, -3), "2"}, {formatReal(1.5, 2, false, true), "1.5"}, {formatReal(2.0, 2, false, true), "2"},
        {formatReal(120.0, 0, false, true), "120"}, {formatReal(0.0, 3, true, true), "0.000"},
        {formatReal(0.123, 2, true), "12.30%"}, {formatReal(21474836.48, 2), "21474836.48"},
        {formatReal(-3000000000.0, 3), "-3000000000.000"}, {formatReal(1e20, 1), "100000000000000000000.0"},
        {formatText("%d %s|%c%c", {-7, "a b", 65, 0x142}), "-7 a b|AB"},
        {formatText("%2f|%3f|%f|%0f|%z3f|%32f", {0.0, 0.3127, 1.0, 2.5, 1.5, 1.0}), "0.00|0.313|1.0000|3|1.5|1.00"},
        {formatText("%2f%%%5d", {99.5, 42}), "99.50%42"},
        // An unknown conversion byte is swallowed without taking an argument.
        {formatText("[%7f] %d a%.b%-c%ld", {3}), "[f] 3 abcd"},
        // Escapes in the format only; a lone \ or % at the end ends the output.
        {formatText("a\\tb\\nc\\rd\\\\e\\q%s", {"x\\ty"}), "a\tb\nc\rd\\eqx\\ty"},
        {formatText("a\\0b"), std::string("a\0b", 3)}, {formatText("end\\"), "end"}, {formatText("end%"), "end"},
        // A missing or mismatched argument writes nothing.
        {formatText("%d-%s|%d|%s", {}), "-||"}, {formatText("%d|%s", {1.5, 7}), "|"},
        {joinPath("/opt/cs", "Reference Files"), "/opt/cs/Reference Files"}, {joinPath("/opt/", "x"), "/opt/x"},
        {folderOf("/home/ann/it8.tif"), "/home/ann"}, {folderOf("/it8.tif"), "/"}, {folderOf("it8.tif"), "."},
        {fileNameOf("/home/ann/it8.tif"), "it8.tif"}, {fileNameOf("it8.tif"), "it8.tif"},
        // "é" is two bytes, "€" three: a cap inside either drops the whole character.
        {std::string(truncateUtf8("a\xC3\xA9", 2)), "a"}, {std::string(truncateUtf8("a\xC3\xA9", 3)), "a\xC3\xA9"},
        {std::string(truncateUtf8("\xE2\x82\xAC\xE2\x82\xAC", 5)), "\xE2\x82\xAC"}};
    for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
    EXPECT_TRUE(hasExtension("profile.ICM", ".icm"));
    EXPECT_FALSE(hasExtension("a.icc.txt", ".icc") || hasExtension("icc", ".icc"));
    // A bounded buffer is cut and terminated.
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(formatText(buffer, 6, "%s and more", {"abc"}), 5u);
    EXPECT_EQ(formatText(buffer, 0, "xyz", {}), 0u);  // touches nothing
    EXPECT_EQ(std::string(buffer, 8), std::string("abc a\0x\0", 8));
}

TEST(Text, LinesEndWithCrLfOnceAndAFailedStreamIsReported) {
    std::ostringstream out;
    for (const char* line : {"abc", "done\r\n", "lf only\n", "", "\n"}) EXPECT_EQ(writeLine(out, line), 0);
    EXPECT_EQ(out.str(), "abc\r\ndone\r\nlf only\n\r\n\r\n\n\r\n");
    out.setstate(std::ios::badbit);
    std::size_t count = 3, none = 0;
    EXPECT_TRUE(writeWhole(out, count, "abc") == 1 && writeLine(out, "abc") == 1);
    EXPECT_EQ(writeWhole(out, none, "abc"), 0);  // nothing to write is no failure
}

}  // namespace
}  // namespace calivant

namespace calivant {
namespace {

// The clock's time as the header and the log stamp it: calendar fields as
// people count them (months from 1, years in full), whatever the zone.
TEST(Text, LocalAndReproducibleTimes) {
    const std::time_t now = std::time(nullptr);
    std::tm expected{};
    ::localtime_r(&now, &expected);
    const LocalTime t = systemLocalTime();
    EXPECT_EQ(t.year * 100 + t.month, (expected.tm_year + 1900) * 100 + expected.tm_mon + 1);
    const LocalTime epoch = utcTimeOf(1110033000);  // 14:30 on Saturday, 5 March 2005
    EXPECT_EQ((std::vector<int>{epoch.year, epoch.month, epoch.day, epoch.hour, epoch.minute, epoch.dayOfWeek}),
              (std::vector<int>{2005, 3, 5, 14, 30, 6}));
}

}  // namespace
}  // namespace calivant
