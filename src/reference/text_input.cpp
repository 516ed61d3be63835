#include "reference/text_input.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "util/ascii.h"

namespace calivant {

namespace {

int readLine(std::istream& in, std::string& line, std::size_t limit, TextPosition* position) {
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr) return 1;
    using Traits = std::istream::traits_type;
    auto countLineEnd = [position](Traits::int_type c) {
        if (position == nullptr) return;
        if (c == '\n' && position->afterCr) {
            position->afterCr = false;
            return;
        }
        // Saturates rather than overflow on an absurd run of line ends.
        if (position->lineEnds < std::numeric_limits<std::int32_t>::max() - 1) ++position->lineEnds;
        position->afterCr = c == '\r';
    };
    // Skip the line ends left over from the previous line (and blank lines).
    for (;;) {
        const Traits::int_type c = buffer->sgetc();
        if (Traits::eq_int_type(c, Traits::eof())) {
            in.setstate(std::ios::eofbit);
            return 1;
        }
        if (c != '\r' && c != '\n') break;
        countLineEnd(c);
        buffer->sbumpc();
    }
    if (position != nullptr) {
        position->line = position->lineEnds + 1;
        position->afterCr = false;
    }
    while (line.size() < limit) {
        const Traits::int_type c = buffer->sgetc();
        if (Traits::eq_int_type(c, Traits::eof())) {
            in.setstate(std::ios::eofbit);
            break;
        }
        buffer->sbumpc();
        if (c == '\r' || c == '\n') {
            countLineEnd(c);
            break;
        }
        line.push_back(Traits::to_char_type(c));
    }
    return 0;
}

}  // namespace

int readTextLine(std::istream& in, std::string& line, std::size_t limit) {
    return readLine(in, line, limit, nullptr);
}

int readTextLine(std::istream& in, std::string& line, TextPosition& position, std::size_t limit) {
    return readLine(in, line, limit, &position);
}

std::vector<std::string> splitTokens(std::string_view line) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    const std::size_t n = line.size();
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (tokens.size() < kMaxTokens) {
        while (i < n && isBlank(line[i])) ++i;
        if (i < n && line[i] == '"') {
            ++i;
            const std::size_t start = i;
            while (i < n && line[i] != '"' && i - start < kMaxQuotedTokenLength) ++i;
            tokens.emplace_back(line.substr(start, i - start));
            if (i < n && line[i] == '"') ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < n && !isBlank(line[i])) ++i;
        if (i == start) break;
        tokens.emplace_back(line.substr(start, i - start));
    }
    return tokens;
}

int equalsNoCase(std::string_view a, std::string_view b) {
    return asciiEqualNoCase(a, b) ? 1 : 0;
}

namespace {

// 10^k with the exact small powers and repeated squaring beyond them, so that
// results match the program's historical parsing bit for bit.
double powerOfTen(long long k) {
    switch (k) {
        case -1: return 0.1;
        case 0: return 1.0;
        case 1: return 10.0;
        case 2: return 100.0;
        default: break;
    }
    unsigned long long m = k < 0 ? static_cast<unsigned long long>(-k) : static_cast<unsigned long long>(k);
    double result = 1.0;
    double base = 10.0;
    while (m != 0) {
        if (m & 1) result *= base;
        base *= base;
        m >>= 1;
    }
    return k < 0 ? 1.0 / result : result;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int parseReal(std::string_view text, double& value) {
    double mantissa = 0.0;
    long long decimals = 0;
    bool digitSeen = false;
    bool pointSeen = false;
    bool percentSeen = false;
    bool negative = false;
    int result = 0;

    std::size_t i = 0;
    const std::size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    auto finish = [&]() {
        if (percentSeen) decimals += 2;
        double v = mantissa / powerOfTen(decimals);
        value = negative ? -v : v;
    };

    for (; i < n; ++i) {
        const char c = text[i];
        if (c == ',') continue;
        if (isDigit(c)) {
            mantissa = mantissa * 10.0 + (c - '0');
            digitSeen = true;
            if (pointSeen) ++decimals;
            continue;
        }
        if (c == '.') {
            if (pointSeen) {
                result = 1;
                break;
            }
            pointSeen = true;
            continue;
        }
        if (c == '%') {
            if (percentSeen) {
                result = 1;
                break;
            }
            percentSeen = true;
            continue;
        }
        break;
    }
    if (result == 0 && i < n && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) negativeExponent = text[i++] == '-';
        if (i >= n || !isDigit(text[i])) {
            finish();
            return 1;
        }
        int exponent = text[i++] - '0';
        if (i < n && isDigit(text[i])) exponent = exponent * 10 + (text[i++] - '0');
        decimals -= negativeExponent ? -exponent : exponent;
    }
    finish();
    if (result != 0) return 1;
    if (!digitSeen && !pointSeen) return 1;
    return i < n ? 1 : 0;
}

int parseInteger(std::string_view text, std::int32_t& value) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    // The magnitude is gathered in 64 bits and saturates just past the 32-bit
    // range, so an absurd digit run in a hand-edited file cannot overflow.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    bool digitSeen = false;
    bool overflow = false;
    for (; i < n && isDigit(text[i]); ++i) {
        digitSeen = true;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kLimit) {
            magnitude = kLimit;
            overflow = true;
        }
    }
    if (negative) {
        value = static_cast<std::int32_t>(-magnitude);
    } else {
        if (magnitude == kLimit) overflow = true;
        value = static_cast<std::int32_t>(std::min(magnitude, kLimit - 1));
    }
    if (overflow) return 1;
    return (!digitSeen || i < n) ? 1 : 0;
}

}  // namespace calivant
