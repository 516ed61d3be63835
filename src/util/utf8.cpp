#include "util/utf8.h"

#include <algorithm>

namespace calivant {

std::string_view truncateUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t cut = maxBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the
    // character that the cap would split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

}  // namespace calivant

namespace calivant {
namespace {

// Decodes the sequence at text[i]; returns its length (0 when invalid) and
// the code point.
std::size_t decodeOne(std::string_view text, std::size_t i, char32_t& out) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        out = lead;
        return 1;
    }
    std::size_t length;
    char32_t value;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    out = value;
    return length;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    char32_t c;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = decodeOne(text, i, c);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::u32string decodeUtf8(std::string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        char32_t c;
        const std::size_t n = decodeOne(text, i, c);
        out.push_back(n == 0 ? U'\uFFFD' : c);
        i += n == 0 ? 1 : n;
    }
    return out;
}

std::string asciiOrQuestionMarks(std::string_view text) {
    std::string out;
    for (char32_t c : decodeUtf8(text)) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::u16string utf16Of(std::string_view text) {
    std::u16string out;
    for (char32_t c : decodeUtf8(text)) {
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
    }
    return out;
}

}  // namespace calivant

namespace calivant {
namespace {

// The length of the valid UTF-8 sequence at text[i], 0 when there is none.
std::size_t sequenceAt(std::string_view text, std::size_t i) {
    for (std::size_t n = 1; n <= 4 && i + n <= text.size(); ++n)
        if (isValidUtf8(text.substr(i, n))) return n;
    return 0;
}

bool isControlAt(std::string_view text, std::size_t i, std::size_t length) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (length == 1) return b < 0x20 || b == 0x7F;
    return length == 2 && b == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
}

}  // namespace

bool hasControlCharacters(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = sequenceAt(text, i);
        if (n == 0) {
            ++i;
            continue;
        }
        if (isControlAt(text, i, n)) return true;
        i += n;
    }
    return false;
}

std::string withoutControlCharacters(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = std::max<std::size_t>(1, sequenceAt(text, i));
        if (!isControlAt(text, i, n)) out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string printableText(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = sequenceAt(text, i);
        if (n != 0 && !isControlAt(text, i, n)) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        for (std::size_t k = 0; k < std::max<std::size_t>(1, n); ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
        i += std::max<std::size_t>(1, n);
    }
    return out;
}

}  // namespace calivant
