#include "locate/chart_locator.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "locate/chart_edges.h"
#include "locate/layout_grid.h"
#include "locate/patch_blobs.h"
#include "locate/patch_fit.h"
#include "locate/patch_lattice.h"
#include "locate/reduced_image.h"

namespace calivant {
namespace {

// The search runs on a copy whose shorter side is about this many pixels:
// the smallest chart allowed (a quarter of the shorter side) then still has
// patches of several pixels on the densest layout.
constexpr int kWorkingSide = 800;
constexpr int kMinPictureSide = 16;
constexpr int kMaxLattices = 4;
// Placements of the layout's grid kept for a closer look: those matching at
// least this share of the best one's patches (no other can be chosen). More
// of them than this means a lattice too small to tell where the layout lies.
constexpr double kKeepPlacementShare = 0.9;
constexpr std::size_t kMaxHypotheses = 96;
// Sample points per side of a cell when the copy is measured.
constexpr int kCellSamples = 4;
// The frame may reach this many pitches beyond the picture (a chart cropped
// at its edge); a placement reaching further is kept as a rival, but a chart
// found there counts as cut off, since a part of the chart that is missing
// leaves room for wrong placements that fit what is left.
constexpr double kOutsidePitches = 1.0;
// Two placements differ when a corner moves by more than this many pitches.
constexpr double kDistinctPitches = 0.5;
// Patches of the lattice outside the frame (by more than half a pitch), as a
// share of those on it: the lattice goes on where the layout ends, so this
// is a larger chart, or another one, of which the layout matches a part.
constexpr double kMaxStrayShare = 0.1;
constexpr std::size_t kMaxLatticeOverSites = 2;

// Thresholds of the decision; each criterion is scaled so that 0 is its
// threshold and 1 a comfortable pass.
constexpr double kMinGridShare = 0.4;       // of the layout's sites met by patches
// Without a reference the gray scale cannot tell a placement shifted by a
// row or column from the right one (it still rises), so the chosen one must
// match nearly as many patches as the best of all.
constexpr double kMinBestShareByGrayScale = 0.98;
constexpr double kMaxMisfit = 0.45;         // referenceMisfit of the chosen orientation
constexpr double kMisfitMargin = 1.5;       // the next distinct placement fits this much worse
constexpr double kMinRise = 0.9;            // grayScaleRise without a reference
constexpr double kMatchedMargin = 0.03;     // the next rising placement matches this share fewer
constexpr double kMaxEdgeResidual = 0.06;   // pitches
constexpr double kMinEdgeInliers = 0.6;
constexpr double kMaxCornerShift = 0.5;     // pitches between the search's and the fitted corners
// The edges are looked for this far from where the lattice puts them.
constexpr double kSearchReducedPixels = 2.5;
constexpr double kSearchPitches = 0.15;

struct Hypothesis {
    const PatchLattice* lattice = nullptr;
    GridPlacement placement;
    OverlayQuad quad;  // image coordinates
    double pitch = 0.0;  // image pixels
    double misfit = 1.0;
    double rise = -1.0;
    bool outside = false;  // reaches beyond the picture
};

ImagePoint hypothesisPoint(const Hypothesis& h, const SiteGrid& grid, const ReducedImage& reduced, double u,
                           double t) {
    double i, j, x, y;
    h.placement.toLattice(grid, u, t, i, j);
    h.lattice->map(i, j, x, y);
    return {reduced.toImage(x), reduced.toImage(y)};
}

double signedArea(const OverlayQuad& q) {
    double sum = 0.0;
    for (int k = 0; k < 4; ++k) {
        const ImagePoint& a = q.corners[static_cast<std::size_t>(k)];
        const ImagePoint& b = q.corners[static_cast<std::size_t>((k + 1) % 4)];
        sum += a.x * b.y - b.x * a.y;
    }
    return 0.5 * sum;
}

double largestCornerShift(const OverlayQuad& a, const OverlayQuad& b) {
    double shift = 0.0;
    for (std::size_t k = 0; k < 4; ++k)
        shift = std::max(shift, std::hypot(a.corners[k].x - b.corners[k].x, a.corners[k].y - b.corners[k].y));
    return shift;
}

// Means of the middle half of every gray (in gray order) and colour cell,
// from the reduced copy; NaN where a cell's centre lies off the picture.
// `graySpread` gets the scatter of each gray cell's samples.
void measureCells(const Hypothesis& h, const SiteGrid& grid, const ReducedImage& reduced, const TargetLayout& layout,
                  std::vector<PatchRgb>& gray, std::vector<double>& graySpread, std::vector<PatchRgb>& color) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr int kSamples = kCellSamples * kCellSamples;
    auto measure = [&](const PatchCell& cell, double& spread) {
        double i, j, x, y;
        h.placement.toLattice(grid, cell.u + 0.5 * cell.width, cell.t + 0.5 * cell.height, i, j);
        h.lattice->map(i, j, x, y);
        spread = 0.0;
        if (x < 0.0 || y < 0.0 || x > reduced.width - 1.0 || y > reduced.height - 1.0) return PatchRgb{nan, nan, nan};
        float samples[kSamples][3];
        PatchRgb mean{0, 0, 0};
        for (int a = 0; a < kCellSamples; ++a)
            for (int b = 0; b < kCellSamples; ++b) {
                const double u = cell.u + cell.width * (0.25 + 0.5 * (a + 0.5) / kCellSamples);
                const double t = cell.t + cell.height * (0.25 + 0.5 * (b + 0.5) / kCellSamples);
                h.placement.toLattice(grid, u, t, i, j);
                h.lattice->map(i, j, x, y);
                float* v = samples[a * kCellSamples + b];
                sampleReduced(reduced, x, y, v);
                for (int c = 0; c < 3; ++c) mean[static_cast<std::size_t>(c)] += v[c] / static_cast<double>(kSamples);
            }
        for (const float* v : samples)
            for (int c = 0; c < 3; ++c) spread += (v[c] - mean[static_cast<std::size_t>(c)]) * (v[c] - mean[static_cast<std::size_t>(c)]);
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

double strayShare(const Hypothesis& h, const SiteGrid& grid) {
    int stray = 0;
    for (const LatticeNode& n : h.lattice->nodes) {
        double u, t;
        h.placement.toLayout(grid, n.i, n.j, u, t);
        if (u < -0.5 * grid.pitchU || u > 1.0 + 0.5 * grid.pitchU || t < -0.5 * grid.pitchT || t > 1.0 + 0.5 * grid.pitchT)
            ++stray;
    }
    return static_cast<double>(stray) / std::max(1, h.placement.matched);
}

double clampUnit(double v) { return std::clamp(v, -1.0, 1.0); }

ChartLocation notFound(const char* reason) {
    ChartLocation location;
    location.reason = reason;
    return location;
}

struct Choice {
    const Hypothesis* best = nullptr;
    double score = -1.0;  // the smallest criterion, -1..1
    const char* reason = "the patches do not fit the target layout";
};

// Picks the placement whose patches fit the reference best, if it is clearly
// better than every placement that differs from it.
Choice chooseByReference(const std::vector<Hypothesis>& hypotheses) {
    Choice choice;
    const Hypothesis* best = nullptr;
    for (const Hypothesis& h : hypotheses)
        if (!best || h.misfit < best->misfit) best = &h;
    if (!best) return choice;
    double second = 1.0;
    for (const Hypothesis& h : hypotheses)
        if (largestCornerShift(h.quad, best->quad) > kDistinctPitches * best->pitch) second = std::min(second, h.misfit);
    choice.best = best;
    const double fit = (kMaxMisfit - best->misfit) / 0.3;
    const double margin = (second / std::max(best->misfit, 1e-6) - kMisfitMargin) / kMisfitMargin;
    choice.score = clampUnit(std::min(fit, margin));
    if (fit < 0.0) choice.reason = "the patches do not match the reference in any orientation";
    else if (margin < 0.0) choice.reason = "the chart's orientation is not clear";
    return choice;
}

// Without a reference: the unmirrored placement with a rising gray scale
// that meets the most patches, if no other rising one comes close.
Choice chooseByGrayScale(const std::vector<Hypothesis>& hypotheses, int bestMatched) {
    Choice choice;
    const Hypothesis* best = nullptr;
    for (const Hypothesis& h : hypotheses) {
        if (signedArea(h.quad) >= 0.0 || h.rise < kMinRise) continue;
        if (!best || h.placement.matched > best->placement.matched ||
            (h.placement.matched == best->placement.matched && h.rise > best->rise))
            best = &h;
    }
    if (!best) {
        choice.reason = "no gray scale found: the chart's orientation is not clear";
        return choice;
    }
    int rival = 0;
    for (const Hypothesis& h : hypotheses)
        if (&h != best && signedArea(h.quad) < 0.0 && h.rise >= kMinRise &&
            largestCornerShift(h.quad, best->quad) > kDistinctPitches * best->pitch)
            rival = std::max(rival, h.placement.matched);
    choice.best = best;
    const double share = static_cast<double>(best->placement.matched) / bestMatched;
    const double lead = 1.0 - static_cast<double>(rival) / best->placement.matched;
    choice.score = clampUnit(std::min({(best->rise - kMinRise) / (1.0 - kMinRise) * 2.0,
                                       (share - kMinBestShareByGrayScale) / (1.0 - kMinBestShareByGrayScale),
                                       (lead - kMatchedMargin) / 0.07}));
    if (choice.score < 0.0) choice.reason = "the chart's orientation is not clear";
    return choice;
}

}  // namespace

ChartLocation locateChart(const TargetImage& image, const TargetLayout& layout, const ReferenceData* reference) {
    if ((image.format != PixelFormat::Rgb24 && image.format != PixelFormat::Rgb48) || image.width < 1 ||
        image.height < 1 || static_cast<std::int64_t>(image.rows.size()) < image.height)
        return notFound("the picture is not an RGB picture");
    if (std::min(image.width, image.height) < kMinPictureSide) return notFound("the picture is too small");
    const SiteGrid grid = siteGrid(layout);
    if (grid.sites.size() < 4 || grid.columns < 2 || grid.rows < 2) return notFound("the target has no patch grid");
    const bool withReference = reference != nullptr && reference->grayCount == layout.grayCount &&
                               reference->colorCount == layout.colorCount;

    const ReducedImage reduced = reduceImage(image, reductionFactor(image.width, image.height, kWorkingSide));
    if (reduced.rgb.empty()) return notFound("the picture is too small");
    const std::vector<PatchBlob> blobs = findPatchBlobs(reduced);
    const std::vector<PatchLattice> lattices = findPatchLattices(blobs, kMaxLattices);
    if (lattices.empty()) return notFound("no patches found in the picture");

    ChartLocation best = notFound("the patches do not fit the target layout");
    double bestScore = -2.0;
    const double sites = static_cast<double>(grid.sites.size());
    for (const PatchLattice& lattice : lattices) {
        // A lattice far larger than the layout is some regular texture, or
        // a larger chart; the chart itself would leave most of it stray.
        if (lattice.nodes.size() > kMaxLatticeOverSites * grid.sites.size()) continue;
        std::vector<GridPlacement> placements = matchLayoutGrid(grid, lattice, kKeepPlacementShare);
        if (placements.empty()) continue;
        const int bestMatched = placements.front().matched;
        const double gridScore = clampUnit((bestMatched / sites - kMinGridShare) / 0.5);
        if (gridScore < 0.0) continue;
        if (placements.size() > kMaxHypotheses) continue;

        std::vector<Hypothesis> hypotheses;
        for (const GridPlacement& placement : placements) {
            Hypothesis h;
            h.lattice = &lattice;
            h.placement = placement;
            const double corners[4][2] = {{0, 1}, {0, 0}, {1, 0}, {1, 1}};
            for (std::size_t k = 0; k < 4; ++k)
                h.quad.corners[k] = hypothesisPoint(h, grid, reduced, corners[k][0], corners[k][1]);
            h.pitch = lattice.pitch * reduced.factor;
            if (strayShare(h, grid) > kMaxStrayShare) continue;
            const double slack = kOutsidePitches * h.pitch;
            for (const ImagePoint& c : h.quad.corners)
                if (c.x < -slack || c.y < -slack || c.x > image.width - 1 + slack || c.y > image.height - 1 + slack)
                    h.outside = true;
            std::vector<PatchRgb> gray, color;
            std::vector<double> graySpread;
            measureCells(h, grid, reduced, layout, gray, graySpread, color);
            if (withReference) h.misfit = referenceMisfit(gray, color, *reference);
            else h.rise = grayScaleRise(gray, graySpread);
            hypotheses.push_back(h);
        }
        if (hypotheses.empty()) continue;
        const Choice choice = withReference ? chooseByReference(hypotheses)
                                            : chooseByGrayScale(hypotheses, bestMatched);
        if (!choice.best || choice.best->outside) {
            if (bestScore < -1.0) best.reason = choice.best ? "the chart reaches beyond the picture" : choice.reason;
            continue;
        }

        EdgeFit fit;
        const double search = std::max(kSearchReducedPixels * reduced.factor + 2.0, kSearchPitches * choice.best->pitch);
        double score = std::min(gridScore, choice.score);
        const char* reason = choice.reason;
        if (!fitChartEdges(image, layout, grid, choice.best->quad, search, fit)) {
            score = -1.0;
            reason = "the chart's edges could not be found";
        } else {
            const double edgeScore = std::min({(kMaxEdgeResidual - fit.rmsPitch) / 0.04,
                                               (fit.inlierShare - kMinEdgeInliers) / 0.3,
                                               (kMaxCornerShift * fit.pitchPixels -
                                                largestCornerShift(fit.quad, choice.best->quad)) /
                                                   (0.3 * fit.pitchPixels)});
            if (edgeScore < std::min(score, 0.0)) reason = "the chart's edges could not be placed precisely";
            score = std::min(score, clampUnit(edgeScore));
        }
        if (score > bestScore) {
            bestScore = score;
            best = ChartLocation{};
            best.confidence = std::clamp(0.5 + 0.5 * score, 0.0, 1.0);
            best.orientedByReference = withReference;
            if (score >= 0.0) {
                best.found = true;
                best.quad = fit.quad;
            } else {
                best.reason = reason;
            }
        }
    }
    return best;
}

}  // namespace calivant
