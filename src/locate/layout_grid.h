#pragma once
// A target layout seen as a grid: the pitch of its columns and rows, and the
// grid positions of its cells of the common size. Matching this grid against
// a patch lattice in each of the eight ways a rectangle can lie (four turns,
// each also mirrored) and at each offset says where the chart can be.

#include <array>
#include <vector>

#include "locate/patch_lattice.h"
#include "target/target_layout.h"

namespace calivant {

// What the printed chart has at a place of the grid: a patch the layout
// measures (a site), a patch it does not (the maker's own columns of an IT8,
// the cells an HCT leaves out of its lists), nothing (an IT8's row letters
// and column numbers), a cell of another size (gray scale), or the frame's
// outside.
enum class CellKind : unsigned char { Site, Patch, Empty, Other, Outside };

struct SiteGrid {
    // Centre of the first column and row, and the pitch, in layout units.
    double u0 = 0.0;
    double t0 = 0.0;
    double pitchU = 0.0;
    double pitchT = 0.0;
    int columns = 0;
    int rows = 0;
    // Size shared by most cells; only these cells are sites of the grid.
    double cellWidth = 0.0;
    double cellHeight = 0.0;
    std::vector<std::array<int, 2>> sites;  // column, row
    // Grid places (column p, row q) whose centres lie inside the frame:
    // p in firstColumn..lastColumn, q in firstRow..lastRow.
    int firstColumn = 0, lastColumn = -1, firstRow = 0, lastRow = -1;
    std::vector<CellKind> kinds;  // row by row over those places

    CellKind kindAt(int p, int q) const;
};

// The grid of a layout; empty (no sites) for a layout without cells.
SiteGrid siteGrid(const TargetLayout& layout);

// How the layout's grid lies on a lattice: the lattice index of layout
// column p and row q is (i, j) = (sp p + oi, sq q + oj), or with `swap`
// (sq q + oi, sp p + oj).
struct GridPlacement {
    bool swap = false;
    int sp = 1;
    int sq = 1;
    int oi = 0;
    int oj = 0;
    int matched = 0;  // sites that meet a lattice patch

    // Continuous: layout point (u, t) to lattice index, and back.
    void toLattice(const SiteGrid& grid, double u, double t, double& i, double& j) const;
    void toLayout(const SiteGrid& grid, double i, double j, double& u, double& t) const;
};

// Every placement whose matched count reaches keepShare of the best one,
// best first.
std::vector<GridPlacement> matchLayoutGrid(const SiteGrid& grid, const PatchLattice& lattice, double keepShare);

}  // namespace calivant
