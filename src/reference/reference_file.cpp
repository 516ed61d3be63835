// Reads a target reference file:
//
//   IT8.7/2
//   ORIGINATOR "..."                      <- header lines, ignored
//   NUMBER_OF_FIELDS 13
//   BEGIN_DATA_FORMAT
//   SAMPLE_ID XYZ_X XYZ_Y XYZ_Z LAB_L LAB_A LAB_B LAB_C LAB_H ...
//   END_DATA_FORMAT
//   BEGIN_DATA
//   A1   3.26 2.87 1.61   19.51 8.63 7.42   ...
//   GS23 0.40 0.43 0.54    3.87 -0.56 -3.42 ...
//   END_DATA
//
// The first token of the file identifies the chart. Data lines are read by
// fixed columns (name, X, Y, Z, L*, a*, b*) unless the field list names the
// columns in another order: then they are taken by name (SAMPLE_LOC naming
// the patch when SAMPLE_ID is a number), and whichever of XYZ or L*a*b* the
// file lacks is computed relative to D50.
//
// A profile fitted to values the file does not hold is wrong without
// showing it, so the values of a patch the target uses are refused rather
// than guessed at: a token that is not wholly a number, L* outside the
// scale, a negative Y, a patch given twice with different values. Lines of
// other patches and columns that are not read are left alone.
#include "reference/reference_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "util/cie.h"
#include "util/utf8.h"
#include "reference/text_input.h"
#include "target/target_layout.h"

namespace calivant {
namespace {

// Only the first columns of a line can be tokens (splitTokens keeps at most
// kMaxTokens), so a longer field list names nothing that could be read.
constexpr std::size_t kMaxFieldNames = kMaxTokens;
constexpr std::size_t kFixedColumnCount = 7;
constexpr const char* kStandardFields[kFixedColumnCount] = {"SAMPLE_ID", "XYZ_X", "XYZ_Y", "XYZ_Z",
                                                            "LAB_L",     "LAB_A", "LAB_B"};

// The charts whose names follow a rule rather than a list.
struct NamingRule {
    int grays;          // gray steps; GSn names gray grays - 1 - n
    int rows;           // colour rows A, B, ...
    int columns;        // colour columns 1..columns
    // Other names, any case, of the lightest (Dmin) and darkest (Dmax) step;
    // null where the chart has none.
    const char* firstStep;
    const char* lastStep;
};
constexpr NamingRule kIt8Naming{24, 12, 19, "GS0", "GS23"};
constexpr NamingRule kColorCheckerNaming{6, 3, 6, nullptr, nullptr};

bool keywordMatches(std::string_view token, int targetType) {
    switch (static_cast<TargetType>(targetType)) {
        case TargetType::It8: return equalsNoCase(token, "IT8.7/1") || equalsNoCase(token, "IT8.7/2");
        case TargetType::ColorChecker: return equalsNoCase(token, "ColorChecker");
        case TargetType::ColorCheckerDc: return equalsNoCase(token, "ColorCheckerDC");
        case TargetType::ColorCheckerSg: return equalsNoCase(token, "ColorCheckerSG");
        case TargetType::Hct: return equalsNoCase(token, "HCT");
        default: return false;
    }
}

// The integer behind a prefix; a trailing rest is ignored ("A5x" is A5).
std::int32_t integerAfter(std::string_view name, std::size_t prefix) {
    std::int32_t value = 0;
    parseInteger(name.substr(prefix), value);
    return value;
}

// Gray steps named GSn (upper case) and rows named by a letter, each followed
// by a number; Dmin and Dmax in any case.
int indexByRule(std::string_view name, const NamingRule& rule, int& isGray) {
    const int lightest = rule.grays - 1;
    if (equalsNoCase(name, "Dmin") || (rule.firstStep && equalsNoCase(name, rule.firstStep))) {
        isGray = 1;
        return lightest;
    }
    if (equalsNoCase(name, "Dmax") || (rule.lastStep && equalsNoCase(name, rule.lastStep))) {
        isGray = 1;
        return 0;
    }
    if (name.size() >= 2 && name[0] == 'G' && name[1] == 'S') {
        const std::int32_t n = integerAfter(name, 2);
        if (n >= 1 && n <= rule.grays - 2) {
            isGray = 1;
            return lightest - n;
        }
    }
    if (!name.empty() && name[0] >= 'A' && name[0] < 'A' + rule.rows) {
        const int row = name[0] - 'A';
        const std::int32_t column = integerAfter(name, 1);
        if (column >= 1 && column <= rule.columns) {
            isGray = 0;
            return rule.columns * row + column - 1;
        }
    }
    return -1;
}

int indexInList(const std::vector<PatchCell>& cells, std::string_view name) {
    for (std::size_t i = 0; i < cells.size(); ++i)
        if (equalsNoCase(cells[i].name, name)) return static_cast<int>(i);
    return -1;
}

int indexInHctList(const std::vector<PatchCell>& cells, int row, int column) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        int cellRow = 0;
        int cellColumn = 0;
        if (parseHctPatchName(cells[i].name, cellRow, cellColumn) && cellRow == row && cellColumn == column)
            return static_cast<int>(i);
    }
    return -1;
}

// Where a data line's values are.
struct ColumnMap {
    bool named = false;
    int id = -1;   // SAMPLE_ID
    int loc = -1;  // SAMPLE_LOC
    int xyz[3] = {-1, -1, -1};
    int lab[3] = {-1, -1, -1};
    std::size_t needed = kFixedColumnCount;  // tokens a line must have
};

int fieldIndex(const std::vector<std::string>& fields, std::string_view name) {
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (equalsNoCase(fields[i], name)) return static_cast<int>(i);
    return -1;
}

// Fixed columns unless the field list puts the values elsewhere and names
// enough of them to do better: a name column and a full XYZ or L*a*b* triple.
ColumnMap chooseColumns(const std::vector<std::string>& fields) {
    ColumnMap fixed;
    if (fields.empty()) return fixed;
    if (fields.size() >= kFixedColumnCount &&
        std::equal(std::begin(kStandardFields), std::end(kStandardFields), fields.begin(),
                   [](const char* standard, const std::string& field) { return equalsNoCase(standard, field) == 1; }))
        return fixed;

    ColumnMap named;
    named.named = true;
    named.id = fieldIndex(fields, "SAMPLE_ID");
    named.loc = fieldIndex(fields, "SAMPLE_LOC");
    const char* xyzNames[3] = {"XYZ_X", "XYZ_Y", "XYZ_Z"};
    const char* labNames[3] = {"LAB_L", "LAB_A", "LAB_B"};
    for (int i = 0; i < 3; ++i) {
        named.xyz[i] = fieldIndex(fields, xyzNames[i]);
        named.lab[i] = fieldIndex(fields, labNames[i]);
    }
    const bool hasXyz = std::all_of(std::begin(named.xyz), std::end(named.xyz), [](int c) { return c >= 0; });
    const bool hasLab = std::all_of(std::begin(named.lab), std::end(named.lab), [](int c) { return c >= 0; });
    if (!hasXyz) std::fill(std::begin(named.xyz), std::end(named.xyz), -1);
    if (!hasLab) std::fill(std::begin(named.lab), std::end(named.lab), -1);
    if ((named.id < 0 && named.loc < 0) || (!hasXyz && !hasLab)) return fixed;

    int last = std::max(named.id, named.loc);
    for (int i = 0; i < 3; ++i) last = std::max({last, named.xyz[i], named.lab[i]});
    named.needed = static_cast<std::size_t>(last) + 1;
    return named;
}

// L* a little outside 0..100 is measurement noise on the darkest and
// lightest patches; further out the column holds something else.
constexpr double kLowestL = -0.5;
constexpr double kHighestL = 100.5;
// Beyond this a* or b* is no surface colour, whatever the column says.
constexpr double kLargestAb = 500.0;
// A UTF-8 byte-order mark: an editor's, not part of the keyword.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The line each patch was read from (0: not yet), so that a second line for
// it can be compared and named.
struct PatchLines {
    std::vector<std::int32_t> gray;
    std::vector<std::int32_t> color;
};

enum class LineUse { Ignored, Stored, Refused };

// The number in a column; false, with problem set, for a token that is not
// wholly a number or whose value is not finite.
bool realAt(const std::vector<std::string>& tokens, int column, std::int32_t line, double& value,
            ReferenceProblem& problem) {
    const std::string& token = tokens[static_cast<std::size_t>(column)];
    // The text routines skip commas as thousands separators, so "18,5"
    // would read as 185: a decimal comma is refused instead.
    if (token.find(',') != std::string::npos) {
        problem = {line, "comma in a number", token};
        return false;
    }
    if (parseReal(token, value) != 0) {
        problem = {line, "not a number", token};
        return false;
    }
    if (!std::isfinite(value)) {
        problem = {line, "not a finite number", token};
        return false;
    }
    return true;
}

// Reads a triple from three columns and checks its ranges: L* near
// 0..100 and a*, b* within +-500 for L*a*b*; nothing negative for XYZ.
bool tripleAt(const std::vector<std::string>& tokens, const int (&columns)[3], bool lab, std::int32_t line,
              CieTriple& triple, ReferenceProblem& problem) {
    for (int i = 0; i < 3; ++i)
        if (!realAt(tokens, columns[i], line, triple[i], problem)) return false;
    auto refuse = [&](int i, const char* what) {
        problem = {line, what, tokens[static_cast<std::size_t>(columns[i])]};
        return false;
    };
    if (lab) {
        if (triple[0] < kLowestL || triple[0] > kHighestL) return refuse(0, "L* outside 0..100");
        if (std::fabs(triple[1]) > kLargestAb) return refuse(1, "a* outside -500..500");
        if (std::fabs(triple[2]) > kLargestAb) return refuse(2, "b* outside -500..500");
        return true;
    }
    static constexpr const char* kNegative[3] = {"negative X", "negative Y", "negative Z"};
    // X = -999 is the format's own mark of a patch not measured: it stays
    // missing rather than wrong.
    for (int i = 0; i < 3; ++i)
        if (triple[i] < 0.0 && !(i == 0 && triple[0] == kReferenceMissing)) return refuse(i, kNegative[i]);
    return true;
}

// Stores the values of one data line if it describes a patch of the target.
LineUse readPatchLine(const std::vector<std::string>& tokens, const ColumnMap& columns, const TargetLayout& layout,
                      std::int32_t line, ReferenceData& reference, PatchLines& lines, ReferenceProblem& problem) {
    if (tokens.size() < columns.needed) return LineUse::Ignored;
    std::string_view name = tokens[0];
    if (columns.named) {
        std::int32_t number = 0;
        if (columns.id < 0) {
            name = tokens[static_cast<std::size_t>(columns.loc)];
        } else {
            name = tokens[static_cast<std::size_t>(columns.id)];
            if (columns.loc >= 0 && parseInteger(name, number) == 0) name = tokens[static_cast<std::size_t>(columns.loc)];
        }
    }
    int isGray = 0;
    const int index = referencePatchIndex(name, layout, isGray);
    if (index < 0) return LineUse::Ignored;

    static constexpr int kFixedXyz[3] = {1, 2, 3};
    static constexpr int kFixedLab[3] = {4, 5, 6};
    const bool hasXyz = !columns.named || columns.xyz[0] >= 0;
    const bool hasLab = !columns.named || columns.lab[0] >= 0;
    CieTriple xyz{};
    CieTriple lab{};
    if (hasXyz && !tripleAt(tokens, columns.named ? columns.xyz : kFixedXyz, false, line, xyz, problem))
        return LineUse::Refused;
    if (hasLab && !tripleAt(tokens, columns.named ? columns.lab : kFixedLab, true, line, lab, problem))
        return LineUse::Refused;
    if (!hasXyz) xyz = labToXyz(lab);
    if (!hasLab) lab = xyzToLab(xyz);

    const auto i = static_cast<std::size_t>(index);
    CieTriple& storedXyz = isGray ? reference.grayXYZ[i] : reference.colorXYZ[i];
    CieTriple& storedLab = isGray ? reference.grayLab[i] : reference.colorLab[i];
    std::int32_t& firstLine = isGray ? lines.gray[i] : lines.color[i];
    if (firstLine != 0) {
        if (storedXyz == xyz && storedLab == lab) return LineUse::Stored;
        problem = {line, "patch already given with other values on line " + std::to_string(firstLine),
                   std::string(name)};
        return LineUse::Refused;
    }
    storedXyz = xyz;
    storedLab = lab;
    firstLine = line;
    return LineUse::Stored;
}

// The layout's name of a patch, for "patch missing".
const std::string& patchName(const TargetLayout& layout, bool gray, int index) {
    if (gray) return layout.grayCells[static_cast<std::size_t>(grayPositionOfIndex(layout, index))].name;
    return layout.colorCells[static_cast<std::size_t>(index)].name;
}

// Adds field names from a line inside BEGIN_DATA_FORMAT; true once
// END_DATA_FORMAT closes the list.
bool collectFields(const std::vector<std::string>& tokens, std::size_t first, std::vector<std::string>& fields) {
    for (std::size_t i = first; i < tokens.size(); ++i) {
        if (equalsNoCase(tokens[i], "END_DATA_FORMAT")) return true;
        if (fields.size() < kMaxFieldNames) fields.push_back(tokens[i]);
    }
    return false;
}

}  // namespace

int referencePatchIndex(std::string_view name, const TargetLayout& layout, int& isGray) {
    isGray = 0;
    switch (static_cast<TargetType>(layout.targetType)) {
        case TargetType::It8: return indexByRule(name, kIt8Naming, isGray);
        case TargetType::ColorChecker: return indexByRule(name, kColorCheckerNaming, isGray);
        case TargetType::ColorCheckerDc:
        case TargetType::ColorCheckerSg: {
            int index = indexInList(layout.grayCells, name);
            if (index >= 0) {
                isGray = 1;
                return index;
            }
            return indexInList(layout.colorCells, name);
        }
        case TargetType::Hct: {
            int row = 0;
            int column = 0;
            if (!parseHctPatchName(name, row, column)) return -1;
            int index = indexInHctList(layout.grayCells, row, column);
            if (index >= 0) {
                isGray = 1;
                return index;
            }
            return indexInHctList(layout.colorCells, row, column);
        }
        default: return -1;
    }
}

std::string describeReferenceProblem(const ReferenceProblem& problem) {
    std::string text;
    if (problem.line > 0) text = "line " + std::to_string(problem.line) + ": ";
    text += problem.what;
    // The token is the file's own bytes: escape sequences or the NULs of a
    // UTF-16 file must not reach the terminal or the message box as they are.
    if (!problem.token.empty()) text += ": " + printableText(problem.token);
    return text;
}

int readReferenceFile(std::istream& in, int targetType, ReferenceData& reference, ReferenceProblem& problem) {
    problem = {};
    const TargetLayout layout = makeTargetLayout(targetType);
    reference.grayCount = layout.grayCount;
    reference.colorCount = layout.colorCount;
    reference.whiteCount = layout.whiteCount;
    reference.midGrayCount = layout.midGrayCount;
    reference.blackCount = layout.blackCount;
    for (int i = 0; i < layout.grayCount; ++i) reference.grayXYZ[static_cast<std::size_t>(i)][0] = kReferenceMissing;
    for (int i = 0; i < layout.colorCount; ++i) reference.colorXYZ[static_cast<std::size_t>(i)][0] = kReferenceMissing;
    PatchLines patchLines;
    patchLines.gray.assign(static_cast<std::size_t>(layout.grayCount), 0);
    patchLines.color.assign(static_cast<std::size_t>(layout.colorCount), 0);

    bool identified = false;
    bool dataOpen = false;
    bool inFieldList = false;
    bool fieldListSeen = false;
    std::vector<std::string> fields;
    ColumnMap columns;
    std::string line;
    TextPosition position;
    bool firstLine = true;
    while (readTextLine(in, line, position) == 0) {
        if (firstLine && line.starts_with(kByteOrderMark)) line.erase(0, kByteOrderMark.size());
        firstLine = false;
        const std::vector<std::string> tokens = splitTokens(line);
        if (tokens.empty()) continue;
        if (!identified) {
            if (!keywordMatches(tokens[0], targetType)) {
                problem = {position.line, "keyword not recognised for this target type", tokens[0]};
                return kReferenceMalformed;
            }
            identified = true;
            continue;
        }
        if (equalsNoCase(tokens[0], "END_DATA")) {
            if (!dataOpen) {
                problem = {position.line, "END_DATA before BEGIN_DATA", tokens[0]};
                return kReferenceMalformed;
            }
            break;
        }
        if (equalsNoCase(tokens[0], "BEGIN_DATA")) {
            if (dataOpen) {
                problem = {position.line, "BEGIN_DATA a second time", tokens[0]};
                return kReferenceMalformed;
            }
            dataOpen = true;
            inFieldList = false;
            columns = chooseColumns(fields);
            continue;
        }
        if (dataOpen) {
            if (readPatchLine(tokens, columns, layout, position.line, reference, patchLines, problem) ==
                LineUse::Refused)
                return kReferenceMalformed;
        } else if (inFieldList) {
            inFieldList = !collectFields(tokens, 0, fields);
        } else if (!fieldListSeen && equalsNoCase(tokens[0], "BEGIN_DATA_FORMAT")) {
            // Only the first list counts; reading ends with the first table.
            fieldListSeen = true;
            inFieldList = !collectFields(tokens, 1, fields);
        }
    }

    int result = kReferenceComplete;
    for (int i = 0; i < layout.grayCount && result == kReferenceComplete; ++i)
        if (reference.grayXYZ[static_cast<std::size_t>(i)][0] == kReferenceMissing) {
            result = kReferenceGrayMissing;
            problem = {0, "patch missing", patchName(layout, true, i)};
        }
    for (int i = 0; i < layout.colorCount && result == kReferenceComplete; ++i)
        if (reference.colorXYZ[static_cast<std::size_t>(i)][0] == kReferenceMissing) {
            result = kReferenceColorMissing;
            problem = {0, "patch missing", patchName(layout, false, i)};
        }
    // A file that never got as far as its values says so rather than name a patch.
    if (result != kReferenceComplete && !identified) problem = {0, "no identification keyword", ""};
    else if (result != kReferenceComplete && !dataOpen) problem = {0, "BEGIN_DATA missing", ""};
    return result;
}

int readReferenceFile(std::istream& in, int targetType, ReferenceData& reference) {
    ReferenceProblem problem;
    return readReferenceFile(in, targetType, reference, problem);
}

}  // namespace calivant
