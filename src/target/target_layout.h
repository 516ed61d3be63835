#pragma once
// The patch grid of every supported chart: which patches are measured, their
// names, which form the gray scale, which border patches serve the
// illumination check, and where each lies inside the framed chart.
//
// Positions are fractions of the chart area the user frames with the
// overlay: u runs 0..1 from the left edge, t runs 0..1 from the top edge.
// A cell is the rectangle (u, t)..(u + width, t + height).

#include <string>
#include <string_view>
#include <vector>

namespace calivant {

enum class TargetType : int { It8 = 0, ColorChecker = 1, ColorCheckerDc = 2, ColorCheckerSg = 3, Hct = 4 };
inline constexpr int kTargetTypeCount = 5;

struct PatchCell {
    std::string name;
    double u = 0.0;
    double t = 0.0;
    double width = 0.0;
    double height = 0.0;
};

// A rectangle in layout coordinates that is drawn but never measured (the
// IT8 corner marks).
struct LayoutRectangle {
    double u = 0.0;
    double t = 0.0;
    double width = 0.0;
    double height = 0.0;
};

struct TargetLayout {
    int targetType = 0;
    int colorCount = 0;
    int grayCount = 0;
    int whiteCount = 0;
    int midGrayCount = 0;
    int blackCount = 0;
    // In sampling and drawing order. For colour and border patches the
    // position in the list is the patch index used everywhere else.
    std::vector<PatchCell> colorCells;
    std::vector<PatchCell> grayCells;
    std::vector<PatchCell> whiteCells;
    std::vector<PatchCell> midGrayCells;
    std::vector<PatchCell> blackCells;
};

// Capacities over every chart: the reference arrays and the bad-patch flags
// are sized by these.
inline constexpr int kMaxColorPatches = 444;
inline constexpr int kMaxGrayPatches = 60;

// Builds the layout of a target type (0 IT8, 1 ColorChecker, 2 ColorChecker
// DC, 3 ColorChecker SG, 4 HCT). The HCT corners are computed from the patch
// names. An unknown type gives an empty layout.
TargetLayout makeTargetLayout(int targetType);

// Place in the gray scale (0 = darkest) of the gray cell at a position in
// grayCells. IT8 and ColorChecker list their gray cells lightest first, the
// other charts darkest first.
int grayIndexOfPosition(const TargetLayout& layout, int position);
// The inverse: the position in grayCells of a gray index.
int grayPositionOfIndex(const TargetLayout& layout, int grayIndex);

// How many cells the chart has across (distinct left edges) and down
// (distinct top edges) among its gray and colour patches.
struct LayoutGrid {
    int columns = 0;
    int rows = 0;
};
LayoutGrid layoutGrid(const TargetLayout& layout);

// The chart's width over its height, taking its cells to be square (as
// every chart with border patches prints them); 1 for an empty layout.
double chartAspect(const TargetLayout& layout);

// The four IT8 corner marks (empty for every other chart).
std::vector<LayoutRectangle> layoutCornerMarks(int targetType);

// An HCT patch name: a row letter (either case; row 0 is "A") followed by a
// column number of one or two digits and nothing else. The layout writes two
// digits ("B02"); the chart maker's reference files write "B2". Returns false
// for a name of any other shape.
bool parseHctPatchName(std::string_view name, int& row, int& column);

}  // namespace calivant
