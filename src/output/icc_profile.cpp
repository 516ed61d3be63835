#include "output/icc_profile.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <exception>
#include <limits>

#include "util/text_output.h"
#include "util/cie.h"
#include "util/utf8.h"
#include "profile/fitted_table.h"
#include "profile/regression.h"

namespace calivant {
namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kTagCount = 12;
constexpr std::size_t kTagTableEnd = kHeaderSize + 4 + kTagCount * 12;  // 276
constexpr std::size_t kXyzTagSize = 20;
// "desc" after its ASCII text: Unicode language and count (then the
// Unicode text when there is one), ScriptCode code, count and its 67-byte
// string.
constexpr std::size_t kDescUnicodeHead = 8;
constexpr std::size_t kDescScriptCode = 70;
constexpr std::size_t kLutTableEntries = 256;
// "mft2" takes input tables of 2 to 4096 entries.
constexpr std::size_t kMaxLutTableEntries = 4096;
// More TRC entries than this are no curve we made.
constexpr std::size_t kMaxTrcEntries = 65536;
constexpr std::size_t kLutTablesSize = 3 * kLutTableEntries * 2;  // 1536, the output tables
constexpr std::size_t kLutInputOffset = 52;

constexpr std::uint32_t kVersion = 0x02400000;
constexpr std::uint32_t kS15One = 0x00010000;
// D50 as exact s15Fixed16 for the header illuminant.
constexpr std::uint32_t kIlluminant[3] = {0x0000F6D6, 0x00010000, 0x0000D32D};
// XYZ numbers of the tags: 655.35 per unit of the 0..100 scale, so 100 is
// written as 65535, not 65536.
constexpr double kXyzNumberScale = 655.35;

constexpr std::uint32_t signature(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3]));
}

// Entries of each input table of a pass's tag: the table's own, or 256
// samples of its tone curves.
std::size_t inputEntries(const ProfileTable& table) {
    return table.inputTables.empty() ? kLutTableEntries : table.inputTables.size() / 3;
}

// T: the byte count of one "mft2" tag.
std::size_t lutTagSize(int n, std::size_t entries) {
    const std::size_t grid = static_cast<std::size_t>(n);
    return kLutInputOffset + 3 * entries * 2 + 6 * grid * grid * grid + kLutTablesSize;
}

// The texts as the tags hold them. The ASCII fields are 7-bit: a character
// beyond ASCII becomes "?". A description with such characters also goes
// whole into the tag's Unicode record; an all-ASCII one leaves that record
// empty, as it always has.
struct TagTexts {
    std::string copyright;
    std::string description;
    std::u16string unicodeDescription;
};

TagTexts tagTextsOf(const IccProfileSettings& s) {
    TagTexts texts{asciiOrQuestionMarks(s.copyright), asciiOrQuestionMarks(s.description), {}};
    const bool ascii = std::all_of(s.description.begin(), s.description.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) texts.unicodeDescription = utf16Of(s.description);
    return texts;
}

// Unicode characters with their terminating zero, or none.
std::size_t unicodeCount(const TagTexts& texts) {
    return texts.unicodeDescription.empty() ? 0 : texts.unicodeDescription.size() + 1;
}

// Where each tag starts, in the order of the tag table.
struct TagLayout {
    std::size_t offset[kTagCount];
    std::size_t size[kTagCount];
    std::size_t end;
};

// The byte count of a curve tag holding count entries (1 entry: a gamma).
std::size_t curveTagSize(std::size_t count) { return 12 + 2 * count; }

// The entries of the TRC tags: the result's matrix/TRC curves, or for a
// result without them the single gamma 1.0.
std::size_t trcEntries(const ProfileResult* result) {
    if (!result || result->matrixTrc.curves[0].empty()) return 1;
    return result->matrixTrc.curves[0].size();
}

TagLayout layoutOf(const TagTexts& texts, const IccProfileSettings& s, std::size_t trcCount, std::size_t entries0,
                   std::size_t entries1) {
    const std::size_t lc = texts.copyright.size();
    const std::size_t ld = texts.description.size();
    const std::size_t t0 = lutTagSize(s.clutSize, entries0);
    const std::size_t t = lutTagSize(s.clutSize, entries1);
    TagLayout layout{};
    layout.offset[0] = kTagTableEnd;
    layout.size[0] = lc + 9;
    layout.offset[1] = layout.offset[0] + padTo4(layout.size[0]);
    layout.size[1] = 12 + ld + 1 + kDescUnicodeHead + 2 * unicodeCount(texts) + kDescScriptCode;
    const std::size_t w = layout.offset[1] + padTo4(layout.size[1]);
    for (std::size_t i = 0; i < 5; ++i) {
        layout.offset[2 + i] = w + i * kXyzTagSize;
        layout.size[2 + i] = kXyzTagSize;
    }
    const std::size_t curveSize = curveTagSize(trcCount);
    for (std::size_t i = 0; i < 3; ++i) {
        layout.offset[7 + i] = w + 5 * kXyzTagSize + i * padTo4(curveSize);
        layout.size[7 + i] = curveSize;
    }
    layout.offset[10] = w + 5 * kXyzTagSize + 3 * padTo4(curveSize);
    // The first table's entry counts its padding; the last one's does not.
    layout.size[10] = padTo4(t0);
    layout.offset[11] = layout.offset[10] + padTo4(t0);
    layout.size[11] = t;
    layout.end = layout.offset[11] + t;
    return layout;
}

constexpr std::uint32_t kTagSignatures[kTagCount] = {
    signature("cprt"), signature("desc"), signature("wtpt"), signature("bkpt"), signature("rXYZ"), signature("gXYZ"),
    signature("bXYZ"), signature("rTRC"), signature("gTRC"), signature("bTRC"), signature("A2B0"), signature("A2B1")};

void putText(std::span<std::uint8_t> buffer, std::size_t offset, std::string_view text) {
    assert(offset + text.size() <= buffer.size());
    std::copy(text.begin(), text.end(), buffer.begin() + static_cast<std::ptrdiff_t>(offset));
}

// value x 655.35 as a two's-complement 32-bit number. The table builder
// refuses colorants beyond the range; here they saturate rather than wrap.
std::uint32_t xyzNumber(double value) {
    const std::int64_t scaled = roundHalfAway(value * kXyzNumberScale);
    const std::int64_t held = std::clamp<std::int64_t>(scaled, std::numeric_limits<std::int32_t>::min(),
                                                        std::numeric_limits<std::int32_t>::max());
    return static_cast<std::uint32_t>(held);
}

void putXyzTag(std::span<std::uint8_t> buffer, std::size_t offset, const CieTriple& xyz) {
    putBigEndian32(buffer, offset, signature("XYZ "));
    for (std::size_t i = 0; i < 3; ++i) putBigEndian32(buffer, offset + 8 + 4 * i, xyzNumber(xyz[i]));
}

void putLutTag(std::span<std::uint8_t> buffer, std::size_t offset, int n, const ProfileTable& table) {
    putBigEndian32(buffer, offset, signature("mft2"));
    buffer[offset + 8] = 3;
    buffer[offset + 9] = 3;
    buffer[offset + 10] = static_cast<std::uint8_t>(n);
    for (std::size_t i = 0; i < 3; ++i) putBigEndian32(buffer, offset + 12 + 16 * i, kS15One);
    const std::size_t entries = inputEntries(table);
    putBigEndian16(buffer, offset + 48, static_cast<std::uint16_t>(entries));
    putBigEndian16(buffer, offset + 50, kLutTableEntries);
    std::size_t at = offset + kLutInputOffset;
    if (!table.inputTables.empty()) {
        for (std::uint16_t v : table.inputTables) {
            putBigEndian16(buffer, at, v);
            at += 2;
        }
    } else {
        // 256 samples of the 65536-entry curve: code 257 x i, so entry 255
        // is the curve at 65535.
        for (const ToneCurve& curve : table.toneCurves)
            for (std::size_t i = 0; i < kLutTableEntries; ++i, at += 2) putBigEndian16(buffer, at, curve.values[257 * i]);
    }
    const std::size_t grid = static_cast<std::size_t>(n);
    const std::size_t values = grid * grid * grid * 3;
    for (std::size_t i = 0; i < values; ++i, at += 2) putBigEndian16(buffer, at, table.clut[i]);
    for (std::size_t c = 0; c < 3; ++c)
        for (std::size_t i = 0; i < kLutTableEntries; ++i, at += 2)
            putBigEndian16(buffer, at, static_cast<std::uint16_t>(257 * i));
    assert(at == offset + lutTagSize(n, entries));
}

// Three curves of one length that a curv tag can hold.
bool matrixTrcFits(const ProfileResult* result) {
    if (!result) return true;
    const auto& curves = result->matrixTrc.curves;
    return curves[0].size() <= kMaxTrcEntries && curves[1].size() == curves[0].size() &&
           curves[2].size() == curves[0].size() && curves[0].size() != 1;
}

bool tablesFit(const ProfileTable& table, int n) {
    const std::size_t grid = static_cast<std::size_t>(n);
    if (table.clut.size() < grid * grid * grid * 3) return false;
    if (!table.inputTables.empty() &&
        (table.inputTables.size() % 3 != 0 || inputEntries(table) < 2 || inputEntries(table) > kMaxLutTableEntries))
        return false;
    return std::all_of(table.toneCurves.begin(), table.toneCurves.end(),
                       [](const ToneCurve& c) { return c.values.size() == kToneCurveLength; });
}

void fillProfile(const IccProfileSettings& s, const TagTexts& texts, const ProfileResult& result,
                 const LocalTime& time, const TagLayout& layout, std::span<std::uint8_t> p) {
    // Header.
    putBigEndian32(p, 0, static_cast<std::uint32_t>(layout.end));
    putBigEndian32(p, 4, signature("TSRY"));
    putBigEndian32(p, 8, kVersion);
    putBigEndian32(p, 12, signature("scnr"));
    putBigEndian32(p, 16, signature("RGB "));
    putBigEndian32(p, 20, s.colorSpace == CieXyz ? signature("XYZ ") : signature("Lab "));
    const int date = localDateNumber(time);
    const int clock = localTimeNumber(time);
    const int stamp[6] = {date / 10000, date / 100 % 100, date % 100, clock / 10000, clock / 100 % 100, clock % 100};
    for (std::size_t i = 0; i < 6; ++i) putBigEndian16(p, 24 + 2 * i, static_cast<std::uint16_t>(stamp[i]));
    putBigEndian32(p, 36, signature("acsp"));
    putBigEndian32(p, 40, signature("MSFT"));
    putBigEndian32(p, 48, signature("N/A "));
    putBigEndian32(p, 52, signature("N/A "));
    // The transparency bit sits in the first half of the attributes.
    putBigEndian32(p, 56, s.reflective ? 0 : 1);
    for (std::size_t i = 0; i < 3; ++i) putBigEndian32(p, 68 + 4 * i, kIlluminant[i]);
    putBigEndian32(p, 80, signature("TSRY"));

    // Tag table.
    putBigEndian32(p, kHeaderSize, kTagCount);
    for (std::size_t i = 0; i < kTagCount; ++i) {
        const std::size_t entry = kHeaderSize + 4 + 12 * i;
        putBigEndian32(p, entry, kTagSignatures[i]);
        putBigEndian32(p, entry + 4, static_cast<std::uint32_t>(layout.offset[i]));
        putBigEndian32(p, entry + 8, static_cast<std::uint32_t>(layout.size[i]));
    }

    // Texts, each with its terminating zero (already zero in the buffer).
    putBigEndian32(p, layout.offset[0], signature("text"));
    putText(p, layout.offset[0] + 8, texts.copyright);
    const std::size_t desc = layout.offset[1];
    putBigEndian32(p, desc, signature("desc"));
    putBigEndian32(p, desc + 8, static_cast<std::uint32_t>(texts.description.size() + 1));
    putText(p, desc + 12, texts.description);
    const std::size_t unicode = desc + 12 + texts.description.size() + 1;
    putBigEndian32(p, unicode + 4, static_cast<std::uint32_t>(unicodeCount(texts)));
    for (std::size_t i = 0; i < texts.unicodeDescription.size(); ++i)
        putBigEndian16(p, unicode + 8 + 2 * i, texts.unicodeDescription[i]);

    putXyzTag(p, layout.offset[2], {kD50WhiteX, kD50WhiteY, kD50WhiteZ});
    putXyzTag(p, layout.offset[3], {0.0, 0.0, 0.0});
    // The matrix/TRC tags describe the device as the tables do: the
    // shaper/matrix fit's colorants and curves. A result without them (made
    // by hand) keeps straight curves and the Linear model's colorants.
    const MatrixTrcTags& trc = result.matrixTrc;
    const bool fitted = trcEntries(&result) > 1;
    for (int channel = 0; channel < 3; ++channel)
        putXyzTag(p, layout.offset[4 + channel],
                  fitted ? trc.colorants[static_cast<std::size_t>(channel)] : primaryXyz(result, s.colorSpace, channel));

    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t at = layout.offset[7 + i];
        putBigEndian32(p, at, signature("curv"));
        if (!fitted) {
            putBigEndian32(p, at + 8, 1);
            putBigEndian16(p, at + 12, 0x0100);  // gamma 1.0 as u8Fixed8
            continue;
        }
        const std::vector<std::uint16_t>& curve = trc.curves[i];
        putBigEndian32(p, at + 8, static_cast<std::uint32_t>(curve.size()));
        for (std::size_t k = 0; k < curve.size(); ++k) putBigEndian16(p, at + 12 + 2 * k, curve[k]);
    }

    putLutTag(p, layout.offset[10], s.clutSize, result.perceptual);
    putLutTag(p, layout.offset[11], s.clutSize, result.colorimetric);
}

}  // namespace

IccProfileSettings iccProfileSettingsOf(const ProfileRecord& record) {
    return {record.description, record.copyright, profileConnectionSpace(record.options, record.profile),
            record.reflective, record.options.clutSize};
}

void putBigEndian16(std::span<std::uint8_t> buffer, std::size_t offset, std::uint16_t value) {
    assert(offset + 2 <= buffer.size());
    buffer[offset] = static_cast<std::uint8_t>(value >> 8);
    buffer[offset + 1] = static_cast<std::uint8_t>(value);
}

void putBigEndian32(std::span<std::uint8_t> buffer, std::size_t offset, std::uint32_t value) {
    assert(offset + 4 <= buffer.size());
    buffer[offset] = static_cast<std::uint8_t>(value >> 24);
    buffer[offset + 1] = static_cast<std::uint8_t>(value >> 16);
    buffer[offset + 2] = static_cast<std::uint8_t>(value >> 8);
    buffer[offset + 3] = static_cast<std::uint8_t>(value);
}

std::size_t padTo4(std::size_t count) { return (count + 3) & ~static_cast<std::size_t>(3); }

int localDateNumber(const LocalTime& time) {
    return std::clamp(time.year, 0, 65535) * 10000 + std::clamp(time.month, 0, 99) * 100 + std::clamp(time.day, 0, 99);
}

int localTimeNumber(const LocalTime& time) {
    return std::clamp(time.hour, 0, 99) * 10000 + std::clamp(time.minute, 0, 99) * 100 + std::clamp(time.second, 0, 99);
}

std::size_t iccProfileSize(const IccProfileSettings& settings) { return iccProfileSize(settings, nullptr); }

std::size_t iccProfileSize(const IccProfileSettings& settings, const ProfileResult* result) {
    if (settings.description.size() > kMaxDescriptionLength || settings.copyright.size() > kMaxCopyrightLength ||
        !isValidClutSize(settings.clutSize) || !matrixTrcFits(result))
        return 0;
    const std::size_t entries0 = result ? inputEntries(result->perceptual) : kLutTableEntries;
    const std::size_t entries1 = result ? inputEntries(result->colorimetric) : kLutTableEntries;
    return layoutOf(tagTextsOf(settings), settings, trcEntries(result), entries0, entries1).end;
}

int buildIccProfile(const IccProfileSettings& settings, const ProfileResult& result, const LocalTime& time,
                    std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    const std::size_t size = iccProfileSize(settings, &result);
    if (size == 0 || !tablesFit(result.perceptual, settings.clutSize) ||
        !tablesFit(result.colorimetric, settings.clutSize))
        return 1;
    try {
        bytes.assign(size, 0);
    } catch (const std::exception&) {
        return 1;
    }
    const TagTexts texts = tagTextsOf(settings);
    fillProfile(settings, texts, result, time,
                layoutOf(texts, settings, trcEntries(&result), inputEntries(result.perceptual),
                         inputEntries(result.colorimetric)),
                bytes);
    return 0;
}

int writeIccProfile(std::ostream& out, const IccProfileSettings& settings, const ProfileResult& result,
                    const LocalTime& time) {
    std::vector<std::uint8_t> bytes;
    if (buildIccProfile(settings, result, time, bytes) != 0) return 1;
    std::size_t count = bytes.size();
    return writeWhole(out, count, bytes.data());
}

}  // namespace calivant
