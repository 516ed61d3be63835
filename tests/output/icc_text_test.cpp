// Texts beyond ASCII in the profile: the 7-bit fields get one "?" per
// character, the description's Unicode record the whole text, as Little CMS
// reads them back.

#include <gtest/gtest.h>
#include <lcms2.h>

#include <string>
#include <vector>

#include "output/icc_profile.h"

namespace calivant {
namespace {

std::vector<std::uint8_t> profileWith(std::string_view description, std::string_view copyright) {
    IccProfileSettings settings;
    settings.description = description;
    settings.copyright = copyright;
    settings.clutSize = 17;
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(buildIccProfile(settings, ProfileResult{}, LocalTime{2026, 1, 2, 3, 4, 5, 5, 0}, bytes), 0);
    EXPECT_EQ(bytes.size(), iccProfileSize(settings));
    return bytes;
}

std::string asciiOf(cmsHPROFILE profile, cmsInfoType info) {
    char text[400] = {};
    cmsGetProfileInfoASCII(profile, info, "en", "US", text, sizeof text);
    return text;
}

std::uint32_t be32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

// The desc tag's Unicode record, read from the bytes (Little CMS 2.14 skips
// it). Checks that the tag's size covers exactly what it holds.
std::u16string unicodeDescriptionOf(const std::vector<std::uint8_t>& b) {
    const std::size_t entry = 128 + 4 + 12 * 1;  // the second tag
    EXPECT_EQ(be32(b, entry), 0x64657363u);       // "desc"
    const std::size_t at = be32(b, entry + 4);
    const std::size_t size = be32(b, entry + 8);
    const std::size_t unicode = at + 12 + be32(b, at + 8);
    const std::size_t count = be32(b, unicode + 4);
    EXPECT_EQ(size, unicode + 8 + 2 * count + 70 - at);
    std::u16string text;
    for (std::size_t i = 0; i < count; ++i)
        text.push_back(static_cast<char16_t>(b[unicode + 8 + 2 * i] << 8 | b[unicode + 9 + 2 * i]));
    if (!text.empty()) {
        EXPECT_EQ(text.back(), u'\0');
        text.pop_back();
    }
    return text;
}

TEST(IccTexts, NonAsciiGoesIntoTheUnicodeRecordAndQuestionMarks) {
    // Two-, three- and four-byte characters (the last a surrogate pair).
    const std::string description = "Scanner \xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
    const std::vector<std::uint8_t> bytes = profileWith(description, "(c) J\xC3\xBCrgen");
    cmsHPROFILE profile = cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(asciiOf(profile, cmsInfoDescription), "Scanner ?t? ? ?");
    EXPECT_EQ(unicodeDescriptionOf(bytes), u"Scanner \u00e9t\u00e9 \u20ac \U0001F600");
    EXPECT_EQ(asciiOf(profile, cmsInfoCopyright), "(c) J?rgen");
    cmsCloseProfile(profile);

    // An all-ASCII text keeps an empty Unicode record.
    const std::vector<std::uint8_t> plain = profileWith("Scanner", "");
    cmsHPROFILE p2 = cmsOpenProfileFromMem(plain.data(), static_cast<cmsUInt32Number>(plain.size()));
    ASSERT_NE(p2, nullptr);
    EXPECT_EQ(asciiOf(p2, cmsInfoDescription), "Scanner");
    EXPECT_EQ(unicodeDescriptionOf(plain), u"");
    cmsCloseProfile(p2);
    EXPECT_LT(plain.size(), bytes.size());
}

}  // namespace
}  // namespace calivant
