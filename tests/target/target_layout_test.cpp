#include "target/target_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace calivant {
namespace {

std::vector<const PatchCell*> allCells(const TargetLayout& layout) {
    std::vector<const PatchCell*> cells;
    for (const auto* list : {&layout.colorCells, &layout.grayCells, &layout.whiteCells, &layout.midGrayCells,
                             &layout.blackCells})
        for (const PatchCell& cell : *list) cells.push_back(&cell);
    return cells;
}

struct Anchor { const char* name; double u, t, width, height; };

// Per chart: the counts, whether the gray cells are listed lightest first,
// and cells whose corners pin its formulas (pitches, last row and column,
// the gray scale, the DC's double cell, HCT names).
TEST(TargetLayout, CountsGrayOrderAndAnchorCells) {
    const struct {
        std::vector<int> counts;
        bool lightestFirst;
        std::vector<Anchor> anchors;
    } charts[kTargetTypeCount] = {
        {{228, 24, 0, 0, 0}, true, {{"L19", 0.7916454545, 0.75, 0.0416636364, 0.0625}, {"GS12", 0.5, 0.875, 1 / 24.0, 0.125}}},
        {{18, 6, 0, 0, 0}, true, {{"Dmax", 0.8508914100, 0.7739557740, 0.1491085900, 0.2260442260}}},
        {{164, 13, 20, 20, 20}, false, {{"J6", 0.45, 0.4167, 0.0916666667, 0.1527777778}, {"T12", 0.95, 0.9167, 1 / 24.0, 0.0694444444}}},
        {{81, 15, 14, 16, 14}, false, {{"N10", 0.9401, 0.9157, 0.0599173554, 0.0843023256}}},
        {{444, 60, 9, 9, 13}, false, {{"U25", 24 / 29.0, 20 / 22.0, 1 / 29.0, 1 / 22.0}, {"B26", 25 / 29.0, 1 / 22.0, 1 / 29.0, 1 / 22.0}}},
    };
    for (int type = 0; type < kTargetTypeCount; ++type) {
        const TargetLayout l = makeTargetLayout(type);
        const std::vector<const PatchCell*> cells = allCells(l);
        EXPECT_EQ((std::vector<int>{l.colorCount, l.grayCount, l.whiteCount, l.midGrayCount, l.blackCount}), charts[type].counts);
        for (int p = 0; p < l.grayCount; ++p) {
            EXPECT_EQ(grayIndexOfPosition(l, p), charts[type].lightestFirst ? l.grayCount - 1 - p : p) << type;
            EXPECT_EQ(grayPositionOfIndex(l, grayIndexOfPosition(l, p)), p);
        }
        for (const Anchor& a : charts[type].anchors) {
            const auto c = std::find_if(cells.begin(), cells.end(), [&](const PatchCell* c) { return c->name == a.name; });
            ASSERT_NE(c, cells.end()) << a.name;
            EXPECT_NEAR((*c)->u, a.u, 1e-9) << a.name;
            EXPECT_NEAR((*c)->t, a.t, 1e-9) << a.name;
            EXPECT_NEAR((*c)->width, a.width, 1e-9) << a.name;
            EXPECT_NEAR((*c)->height, a.height, 1e-9) << a.name;
        }
    }
    EXPECT_EQ(makeTargetLayout(kTargetTypeCount).colorCount, 0);
}

// Every cell inside the chart, every name used once, no two patches overlapping
// (HCT cells touch): a typo in a name table shows up here. DC and SG corners
// have four decimals, which puts the SG's last column 0.000017 past the edge.
TEST(TargetLayout, CellsInsideTheChartAndDistinct) {
    constexpr double kTolerance = 5e-5;
    for (int type = 0; type < kTargetTypeCount; ++type) {
        const TargetLayout layout = makeTargetLayout(type);
        const std::vector<const PatchCell*> cells = allCells(layout);
        std::set<std::string> names;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const PatchCell& a = *cells[i];
            EXPECT_TRUE(a.u >= 0 && a.t >= 0 && a.width > 0 && a.height > 0 && a.u + a.width <= 1 + kTolerance &&
                        a.t + a.height <= 1 + kTolerance) << a.name;
            EXPECT_TRUE(names.insert(a.name).second) << "duplicate " << a.name;
            for (std::size_t j = i + 1; j < cells.size(); ++j) {
                const PatchCell& b = *cells[j];
                EXPECT_TRUE(a.u + a.width <= b.u + kTolerance || b.u + b.width <= a.u + kTolerance ||
                            a.t + a.height <= b.t + kTolerance || b.t + b.height <= a.t + kTolerance)
                    << a.name << " overlaps " << b.name;
            }
        }
    }
}

}  // namespace
}  // namespace calivant
