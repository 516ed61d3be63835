#include "target/target_layout.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "measure/advanced_options.h"

namespace calivant {
namespace {

const std::vector<PatchCell>* allLists(const TargetLayout& layout, int i) {
    const std::vector<PatchCell>* lists[] = {&layout.colorCells, &layout.grayCells, &layout.whiteCells,
                                             &layout.midGrayCells, &layout.blackCells};
    return lists[i];
}

const PatchCell& cellNamed(const TargetLayout& layout, const std::string& name) {
    for (int i = 0; i < 5; ++i)
        for (const PatchCell& cell : *allLists(layout, i))
            if (cell.name == name) return cell;
    ADD_FAILURE() << "no cell " << name;
    static const PatchCell none;
    return none;
}

TEST(TargetLayout, CountsPerTarget) {
    struct Expected {
        TargetType type;
        int color, gray, white, midGray, black;
    };
    const Expected table[] = {{TargetType::It8, 228, 24, 0, 0, 0},
                              {TargetType::ColorChecker, 18, 6, 0, 0, 0},
                              {TargetType::ColorCheckerDc, 164, 13, 20, 20, 20},
                              {TargetType::ColorCheckerSg, 81, 15, 14, 16, 14},
                              {TargetType::Hct, 444, 60, 9, 9, 13}};
    for (const Expected& e : table) {
        const TargetLayout layout = makeTargetLayout(static_cast<int>(e.type));
        SCOPED_TRACE(static_cast<int>(e.type));
        EXPECT_EQ(layout.targetType, static_cast<int>(e.type));
        EXPECT_EQ(layout.colorCount, e.color);
        EXPECT_EQ(layout.grayCount, e.gray);
        EXPECT_EQ(layout.whiteCount, e.white);
        EXPECT_EQ(layout.midGrayCount, e.midGray);
        EXPECT_EQ(layout.blackCount, e.black);
        EXPECT_EQ(layout.colorCells.size(), static_cast<std::size_t>(e.color));
        EXPECT_EQ(layout.grayCells.size(), static_cast<std::size_t>(e.gray));
        EXPECT_EQ(layout.whiteCells.size(), static_cast<std::size_t>(e.white));
        EXPECT_EQ(layout.midGrayCells.size(), static_cast<std::size_t>(e.midGray));
        EXPECT_EQ(layout.blackCells.size(), static_cast<std::size_t>(e.black));
        EXPECT_LE(layout.colorCount, kMaxColorPatches);
        EXPECT_LE(layout.grayCount, kMaxGrayPatches);
    }
    EXPECT_EQ(makeTargetLayout(9).colorCount, 0);
}

// Every cell inside the chart, every name used once, and no two patches
// overlapping (HCT cells may touch): a typo in a name table shows up here.
// The DC and SG corners are written to four decimals, which puts the SG's
// last column 0.000017 past the edge; half a unit of the fourth decimal is
// allowed for that.
TEST(TargetLayout, CellsInsideTheChartAndDistinct) {
    constexpr double kTolerance = 5e-5;
    for (int type = 0; type < kTargetTypeCount; ++type) {
        SCOPED_TRACE(type);
        const TargetLayout layout = makeTargetLayout(type);
        std::vector<const PatchCell*> cells;
        std::set<std::string> names;
        for (int i = 0; i < 5; ++i) {
            for (const PatchCell& cell : *allLists(layout, i)) {
                EXPECT_GE(cell.u, 0.0) << cell.name;
                EXPECT_GE(cell.t, 0.0) << cell.name;
                EXPECT_GT(cell.width, 0.0) << cell.name;
                EXPECT_GT(cell.height, 0.0) << cell.name;
                EXPECT_LE(cell.u + cell.width, 1.0 + kTolerance) << cell.name;
                EXPECT_LE(cell.t + cell.height, 1.0 + kTolerance) << cell.name;
                EXPECT_TRUE(names.insert(cell.name).second) << "duplicate " << cell.name;
                cells.push_back(&cell);
            }
        }
        for (std::size_t i = 0; i < cells.size(); ++i) {
            for (std::size_t j = i + 1; j < cells.size(); ++j) {
                const PatchCell& a = *cells[i];
                const PatchCell& b = *cells[j];
                const bool apart = a.u + a.width <= b.u + kTolerance || b.u + b.width <= a.u + kTolerance ||
                                   a.t + a.height <= b.t + kTolerance || b.t + b.height <= a.t + kTolerance;
                EXPECT_TRUE(apart) << a.name << " overlaps " << b.name;
            }
        }
    }
}

TEST(TargetLayout, ChartEdges) {
    const TargetLayout it8 = makeTargetLayout(static_cast<int>(TargetType::It8));
    double right = 0;
    for (const PatchCell& cell : it8.colorCells) right = std::max(right, cell.u + cell.width);
    EXPECT_NEAR(right, 0.8333, 1e-4);
    EXPECT_EQ(it8.colorCells.front().name, "A1");
    EXPECT_EQ(it8.colorCells[19].name, "B1");
    EXPECT_EQ(it8.colorCells.back().name, "L19");
    EXPECT_DOUBLE_EQ(it8.colorCells[19].t, 0.125);  // 0.0625 x (row + 1)
    EXPECT_NEAR(it8.grayCells[12].u, 0.5, 1e-15);   // p / 24

    const TargetLayout dc = makeTargetLayout(static_cast<int>(TargetType::ColorCheckerDc));
    double dcRight = 0;
    double dcBottom = 0;
    for (int i = 0; i < 5; ++i)
        for (const PatchCell& cell : *allLists(dc, i)) {
            dcRight = std::max(dcRight, cell.u + cell.width);
            dcBottom = std::max(dcBottom, cell.t + cell.height);
        }
    EXPECT_NEAR(dcRight, 0.9917, 1e-4);
    EXPECT_NEAR(dcBottom, 0.9861, 1e-4);

    const TargetLayout sg = makeTargetLayout(static_cast<int>(TargetType::ColorCheckerSg));
    EXPECT_DOUBLE_EQ(cellNamed(sg, "N10").u, 0.9401);
    EXPECT_DOUBLE_EQ(cellNamed(sg, "N10").t, 0.9157);
    EXPECT_NEAR(cellNamed(sg, "E5").u, 4 * 0.875 / 12.1, 1e-4);
    EXPECT_NEAR(cellNamed(sg, "E5").t, 4 * 0.875 / 8.6, 1e-4);
}

TEST(TargetLayout, GrayOrder) {
    const TargetLayout it8 = makeTargetLayout(static_cast<int>(TargetType::It8));
    EXPECT_EQ(it8.grayCells.front().name, "GS0");
    EXPECT_EQ(grayIndexOfPosition(it8, 0), 23);
    EXPECT_EQ(it8.grayCells.back().name, "GS23");
    EXPECT_EQ(grayIndexOfPosition(it8, 23), 0);
    EXPECT_EQ(grayPositionOfIndex(it8, 23), 0);

    const TargetLayout cc = makeTargetLayout(static_cast<int>(TargetType::ColorChecker));
    const char* ccNames[] = {"Dmin", "GS1", "GS2", "GS3", "GS4", "Dmax"};
    for (int p = 0; p < 6; ++p) {
        EXPECT_EQ(cc.grayCells[static_cast<std::size_t>(p)].name, ccNames[p]);
        EXPECT_EQ(grayIndexOfPosition(cc, p), 5 - p);
        EXPECT_DOUBLE_EQ(cc.grayCells[static_cast<std::size_t>(p)].t, 3 * 105.0 / 407.0);
    }
    EXPECT_EQ(cc.colorCells[17].name, "C6");

    for (TargetType type : {TargetType::ColorCheckerDc, TargetType::ColorCheckerSg, TargetType::Hct}) {
        const TargetLayout layout = makeTargetLayout(static_cast<int>(type));
        for (int p = 0; p < layout.grayCount; ++p) EXPECT_EQ(grayIndexOfPosition(layout, p), p);
    }
    const TargetLayout sg = makeTargetLayout(static_cast<int>(TargetType::ColorCheckerSg));
    EXPECT_EQ(sg.grayCells.front().name, "E6");
    EXPECT_EQ(sg.grayCells.back().name, "E5");
}

TEST(TargetLayout, DcDoubleGrayCell) {
    const TargetLayout dc = makeTargetLayout(static_cast<int>(TargetType::ColorCheckerDc));
    ASSERT_EQ(dc.grayCells.size(), 13u);
    const PatchCell& last = dc.grayCells.back();
    EXPECT_EQ(last.name, "J6");
    // Twice the pitch less one gap, in both directions.
    const double pitchU = 0.05;
    const double pitchT = 1.0 / 12.0;
    const PatchCell& single = dc.grayCells.front();
    EXPECT_NEAR(last.width, 2 * pitchU - (pitchU - single.width), 1e-12);
    EXPECT_NEAR(last.height, 2 * pitchT - (pitchT - single.height), 1e-12);
    EXPECT_DOUBLE_EQ(last.u, 9 * 0.05);
    EXPECT_DOUBLE_EQ(last.t, 0.4167);
    // The cells it covers are no patches of their own.
    for (int i = 0; i < 5; ++i)
        for (const PatchCell& cell : *allLists(dc, i))
            EXPECT_TRUE(cell.name != "K6" && cell.name != "J7" && cell.name != "K7") << cell.name;
    // DC names carry no leading zero.
    EXPECT_EQ(dc.colorCells.front().name, "B2");
    EXPECT_EQ(dc.whiteCells.front().name, "A1");
}

TEST(TargetLayout, HctNamesAndCorners) {
    const TargetLayout hct = makeTargetLayout(static_cast<int>(TargetType::Hct));
    EXPECT_EQ(hct.colorCells.front().name, "B02");
    EXPECT_EQ(hct.whiteCells.front().name, "A01");
    EXPECT_EQ(hct.colorCells.back().name, "U25");
    EXPECT_EQ(hct.grayCells[0].name, "U28");
    EXPECT_EQ(hct.grayCells[1].name, "U27");
    EXPECT_EQ(hct.grayCells[3].name, "T28");
    EXPECT_EQ(hct.grayCells.back().name, "B26");
    for (int i = 0; i < 5; ++i)
        for (const PatchCell& cell : *allLists(hct, i)) EXPECT_EQ(cell.name.size(), 3u) << cell.name;
    // Row L stops at column 13, rows T and U start at 14.
    std::set<std::string> colorNames;
    for (const PatchCell& cell : hct.colorCells) colorNames.insert(cell.name);
    EXPECT_TRUE(colorNames.count("L13"));
    EXPECT_FALSE(colorNames.count("L14"));
    EXPECT_FALSE(colorNames.count("T13"));
    EXPECT_TRUE(colorNames.count("T14"));
    // Corners follow from the names; the cells touch.
    const PatchCell& u25 = hct.colorCells.back();
    EXPECT_NEAR(u25.u, 24.0 / 29.0, 1e-15);
    EXPECT_NEAR(u25.t, 20.0 / 22.0, 1e-15);
    EXPECT_NEAR(u25.width, 1.0 / 29.0, 1e-15);
    EXPECT_NEAR(u25.height, 1.0 / 22.0, 1e-15);
    const PatchCell& v29 = cellNamed(hct, "V29");
    EXPECT_NEAR(v29.u + v29.width, 1.0, 1e-12);
    EXPECT_NEAR(v29.t + v29.height, 1.0, 1e-12);
}

TEST(TargetLayout, HctPatchNameShape) {
    int row = -1;
    int column = -1;
    EXPECT_TRUE(parseHctPatchName("B2", row, column));
    EXPECT_EQ(row, 1);
    EXPECT_EQ(column, 2);
    EXPECT_TRUE(parseHctPatchName("b02", row, column));
    EXPECT_EQ(row, 1);
    EXPECT_EQ(column, 2);
    EXPECT_TRUE(parseHctPatchName("U28", row, column));
    EXPECT_EQ(row, 20);
    EXPECT_EQ(column, 28);
    for (const char* bad : {"", "B", "B002", "2B", "B2x", "B 2", "GS1", "\xC3\xA9" "2"})
        EXPECT_FALSE(parseHctPatchName(bad, row, column)) << bad;
}

TEST(TargetLayout, It8CornerMarks) {
    const auto marks = layoutCornerMarks(static_cast<int>(TargetType::It8));
    ASSERT_EQ(marks.size(), 4u);
    EXPECT_DOUBLE_EQ(marks[0].height, 0.0336);
    EXPECT_DOUBLE_EQ(marks[3].u, 0.9776);
    EXPECT_DOUBLE_EQ(marks[3].t, 0.8413);
    for (const LayoutRectangle& mark : marks) {
        EXPECT_LE(mark.u + mark.width, 1.0 + 1e-12);
        EXPECT_LE(mark.t + mark.height, 1.0 + 1e-12);
    }
    EXPECT_TRUE(layoutCornerMarks(static_cast<int>(TargetType::Hct)).empty());
}

}  // namespace
}  // namespace calivant
