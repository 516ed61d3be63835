#include <gtest/gtest.h>

#include "util/utf8.h"

namespace calivant {
namespace {

TEST(Utf8Text, StrictValidation) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"plain", true},
        {"\xC3\xA9", true},                // U+00E9
        {"\xF4\x8F\xBF\xBF", true},        // U+10FFFF
        {"\xC3", false},                   // cut short
        {"\xC0\xAF", false},               // overlong "/"
        {"\xE0\x80\xAF", false},           // overlong, three bytes
        {"\xED\xA0\x80", false},           // a surrogate
        {"\xF4\x90\x80\x80", false},       // beyond U+10FFFF
        {"\x80", false},                   // a lone continuation byte
        {"a\xC3\xA9\xFF", false},
    };
    for (const Case& c : cases) EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.text;
}

TEST(Utf8Text, AsciiAndUtf16Forms) {
    EXPECT_EQ(asciiOrQuestionMarks("d\xC3\xA9j\xC3\xA0 \xF0\x9F\x98\x80!"), "d?j? ?!");
    EXPECT_EQ(asciiOrQuestionMarks("a\xFF" "b"), "a?b");
    EXPECT_EQ(utf16Of("\xC3\xA9\xF0\x9F\x98\x80"), (std::u16string{0x00E9, 0xD83D, 0xDE00}));
}

}  // namespace
}  // namespace calivant
