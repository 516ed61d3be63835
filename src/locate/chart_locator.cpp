#include "locate/chart_locator.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "locate/chart_edges.h"
#include "locate/frame_model.h"
#include "locate/layout_grid.h"
#include "locate/patch_blobs.h"
#include "locate/patch_fit.h"
#include "locate/patch_lattice.h"
#include "locate/reduced_image.h"
#include "util/parallel.h"

namespace calivant {
namespace {

// The copies the patches are looked for in: the largest holds at most this
// many pixels (its working memory, beside a picture of hundreds of
// megabytes, stays within a few tens of them), each next one half as wide,
// down to this shorter side. A patch is plain in the copy where it is some
// ten to forty pixels across.
constexpr double kMaxLevelPixels = 1.0e6;
constexpr int kMinLevelSide = 48;
// Finer copies, for charts whose patches are too small for it, are made and
// searched a tile at a time, up to this size (the time it takes grows with
// it).
constexpr double kMaxTiledPixels = 8.0e6;
// Of each finer copy, the busiest tiles are searched, about this many pixels
// of them.
constexpr double kTiledPixelBudget = 1.6e6;
constexpr int kEnergyBlock = 4;
constexpr int kMinPictureSide = 16;
constexpr int kMaxLattices = 6;
// Placements of the layout's grid kept for a closer look: those matching at
// least this share of the best one's patches, at most this many.
constexpr double kKeepPlacementShare = 0.6;
constexpr std::size_t kMaxPlacements = 64;
constexpr std::size_t kMaxPlacementsWithReference = 256;
// A placement's model picks up the patches within this share of a pitch of
// where it puts the cells, a few rounds.
constexpr double kCompletionReach = 0.3;
constexpr int kCompletionRounds = 2;
// Sample points per side of a cell when the copy is measured.
constexpr int kCellSamples = 4;
// Two placements pair the patches differently when the sites move by more
// than this many pitches between them (the median site: a placement a row
// off moves every site by a pitch; one framed a little wider, as the whole
// picture frames a cropped scan, pairs them alike).
constexpr double kDistinctPitches = 0.6;
// A site counts as seen when a patch lies within this share of a pitch of it
// (for placements not made from a lattice).
constexpr double kNodeReach = 0.3;

// Thresholds of the decision; each criterion is scaled so that 0 is its
// threshold and 1 a comfortable pass.
constexpr double kMinGridShare = 0.4;  // of the layout's sites met by patches
constexpr double kMinGridShareWithReference = 0.2;
// Patches of the lattice where the printed chart has none (an IT8's
// letters), or just beyond its frame, as a share of the sites met: the
// layout is put a row or column off, or turned the wrong way.
constexpr double kMaxConflictShare = 0.04;
constexpr double kMaxConflictShareWithReference = 0.25;
// An empty cell's hue is unlike the card's beyond this share of the
// patches' scatter of hue, and this share of them may be (glare, a thumb).
constexpr double kEmptyReach = 0.5;
constexpr double kMaxUnlikeEmpty = 0.08;
// ... or its lightness (square root of the level) off the card's smooth
// course by this share of the card's.
constexpr double kEmptyLightnessReach = 0.25;
constexpr double kMaxMisfit = 0.45;    // referenceMisfit of the chosen orientation
constexpr double kMisfitMargin = 1.5;  // the next distinct placement fits this much worse
constexpr double kMinRise = 0.75;      // grayScaleRise without a reference
constexpr double kMaxEdgeResidual = 0.08;  // pitches
constexpr double kMinEdgeInliers = 0.6;
constexpr double kMaxCornerShift = 0.5;  // pitches between the search's and the fitted corners
// The edges are looked for this far from where the search puts them.
constexpr double kSearchLevelPixels = 2.5;
constexpr double kSearchPitches = 0.2;
// A patch's centre may lie this share of a pitch beyond the picture: a scan
// cropped through its outer patches, up to half a patch and a little more,
// still shows enough of them to measure (the samples that fall beyond the
// edge are taken at the edge, still on the patch).
constexpr double kCutSlack = 0.25;

struct Hypothesis {
    FrameModel model;  // image coordinates
    OverlayQuad quad;
    double pitch = 0.0;  // image pixels
    int matched = 0;
    int conflicts = 0;
    int level = 1;  // the copy's reduction factor
    bool mirrored = false;
    bool cutOff = false;  // a site lies off the picture
    // Patches were found as far as the layout's outermost rows and columns
    // on every side: without a reference nothing else holds a placement
    // from sliding along a lattice that covers only part of the chart.
    bool spansChart = false;
    // ... and as far as its outermost printed patches.
    bool spansPrinted = false;
    double misfit = 1.0;
    double rise = -1.0;
};

double signedArea(const OverlayQuad& q) {
    double sum = 0.0;
    for (int k = 0; k < 4; ++k) {
        const ImagePoint& a = q.corners[static_cast<std::size_t>(k)];
        const ImagePoint& b = q.corners[static_cast<std::size_t>((k + 1) % 4)];
        sum += a.x * b.y - b.x * a.y;
    }
    return 0.5 * sum;
}

// How far the sites move from one placement to the other, the median over
// the sites, in the first one's pitches.
double siteShift(const Hypothesis& a, const Hypothesis& b, const SiteGrid& grid) {
    std::vector<double> moves;
    const std::size_t step = std::max<std::size_t>(1, grid.sites.size() / 64);
    for (std::size_t k = 0; k < grid.sites.size(); k += step) {
        const double u = grid.u0 + grid.sites[k][0] * grid.pitchU, t = grid.t0 + grid.sites[k][1] * grid.pitchT;
        const ImagePoint pa = a.model.map(u, t), pb = b.model.map(u, t);
        moves.push_back(std::hypot(pa.x - pb.x, pa.y - pb.y));
    }
    std::nth_element(moves.begin(), moves.begin() + static_cast<std::ptrdiff_t>(moves.size() / 2), moves.end());
    return moves[moves.size() / 2] / a.pitch;
}

bool distinct(const Hypothesis& a, const Hypothesis& b, const SiteGrid& grid) {
    return siteShift(a, b, grid) > kDistinctPitches;
}

double largestCornerShift(const OverlayQuad& a, const OverlayQuad& b) {
    double shift = 0.0;
    for (std::size_t k = 0; k < 4; ++k)
        shift = std::max(shift, std::hypot(a.corners[k].x - b.corners[k].x, a.corners[k].y - b.corners[k].y));
    return shift;
}

ImagePoint centreOf(const OverlayQuad& q) {
    ImagePoint c{0.0, 0.0};
    for (const ImagePoint& p : q.corners) {
        c.x += 0.25 * p.x;
        c.y += 0.25 * p.y;
    }
    return c;
}

// Whether two frames lie apart (another chart), not over each other.
bool apart(const Hypothesis& a, const Hypothesis& b) {
    const ImagePoint ca = centreOf(a.quad);
    const ImagePoint cb = centreOf(b.quad);
    const double size = std::max(std::sqrt(std::abs(signedArea(a.quad))), std::sqrt(std::abs(signedArea(b.quad))));
    return std::hypot(ca.x - cb.x, ca.y - cb.y) > 0.6 * size;
}

// The shorter patch pitch at the frame's centre, in image pixels.
double pitchOf(const FrameModel& model, const SiteGrid& grid) {
    const ImagePoint c = model.map(0.5, 0.5);
    const ImagePoint u = model.map(0.5 + grid.pitchU, 0.5);
    const ImagePoint t = model.map(0.5, 0.5 + grid.pitchT);
    return std::min(std::hypot(u.x - c.x, u.y - c.y), std::hypot(t.x - c.x, t.y - c.y));
}

// Whether a measured patch's centre lies off the picture.
bool anyCellOffPicture(const FrameModel& model, const TargetLayout& layout, int width, int height, double pitch) {
    const double slack = kCutSlack * pitch;
    for (const auto* cells : {&layout.grayCells, &layout.colorCells, &layout.whiteCells, &layout.midGrayCells,
                              &layout.blackCells})
        for (const PatchCell& c : *cells) {
            const ImagePoint p = model.map(c.u + 0.5 * c.width, c.t + 0.5 * c.height);
            if (!(p.x >= -slack && p.y >= -slack && p.x <= width - 1 + slack && p.y <= height - 1 + slack))
                return true;
        }
    return false;
}

// Means of the middle half of every gray (in gray order) and colour cell,
// sampled from the picture itself; NaN where a cell's centre lies off the
// picture. `graySpread` gets the scatter of each gray cell's samples.
void measureCells(const FrameModel& model, const TargetImage& image, const TargetLayout& layout,
                  std::vector<PatchRgb>& gray, std::vector<double>& graySpread, std::vector<PatchRgb>& color) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr int kSamples = kCellSamples * kCellSamples;
    const bool wide = image.format == PixelFormat::Rgb48;
    const double scale = wide ? 1.0 / 65535.0 : 1.0 / 255.0;
    auto pixel = [&](int x, int y, int c) {
        const std::uint8_t* p = image.rows[static_cast<std::size_t>(y)] + static_cast<std::size_t>(x) * (wide ? 6 : 3);
        return wide ? (p[4 - 2 * c] | (p[5 - 2 * c] << 8)) * scale : p[2 - c] * scale;
    };
    auto measure = [&](const PatchCell& cell, double& spread) {
        spread = 0.0;
        const ImagePoint c = model.map(cell.u + 0.5 * cell.width, cell.t + 0.5 * cell.height);
        if (!(c.x >= 0.0 && c.y >= 0.0 && c.x <= image.width - 1.0 && c.y <= image.height - 1.0))
            return PatchRgb{nan, nan, nan};
        double samples[kSamples][3];
        PatchRgb mean{0, 0, 0};
        for (int a = 0; a < kCellSamples; ++a)
            for (int b = 0; b < kCellSamples; ++b) {
                const ImagePoint p = model.map(cell.u + cell.width * (0.25 + 0.5 * (a + 0.5) / kCellSamples),
                                               cell.t + cell.height * (0.25 + 0.5 * (b + 0.5) / kCellSamples));
                const int x = std::clamp(static_cast<int>(std::lround(p.x)), 0, image.width - 1);
                const int y = std::clamp(static_cast<int>(std::lround(p.y)), 0, image.height - 1);
                double* v = samples[a * kCellSamples + b];
                for (int k = 0; k < 3; ++k) {
                    // A 2 x 2 block: some of the noise of a single pixel averaged out.
                    const int x1 = std::min(x + 1, image.width - 1), y1 = std::min(y + 1, image.height - 1);
                    v[k] = 0.25 * (pixel(x, y, k) + pixel(x1, y, k) + pixel(x, y1, k) + pixel(x1, y1, k));
                    mean[static_cast<std::size_t>(k)] += v[k] / kSamples;
                }
            }
        for (const double* v : samples)
            for (int k = 0; k < 3; ++k)
                spread += (v[k] - mean[static_cast<std::size_t>(k)]) * (v[k] - mean[static_cast<std::size_t>(k)]);
        spread = std::sqrt(spread / (3.0 * kSamples));
        return mean;
    };
    gray.assign(layout.grayCells.size(), PatchRgb{nan, nan, nan});
    graySpread.assign(layout.grayCells.size(), 0.0);
    for (std::size_t p = 0; p < layout.grayCells.size(); ++p) {
        const std::size_t g = static_cast<std::size_t>(grayIndexOfPosition(layout, static_cast<int>(p)));
        gray[g] = measure(layout.grayCells[p], graySpread[g]);
    }
    color.clear();
    double unused = 0.0;
    for (const PatchCell& cell : layout.colorCells) color.push_back(measure(cell, unused));
}

// The median colour of 3 x 3 points spread over a layout rectangle centred
// on (u, t), half sizes hu, ht.
PatchRgb cellMedian(const FrameModel& model, const TargetImage& image, double u, double t, double hu, double ht) {
    const bool wide = image.format == PixelFormat::Rgb48;
    const double scale = wide ? 1.0 / 65535.0 : 1.0 / 255.0;
    std::array<std::array<double, 9>, 3> values{};
    int n = 0;
    for (int a = -1; a <= 1; ++a)
        for (int b = -1; b <= 1; ++b, ++n) {
            const ImagePoint p = model.map(u + a * 0.6 * hu, t + b * 0.6 * ht);
            const int x = std::clamp(static_cast<int>(std::lround(p.x)), 0, image.width - 1);
            const int y = std::clamp(static_cast<int>(std::lround(p.y)), 0, image.height - 1);
            const std::uint8_t* px = image.rows[static_cast<std::size_t>(y)] + static_cast<std::size_t>(x) * (wide ? 6 : 3);
            for (int c = 0; c < 3; ++c)
                values[static_cast<std::size_t>(c)][static_cast<std::size_t>(n)] =
                    wide ? (px[4 - 2 * c] | (px[5 - 2 * c] << 8)) * scale : px[2 - c] * scale;
        }
    PatchRgb median{};
    for (int c = 0; c < 3; ++c) {
        auto& v = values[static_cast<std::size_t>(c)];
        std::nth_element(v.begin(), v.begin() + 4, v.end());
        median[static_cast<std::size_t>(c)] = v[4];
    }
    return median;
}

// The root mean square distance of colours (NaN ones left out) from their mean.
double scatter(const std::vector<PatchRgb>& colours) {
    PatchRgb mean{0, 0, 0};
    int n = 0;
    for (const PatchRgb& c : colours)
        if (!std::isnan(c[0])) {
            for (int k = 0; k < 3; ++k) mean[static_cast<std::size_t>(k)] += c[static_cast<std::size_t>(k)];
            ++n;
        }
    if (n < 2) return 0.0;
    for (double& m : mean) m /= n;
    double sum = 0.0;
    for (const PatchRgb& c : colours)
        if (!std::isnan(c[0]))
            for (int k = 0; k < 3; ++k)
                sum += (c[static_cast<std::size_t>(k)] - mean[static_cast<std::size_t>(k)]) *
                       (c[static_cast<std::size_t>(k)] - mean[static_cast<std::size_t>(k)]);
    return std::sqrt(sum / n);
}

// How far each value lies off the plane a + b u + c t fitted to them all,
// the furthest left out of the fit in a few rounds.
std::vector<double> offPlane(const std::vector<std::array<double, 3>>& points) {
    std::vector<char> keep(points.size(), 1);
    std::vector<double> off(points.size(), 0.0);
    for (int round = 0; round < 3; ++round) {
        Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
        Eigen::Vector3d rhs = Eigen::Vector3d::Zero();
        for (std::size_t k = 0; k < points.size(); ++k) {
            if (!keep[k]) continue;
            const Eigen::Vector3d row(1.0, points[k][0], points[k][1]);
            normal += row * row.transpose();
            rhs += row * points[k][2];
        }
        const Eigen::Vector3d plane = normal.ldlt().solve(rhs);
        if (!plane.allFinite()) return off;
        std::vector<double> sizes;
        for (std::size_t k = 0; k < points.size(); ++k) {
            off[k] = points[k][2] - (plane(0) + plane(1) * points[k][0] + plane(2) * points[k][1]);
            sizes.push_back(std::abs(off[k]));
        }
        std::vector<double> sorted = sizes;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
        const double limit = 3.0 * 1.4826 * sorted[sorted.size() / 2] + 1e-6;
        for (std::size_t k = 0; k < points.size(); ++k) keep[k] = sizes[k] <= limit;
    }
    return off;
}

// Sites met and places contradicted by patches at layout grid places.
struct Tally {
    int matched = 0;
    int conflicts = 0;
    int firstColumn = 1 << 30, lastColumn = -(1 << 30), firstRow = 1 << 30, lastRow = -(1 << 30);
};

// The outermost rows and columns of the layout's sites (or printed patches).
struct SiteExtent {
    int firstColumn = 1 << 30, lastColumn = -(1 << 30), firstRow = 1 << 30, lastRow = -(1 << 30);
    // Of the sites, or of every printed patch.
    explicit SiteExtent(const SiteGrid& grid, bool printed = false) {
        for (int q = grid.firstRow; q <= grid.lastRow; ++q)
            for (int p = grid.firstColumn; p <= grid.lastColumn; ++p) {
                const CellKind kind = grid.kindAt(p, q);
                if (kind != CellKind::Site && !(printed && kind == CellKind::Patch)) continue;
                firstColumn = std::min(firstColumn, p);
                lastColumn = std::max(lastColumn, p);
                firstRow = std::min(firstRow, q);
                lastRow = std::max(lastRow, q);
            }
    }
    bool spannedBy(const Tally& t) const {
        return t.firstColumn <= firstColumn && t.lastColumn >= lastColumn && t.firstRow <= firstRow &&
               t.lastRow >= lastRow;
    }
};

// Whether the patches found end, on every side, where the layout's sites end
// or where the chart's printed patches end: a lattice that stops anywhere
// else (a dark first column not found) could be put a column off.
bool endsAtAnEdge(const Tally& t, const SiteExtent& sites, const SiteExtent& printed) {
    auto either = [](int found, int a, int b) { return found == a || found == b; };
    return either(t.firstColumn, sites.firstColumn, printed.firstColumn) &&
           either(t.lastColumn, sites.lastColumn, printed.lastColumn) &&
           either(t.firstRow, sites.firstRow, printed.firstRow) && either(t.lastRow, sites.lastRow, printed.lastRow);
}

void countPlace(const SiteGrid& grid, int p, int q, std::vector<char>& seen, Tally& tally) {
    const CellKind kind = grid.kindAt(p, q);
    if (kind == CellKind::Site || kind == CellKind::Patch) {
        tally.firstColumn = std::min(tally.firstColumn, p);
        tally.lastColumn = std::max(tally.lastColumn, p);
        tally.firstRow = std::min(tally.firstRow, q);
        tally.lastRow = std::max(tally.lastRow, q);
    }
    switch (kind) {
    case CellKind::Site: {
        const std::size_t k = static_cast<std::size_t>(q - grid.firstRow) * (grid.lastColumn - grid.firstColumn + 1) +
                              (p - grid.firstColumn);
        if (!seen[k]) {
            seen[k] = 1;
            ++tally.matched;
        }
        break;
    }
    case CellKind::Empty:
        ++tally.conflicts;
        break;
    case CellKind::Outside:
        // A patch right beside the frame: the lattice runs on where the
        // chart ends, so the layout lies a row or column off.
        if (p >= grid.firstColumn - 1 && p <= grid.lastColumn + 1 && q >= grid.firstRow - 1 && q <= grid.lastRow + 1)
            ++tally.conflicts;
        break;
    default:
        break;
    }
}

// A reduced copy's coordinates: pixel centres to the picture's, and back.
struct Level {
    int factor = 1;
    double toImage(double reduced) const { return factor * reduced + 0.5 * (factor - 1); }
    double fromImage(double image) const { return (image - 0.5 * (factor - 1)) / factor; }
};

// The blobs of a copy by place: the one nearest a point, of about a size.
class BlobFinder {
public:
    explicit BlobFinder(const std::vector<PatchBlob>& blobs) : blobs_(blobs) {
        for (const PatchBlob& b : blobs) {
            maxX_ = std::max(maxX_, b.x);
            maxY_ = std::max(maxY_, b.y);
        }
        columns_ = static_cast<int>(maxX_ / kBucket) + 1;
        rows_ = static_cast<int>(maxY_ / kBucket) + 1;
        buckets_.resize(static_cast<std::size_t>(columns_) * rows_);
        for (std::size_t i = 0; i < blobs.size(); ++i)
            buckets_[static_cast<std::size_t>(static_cast<int>(blobs[i].y / kBucket)) * columns_ +
                     static_cast<std::size_t>(blobs[i].x / kBucket)]
                .push_back(static_cast<int>(i));
    }

    // The blob nearest (x, y) within `reach` whose area is within a factor of
    // two of `area`; -1 when none.
    int nearest(double x, double y, double reach, double area) const {
        const int x0 = std::max(0, static_cast<int>((x - reach) / kBucket));
        const int x1 = std::min(columns_ - 1, static_cast<int>((x + reach) / kBucket));
        const int y0 = std::max(0, static_cast<int>((y - reach) / kBucket));
        const int y1 = std::min(rows_ - 1, static_cast<int>((y + reach) / kBucket));
        int best = -1;
        double bestDistance = reach;
        for (int by = y0; by <= y1; ++by)
            for (int bx = x0; bx <= x1; ++bx)
                for (int i : buckets_[static_cast<std::size_t>(by) * columns_ + bx]) {
                    const PatchBlob& b = blobs_[static_cast<std::size_t>(i)];
                    const double d = std::hypot(b.x - x, b.y - y);
                    if (d <= bestDistance && b.area >= 0.5 * area && b.area <= 2.0 * area) {
                        best = i;
                        bestDistance = d;
                    }
                }
        return best;
    }

private:
    static constexpr double kBucket = 16.0;
    const std::vector<PatchBlob>& blobs_;
    double maxX_ = 0.0, maxY_ = 0.0;
    int columns_ = 1, rows_ = 1;
    std::vector<std::vector<int>> buckets_;
};

class Search {
public:
    Search(const TargetImage& image, const TargetLayout& layout, const ReferenceData* reference)
        : image_(image), layout_(layout), grid_(siteGrid(layout)),
          reference_(reference != nullptr && reference->grayCount == layout.grayCount &&
                             reference->colorCount == layout.colorCount
                         ? reference
                         : nullptr) {}

    const SiteGrid& grid() const { return grid_; }
    bool withReference() const { return reference_ != nullptr; }
    const std::vector<Hypothesis>& hypotheses() const { return hypotheses_; }
    bool sawPatches() const { return sawPatches_; }

    // The placements that the patches found in a copy reduced by `factor`
    // allow (blob coordinates are the copy's).
    void searchLevel(const std::vector<PatchBlob>& blobs, int factor) {
        const Level reduced{factor};
        const std::vector<PatchLattice> lattices = findPatchLattices(blobs, kMaxLattices);
        if (!lattices.empty()) sawPatches_ = true;
        const BlobFinder finder(blobs);
        const std::size_t first = hypotheses_.size();
        for (const PatchLattice& lattice : lattices) {
            // The best placements by patches met (best first): the right one
            // meets the most, give or take a row or column that the chart
            // prints beyond the layout's sites.
            // With a reference the colours tell the placements of a lattice
            // that covers only part of the chart apart, however many there are.
            const std::vector<GridPlacement> placements = matchLayoutGrid(grid_, lattice, kKeepPlacementShare);
            const double least = (reference_ ? kMinGridShareWithReference : kMinGridShare) * grid_.sites.size();
            const std::size_t most = reference_ ? kMaxPlacementsWithReference : kMaxPlacements;
            for (std::size_t k = 0; k < placements.size() && k < most; ++k)
                if (placements[k].matched >= least)
                    addLatticeHypothesis(reduced, blobs, finder, lattice, placements[k]);
        }
        if (!lattices.empty()) addWholePicture(reduced, blobs, lattices.front());
        judge(first);
    }

private:
    void addLatticeHypothesis(const Level& reduced, const std::vector<PatchBlob>& blobs, const BlobFinder& finder,
                              const PatchLattice& lattice, const GridPlacement& placement) {
        Tally tally;
        std::vector<char> seen(grid_.kinds.size(), 0);
        std::vector<std::array<double, 2>> layoutPoints;
        std::vector<ImagePoint> picturePoints;
        std::vector<double> areas;
        for (const LatticeNode& n : lattice.nodes) {
            double u, t;
            placement.toLayout(grid_, n.i, n.j, u, t);
            const int p = static_cast<int>(std::lround((u - grid_.u0) / grid_.pitchU));
            const int q = static_cast<int>(std::lround((t - grid_.t0) / grid_.pitchT));
            countPlace(grid_, p, q, seen, tally);
            const CellKind kind = grid_.kindAt(p, q);
            if (kind == CellKind::Site || kind == CellKind::Patch) {
                layoutPoints.push_back({u, t});
                const PatchBlob& b = blobs[static_cast<std::size_t>(n.blob)];
                picturePoints.push_back({reduced.toImage(b.x), reduced.toImage(b.y)});
                areas.push_back(b.area);
            }
        }
        Hypothesis h;
        h.model = lensFor(image_.width, image_.height);
        if (!fitHomography(h.model, layoutPoints, picturePoints)) return;
        // A lattice that stopped at a gap of two or more patches leaves the
        // rest of the chart to the model's reach; the patches found where it
        // puts the other cells hold it closer.
        if (areas.empty()) return;
        std::nth_element(areas.begin(), areas.begin() + static_cast<std::ptrdiff_t>(areas.size() / 2), areas.end());
        const double typical = areas[areas.size() / 2];
        for (int round = 0; round < kCompletionRounds; ++round) {
            Tally completed = tally;
            completed.matched = 0;
            std::vector<char> met(grid_.kinds.size(), 0);
            layoutPoints.clear();
            picturePoints.clear();
            const double reach = kCompletionReach * pitchOf(h.model, grid_) / reduced.factor;
            for (int q = grid_.firstRow; q <= grid_.lastRow; ++q)
                for (int p = grid_.firstColumn; p <= grid_.lastColumn; ++p) {
                    const CellKind kind = grid_.kindAt(p, q);
                    if (kind != CellKind::Site && kind != CellKind::Patch) continue;
                    const double u = grid_.u0 + p * grid_.pitchU, t = grid_.t0 + q * grid_.pitchT;
                    const ImagePoint at = h.model.map(u, t);
                    const int b = finder.nearest(reduced.fromImage(at.x), reduced.fromImage(at.y), reach, typical);
                    if (b < 0) continue;
                    layoutPoints.push_back({u, t});
                    picturePoints.push_back({reduced.toImage(blobs[static_cast<std::size_t>(b)].x),
                                             reduced.toImage(blobs[static_cast<std::size_t>(b)].y)});
                    countPlace(grid_, p, q, met, completed);
                }
            if (completed.matched <= tally.matched) break;
            FrameModel refined = h.model;
            if (!fitHomography(refined, layoutPoints, picturePoints)) break;
            h.model = refined;
            tally = completed;
        }
        h.matched = tally.matched;
        h.conflicts = tally.conflicts;
        h.spansChart = extent_.spannedBy(tally) && endsAtAnEdge(tally, extent_, printed_);
        h.spansPrinted = printed_.spannedBy(tally);
        finish(h, reduced);
    }

    // The whole picture as the chart's frame, in each orientation, judged
    // on the same evidence: the patches of the largest lattice that fall on
    // its sites, and how the cells fit the reference or rise.
    void addWholePicture(const Level& reduced, const std::vector<PatchBlob>& blobs, const PatchLattice& lattice) {
        const double w = image_.width - 1.0;
        const double hgt = image_.height - 1.0;
        const ImagePoint corners[4] = {{0.0, 0.0}, {0.0, hgt}, {w, hgt}, {w, 0.0}};
        for (int orientation = 0; orientation < 8; ++orientation) {
            OverlayQuad quad;
            for (int k = 0; k < 4; ++k) {
                const int turned = (orientation & 4) ? (4 - k + orientation) % 4 : (k + orientation) % 4;
                quad.corners[static_cast<std::size_t>(k)] = corners[turned];
            }
            Hypothesis h;
            h.model = lensFor(image_.width, image_.height);
            if (!modelThroughQuad(h.model, quad)) continue;
            // Each patch of the lattice, carried into the layout.
            Tally tally;
            std::vector<char> seen(grid_.kinds.size(), 0);
            const FrameModel inverse = inverseOf(h.model);
            for (const LatticeNode& n : lattice.nodes) {
                const PatchBlob& b = blobs[static_cast<std::size_t>(n.blob)];
                const ImagePoint uv = inverse.map(reduced.toImage(b.x), reduced.toImage(b.y));
                const double fp = (uv.x - grid_.u0) / grid_.pitchU;
                const double fq = (uv.y - grid_.t0) / grid_.pitchT;
                const double p = std::round(fp), q = std::round(fq);
                if (std::hypot(fp - p, fq - q) > kNodeReach) continue;
                countPlace(grid_, static_cast<int>(p), static_cast<int>(q), seen, tally);
            }
            if (tally.matched < kMinGridShare * static_cast<double>(grid_.sites.size())) continue;
            h.matched = tally.matched;
            h.conflicts = tally.conflicts;
            h.spansChart = extent_.spannedBy(tally) && endsAtAnEdge(tally, extent_, printed_);
            h.spansPrinted = printed_.spannedBy(tally);
            finish(h, reduced);
        }
    }

    // The homography from the picture back to the layout (the lens ignored).
    static FrameModel inverseOf(const FrameModel& m) {
        const auto& h = m.h;
        FrameModel inv;
        const double a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], i = h[7], j = h[8];
        const double det = a * (e * j - f * i) - b * (d * j - f * g) + c * (d * i - e * g);
        inv.h = {(e * j - f * i) / det, (c * i - b * j) / det, (b * f - c * e) / det,
                 (f * g - d * j) / det, (a * j - c * g) / det, (c * d - a * f) / det,
                 (d * i - e * g) / det, (b * g - a * i) / det, (a * e - b * d) / det};
        for (double& v : inv.h) v /= inv.h[8] == 0.0 ? 1.0 : inv.h[8];
        return inv;
    }

    // A placement's frame; its cells are measured and judged later, with
    // the level's others (judge).
    void finish(Hypothesis& h, const Level& reduced) {
        h.quad = h.model.quad();
        h.pitch = pitchOf(h.model, grid_);
        if (!(h.pitch > 0.0)) return;
        h.level = reduced.factor;
        h.mirrored = signedArea(h.quad) >= 0.0;
        h.cutOff = anyCellOffPicture(h.model, layout_, image_.width, image_.height, h.pitch);
        hypotheses_.push_back(h);
    }

    // Measures the cells of the placements from `first` on and judges them
    // by the reference or the gray scale, spread over the cores: with a
    // reference, a large lattice can offer thousands. Each writes its own
    // entry, so the list is the same on any number of threads.
    void judge(std::size_t first) {
        runEachIndex(hypotheses_.size() - first, 0, [&](std::size_t k) { judgeOne(hypotheses_[first + k]); });
    }

    void judgeOne(Hypothesis& h) const {
        std::vector<PatchRgb> gray, color;
        std::vector<double> graySpread;
        measureCells(h.model, image_, layout_, gray, graySpread, color);
        if (reference_) {
            h.misfit = referenceMisfit(gray, color, *reference_);
        } else {
            h.rise = grayScaleRise(gray, graySpread);
            // The patches must reach the layout's edges (so that a row or
            // column off would put patches where the chart has none, or
            // beyond it); where the chart prints no patch around its grid (an
            // IT8's letters), the card must show there, and elsewhere the
            // patches must reach the chart's printed edges.
            h.spansChart = h.spansChart && (hasEmptyCells_ ? emptyCellsArePlain(h.model, color) : h.spansPrinted);
        }
    }

    // Where the printed chart has no patch (an IT8's row letters and column
    // numbers) the card shows: of one hue, and of a lightness that changes
    // smoothly over the chart, however the light falls (the cells' medians
    // leave the letters out). A placement a row or column off puts patches
    // there instead: other hues, or other lightness (an IT8's first column
    // is near black on a light card).
    bool emptyCellsArePlain(const FrameModel& model, const std::vector<PatchRgb>& color) const {
        auto hue = [](const PatchRgb& c) {
            const double sum = c[0] + c[1] + c[2] + 1e-3;
            return PatchRgb{c[0] / sum, c[1] / sum, c[2] / sum};
        };
        std::vector<PatchRgb> patches;
        for (const PatchRgb& c : color)
            if (!std::isnan(c[0])) patches.push_back(hue(c));
        std::vector<PatchRgb> hues;
        std::vector<std::array<double, 3>> lightness;  // u, t, level
        for (int q = grid_.firstRow; q <= grid_.lastRow; ++q)
            for (int p = grid_.firstColumn; p <= grid_.lastColumn; ++p)
                if (grid_.kindAt(p, q) == CellKind::Empty) {
                    const double u = grid_.u0 + p * grid_.pitchU, t = grid_.t0 + q * grid_.pitchT;
                    const PatchRgb c =
                        cellMedian(model, image_, u, t, 0.5 * grid_.cellWidth, 0.5 * grid_.cellHeight);
                    hues.push_back(hue(c));
                    lightness.push_back({u, t, std::sqrt(std::max(0.0, (c[0] + c[1] + c[2]) / 3.0))});
                }
        if (hues.empty()) return true;
        PatchRgb card{};
        for (std::size_t c = 0; c < 3; ++c) {
            std::vector<double> v;
            for (const PatchRgb& e : hues) v.push_back(e[c]);
            std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
            card[c] = v[v.size() / 2];
        }
        const std::vector<double> off = offPlane(lightness);
        std::vector<double> levels;
        for (const auto& l : lightness) levels.push_back(l[2]);
        std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(levels.size() / 2), levels.end());
        const double cardLevel = levels[levels.size() / 2];
        const double reach = kEmptyReach * scatter(patches);
        int unlike = 0;
        for (std::size_t k = 0; k < hues.size(); ++k) {
            const PatchRgb& e = hues[k];
            if (std::hypot(e[0] - card[0], e[1] - card[1], e[2] - card[2]) > reach ||
                std::abs(off[k]) > kEmptyLightnessReach * cardLevel)
                ++unlike;
        }
        return unlike <= kMaxUnlikeEmpty * static_cast<double>(hues.size());
    }

    const TargetImage& image_;
    const TargetLayout& layout_;
    SiteGrid grid_;
    SiteExtent extent_{grid_};
    SiteExtent printed_{grid_, true};
    bool hasEmptyCells_ = std::find(grid_.kinds.begin(), grid_.kinds.end(), CellKind::Empty) != grid_.kinds.end();
    const ReferenceData* reference_;
    std::vector<Hypothesis> hypotheses_;
    bool sawPatches_ = false;
};

double clampUnit(double v) { return std::clamp(v, -1.0, 1.0); }

struct Choice {
    const Hypothesis* best = nullptr;
    double score = -1.0;  // the smallest criterion, -1..1
    std::string reason;
    bool referenceWouldHelp = false;
};

// Without a reference, where the patches lie is all that tells a placement
// a row or column off from the right one (a whole row or column of patches
// then lies where the chart prints none); a stray patch or two of the
// background beside the chart does not count against it. With a reference
// the colours tell them apart.
bool fitsGrid(const Hypothesis& h, const SiteGrid& grid, bool withReference) {
    const double allowed = withReference ? kMaxConflictShareWithReference * h.matched
                                         : std::max(kMaxConflictShare * h.matched,
                                                    0.5 * std::min(grid.columns, grid.rows) - 1.0);
    return h.conflicts <= allowed;
}

// Picks the placement whose patches fit the reference best, if it is clearly
// better than every placement that differs from it.
Choice chooseByReference(const std::vector<Hypothesis>& hypotheses, const SiteGrid& grid) {
    Choice choice;
    const Hypothesis* best = nullptr;
    for (const Hypothesis& h : hypotheses)
        if (fitsGrid(h, grid, true) && (!best || h.misfit < best->misfit)) best = &h;
    if (!best) {
        choice.reason = "the patches do not fit the target layout";
        return choice;
    }
    double second = 1.0;
    const Hypothesis* rival = nullptr;
    for (const Hypothesis& h : hypotheses)
        if (distinct(*best, h, grid) && h.misfit < second) {
            second = h.misfit;
            rival = &h;
        }
    choice.best = best;
    const double fit = (kMaxMisfit - best->misfit) / 0.3;
    const double margin = (second / std::max(best->misfit, 1e-6) - kMisfitMargin) / kMisfitMargin;
    choice.score = clampUnit(std::min(fit, margin));
    if (fit < 0.0) choice.reason = "the patches do not match the reference in any orientation";
    else if (margin < 0.0)
        choice.reason = rival && apart(*rival, *best) && second <= kMaxMisfit ? "two charts in the picture"
                                                                             : "the chart's orientation is not clear";
    return choice;
}

// Without a reference: the unmirrored placement with a rising gray scale
// that meets the most patches, if no other one comes close.
Choice chooseByGrayScale(const std::vector<Hypothesis>& hypotheses, const SiteGrid& grid, const char* name) {
    Choice choice;
    auto better = [](const Hypothesis& a, const Hypothesis& b) {
        const int sa = a.matched - 2 * a.conflicts, sb = b.matched - 2 * b.conflicts;
        return sa != sb ? sa > sb : a.rise > b.rise;
    };
    const Hypothesis* best = nullptr;
    const Hypothesis* mirrored = nullptr;
    for (const Hypothesis& h : hypotheses) {
        if (h.rise < kMinRise || !h.spansChart || !fitsGrid(h, grid, false)) continue;
        const Hypothesis*& slot = h.mirrored ? mirrored : best;
        if (!slot || better(h, *slot)) slot = &h;
    }
    if (!best) {
        if (mirrored) {
            choice.reason = std::string("a mirrored ") + name + " can only be found with its reference";
            choice.referenceWouldHelp = true;
        } else {
            choice.reason = "no gray scale found: the chart's orientation is not clear";
            choice.referenceWouldHelp = true;
        }
        return choice;
    }
    const Hypothesis* rival = nullptr;
    for (const Hypothesis& h : hypotheses)
        if (&h != best && !h.mirrored && h.rise >= kMinRise && h.spansChart && fitsGrid(h, grid, false) &&
            distinct(*best, h, grid) && (!rival || better(h, *rival)))
            rival = &h;
    choice.best = best;
    const double bestScore = best->matched - 2.0 * best->conflicts;
    const double rivalScore = rival ? rival->matched - 2.0 * rival->conflicts : 0.0;
    const double lead = 1.0 - rivalScore / std::max(bestScore, 1.0);
    choice.score = clampUnit(std::min((best->rise - kMinRise) / (1.0 - kMinRise) * 2.0, (lead - 0.03) / 0.07));
    if (choice.score < 0.0) {
        choice.reason = rival && apart(*rival, *best) ? "two charts in the picture" : "the chart's orientation is not clear";
        choice.referenceWouldHelp = !(rival && apart(*rival, *best));
    }
    return choice;
}

ChartLocation notFound(std::string reason, bool referenceWouldHelp = false) {
    ChartLocation location;
    location.reason = std::move(reason);
    location.referenceWouldHelp = referenceWouldHelp;
    return location;
}

// How much each part of the picture looks like a chart too small for the
// largest copy held whole: the mean change of colour (not of lightness: text
// and clutter are mostly dark on light) between neighbouring pixels of that
// copy, by blocks. The finer copies look at the busiest parts first.
class EnergyMap {
public:
    explicit EnergyMap(const ReducedImage& copy) : factor_(copy.factor) {
        columns_ = std::max(1, (copy.width + kEnergyBlock - 1) / kEnergyBlock);
        rows_ = std::max(1, (copy.height + kEnergyBlock - 1) / kEnergyBlock);
        sums_.assign(static_cast<std::size_t>(columns_) * rows_, 0.0);
        // Two opponent channels of the square roots: red against green,
        // blue against both.
        auto chroma = [](const float* p, double& a, double& b) {
            const double r = std::sqrt(std::max(p[0], 0.0f)), g = std::sqrt(std::max(p[1], 0.0f)),
                         bl = std::sqrt(std::max(p[2], 0.0f));
            a = r - g;
            b = bl - 0.5 * (r + g);
        };
        for (int y = 0; y + 1 < copy.height; ++y)
            for (int x = 0; x + 1 < copy.width; ++x) {
                double a0, b0, a1, b1, a2, b2;
                chroma(copy.at(x, y), a0, b0);
                chroma(copy.at(x + 1, y), a1, b1);
                chroma(copy.at(x, y + 1), a2, b2);
                sums_[static_cast<std::size_t>(y / kEnergyBlock) * columns_ + x / kEnergyBlock] +=
                    std::abs(a1 - a0) + std::abs(b1 - b0) + std::abs(a2 - a0) + std::abs(b2 - b0);
            }
    }

    // Over the blocks that image pixels x0 .. x1, y0 .. y1 touch: the energy
    // that a quarter of them reach (a chart covers part of a tile, but densely).
    double mean(double x0, double y0, double x1, double y1) const {
        const double span = static_cast<double>(factor_) * kEnergyBlock;
        const int bx0 = std::clamp(static_cast<int>(x0 / span), 0, columns_ - 1);
        const int bx1 = std::clamp(static_cast<int>(x1 / span), 0, columns_ - 1);
        const int by0 = std::clamp(static_cast<int>(y0 / span), 0, rows_ - 1);
        const int by1 = std::clamp(static_cast<int>(y1 / span), 0, rows_ - 1);
        std::vector<double> blocks;
        for (int by = by0; by <= by1; ++by)
            for (int bx = bx0; bx <= bx1; ++bx) blocks.push_back(sums_[static_cast<std::size_t>(by) * columns_ + bx]);
        const std::size_t k = blocks.size() * 3 / 4;
        std::nth_element(blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(k), blocks.end());
        return blocks[k];
    }

private:
    int factor_;
    int columns_ = 1, rows_ = 1;
    std::vector<double> sums_;
};

// The finer copies' reductions, coarse to fine: about half of the one
// before, down to the finest that kMaxTiledPixels allows.
std::vector<int> tiledFactors(int width, int height, int stored) {
    int finest = 1;
    while (static_cast<double>(width / finest) * (height / finest) > kMaxTiledPixels) ++finest;
    std::vector<int> factors;
    for (int factor = stored / 2; factor >= finest; factor /= 2) {
        factors.push_back(factor);
        if (factor / 2 < finest && factor > finest) factors.push_back(finest);
    }
    return factors;
}

// The reduction of the largest copy held whole.
int storedFactor(int width, int height) {
    int factor = 1;
    while (static_cast<double>(width / factor) * (height / factor) > kMaxLevelPixels) ++factor;
    return factor;
}

using Choose = std::function<Choice(const std::vector<Hypothesis>&)>;

}  // namespace

const char* chartName(const TargetLayout& layout) {
    switch (static_cast<TargetType>(layout.targetType)) {
    case TargetType::It8: return "IT8";
    case TargetType::ColorChecker: return "ColorChecker";
    case TargetType::ColorCheckerDc: return "ColorChecker DC";
    case TargetType::ColorCheckerSg: return "ColorChecker SG";
    case TargetType::Hct: return "HCT";
    }
    return "chart";
}

ChartLocation locateChart(const TargetImage& image, const TargetLayout& layout, const ReferenceData* reference) {
    if ((image.format != PixelFormat::Rgb24 && image.format != PixelFormat::Rgb48) || image.width < 1 ||
        image.height < 1 || static_cast<std::int64_t>(image.rows.size()) < image.height)
        return notFound("the picture is not an RGB picture");
    if (std::min(image.width, image.height) < kMinPictureSide) return notFound("the picture is too small");
    Search search(image, layout, reference);
    const SiteGrid& grid = search.grid();
    if (grid.sites.size() < 4 || grid.columns < 2 || grid.rows < 2) return notFound("the target has no patch grid");

    // Coarse to fine: a large chart is plain in a small copy, and once one
    // is placed beyond doubt the finer copies, made for small charts, are
    // not needed.
    const Choose choose = [&](const std::vector<Hypothesis>& hypotheses) {
        return search.withReference() ? chooseByReference(hypotheses, grid)
                                      : chooseByGrayScale(hypotheses, grid, chartName(layout));
    };
    auto settled = [&]() {
        if (search.hypotheses().empty()) return false;
        const Choice choice = choose(search.hypotheses());
        return choice.best && !choice.best->cutOff && choice.score >= 0.0;
    };
    const int stored = storedFactor(image.width, image.height);
    {
        std::vector<ReducedImage> copies;
        copies.push_back(reduceImage(image, stored));
        const EnergyMap energy(copies.front());
        while (!copies.back().rgb.empty() && std::min(copies.back().width, copies.back().height) / 2 >= kMinLevelSide)
            copies.push_back(halveImage(copies.back()));
        bool done = false;
        while (!copies.empty() && !done) {
            if (!copies.back().rgb.empty() && std::min(copies.back().width, copies.back().height) >= kMinLevelSide) {
                search.searchLevel(findPatchBlobs(copies.back()), copies.back().factor);
                done = settled();
            }
            copies.pop_back();
        }
        if (done) copies.clear();
        else
            for (int factor : tiledFactors(image.width, image.height, stored)) {
                const TileInterest interest = [&](double x0, double y0, double x1, double y1) {
                    return energy.mean(x0, y0, x1, y1);
                };
                search.searchLevel(findPatchBlobsInTiles(image, factor, interest, kTiledPixelBudget), factor);
                if (settled()) break;
            }
    }

    const std::vector<Hypothesis>& hypotheses = search.hypotheses();
    const char* name = chartName(layout);
    if (hypotheses.empty()) {
        if (!search.sawPatches()) return notFound("no chart patches in the picture");
        return notFound(std::string("no ") + name + " patches in the picture: is the target type right?");
    }
    const Choice choice = choose(hypotheses);
    if (!choice.best) return notFound(choice.reason, choice.referenceWouldHelp);
    if (choice.best->cutOff) return notFound("the chart reaches beyond the picture");
    if (choice.score < 0.0) return notFound(choice.reason, choice.referenceWouldHelp);

    // The same placement found in a finer copy is placed more precisely.
    const Hypothesis* finest = choice.best;
    for (const Hypothesis& h : hypotheses)
        if (h.level < finest->level && h.mirrored == choice.best->mirrored &&
            !distinct(*choice.best, h, grid))
            finest = &h;
    const Hypothesis& best = *finest;
    EdgeFit fit;
    const double window = std::max(kSearchLevelPixels * best.level + 2.0, kSearchPitches * best.pitch);
    if (!fitChartEdges(image, grid, best.model, window, fit)) return notFound("the chart's edges could not be found");
    const double edgeScore =
        std::min({(kMaxEdgeResidual - fit.rmsPitch) / 0.04, (fit.inlierShare - kMinEdgeInliers) / 0.3,
                  (kMaxCornerShift * fit.pitchPixels - largestCornerShift(fit.quad, best.quad)) / (0.3 * fit.pitchPixels)});
    if (edgeScore < 0.0) return notFound("the chart's edges could not be placed precisely");
    if (anyCellOffPicture(fit.model, layout, image.width, image.height, fit.pitchPixels))
        return notFound("the chart reaches beyond the picture");
    ChartLocation location;
    location.found = true;
    location.quad = fit.quad;
    location.confidence = std::clamp(0.5 + 0.5 * std::min(choice.score, clampUnit(edgeScore)), 0.0, 1.0);
    location.orientedByReference = search.withReference();
    return location;
}

}  // namespace calivant
