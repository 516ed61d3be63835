#pragma once
// Text is UTF-8 throughout. Fixed byte caps (the description and copyright
// of a profile) must never cut a character in half.

#include <cstddef>
#include <string>
#include <string_view>

namespace calivant {

// The longest prefix of text of at most maxBytes bytes that does not end
// inside a multi-byte UTF-8 sequence.
std::string_view truncateUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace calivant

namespace calivant {

// Strict UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF.
bool isValidUtf8(std::string_view text);

// The code points of text; a byte that starts no valid sequence stands for
// itself as U+FFFD.
std::u32string decodeUtf8(std::string_view text);

// The text for a 7-bit field: ASCII as it is, one "?" for every other code
// point.
std::string asciiOrQuestionMarks(std::string_view text);

// UTF-16 code units of text (surrogate pairs beyond the basic plane).
std::u16string utf16Of(std::string_view text);

}  // namespace calivant

namespace calivant {

// Whether text holds a control character: a byte below 32, DEL, or a C1
// control (U+0080..U+009F), any of which a terminal may act on.
bool hasControlCharacters(std::string_view text);

// text with its control characters left out.
std::string withoutControlCharacters(std::string_view text);

// text as it can be shown on a terminal: valid UTF-8 printable characters
// as they are; control characters and bytes that are not UTF-8 as \xNN.
std::string printableText(std::string_view text);

}  // namespace calivant
