#include "util/text_output.h"

#include <gtest/gtest.h>

#include <sstream>

namespace calivant {
namespace {

TEST(WriteLine, EndsEveryLineWithCrLfExactlyOnce) {
    std::ostringstream out;
    EXPECT_EQ(writeLine(out, "abc"), 0);
    EXPECT_EQ(writeLine(out, "done\r\n"), 0);
    EXPECT_EQ(writeLine(out, "lf only\n"), 0);
    EXPECT_EQ(writeLine(out, ""), 0);
    EXPECT_EQ(writeLine(out, "\n"), 0);
    EXPECT_EQ(out.str(), "abc\r\ndone\r\nlf only\n\r\n\r\n\n\r\n");
}

TEST(WriteWhole, ReportsAFailedStream) {
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    std::size_t count = 3;
    EXPECT_EQ(writeWhole(out, count, "abc"), 1);
    EXPECT_EQ(writeLine(out, "abc"), 1);
    std::size_t none = 0;
    EXPECT_EQ(writeWhole(out, none, "abc"), 0);  // nothing to write is not a failure
}

}  // namespace
}  // namespace calivant
