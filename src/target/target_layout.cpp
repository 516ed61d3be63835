#include "target/target_layout.h"

#include <cassert>
#include <cmath>
#include <set>
#include <initializer_list>

namespace calivant {
namespace {

// --- IT8: 12 rows A..L by 19 used columns, 24 gray steps along the bottom.
constexpr int kIt8Rows = 12;
constexpr int kIt8Columns = 19;
constexpr int kIt8GraySteps = 24;

// --- ColorChecker: 4 rows by 6 columns, the last row is the gray scale.
constexpr double kCcPitchU = 0.17017828200972449;   // 105/617
constexpr double kCcPitchT = 0.257985257985258;     // 105/407
constexpr double kCcWidth = 0.14910858995137763;    // 92/617
constexpr double kCcHeight = 0.22604422604422605;   // 92/407

// --- ColorChecker DC: 20 columns A..T by 12 rows; corners to four decimals.
constexpr double kDcRowT[12] = {0, 0.0833, 0.1667, 0.25, 0.3333, 0.4167, 0.5, 0.5833, 0.6667, 0.75, 0.8333, 0.9167};
constexpr double kDcWidth = 0.041666666666666664;
constexpr double kDcHeight = 0.06944444444444445;
// The last gray patch J6 spans J6, K6, J7 and K7.
constexpr double kDcDoubleWidth = 0.09166666666666666;
constexpr double kDcDoubleHeight = 0.1527777777777778;

// --- ColorChecker SG: 14 columns A..N by 10 rows; corners to four decimals.
constexpr double kSgColumnU[14] = {0,      0.0723, 0.1446, 0.2169, 0.2893, 0.3616, 0.4339,
                                   0.5062, 0.5785, 0.6508, 0.7231, 0.7955, 0.8678, 0.9401};
constexpr double kSgRowT[10] = {0, 0.1017, 0.2035, 0.3052, 0.4070, 0.5087, 0.6105, 0.7122, 0.8140, 0.9157};
constexpr double kSgWidth = 0.05991735537190083;   // 0.725 / 12.1
constexpr double kSgHeight = 0.08430232558139535;  // 0.725 / 8.6

// --- HCT: 22 rows A..V by 29 columns; the cells touch.
constexpr double kHctPitchU = 0.034482758620689655;  // 1/29
constexpr double kHctPitchT = 0.045454545454545456;  // 1/22

// The number behind the letter of a constant table name such as "A10".
int numberAfterLetter(const char* name) {
    int number = 0;
    for (const char* c = name + 1; *c >= '0' && *c <= '9'; ++c) number = number * 10 + (*c - '0');
    return number;
}

std::string letterNumber(char letter, int number) { return std::string(1, letter) + std::to_string(number); }

std::string hctName(char row, int column) {
    std::string name(1, row);
    if (column < 10) name += '0';
    return name + std::to_string(column);
}

void setCounts(TargetLayout& layout) {
    layout.colorCount = static_cast<int>(layout.colorCells.size());
    layout.grayCount = static_cast<int>(layout.grayCells.size());
    layout.whiteCount = static_cast<int>(layout.whiteCells.size());
    layout.midGrayCount = static_cast<int>(layout.midGrayCells.size());
    layout.blackCount = static_cast<int>(layout.blackCells.size());
}

void buildIt8(TargetLayout& layout) {
    for (int r = 0; r < kIt8Rows; ++r) {
        for (int j = 0; j < kIt8Columns; ++j) {
            PatchCell cell;
            cell.name = letterNumber(static_cast<char>('A' + r), j + 1);
            cell.u = 0.0417 + j * 0.8749363636363637 * 0.047619047619047616;
            cell.t = 0.0625 + r * 0.6875 * 0.09090909090909091;
            cell.width = 0.04166363636363637;
            cell.height = 0.0625;
            layout.colorCells.push_back(cell);
        }
    }
    for (int p = 0; p < kIt8GraySteps; ++p) {
        PatchCell cell;
        cell.name = "GS" + std::to_string(p);
        cell.u = p * 0.9583333333333334 * 0.043478260869565216;
        cell.t = 0.875;
        cell.width = 0.041666666666666664;
        cell.height = 0.125;
        layout.grayCells.push_back(cell);
    }
}

void buildColorChecker(TargetLayout& layout) {
    static const char* const kGrayNames[6] = {"Dmin", "GS1", "GS2", "GS3", "GS4", "Dmax"};
    for (int r = 0; r < 4; ++r) {
        for (int j = 0; j < 6; ++j) {
            PatchCell cell;
            cell.u = j * kCcPitchU;
            cell.t = r * kCcPitchT;
            cell.width = kCcWidth;
            cell.height = kCcHeight;
            if (r < 3) {
                cell.name = letterNumber(static_cast<char>('A' + r), j + 1);
                layout.colorCells.push_back(cell);
            } else {
                cell.name = kGrayNames[j];
                layout.grayCells.push_back(cell);
            }
        }
    }
}

// DC and SG name a cell by column letter, then row number.
PatchCell dcCell(const char* name) {
    const char column = name[0];
    const int row = numberAfterLetter(name);
    PatchCell cell;
    cell.name = name;
    cell.u = (column - 'A') * 0.05;
    cell.t = kDcRowT[row - 1];
    cell.width = kDcWidth;
    cell.height = kDcHeight;
    return cell;
}

PatchCell sgCell(const char* name) {
    const char column = name[0];
    const int row = numberAfterLetter(name);
    PatchCell cell;
    cell.name = name;
    cell.u = kSgColumnU[column - 'A'];
    cell.t = kSgRowT[row - 1];
    cell.width = kSgWidth;
    cell.height = kSgHeight;
    return cell;
}

PatchCell hctCell(const std::string& name) {
    int row = 0;
    int column = 0;
    const bool parsed = parseHctPatchName(name, row, column);
    assert(parsed);
    (void)parsed;
    PatchCell cell;
    cell.name = name;
    cell.u = (column - 1) * kHctPitchU;
    cell.t = row * kHctPitchT;
    cell.width = kHctPitchU;
    cell.height = kHctPitchT;
    return cell;
}

template <typename MakeCell>
void appendCells(std::vector<PatchCell>& cells, std::initializer_list<const char*> names, MakeCell makeCell) {
    for (const char* name : names) cells.push_back(makeCell(name));
}

void buildColorCheckerDc(TargetLayout& layout) {
    for (int row = 2; row <= 11; ++row) {
        for (char column = 'B'; column <= 'S'; ++column) {
            if (row >= 5 && row <= 8 && column >= 'I' && column <= 'L') continue;
            layout.colorCells.push_back(dcCell(letterNumber(column, row).c_str()));
        }
    }
    appendCells(layout.grayCells, {"L8", "K8", "J8", "I8", "L7", "I7", "L6", "I6", "L5", "K5", "J5", "I5", "J6"}, dcCell);
    layout.grayCells.back().width = kDcDoubleWidth;
    layout.grayCells.back().height = kDcDoubleHeight;
    appendCells(layout.whiteCells, {"A1", "A4", "A7", "A10", "B12", "D1", "E12", "G1", "H12", "J1",
                                    "K12", "M1", "N12", "P1", "Q12", "S1", "T3", "T6", "T9", "T12"}, dcCell);
    appendCells(layout.midGrayCells, {"A3", "A6", "A9", "A12", "B1", "D12", "E1", "G12", "H1", "J12",
                                      "K1", "M12", "N1", "P12", "Q1", "S12", "T1", "T4", "T7", "T10"}, dcCell);
    appendCells(layout.blackCells, {"A2", "A5", "A8", "A11", "C1", "C12", "F1", "F12", "I1", "I12",
                                    "L1", "L12", "O1", "O12", "R1", "R12", "T2", "T5", "T8", "T11"}, dcCell);
}

bool isSgGrayCell(char column, int row) {
    if (row == 5) return column >= 'E' && column <= 'J';
    if (row == 6) return column >= 'E' && column <= 'K';
    return (row == 7 || row == 8) && column == 'K';
}

void buildColorCheckerSg(TargetLayout& layout) {
    for (int row = 2; row <= 9; ++row) {
        for (char column = 'B'; column <= 'M'; ++column) {
            if (isSgGrayCell(column, row)) continue;
            layout.colorCells.push_back(sgCell(letterNumber(column, row).c_str()));
        }
    }
    appendCells(layout.grayCells, {"E6", "J5", "K8", "F6", "I5", "G6", "K7", "H5", "H6", "G5", "K6", "I6", "F5", "J6", "E5"},
                sgCell);
    appendCells(layout.whiteCells, {"A1", "A4", "A7", "A10", "D1", "D10", "G1", "G10", "J1", "J10", "N1", "N4", "N7", "N10"},
                sgCell);
    appendCells(layout.midGrayCells, {"A3", "A6", "A9", "B1", "B10", "E1", "E10", "H1", "H10", "K1", "K10", "M1", "M10",
                                      "N2", "N5", "N8"}, sgCell);
    appendCells(layout.blackCells, {"A2", "A5", "A8", "C1", "C10", "F1", "F10", "I1", "I10", "L1", "L10", "N3", "N6", "N9"},
                sgCell);
}

void buildHct(TargetLayout& layout) {
    auto makeCell = [](const char* name) { return hctCell(name); };
    for (char row = 'B'; row <= 'U'; ++row) {
        int first = 2;
        int last = 25;
        if (row == 'L') last = 13;
        if (row == 'T' || row == 'U') first = 14;
        for (int column = first; column <= last; ++column) layout.colorCells.push_back(hctCell(hctName(row, column)));
    }
    for (char row = 'U'; row >= 'B'; --row)
        for (int column = 28; column >= 26; --column) layout.grayCells.push_back(hctCell(hctName(row, column)));
    appendCells(layout.whiteCells, {"A01", "A16", "A29", "L01", "L14", "K29", "V01", "V15", "T29"}, makeCell);
    appendCells(layout.midGrayCells, {"A03", "A17", "C01", "C29", "L16", "M01", "M29", "V03", "V17"}, makeCell);
    appendCells(layout.blackCells, {"A02", "A15", "A28", "B01", "B29", "K01", "L15", "L29", "U01", "U29", "V02", "V16", "V29"},
                makeCell);
}

bool grayListedLightestFirst(int targetType) {
    return targetType == static_cast<int>(TargetType::It8) || targetType == static_cast<int>(TargetType::ColorChecker);
}

}  // namespace

TargetLayout makeTargetLayout(int targetType) {
    TargetLayout layout;
    layout.targetType = targetType;
    switch (static_cast<TargetType>(targetType)) {
        case TargetType::It8: buildIt8(layout); break;
        case TargetType::ColorChecker: buildColorChecker(layout); break;
        case TargetType::ColorCheckerDc: buildColorCheckerDc(layout); break;
        case TargetType::ColorCheckerSg: buildColorCheckerSg(layout); break;
        case TargetType::Hct: buildHct(layout); break;
        default: break;
    }
    setCounts(layout);
    assert(layout.colorCount <= kMaxColorPatches && layout.grayCount <= kMaxGrayPatches);
    return layout;
}

int grayIndexOfPosition(const TargetLayout& layout, int position) {
    return grayListedLightestFirst(layout.targetType) ? layout.grayCount - 1 - position : position;
}

int grayPositionOfIndex(const TargetLayout& layout, int grayIndex) {
    // The mapping is its own inverse.
    return grayIndexOfPosition(layout, grayIndex);
}

std::vector<LayoutRectangle> layoutCornerMarks(int targetType) {
    if (targetType != static_cast<int>(TargetType::It8)) return {};
    return {{0.0, 0.0, 0.0224, 0.0336},
            {0.0, 0.8413, 0.0224, 0.033},
            {0.9776, 0.0, 0.0224, 0.033},
            {0.9776, 0.8413, 0.0224, 0.033}};
}

bool parseHctPatchName(std::string_view name, int& row, int& column) {
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (name.size() < 2 || name.size() > 3) return false;
    const char letter = name[0];
    if (letter >= 'A' && letter <= 'Z') {
        row = letter - 'A';
    } else if (letter >= 'a' && letter <= 'z') {
        row = letter - 'a';
    } else {
        return false;
    }
    column = 0;
    for (std::size_t i = 1; i < name.size(); ++i) {
        if (!isDigit(name[i])) return false;
        column = column * 10 + (name[i] - '0');
    }
    return true;
}

double chartAspect(const TargetLayout& layout) {
    if (layout.colorCells.empty()) return 1.0;
    const PatchCell& cell = layout.colorCells.front();
    return cell.width > 0.0 && cell.height > 0.0 ? cell.height / cell.width : 1.0;
}

LayoutGrid layoutGrid(const TargetLayout& layout) {
    // Edges are listed to six decimals; a millionth apart is the same edge.
    std::set<long long> lefts;
    std::set<long long> tops;
    for (const std::vector<PatchCell>* cells : {&layout.grayCells, &layout.colorCells})
        for (const PatchCell& cell : *cells) {
            lefts.insert(std::llround(cell.u * 1e6));
            tops.insert(std::llround(cell.t * 1e6));
        }
    return {static_cast<int>(lefts.size()), static_cast<int>(tops.size())};
}

}  // namespace calivant
