// Values a reference file cannot mean are refused, with the line and the
// token that show why; everything a real file holds still reads.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "reference/reference_file.h"
#include "target/target_layout.h"

namespace calivant {
namespace {

constexpr int kIt8 = static_cast<int>(TargetType::It8);

// Keyword on line 1, BEGIN_DATA on line 3, A1 on line 4, every colour
// patch, then GS0..GS23, END_DATA on line 256.
std::vector<std::string> validLines() {
    std::vector<std::string> lines = {"IT8.7/2", "ORIGINATOR \"test\"", "BEGIN_DATA"};
    for (int i = 0; i < 228; ++i)
        lines.push_back(std::string(1, static_cast<char>('A' + i / 19)) + std::to_string(i % 19 + 1) + " " +
                        std::to_string(10 + i) + ".25 20.5 30 50 1 -1");
    for (int n = 0; n < 24; ++n) lines.push_back("GS" + std::to_string(n) + " 40 " + std::to_string(90 - 3 * n) + " 35 60 0 0");
    lines.push_back("END_DATA");
    return lines;
}

using Change = std::function<void(std::vector<std::string>&)>;

// Replaces the line of a patch.
Change patchLine(const std::string& name, const std::string& text) {
    return [=](std::vector<std::string>& lines) {
        for (std::string& line : lines)
            if (line.compare(0, name.size() + 1, name + " ") == 0) line = text;
    };
}

Change beforeEnd(const std::string& text) {
    return [=](std::vector<std::string>& lines) { lines.insert(lines.end() - 1, text); };
}

// Puts a field list on lines 3 to 5, moving A1 to line 7.
Change fieldList(const std::string& fields, const std::string& a1) {
    return [=](std::vector<std::string>& lines) {
        patchLine("A1", a1)(lines);
        lines.insert(lines.begin() + 2, {"BEGIN_DATA_FORMAT", fields, "END_DATA_FORMAT"});
    };
}

int read(const std::vector<std::string>& lines, const std::string& lineEnd, std::string& message,
         ReferenceData& reference) {
    std::string text;
    for (const std::string& line : lines) text += line + lineEnd;
    std::istringstream in(text);
    ReferenceProblem problem;
    const int result = readReferenceFile(in, kIt8, reference, problem);
    message = describeReferenceProblem(problem);
    return result;
}

TEST(ReferenceValidation, RefusalsNameLineAndToken) {
    const std::string longNumber = std::string(230, '9') + "e99";
    struct Case {
        const char* what;
        Change change;
        int result;
        std::string message;
    };
    const Case cases[] = {
        {"trailing letters", patchLine("A1", "A1 18abc 20 30 50 1 -1"), kReferenceMalformed, "line 4: not a number: 18abc"},
        {"nan", patchLine("A1", "A1 10 nan 30 50 1 -1"), kReferenceMalformed, "line 4: not a number: nan"},
        {"inf", patchLine("A1", "A1 10 20 inf 50 1 -1"), kReferenceMalformed, "line 4: not a number: inf"},
        {"hexadecimal", patchLine("A1", "A1 10 20 30 50 0x12 -1"), kReferenceMalformed, "line 4: not a number: 0x12"},
        {"letters", patchLine("B3", "B3 10 20 30 50 1 abc"), kReferenceMalformed, "line 25: not a number: abc"},
        {"beyond double", patchLine("A1", "A1 " + longNumber + " 20 30 50 1 -1"), kReferenceMalformed,
         "line 4: not a finite number: " + longNumber},
        {"L* 500", patchLine("A1", "A1 10 20 30 500 1 -1"), kReferenceMalformed, "line 4: L* outside 0..100: 500"},
        {"L* -50", patchLine("GS3", "GS3 1 2 3 -50 0 0"), kReferenceMalformed, "line 235: L* outside 0..100: -50"},
        {"L* 100.6", patchLine("A1", "A1 10 20 30 100.6 1 -1"), kReferenceMalformed,
         "line 4: L* outside 0..100: 100.6"},
        {"negative Y", patchLine("A1", "A1 10 -0.01 30 50 1 -1"), kReferenceMalformed, "line 4: negative Y: -0.01"},
        {"negative X", patchLine("A1", "A1 -0.1 20 30 50 1 -1"), kReferenceMalformed, "line 4: negative X: -0.1"},
        {"negative Z", patchLine("A1", "A1 10 20 -2 50 1 -1"), kReferenceMalformed, "line 4: negative Z: -2"},
        {"a* beyond 500", patchLine("A1", "A1 10 20 30 50 500.1 -1"), kReferenceMalformed,
         "line 4: a* outside -500..500: 500.1"},
        {"b* beyond -500", patchLine("A1", "A1 10 20 30 50 1 -501"), kReferenceMalformed,
         "line 4: b* outside -500..500: -501"},
        {"decimal comma", patchLine("A1", "A1 10 18,5 30 50 1 -1"), kReferenceMalformed,
         "line 4: comma in a number: 18,5"},
        {"escape in the keyword", [](auto& lines) { lines[0] = "\x1b[31mIT8"; }, kReferenceMalformed,
         "line 1: keyword not recognised for this target type: \\x1b[31mIT8"},
        {"UTF-16", [](auto& lines) { lines[0] = std::string("I\0T\0", 4); }, kReferenceMalformed,
         "line 1: keyword not recognised for this target type: I\\x00T\\x00"},
        {"duplicate", beforeEnd("A1 10.25 20.5 30 50 1 -2"), kReferenceMalformed,
         "line 256: patch already given with other values on line 4: A1"},
        {"Dmin is GS0", beforeEnd("Dmin 40 91 35 60 0 0"), kReferenceMalformed,
         "line 256: patch already given with other values on line 232: Dmin"},
        {"named L*a*b*", fieldList("SAMPLE_ID LAB_L LAB_A LAB_B", "A1 101 0 0"), kReferenceMalformed,
         "line 7: L* outside 0..100: 101"},
        {"named XYZ", fieldList("SAMPLE_ID XYZ_X XYZ_Y XYZ_Z", "A1 10 -1 10"), kReferenceMalformed,
         "line 7: negative Y: -1"},
        {"keyword", [](auto& lines) { lines[0] = "CGATS.17"; }, kReferenceMalformed,
         "line 1: keyword not recognised for this target type: CGATS.17"},
        {"keyword after blank lines", [](auto& lines) { lines[0] = "\n  \nCGATS.17"; }, kReferenceMalformed,
         "line 3: keyword not recognised for this target type: CGATS.17"},
        {"END_DATA first", [](auto& lines) { lines[1] = "END_DATA"; }, kReferenceMalformed,
         "line 2: END_DATA before BEGIN_DATA: END_DATA"},
        {"BEGIN_DATA twice", patchLine("A2", "BEGIN_DATA"), kReferenceMalformed,
         "line 5: BEGIN_DATA a second time: BEGIN_DATA"},
        {"gray missing", patchLine("GS12", ""), kReferenceGrayMissing, "patch missing: GS12"},
        {"colour missing", patchLine("L19", "L19 -999 1 1 1 1 1"), kReferenceColorMissing, "patch missing: L19"},
        {"no data", [](auto& lines) { lines[2] = "NUMBER_OF_SETS 252"; lines.pop_back(); }, kReferenceGrayMissing,
         "BEGIN_DATA missing"},
        {"empty", [](auto& lines) { lines.clear(); }, kReferenceGrayMissing, "no identification keyword"},
    };
    ReferenceData reference;
    std::string message;
    for (const char* lineEnd : {"\r\n", "\r", "\n"}) {
        ASSERT_EQ(read(validLines(), lineEnd, message, reference), kReferenceComplete);
        EXPECT_EQ(message, "");
        for (const Case& c : cases) {
            std::vector<std::string> lines = validLines();
            c.change(lines);
            EXPECT_EQ(read(lines, lineEnd, message, reference), c.result) << c.what;
            EXPECT_EQ(message, c.message) << c.what;
        }
    }
}

TEST(ReferenceValidation, AcceptsWhatRealFilesHold) {
    struct Case {
        const char* what;
        Change change;
    };
    const Case cases[] = {
        {"the same values twice", beforeEnd("A1 10.250 20.50 30.0 50 1 -1.00")},
        {"Dmin as GS0 with its values", beforeEnd("Dmin 40 90 35 60 0 0")},
        {"L* at the edges of the scale", [](auto& lines) {
             patchLine("A1", "A1 0 0 0 -0.5 0 0")(lines);
             patchLine("A2", "A2 96 100 82 100.5 0 0")(lines);
         }},
        {"zero X, Y, Z and a*, b* at 500", patchLine("A1", "A1 0 -0 0 0 -500 500")},
        {"a byte-order mark before the keyword", [](auto& lines) { lines[0] = "\xEF\xBB\xBFIT8.7/2"; }},
        {"extra columns that are not numbers", patchLine("A1", "A1 10 20 30 50 1 -1 n/a \"x y\"")},
        {"lines of patches the target does not use", beforeEnd("A20 nan inf abc -5 500 x")},
        {"short lines", beforeEnd("A1 abc")},
        {"the number forms of the parser", patchLine("A1", "A1 1000.5 2E1 50% 5e-1 .5 +3")},
        {"after END_DATA", [](auto& lines) { lines.push_back("A1 garbage"); }},
    };
    ReferenceData reference;
    std::string message;
    for (const Case& c : cases) {
        std::vector<std::string> lines = validLines();
        c.change(lines);
        EXPECT_EQ(read(lines, "\r\n", message, reference), kReferenceComplete) << c.what << ": " << message;
    }
}

}  // namespace
}  // namespace calivant
