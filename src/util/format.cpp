#include "util/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace calivant {
namespace {

constexpr int kDefaultDecimals = 4;
constexpr int kMaxDecimals = 6;

class Sink {
public:
    Sink(char* dest, std::size_t capacity) : dest_(dest), capacity_(capacity) {}
    explicit Sink(std::string& out) : out_(&out) {}

    void put(char c) {
        if (out_) {
            out_->push_back(c);
        } else if (written_ + 1 < capacity_) {
            dest_[written_++] = c;
        }
    }
    void put(std::string_view text) {
        for (char c : text) put(c);
    }
    std::size_t finish() {
        if (out_) return out_->size();
        if (capacity_ > 0) dest_[written_] = '\0';
        return written_;
    }

private:
    char* dest_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t written_ = 0;
    std::string* out_ = nullptr;
};

void formatInto(Sink& sink, std::string_view format, std::initializer_list<FormatArg> args) {
    const FormatArg* next = args.begin();
    const FormatArg* const end = args.end();
    auto takeArg = [&]() -> const FormatArg* { return next != end ? next++ : nullptr; };

    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i++];
        if (c == '\\') {
            if (i >= format.size()) break;  // a lone trailing backslash ends the output
            const char e = format[i++];
            switch (e) {
                case '0': sink.put('\0'); break;
                case 'n': sink.put('\n'); break;
                case 'r': sink.put('\r'); break;
                case 't': sink.put('\t'); break;
                default: sink.put(e); break;
            }
            continue;
        }
        if (c != '%') {
            sink.put(c);
            continue;
        }
        int decimals = kDefaultDecimals;
        bool strip = false;
        while (i < format.size()) {
            const char m = format[i++];
            if (m >= '0' && m <= '6') {
                decimals = m - '0';
                continue;
            }
            if (m == 'z') {
                strip = true;
                continue;
            }
            switch (m) {
                case '%': sink.put('%'); break;
                case 'c':
                    if (const FormatArg* a = takeArg(); a && a->integer())
                        sink.put(static_cast<char>(*a->integer() & 0xFF));
                    break;
                case 'd':
                    if (const FormatArg* a = takeArg(); a && a->integer())
                        sink.put(formatInteger(*a->integer()));
                    break;
                case 'f':
                    if (const FormatArg* a = takeArg()) {
                        if (a->real()) sink.put(formatReal(*a->real(), decimals, false, strip));
                        else if (a->integer()) sink.put(formatReal(*a->integer(), decimals, false, strip));
                    }
                    break;
                case 's':
                    if (const FormatArg* a = takeArg(); a && a->text()) sink.put(*a->text());
                    break;
                default:
                    break;  // unknown conversion byte: consumed, nothing written
            }
            break;
        }
    }
}

// 10^k for 0 <= k <= 6, exact in double.
double powerOfTen(int k) {
    double p = 1.0;
    while (k-- > 0) p *= 10.0;
    return p;
}

}  // namespace

std::size_t formatText(char* dest, std::size_t capacity, std::string_view format,
                       std::initializer_list<FormatArg> args) {
    Sink sink(dest, capacity);
    formatInto(sink, format, args);
    return sink.finish();
}

std::string formatText(std::string_view format, std::initializer_list<FormatArg> args) {
    std::string out;
    Sink sink(out);
    formatInto(sink, format, args);
    return out;
}

std::string formatInteger(std::int32_t value) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string formatReal(double value, int decimals, bool percent, bool stripZeros) {
    if (value == 0.0) {
        std::string zero = "0";
        if (decimals >= 1) {
            zero.push_back('.');
            zero.append(static_cast<std::size_t>(std::min(decimals, kMaxDecimals)), '0');
        }
        return zero;
    }
    const int d = std::clamp(decimals, 0, kMaxDecimals);
    if (percent) value *= 100.0;

    std::string out;
    if (std::isnan(value)) return "nan";
    if (value < 0) {
        out.push_back('-');
        value = -value;
    }
    if (std::isinf(value)) return out + "inf";

    // Rounding is half up on the magnitude, in double precision. The product
    // is kept in 64 bits so large figures stay right; past 2^63 the double
    // itself has no fractional part left, so its exact decimal digits serve.
    const double scaled = value * powerOfTen(d) + 0.5;
    std::string digits;
    if (scaled < 9.2e18) {
        digits = std::to_string(static_cast<std::int64_t>(scaled));
    } else {
        char buffer[400];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::floor(scaled),
                                          std::chars_format::fixed, 0);
        digits.assign(buffer, result.ptr);
    }
    if (digits.size() < static_cast<std::size_t>(d) + 1)
        digits.insert(0, static_cast<std::size_t>(d) + 1 - digits.size(), '0');
    if (d > 0) digits.insert(digits.size() - static_cast<std::size_t>(d), 1, '.');
    if (d > 0 && stripZeros) {
        while (digits.back() == '0') digits.pop_back();
        if (digits.back() == '.') digits.pop_back();
    }
    out += digits;
    if (percent) out.push_back('%');
    return out;
}

}  // namespace calivant
