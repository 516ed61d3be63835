#include "util/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace calivant {
namespace {

TEST(FormatInteger, SignsAndExtremes) {
    EXPECT_EQ(formatInteger(0), "0");
    EXPECT_EQ(formatInteger(-7), "-7");
    EXPECT_EQ(formatInteger(1234567), "1234567");
    EXPECT_EQ(formatInteger(INT_MIN), "-2147483648");
    EXPECT_EQ(formatInteger(INT_MAX), "2147483647");
}

TEST(FormatReal, RoundsHalfUpOnTheMagnitude) {
    EXPECT_EQ(formatReal(0.125, 2), "0.13");
    EXPECT_EQ(formatReal(-0.125, 2), "-0.13");
    EXPECT_EQ(formatReal(100, 2), "100.00");
    EXPECT_EQ(formatReal(0.05, 2), "0.05");
    EXPECT_EQ(formatReal(0.004, 2), "0.00");
    EXPECT_EQ(formatReal(0.3127, 3), "0.313");
    EXPECT_EQ(formatReal(12.5, 2), "12.50");
    EXPECT_EQ(formatReal(2.5, 0), "3");
    EXPECT_EQ(formatReal(0.0000005, 6), "0.000001");
}

TEST(FormatReal, SignIsWrittenBeforeRounding) {
    EXPECT_EQ(formatReal(-0.004, 2), "-0.00");
    EXPECT_EQ(formatReal(-0.0004, 3), "-0.000");
    // An exact zero of either sign is plain zero.
    EXPECT_EQ(formatReal(-0.0, 2), "0.00");
    EXPECT_EQ(formatReal(0.0, 0), "0");
    EXPECT_EQ(formatReal(0.0, 3, true, true), "0.000");
}

TEST(FormatReal, DecimalsAreClampedAndZerosStripped) {
    EXPECT_EQ(formatReal(1.23456789, 9), "1.234568");
    EXPECT_EQ(formatReal(1.5, -3), "2");
    EXPECT_EQ(formatReal(1.5, 2, false, true), "1.5");
    EXPECT_EQ(formatReal(2.0, 2, false, true), "2");
    EXPECT_EQ(formatReal(120.0, 0, false, true), "120");  // no point, nothing stripped
    EXPECT_EQ(formatReal(0.123, 2, true), "12.30%");
}

TEST(FormatReal, LargeMagnitudesStayExact) {
    // Past 2^31 after scaling: 21474836.475 with two decimals.
    EXPECT_EQ(formatReal(21474836.48, 2), "21474836.48");
    EXPECT_EQ(formatReal(-3000000000.0, 3), "-3000000000.000");
    EXPECT_EQ(formatReal(1e15, 2), "1000000000000000.00");
    EXPECT_EQ(formatReal(1e20, 1), "100000000000000000000.0");
}

TEST(FormatText, Conversions) {
    EXPECT_EQ(formatText("%d %d", {0, INT_MIN}), "0 -2147483648");
    EXPECT_EQ(formatText("%2f|%3f|%f|%0f", {0.0, 0.3127, 1.0, 2.5}), "0.00|0.313|1.0000|3");
    EXPECT_EQ(formatText("%2f%%", {99.5}), "99.50%");
    EXPECT_EQ(formatText("%z3f", {1.5}), "1.5");
    EXPECT_EQ(formatText("%32f", {1.0}), "1.00");  // the last digit of the run wins
    EXPECT_EQ(formatText("%c%c", {65, 0x142}), "AB");
    EXPECT_EQ(formatText("Cannot open reference file: %s", {"/tmp/a b.ref"}),
              "Cannot open reference file: /tmp/a b.ref");
    EXPECT_EQ(formatText("%5d", {42}), "42");  // no field width anywhere
    EXPECT_EQ(formatText(""), "");
}

TEST(FormatText, UnknownConversionByteIsSwallowedWithoutTakingAnArgument) {
    EXPECT_EQ(formatText("[%7f]", {3}), "[f]");
    EXPECT_EQ(formatText("%7f %d", {3}), "f 3");
    EXPECT_EQ(formatText("a%.b%-c%ld", {5}), "abcd");
}

TEST(FormatText, EscapesOnlyInTheFormat) {
    EXPECT_EQ(formatText("a\\tb\\nc\\rd\\\\e\\q"), "a\tb\nc\rd\\eq");
    EXPECT_EQ(formatText("%s", {"x\\ty"}), "x\\ty");
    const std::string withZero = formatText("a\\0b");
    ASSERT_EQ(withZero.size(), 3u);
    EXPECT_EQ(withZero[1], '\0');
    // A lone trailing backslash or percent sign ends the output.
    EXPECT_EQ(formatText("end\\"), "end");
    EXPECT_EQ(formatText("end%"), "end");
}

TEST(FormatText, MissingOrMismatchedArgumentsWriteNothing) {
    EXPECT_EQ(formatText("%d-%s", {}), "-");
    EXPECT_EQ(formatText("%d", {1.5}), "");
    EXPECT_EQ(formatText("%s", {7}), "");
}

TEST(FormatText, BoundedBufferIsCutAndTerminated) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(formatText(buffer, 6, "%s and more", {"abc"}), 5u);
    EXPECT_STREQ(buffer, "abc a");
    EXPECT_EQ(buffer[6], 'x');  // nothing written past the capacity

    EXPECT_EQ(formatText(buffer, sizeof buffer, "", {}), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(formatText(buffer, 0, "abc", {}), 0u);  // capacity 0 touches nothing
}

}  // namespace
}  // namespace calivant
