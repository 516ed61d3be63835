#include "reference/reference_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "reference/text_input.h"
#include "support/temp_folder.h"
#include "util/cie.h"

namespace calivant {
namespace {

const std::filesystem::path kShipped = std::filesystem::path(CALIVANT_SOURCE_DIR) / "data/Reference Files/Macbeth";
const std::filesystem::path kReal = std::filesystem::path(CALIVANT_SHARED_REFERENCE_DIR) / "real";

int read(const std::string& text, int targetType, ReferenceData& reference) {
    std::istringstream in(text);
    return readReferenceFile(in, targetType, reference);
}

int read(const std::string& text, int targetType) {
    ReferenceData reference;
    return read(text, targetType, reference);
}

std::string edited(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The built-in ColorChecker files and a target maker's IT8 files read
// completely, each value where its name and column say.
TEST(ReferenceFile, ShippedAndRealFilesReadComplete) {
    const struct { std::filesystem::path file; int targetType; double lightestGrayX, firstGrayL, lastColorX; } files[] = {
        {kShipped / "ColorChecker.ref", 1, 84.3699, 20.64, 12.4797},  {kShipped / "ColorChecker DC.ref", 2, 87.06, 20.56, 6.56},
        {kShipped / "ColorChecker SG.ref", 3, 88.2509, 8.07, 4.2765},        {kReal / "R080505.it8", 0, 77.55, 3.87, 3.81},
        {kReal / "R000926.it8", 0, 78.48, 4.95, 3.32},         {kReal / "E020429.it8", 0, 77.35, 0.42, 4.59}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.file.filename());
        if (f.targetType == 0 && !std::filesystem::is_directory(kReal)) GTEST_SKIP() << "no shared data at " << kReal;
        const std::string text = testing::readFile(f.file);
        ReferenceData r;
        ASSERT_EQ(read(text, f.targetType, r), kReferenceComplete);
        EXPECT_EQ(r.grayXYZ[static_cast<std::size_t>(r.grayCount - 1)][0], f.lightestGrayX);
        EXPECT_EQ(r.grayLab[0][0], f.firstGrayL);
        EXPECT_EQ(r.colorXYZ[static_cast<std::size_t>(r.colorCount - 1)][0], f.lastColorX);
        EXPECT_EQ(read(text, (f.targetType + 1) % kTargetTypeCount), kReferenceMalformed);
    }
}

// One break in a valid file per result, and the rules around each.
TEST(ReferenceFile, ResultOfOneBreakInAValidFile) {
    const std::string valid = testing::readFile(kShipped / "ColorChecker.ref");
    const std::string c6 = "C6\t12.4797\t18.0610\t29.1339\t49.57\t-29.71\t-28.32\r\n";
    const struct { std::string text; int result; } cases[] = {
        {valid, kReferenceComplete},
        {edited(valid, "GS2\t", "GS5\t"), kReferenceGrayMissing},
        {edited(valid, "C6\t", "C7\t"), kReferenceColorMissing},
        {edited(valid, "\t-28.32\r\n", "\r\n"), kReferenceColorMissing},         // six tokens: no patch
        {edited(valid, "C6\t12.4797\t", "C6,12.4797\t"), kReferenceColorMissing},  // commas separate nothing
        {edited(edited(valid, c6, ""), "END_DATA\r\n", "END_DATA\r\n" + c6), kReferenceColorMissing},  // after the end
        {edited(valid, "\r\nC6\t", "\r\n\"C6\"\t"), kReferenceComplete},             // quoted name
        {" \r\n\t\n" + edited(edited(valid, "ColorChecker", "colorchecker"), "BEGIN_DATA\r", "begin_data\r"), kReferenceComplete},
        {edited(valid, "ColorChecker", "ColorCheckerSG"), kReferenceMalformed},
        {"\xEF\xBB\xBF" + valid, kReferenceComplete},  // an editor's byte order mark is skipped
        {"x\xEF\xBB\xBF" + valid, kReferenceMalformed},  // but not inside the keyword
        {edited(valid, "BEGIN_DATA\r\n", "BEGIN_DATA\r\nBEGIN_DATA\r\n"), kReferenceMalformed},
        {edited(valid, "NUMBER_OF_SETS", "END_DATA\r\nNUMBER_OF_SETS"), kReferenceMalformed},
        {"", kReferenceGrayMissing},  // no keyword to refuse, nothing read
    };
    for (const auto& c : cases) EXPECT_EQ(read(c.text, 1), c.result) << c.text;

    // Counts come from the target type even when the file is refused.
    ReferenceData r;
    EXPECT_EQ(read("nothing", 2, r), kReferenceMalformed);
    EXPECT_EQ((std::vector<int>{r.grayCount, r.colorCount, r.whiteCount, r.midGrayCount, r.blackCount}),
              (std::vector<int>{13, 164, 20, 20, 20}));
}

// The valid file's data columns rearranged under a field list: read by name,
// the missing triple computed; the fixed columns when the list allows them.
TEST(ReferenceFile, ColumnsTakenByName) {
    const std::string valid = testing::readFile(kShipped / "ColorChecker.ref");
    ReferenceData original;
    ASSERT_EQ(read(valid, 1, original), kReferenceComplete);
    // Columns of the original line (-1: a running number), the field list, the tolerance.
    const struct { std::vector<int> columns; const char* fields; double tolerance; } cases[] = {
        {{0, 4, 5, 6}, "SAMPLE_ID LAB_L LAB_A LAB_B", 0.01},
        {{0, 1, 2, 3}, "SAMPLE_ID XYZ_X XYZ_Y XYZ_Z", 0.01},
        {{-1, 0, 4, 5, 6, 1, 2, 3}, "SAMPLE_ID SAMPLE_LOC LAB_L LAB_A LAB_B XYZ_X XYZ_Y XYZ_Z", 0},
        {{4, 5, 6, 0, 1, 2, 3}, "LAB_L LAB_A LAB_B SAMPLE_LOC XYZ_X XYZ_Y XYZ_Z", 0},
        {{0, 1, 2, 3, 4, 5, 6, 6}, "SAMPLE_ID XYZ_X XYZ_Y XYZ_Z LAB_L LAB_A LAB_B LAB_C", 0},
        {{0, 1, 2, 3, 4, 5, 6}, "SAMPLE_ID RGB_R RGB_G RGB_B", 0}};  // names nothing useful
    for (const auto& c : cases) {
        std::string text = std::string("ColorChecker\nBEGIN_DATA_FORMAT\n") + c.fields + "\nEND_DATA_FORMAT\nBEGIN_DATA\n";
        std::istringstream in(valid.substr(valid.find("A1\t")));
        std::string line;
        for (int n = 1; readTextLine(in, line) == 0 && line != "END_DATA"; ++n) {
            const std::vector<std::string> tokens = splitTokens(line);
            for (const int column : c.columns) text += (column < 0 ? std::to_string(n) : tokens.at(static_cast<std::size_t>(column))) + " ";
            text += "\n";
        }
        ReferenceData r;
        ASSERT_EQ(read(text, 1, r), kReferenceComplete) << c.fields;
        for (std::size_t i = 0; i < 18; ++i)
            for (std::size_t k = 0; k < 3; ++k)
                EXPECT_TRUE(std::abs(r.colorXYZ[i][k] - original.colorXYZ[i][k]) <= c.tolerance &&
                            std::abs(r.colorLab[i][k] - original.colorLab[i][k]) <= c.tolerance) << c.fields << " " << i;
    }
}

TEST(ReferenceFile, PatchNames) {
    const struct { int targetType; const char* name; int index, isGray; } cases[] = {
        {0, "GS0", 23, 1}, {0, "dmin", 23, 1}, {0, "DMAX", 0, 1}, {0, "GS23", 0, 1}, {0, "GS1", 22, 1},
        {0, "GS22", 1, 1}, {0, "GS5x", 18, 1}, {0, "A1", 0, 0},   {0, "B1", 19, 0},  {0, "L19", 227, 0},
        {1, "Dmax", 0, 1}, {1, "GS4", 1, 1},   {1, "GS1", 4, 1},  {1, "Dmin", 5, 1}, {1, "C6", 17, 0},
        {2, "j6", 12, 1},  {2, "B2", 0, 0},    {3, "E5", 14, 1},  {3, "m9", 80, 0},  {4, "u28", 0, 1},
        {4, "B2", 0, 0},   {4, "B02", 0, 0},   {4, "U25", 443, 0},
    };
    int isGray = -1;
    for (const auto& c : cases) {
        EXPECT_EQ(referencePatchIndex(c.name, makeTargetLayout(c.targetType), isGray), c.index) << c.name;
        EXPECT_EQ(isGray, c.isGray) << c.name;
    }
    const std::vector<std::vector<const char*>> unknown = {
        {"gs5", "GS24", "A20", "L22", "a1", "M1", "A0", "A", "", "GS", "Dmin2"},
        {"GS5", "GS0", "GS23", "D1", "A7"},
        {"A1", "K6", "B02"},  // a border patch, part of the double cell, an HCT spelling
        {"A1", "gs1"},
        {"B002", "B2x", "A01", "W2", "L14", "@2", "[2", "`2", "{2"}};
    for (int type = 0; type < kTargetTypeCount; ++type)
        for (const char* name : unknown[static_cast<std::size_t>(type)])
            EXPECT_EQ(referencePatchIndex(name, makeTargetLayout(type), isGray), -1) << type << " " << name;
}

// A file cut at any byte fails cleanly, and reads once its data is complete.
TEST(ReferenceFile, TruncatedAtEveryByte) {
    const std::string text = testing::readFile(kShipped / "ColorChecker.ref");
    for (std::size_t size = 0; size < text.size(); ++size) {
        const int result = read(text.substr(0, size), 1);
        ASSERT_TRUE(result >= 0 && result <= 3) << size;
        ASSERT_TRUE(size < text.rfind("END_DATA") || result == kReferenceComplete) << size;
    }
}

}  // namespace
}  // namespace calivant
