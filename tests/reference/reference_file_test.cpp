#include "reference/reference_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sstream>
#include <string>
#include <vector>

#include "profile/color_conversions.h"
#include "shell/advanced_options.h"
#include "shell/data_folder.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

constexpr int kIt8 = static_cast<int>(TargetType::It8);
constexpr int kColorChecker = static_cast<int>(TargetType::ColorChecker);
constexpr int kDc = static_cast<int>(TargetType::ColorCheckerDc);
constexpr int kSg = static_cast<int>(TargetType::ColorCheckerSg);
constexpr int kHct = static_cast<int>(TargetType::Hct);

int read(const std::string& text, int targetType, ReferenceData& reference) {
    std::istringstream in(text);
    return readReferenceFile(in, targetType, reference);
}

int read(const std::string& text, int targetType) {
    ReferenceData reference;
    return read(text, targetType, reference);
}

std::string number(double v) { return std::to_string(v); }

std::string line(const std::string& name, double x, double y, double z, double l, double a, double b) {
    return name + "\t" + number(x) + "\t" + number(y) + "\t" + number(z) + "\t" + number(l) + "\t" + number(a) +
           "\t" + number(b) + "\r\n";
}

// Every IT8 patch with values that tell where they were stored: colour i has
// X = i + 1, gray index g has X = 1000 + g.
std::vector<std::string> it8Lines() {
    std::vector<std::string> lines;
    for (int i = 0; i < 228; ++i) {
        const std::string name = std::string(1, static_cast<char>('A' + i / 19)) + std::to_string(i % 19 + 1);
        lines.push_back(line(name, i + 1, 2, 3, 4, 5, 6));
    }
    for (int g = 0; g < 24; ++g) lines.push_back(line("GS" + std::to_string(23 - g), 1000 + g, 2, 3, 4, 5, 6));
    return lines;
}

std::string join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) text += l;
    return text;
}

std::string it8File(const std::vector<std::string>& lines, const std::string& keyword = "IT8.7/2") {
    return keyword + "\r\nORIGINATOR \"test\"\r\nBEGIN_DATA\r\n" + join(lines) + "END_DATA\r\n";
}

std::string lineNamed(const std::string& name) {
    for (const std::string& l : it8Lines())
        if (l.compare(0, name.size() + 1, name + "\t") == 0) return l;
    ADD_FAILURE() << name;
    return {};
}

std::vector<std::string> without(std::vector<std::string> lines, const std::string& name) {
    std::erase_if(lines, [&](const std::string& l) { return l.compare(0, name.size() + 1, name + "\t") == 0; });
    return lines;
}

TEST(ReferenceFile, ResultCodes) {
    ReferenceData reference;
    EXPECT_EQ(read(it8File(it8Lines()), kIt8, reference), kReferenceComplete);
    EXPECT_EQ(reference.colorXYZ[0][0], 1.0);
    EXPECT_EQ(reference.colorXYZ[227][0], 228.0);
    EXPECT_EQ(reference.grayXYZ[0][0], 1000.0);    // GS23, the darkest
    EXPECT_EQ(reference.grayXYZ[23][0], 1023.0);   // GS0, the lightest
    EXPECT_EQ(reference.colorLab[100][2], 6.0);

    EXPECT_EQ(read(it8File(without(it8Lines(), "GS5")), kIt8), kReferenceGrayMissing);
    EXPECT_EQ(read(it8File(without(it8Lines(), "L19")), kIt8), kReferenceColorMissing);
    EXPECT_EQ(read(it8File(without(without(it8Lines(), "A1"), "GS0")), kIt8), kReferenceGrayMissing);
    // Identification.
    EXPECT_EQ(read(it8File(it8Lines(), "CGATS.17"), kIt8), kReferenceMalformed);
    EXPECT_EQ(read(it8File(it8Lines(), "it8.7/2"), kIt8), kReferenceComplete);
    EXPECT_EQ(read(it8File(it8Lines(), "IT8.7/1"), kIt8), kReferenceComplete);
    EXPECT_EQ(read(it8File(it8Lines()), kColorChecker), kReferenceMalformed);
    EXPECT_EQ(read("\xEF\xBB\xBF" + it8File(it8Lines()), kIt8), kReferenceMalformed);
    EXPECT_EQ(read(" \r\n\t\n" + it8File(it8Lines()), kIt8), kReferenceComplete);  // blank lines first are fine
    // An empty file has no identification line to refuse; nothing was read.
    EXPECT_EQ(read("", kIt8), kReferenceGrayMissing);
    // Section structure.
    EXPECT_EQ(read("IT8.7/2\nBEGIN_DATA\nBEGIN_DATA\n" + join(it8Lines()), kIt8), kReferenceMalformed);
    EXPECT_EQ(read("IT8.7/2\nEND_DATA\nBEGIN_DATA\n" + join(it8Lines()), kIt8), kReferenceMalformed);
    EXPECT_EQ(read("IT8.7/2\n" + join(it8Lines()), kIt8), kReferenceGrayMissing);  // no BEGIN_DATA
    EXPECT_EQ(read("IT8.7/2\nbegin_data\n" + join(it8Lines()), kIt8), kReferenceComplete);  // no END_DATA
}

TEST(ReferenceFile, CountsComeFromTheTargetTypeEvenOnFailure) {
    ReferenceData reference;
    EXPECT_EQ(read("nothing", kDc, reference), kReferenceMalformed);
    EXPECT_EQ(reference.grayCount, 13);
    EXPECT_EQ(reference.colorCount, 164);
    EXPECT_EQ(reference.whiteCount, 20);
    EXPECT_EQ(reference.midGrayCount, 20);
    EXPECT_EQ(reference.blackCount, 20);
    EXPECT_EQ(read("HCT\n", kHct, reference), kReferenceGrayMissing);
    EXPECT_EQ(reference.grayCount, 60);
    EXPECT_EQ(reference.colorCount, 444);
    EXPECT_EQ(reference.blackCount, 13);
    EXPECT_EQ(reference.grayXYZ[59][0], kReferenceMissing);
    EXPECT_EQ(reference.colorXYZ[443][0], kReferenceMissing);
}

TEST(ReferenceFile, DataLineRules) {
    ReferenceData reference;
    // Lines after END_DATA are not read, even if they would complete the file.
    const std::string tail = "END_DATA\r\n" + lineNamed("GS5");
    EXPECT_EQ(read("IT8.7/2\nBEGIN_DATA\n" + join(without(it8Lines(), "GS5")) + tail, kIt8),
              kReferenceGrayMissing);
    // Six tokens: ignored. Nine: the first seven count.
    auto lines = without(it8Lines(), "A2");
    lines.push_back("A2 1 2 3 4 5\r\n");
    EXPECT_EQ(read(it8File(lines), kIt8), kReferenceColorMissing);
    lines.back() = "A2 7 8 9 10 11 12 13 14\r\n";
    EXPECT_EQ(read(it8File(lines), kIt8, reference), kReferenceComplete);
    EXPECT_EQ(reference.colorXYZ[1], (CieTriple{7, 8, 9}));
    EXPECT_EQ(reference.colorLab[1], (CieTriple{10, 11, 12}));
    // X = -999 leaves the patch missing.
    lines.back() = "A2 -999 8 9 10 11 12\r\n";
    EXPECT_EQ(read(it8File(lines), kIt8), kReferenceColorMissing);
    // Commas do not separate tokens: the line is one token and ignored.
    lines.back() = "A2,1,2,3,4,5,6\r\n";
    EXPECT_EQ(read(it8File(lines), kIt8), kReferenceColorMissing);
    // A quoted name is the name without its quotes.
    lines.back() = "\"A2\" 1 2 3 4 5 6\r\n";
    EXPECT_EQ(read(it8File(lines), kIt8), kReferenceComplete);
}

TEST(ReferenceFile, LongLinesArriveInPieces) {
    // 300 characters: the first 255 make one patch line, the remaining 45
    // another.
    std::string first = "A2 1 2 3 4 5 6";
    first.resize(255, ' ');
    std::string second = "A3 7 8 9 10 11 12";
    second.resize(45, ' ');
    ASSERT_EQ((first + second).size(), 300u);
    auto lines = without(without(it8Lines(), "A2"), "A3");
    lines.push_back(first + second + "\r\n");
    ReferenceData reference;
    EXPECT_EQ(read(it8File(lines), kIt8, reference), kReferenceComplete);
    EXPECT_EQ(reference.colorXYZ[1][0], 1.0);
    EXPECT_EQ(reference.colorXYZ[2][0], 7.0);
}

TEST(ReferenceFile, It8Names) {
    const TargetLayout it8 = makeTargetLayout(kIt8);
    int isGray = -1;
    EXPECT_EQ(referencePatchIndex("GS0", it8, isGray), 23);
    EXPECT_EQ(isGray, 1);
    EXPECT_EQ(referencePatchIndex("dmin", it8, isGray), 23);
    EXPECT_EQ(referencePatchIndex("gs0", it8, isGray), 23);
    EXPECT_EQ(referencePatchIndex("DMAX", it8, isGray), 0);
    EXPECT_EQ(referencePatchIndex("GS23", it8, isGray), 0);
    EXPECT_EQ(referencePatchIndex("GS1", it8, isGray), 22);
    EXPECT_EQ(referencePatchIndex("GS22", it8, isGray), 1);
    EXPECT_EQ(referencePatchIndex("GS5x", it8, isGray), 18);
    EXPECT_EQ(referencePatchIndex("A1", it8, isGray), 0);
    EXPECT_EQ(isGray, 0);
    EXPECT_EQ(referencePatchIndex("A5x", it8, isGray), 4);
    EXPECT_EQ(referencePatchIndex("B1", it8, isGray), 19);
    EXPECT_EQ(referencePatchIndex("L19", it8, isGray), 227);
    for (const char* unknown : {"gs5", "GS24", "A20", "L22", "a1", "M1", "A0", "A", "", "GS", "Gray", "Dmin2"})
        EXPECT_EQ(referencePatchIndex(unknown, it8, isGray), -1) << unknown;

    // GS0 and Dmin fill the same patch; A20..L22 are ignored without harm.
    auto lines = without(it8Lines(), "GS0");
    lines.push_back(line("Dmin", 55, 2, 3, 4, 5, 6));
    for (char row = 'A'; row <= 'L'; ++row)
        for (int column = 20; column <= 22; ++column)
            lines.push_back(line(std::string(1, row) + std::to_string(column), -1, -1, -1, -1, -1, -1));
    ReferenceData reference;
    EXPECT_EQ(read(it8File(lines), kIt8, reference), kReferenceComplete);
    EXPECT_EQ(reference.grayXYZ[23][0], 55.0);
}

TEST(ReferenceFile, ColorCheckerNames) {
    const TargetLayout cc = makeTargetLayout(kColorChecker);
    int isGray = -1;
    const char* grays[] = {"Dmax", "GS4", "GS3", "GS2", "GS1", "Dmin"};
    for (int g = 0; g < 6; ++g) {
        EXPECT_EQ(referencePatchIndex(grays[g], cc, isGray), g);
        EXPECT_EQ(isGray, 1);
    }
    EXPECT_EQ(referencePatchIndex("C6", cc, isGray), 17);
    EXPECT_EQ(isGray, 0);
    for (const char* unknown : {"GS5", "GS0", "GS23", "D1", "A7", "gs1"})
        EXPECT_EQ(referencePatchIndex(unknown, cc, isGray), -1) << unknown;
}

TEST(ReferenceFile, ListNamesForDcSgAndHct) {
    int isGray = -1;
    const TargetLayout dc = makeTargetLayout(kDc);
    EXPECT_EQ(referencePatchIndex("j6", dc, isGray), 12);
    EXPECT_EQ(isGray, 1);
    EXPECT_EQ(referencePatchIndex("B2", dc, isGray), 0);
    EXPECT_EQ(isGray, 0);
    EXPECT_EQ(referencePatchIndex("A1", dc, isGray), -1);  // border patches carry no reference
    EXPECT_EQ(referencePatchIndex("K6", dc, isGray), -1);  // part of the double cell
    EXPECT_EQ(referencePatchIndex("B02", dc, isGray), -1);

    const TargetLayout sg = makeTargetLayout(kSg);
    EXPECT_EQ(referencePatchIndex("E5", sg, isGray), 14);
    EXPECT_EQ(isGray, 1);
    EXPECT_EQ(referencePatchIndex("m9", sg, isGray), 80);
    EXPECT_EQ(isGray, 0);

    const TargetLayout hct = makeTargetLayout(kHct);
    for (const char* name : {"U28", "u28"}) {
        EXPECT_EQ(referencePatchIndex(name, hct, isGray), 0) << name;
        EXPECT_EQ(isGray, 1);
    }
    for (const char* name : {"B02", "B2", "b2"}) {
        EXPECT_EQ(referencePatchIndex(name, hct, isGray), 0) << name;
        EXPECT_EQ(isGray, 0);
    }
    EXPECT_EQ(referencePatchIndex("U25", hct, isGray), 443);
    for (const char* unknown : {"B002", "B2x", "A1", "A01", "B26x", "W2", "L14"})
        EXPECT_EQ(referencePatchIndex(unknown, hct, isGray), -1) << unknown;
}

// The layout of the chart maker's HCT files: tabs after the keyword, CR line
// ends and none after the last line, layout and code blocks in the header,
// names without leading zeros.
TEST(ReferenceFile, HctFileWithoutLeadingZeros) {
    const TargetLayout hct = makeTargetLayout(kHct);
    std::string text = "HCT\t\t\t\rORIGINATOR\t\"test\"\rBEGIN_LAYOUT\rA1 B2\rEND_LAYOUT\rBEGIN_CODE\r1 2\rEND_CODE\r"
                       "NUMBER_OF_FIELDS 7\rBEGIN_DATA_FORMAT\rSAMPLE_ID\tXYZ_X\tXYZ_Y\tXYZ_Z\tLAB_L\tLAB_A\tLAB_B\r"
                       "END_DATA_FORMAT\rBEGIN_DATA\r";
    auto shortName = [](const std::string& name) {
        return name.substr(0, 1) + std::to_string(std::stoi(name.substr(1)));
    };
    for (std::size_t i = 0; i < hct.grayCells.size(); ++i)
        text += shortName(hct.grayCells[i].name) + "\t" + std::to_string(500 + i) + "\t1\t1\t1\t1\t1\r";
    for (std::size_t i = 0; i < hct.colorCells.size(); ++i)
        text += shortName(hct.colorCells[i].name) + "\t" + std::to_string(i) + "\t1\t1\t1\t1\t1\r";
    for (const auto* cells : {&hct.whiteCells, &hct.midGrayCells, &hct.blackCells})
        for (const PatchCell& cell : *cells) text += shortName(cell.name) + "\t9\t9\t9\t9\t9\t9\r";
    text += "END_DATA";
    ASSERT_NE(text.find("\rB2\t"), std::string::npos);

    ReferenceData reference;
    EXPECT_EQ(read(text, kHct, reference), kReferenceComplete);
    EXPECT_EQ(reference.grayXYZ[0][0], 500.0);
    EXPECT_EQ(reference.grayXYZ[59][0], 559.0);
    EXPECT_EQ(reference.colorXYZ[443][0], 443.0);
}

// Files whose field list puts the values elsewhere are read by column name.
TEST(ReferenceFile, NamedColumns) {
    const TargetLayout cc = makeTargetLayout(kColorChecker);
    auto header = [](const std::string& fields) {
        return "ColorChecker\r\nNUMBER_OF_FIELDS 9\r\nBEGIN_DATA_FORMAT\r\n" + fields + "\r\nEND_DATA_FORMAT\r\nBEGIN_DATA\r\n";
    };
    std::vector<std::string> names;
    for (const PatchCell& cell : cc.colorCells) names.push_back(cell.name);
    for (const PatchCell& cell : cc.grayCells) names.push_back(cell.name);

    // L*a*b* only: XYZ computed.
    std::string labOnly = header("SAMPLE_ID LAB_L LAB_A LAB_B");
    for (std::size_t i = 0; i < names.size(); ++i)
        labOnly += names[i] + " " + number(20.0 + 3.0 * static_cast<double>(i)) + " 10 -20\r\n";
    labOnly += "END_DATA\r\n";
    ReferenceData reference;
    EXPECT_EQ(read(labOnly, kColorChecker, reference), kReferenceComplete);
    EXPECT_EQ(reference.colorLab[0], (CieTriple{20, 10, -20}));
    const CieTriple expectedXyz = labToXyz(CieTriple{20, 10, -20});
    for (int c = 0; c < 3; ++c) EXPECT_DOUBLE_EQ(reference.colorXYZ[0][c], expectedXyz[c]);
    EXPECT_EQ(reference.grayLab[5][0], 20.0 + 3.0 * 18);  // Dmin

    // XYZ only: L*a*b* computed.
    std::string xyzOnly = header("SAMPLE_ID XYZ_X XYZ_Y XYZ_Z");
    for (const std::string& name : names) xyzOnly += name + " 30 40 50\r\n";
    xyzOnly += "END_DATA\r\n";
    EXPECT_EQ(read(xyzOnly, kColorChecker, reference), kReferenceComplete);
    const CieTriple expectedLab = xyzToLab(CieTriple{30, 40, 50});
    for (int c = 0; c < 3; ++c) EXPECT_DOUBLE_EQ(reference.grayLab[2][c], expectedLab[c]);

    // L*a*b* before XYZ, a numeric SAMPLE_ID and the name in SAMPLE_LOC.
    std::string isoStyle = header("SAMPLE_ID SAMPLE_LOC LAB_L LAB_A LAB_B XYZ_X XYZ_Y XYZ_Z");
    for (std::size_t i = 0; i < names.size(); ++i)
        isoStyle += std::to_string(i + 1) + " " + names[i] + " 50 1 2 " + number(static_cast<double>(i)) + " 6 7\r\n";
    isoStyle += "END_DATA\r\n";
    EXPECT_EQ(read(isoStyle, kColorChecker, reference), kReferenceComplete);
    EXPECT_EQ(reference.colorXYZ[4], (CieTriple{4, 6, 7}));
    EXPECT_EQ(reference.colorLab[4], (CieTriple{50, 1, 2}));

    // A short line in a named file is ignored like a short fixed line.
    std::string shortLine = xyzOnly;
    shortLine.replace(shortLine.find("A1 30 40 50"), 11, "A1 30 40");
    EXPECT_EQ(read(shortLine, kColorChecker), kReferenceColorMissing);
}

TEST(ReferenceFile, FixedColumnsWhereTheFieldListAllowsThem) {
    // The standard seven first, extras behind: fixed columns.
    const std::string standard = "IT8.7/2\nBEGIN_DATA_FORMAT\nSAMPLE_ID XYZ_X XYZ_Y XYZ_Z LAB_L LAB_A LAB_B LAB_C\n"
                                 "END_DATA_FORMAT\nBEGIN_DATA\n" + join(it8Lines()) + "END_DATA\n";
    ReferenceData reference;
    EXPECT_EQ(read(standard, kIt8, reference), kReferenceComplete);
    EXPECT_EQ(reference.colorXYZ[5][0], 6.0);
    // A field list naming neither a full XYZ nor a full L*a*b* triple cannot
    // do better than the fixed columns.
    const std::string useless = "IT8.7/2\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R RGB_G RGB_B\nEND_DATA_FORMAT\n"
                                "BEGIN_DATA\n" + join(it8Lines()) + "END_DATA\n";
    EXPECT_EQ(read(useless, kIt8), kReferenceComplete);
    // The identification rule is kept: a CGATS keyword is refused even with
    // a usable field list.
    const std::string cgats = "CGATS.17\nBEGIN_DATA_FORMAT\nSAMPLE_ID XYZ_X XYZ_Y XYZ_Z\nEND_DATA_FORMAT\n"
                              "BEGIN_DATA\n" + join(it8Lines()) + "END_DATA\n";
    EXPECT_EQ(read(cgats, kIt8), kReferenceMalformed);
    // An unclosed field list ends at BEGIN_DATA.
    const std::string unclosed = "IT8.7/2\nBEGIN_DATA_FORMAT SAMPLE_ID LAB_L LAB_A LAB_B XYZ_X XYZ_Y XYZ_Z\n"
                                 "BEGIN_DATA\nA1 10 0 0 1 2 3\nEND_DATA\n";
    EXPECT_EQ(read(unclosed, kIt8, reference), kReferenceGrayMissing);
    EXPECT_EQ(reference.colorXYZ[0], (CieTriple{1, 2, 3}));
    EXPECT_EQ(reference.colorLab[0], (CieTriple{10, 0, 0}));
}

TEST(ReferenceFile, ReadsFromTheCurrentPosition) {
    std::istringstream in("garbage that is not a keyword\n" + it8File(it8Lines()));
    std::string skipped;
    std::getline(in, skipped);
    ReferenceData reference;
    EXPECT_EQ(readReferenceFile(in, kIt8, reference), kReferenceComplete);
}

// A file cut at any byte fails cleanly (or still reads, once complete).
TEST(ReferenceFile, TruncatedAtEveryByte) {
    const std::string text = testing::readFile(std::filesystem::path(CALIVANT_SOURCE_DIR) / "data/Reference Files/Macbeth/ColorChecker.ref");
    ASSERT_GT(text.size(), 1000u);
    for (std::size_t size = 0; size <= text.size(); ++size) {
        const int result = read(text.substr(0, size), kColorChecker);
        ASSERT_GE(result, 0);
        ASSERT_LE(result, 3);
        if (size == text.size()) {
            EXPECT_EQ(result, kReferenceComplete);
        }
    }
}

struct ShippedFile {
    const char* name;
    int targetType;
    double tolerance;  // between the file's L*a*b* and the one computed from its XYZ
};

TEST(ReferenceFile, ShippedColorCheckerFiles) {
    const ShippedFile files[] = {{"ColorChecker.ref", kColorChecker, 0.01},
                                 {"ColorChecker DC.ref", kDc, 0.01},
                                 {"ColorChecker SG.ref", kSg, 0.01}};
    const std::string folder =
        programDataFolder(std::filesystem::path(CALIVANT_BINARY_DIR) / "bin") + "/Reference Files/Macbeth/";
    for (const ShippedFile& file : files) {
        SCOPED_TRACE(file.name);
        const std::string source =
            testing::readFile(std::filesystem::path(CALIVANT_SOURCE_DIR) / "data/Reference Files/Macbeth" / file.name);
        // The build tree carries the same bytes beside the executables.
        EXPECT_EQ(testing::readFile(folder + file.name), source);
        ReferenceData reference;
        ASSERT_EQ(read(source, file.targetType, reference), kReferenceComplete);
        // The two triples of every patch agree.
        for (int i = 0; i < reference.grayCount + reference.colorCount; ++i) {
            const bool gray = i < reference.grayCount;
            const std::size_t k = static_cast<std::size_t>(gray ? i : i - reference.grayCount);
            const CieTriple& xyz = gray ? reference.grayXYZ[k] : reference.colorXYZ[k];
            const CieTriple& lab = gray ? reference.grayLab[k] : reference.colorLab[k];
            const CieTriple computed = xyzToLab(xyz);
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(computed[c], lab[c], file.tolerance) << i;
        }
        // Gray index 0 is the darkest.
        EXPECT_LT(reference.grayXYZ[0][1], reference.grayXYZ[reference.grayCount - 1][1]);
    }
}

TEST(ReferenceFile, RealIt8Files) {
    struct Expected {
        const char* name;
        double gs0X;  // gray index 23
        double b1X;   // colour index 19
        double gs23L; // gray index 0
    };
    const Expected files[] = {{"R080505.it8", 77.55, 3.26, 3.87},
                              {"R000926.it8", 78.48, 3.02, 4.95},
                              {"E020429.it8", 77.35, 3.05, 0.42}};
    const std::filesystem::path realFolder = std::filesystem::path(CALIVANT_SHARED_REFERENCE_DIR) / "real";
    if (!std::filesystem::is_directory(realFolder)) GTEST_SKIP() << "no shared reference data at " << realFolder;
    for (const Expected& e : files) {
        SCOPED_TRACE(e.name);
        ReferenceData reference;
        const std::string text = testing::readFile(realFolder / e.name);
        ASSERT_FALSE(text.empty());
        ASSERT_EQ(read(text, kIt8, reference), kReferenceComplete);
        EXPECT_DOUBLE_EQ(reference.grayXYZ[23][0], e.gs0X);
        EXPECT_DOUBLE_EQ(reference.colorXYZ[19][0], e.b1X);
        EXPECT_DOUBLE_EQ(reference.grayLab[0][0], e.gs23L);
        // Not an IT8 file for any other target.
        EXPECT_EQ(read(text, kColorChecker), kReferenceMalformed);
    }
}

}  // namespace
}  // namespace calivant
