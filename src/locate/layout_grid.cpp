#include "locate/layout_grid.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace calivant {
namespace {

// Cells whose sizes agree this closely count as the same size.
constexpr double kSizeTolerance = 1e-3;

// Distinct values (within a share of `size`), sorted.
std::vector<double> distinctCentres(std::vector<double> values, double size) {
    std::sort(values.begin(), values.end());
    std::vector<double> distinct;
    for (double v : values)
        if (distinct.empty() || v - distinct.back() > 0.3 * size) distinct.push_back(v);
    return distinct;
}

// Number of grid lines and pitch spanned by distinct centres.
void gridAxis(const std::vector<double>& centres, int& count, double& pitch) {
    if (centres.size() < 2) {
        count = static_cast<int>(centres.size());
        pitch = 1.0;
        return;
    }
    double smallest = 1e300;
    for (std::size_t k = 1; k < centres.size(); ++k) smallest = std::min(smallest, centres[k] - centres[k - 1]);
    const double span = centres.back() - centres.front();
    count = static_cast<int>(std::lround(span / smallest)) + 1;
    pitch = span / (count - 1);
}

bool covers(const PatchCell& c, double u, double t) {
    return u > c.u && u < c.u + c.width && t > c.t && t < c.t + c.height;
}

// Places of the grid that the layout leaves out: a printed IT8 has the
// maker's patches in columns 20..22 and letters or numbers around its
// colour rows; an HCT prints a patch in every cell.
CellKind unlistedKind(const TargetLayout& layout, const SiteGrid& grid, int p, int q) {
    if (layout.targetType == static_cast<int>(TargetType::Hct)) return CellKind::Patch;
    if (layout.targetType == static_cast<int>(TargetType::It8)) {
        int lastSiteRow = 0, lastSiteColumn = 0;
        for (const auto& s : grid.sites) {
            lastSiteColumn = std::max(lastSiteColumn, s[0]);
            lastSiteRow = std::max(lastSiteRow, s[1]);
        }
        if (q >= 0 && q <= lastSiteRow && p > lastSiteColumn && p <= lastSiteColumn + 3) return CellKind::Patch;
    }
    return CellKind::Empty;
}

void classifyCells(const TargetLayout& layout, SiteGrid& grid) {
    grid.firstColumn = static_cast<int>(std::ceil(-grid.u0 / grid.pitchU - 1e-9));
    grid.lastColumn = static_cast<int>(std::floor((1.0 - grid.u0) / grid.pitchU + 1e-9));
    grid.firstRow = static_cast<int>(std::ceil(-grid.t0 / grid.pitchT - 1e-9));
    grid.lastRow = static_cast<int>(std::floor((1.0 - grid.t0) / grid.pitchT + 1e-9));
    const int columns = grid.lastColumn - grid.firstColumn + 1;
    const int rows = grid.lastRow - grid.firstRow + 1;
    if (columns < 1 || rows < 1) return;
    grid.kinds.assign(static_cast<std::size_t>(columns) * rows, CellKind::Empty);
    auto at = [&](int p, int q) -> CellKind& {
        return grid.kinds[static_cast<std::size_t>(q - grid.firstRow) * columns + (p - grid.firstColumn)];
    };
    std::vector<const PatchCell*> others;
    for (const auto* list : {&layout.grayCells, &layout.colorCells, &layout.whiteCells, &layout.midGrayCells,
                             &layout.blackCells})
        for (const PatchCell& c : *list)
            if (std::abs(c.width - grid.cellWidth) > kSizeTolerance || std::abs(c.height - grid.cellHeight) > kSizeTolerance)
                others.push_back(&c);
    for (int q = grid.firstRow; q <= grid.lastRow; ++q)
        for (int p = grid.firstColumn; p <= grid.lastColumn; ++p) {
            const double u = grid.u0 + p * grid.pitchU;
            const double t = grid.t0 + q * grid.pitchT;
            bool other = false;
            for (const PatchCell* c : others) other = other || covers(*c, u, t);
            at(p, q) = other ? CellKind::Other : unlistedKind(layout, grid, p, q);
        }
    for (const auto& s : grid.sites)
        if (s[0] >= grid.firstColumn && s[0] <= grid.lastColumn && s[1] >= grid.firstRow && s[1] <= grid.lastRow)
            at(s[0], s[1]) = CellKind::Site;
}

}  // namespace

CellKind SiteGrid::kindAt(int p, int q) const {
    if (p < firstColumn || p > lastColumn || q < firstRow || q > lastRow) return CellKind::Outside;
    return kinds[static_cast<std::size_t>(q - firstRow) * (lastColumn - firstColumn + 1) + (p - firstColumn)];
}

SiteGrid siteGrid(const TargetLayout& layout) {
    SiteGrid grid;
    std::vector<const PatchCell*> cells;
    for (const auto* list : {&layout.grayCells, &layout.colorCells, &layout.whiteCells, &layout.midGrayCells,
                             &layout.blackCells})
        for (const PatchCell& c : *list) cells.push_back(&c);
    if (cells.empty()) return grid;

    std::map<std::pair<long, long>, int> sizes;
    for (const PatchCell* c : cells)
        ++sizes[{std::lround(c->width / kSizeTolerance), std::lround(c->height / kSizeTolerance)}];
    const auto common = std::max_element(sizes.begin(), sizes.end(),
                                         [](const auto& a, const auto& b) { return a.second < b.second; });
    auto isCommon = [&](const PatchCell& c) {
        return std::lround(c.width / kSizeTolerance) == common->first.first &&
               std::lround(c.height / kSizeTolerance) == common->first.second;
    };
    std::vector<double> us, ts;
    for (const PatchCell* c : cells)
        if (isCommon(*c)) {
            grid.cellWidth = c->width;
            grid.cellHeight = c->height;
            us.push_back(c->u + 0.5 * c->width);
            ts.push_back(c->t + 0.5 * c->height);
        }
    const std::vector<double> columns = distinctCentres(us, grid.cellWidth);
    const std::vector<double> rows = distinctCentres(ts, grid.cellHeight);
    gridAxis(columns, grid.columns, grid.pitchU);
    gridAxis(rows, grid.rows, grid.pitchT);
    grid.u0 = columns.front();
    grid.t0 = rows.front();
    for (std::size_t k = 0; k < us.size(); ++k)
        grid.sites.push_back({static_cast<int>(std::lround((us[k] - grid.u0) / grid.pitchU)),
                              static_cast<int>(std::lround((ts[k] - grid.t0) / grid.pitchT))});
    classifyCells(layout, grid);
    return grid;
}

void GridPlacement::toLattice(const SiteGrid& grid, double u, double t, double& i, double& j) const {
    const double p = sp * (u - grid.u0) / grid.pitchU;
    const double q = sq * (t - grid.t0) / grid.pitchT;
    i = (swap ? q : p) + oi;
    j = (swap ? p : q) + oj;
}

void GridPlacement::toLayout(const SiteGrid& grid, double i, double j, double& u, double& t) const {
    const double p = sp * (swap ? j - oj : i - oi);
    const double q = sq * (swap ? i - oi : j - oj);
    u = grid.u0 + p * grid.pitchU;
    t = grid.t0 + q * grid.pitchT;
}

std::vector<GridPlacement> matchLayoutGrid(const SiteGrid& grid, const PatchLattice& lattice, double keepShare) {
    std::vector<GridPlacement> all;
    if (grid.sites.empty() || lattice.nodes.empty()) return all;
    int i0 = lattice.nodes[0].i, i1 = i0, j0 = lattice.nodes[0].j, j1 = j0;
    for (const LatticeNode& n : lattice.nodes) {
        i0 = std::min(i0, n.i);
        i1 = std::max(i1, n.i);
        j0 = std::min(j0, n.j);
        j1 = std::max(j1, n.j);
    }
    std::vector<std::array<int, 2>> turned(grid.sites.size());
    for (int orientation = 0; orientation < 8; ++orientation) {
        GridPlacement base;
        base.swap = (orientation & 4) != 0;
        base.sp = (orientation & 1) ? -1 : 1;
        base.sq = (orientation & 2) ? -1 : 1;
        int a0 = 1 << 30, a1 = -(1 << 30), b0 = 1 << 30, b1 = -(1 << 30);
        for (std::size_t k = 0; k < grid.sites.size(); ++k) {
            const int p = base.sp * grid.sites[k][0];
            const int q = base.sq * grid.sites[k][1];
            turned[k] = base.swap ? std::array<int, 2>{q, p} : std::array<int, 2>{p, q};
            a0 = std::min(a0, turned[k][0]);
            a1 = std::max(a1, turned[k][0]);
            b0 = std::min(b0, turned[k][1]);
            b1 = std::max(b1, turned[k][1]);
        }
        // Every pair of a lattice patch and a site votes for the offset that
        // puts the site on the patch; an offset's votes are its matched count.
        const int oi0 = i0 - a1, oj0 = j0 - b1;
        const int ow = (i1 - a0) - oi0 + 1, oh = (j1 - b0) - oj0 + 1;
        std::vector<int> votes(static_cast<std::size_t>(ow) * oh, 0);
        for (const LatticeNode& n : lattice.nodes)
            for (const auto& s : turned)
                ++votes[static_cast<std::size_t>(n.j - s[1] - oj0) * ow + (n.i - s[0] - oi0)];
        for (int y = 0; y < oh; ++y)
            for (int x = 0; x < ow; ++x) {
                const int matched = votes[static_cast<std::size_t>(y) * ow + x];
                if (matched == 0) continue;
                GridPlacement placement = base;
                placement.oi = oi0 + x;
                placement.oj = oj0 + y;
                placement.matched = matched;
                all.push_back(placement);
            }
    }
    int best = 0;
    for (const GridPlacement& p : all) best = std::max(best, p.matched);
    std::vector<GridPlacement> kept;
    for (const GridPlacement& p : all)
        if (p.matched >= keepShare * best) kept.push_back(p);
    std::sort(kept.begin(), kept.end(), [](const GridPlacement& a, const GridPlacement& b) { return a.matched > b.matched; });
    return kept;
}

}  // namespace calivant
