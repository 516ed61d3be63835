#pragma once
// The text routines every text input goes through: reference files, the
// settings file and the numeric fields of the dialogs. Their odd forms
// (thousands commas, a percent sign, two-digit exponents) are relied on by
// every caller, so they are kept exactly.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace calivant {

// The line limit used everywhere: longer lines arrive as several lines.
inline constexpr std::size_t kMaxLineLength = 255;
// splitTokens stores at most this many tokens from one line.
inline constexpr std::size_t kMaxTokens = 100;
// A quoted token copies at most this many characters.
inline constexpr std::size_t kMaxQuotedTokenLength = 256;

// Reads one line into line. CR and LF before the first character are skipped,
// the first one after it ends the line; at limit characters the line ends
// without consuming more. Returns 0 with a line, 1 when the end of the input
// (or a read error) comes before any character was stored. Empty lines never
// reach the caller; a last line without a line end is returned normally.
int readTextLine(std::istream& in, std::string& line, std::size_t limit = kMaxLineLength);

// Where reading stands, for messages that name a line of the input.
struct TextPosition {
    std::int32_t line = 0;  // 1-based line of the input the last returned line began on
    // Line ends taken so far, CR LF counting as one; a line cut at the
    // limit goes on in the same line of the input.
    std::int32_t lineEnds = 0;
    bool afterCr = false;
};

// readTextLine that also keeps position up to date.
int readTextLine(std::istream& in, std::string& line, TextPosition& position, std::size_t limit = kMaxLineLength);

// Splits a line into tokens separated by blanks and tabs. A token starting
// with a double quote runs to the next double quote (or the end of the line),
// so a quoted empty pair is an empty token. Commas are ordinary characters.
// At most kMaxTokens tokens are returned.
std::vector<std::string> splitTokens(std::string_view line);

// 1 when both texts have the same length and equal characters ignoring ASCII
// case, else 0.
int equalsNoCase(std::string_view a, std::string_view b);

// Text to double: optional sign, digits with commas skipped anywhere, one
// optional point, one optional percent sign (divides by 100), an optional
// exponent of one or two digits. Writes the value even on failure. Returns 1
// when neither a digit nor a point was seen or characters are left over.
int parseReal(std::string_view text, double& value);

// Text to 32-bit integer: optional sign and decimal digits. Writes the value
// accumulated up to the first unexpected character even on failure. Returns 1
// when there is no digit or characters are left over. A digit run past the
// 32-bit range saturates and returns 1.
int parseInteger(std::string_view text, std::int32_t& value);

}  // namespace calivant
