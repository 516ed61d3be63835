#pragma once
// The program's own number and message formatter. Every number that reaches a
// message, the settings file or the profile log goes through here, so its
// output is part of those formats: it must not depend on the C locale or on
// printf's rounding.
//
// Conversions: %d (32-bit integer), %s (text), %c (one byte), %f with a digit
// 0..6 for the decimals (default 4) and "z" to strip trailing zeros, %%.
// Backslash escapes in the format (\0 \n \r \t, anything else literal) become
// control bytes; they are never processed inside %s arguments.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace calivant {

// One argument of formatText. The conversion byte decides how it is written;
// an argument of the wrong kind writes nothing (the formats are our own, so a
// mismatch is a programming error caught by the tests).
class FormatArg {
public:
    FormatArg(int value) : value_(static_cast<std::int32_t>(value)) {}
    FormatArg(double value) : value_(value) {}
    FormatArg(const char* text) : value_(std::string_view(text ? text : "")) {}
    FormatArg(std::string_view text) : value_(text) {}
    FormatArg(const std::string& text) : value_(std::string_view(text)) {}

    const std::int32_t* integer() const { return std::get_if<std::int32_t>(&value_); }
    const double* real() const { return std::get_if<double>(&value_); }
    const std::string_view* text() const { return std::get_if<std::string_view>(&value_); }

private:
    std::variant<std::int32_t, double, std::string_view> value_;
};

// Formats into dest, which holds capacity bytes, always zero-terminated when
// capacity > 0. Output beyond capacity - 1 bytes is cut. Returns the number of
// bytes written before the terminating zero.
std::size_t formatText(char* dest, std::size_t capacity, std::string_view format,
                       std::initializer_list<FormatArg> args);

// The same, returning the whole text. An escaped \0 in the format is kept as a
// zero byte inside the string.
std::string formatText(std::string_view format, std::initializer_list<FormatArg> args = {});

// Decimal text of a signed 32-bit integer: "-" for negatives, no padding.
std::string formatInteger(std::int32_t value);

// Decimal text of a real with 0..6 decimals, rounded half up on the magnitude
// (the sign is written first, so -0.004 with two decimals is "-0.00").
// percent multiplies by 100 and appends "%"; stripZeros drops trailing zeros
// and then a trailing point. An exact zero is "0" followed by the decimals.
std::string formatReal(double value, int decimals, bool percent = false, bool stripZeros = false);

}  // namespace calivant
