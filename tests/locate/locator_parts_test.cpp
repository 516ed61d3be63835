// The pieces of the chart locator on inputs whose answers are known exactly:
// the reduced copy, the layout grids and their matching, the patch lattice,
// the fit to the reference and the gray scale, and the edge fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "make-target/placement.h"
#include "locate/chart_edges.h"
#include "locate/layout_grid.h"
#include "locate/patch_blobs.h"
#include "locate/patch_fit.h"
#include "locate/patch_lattice.h"
#include "locate/reduced_image.h"

namespace calivant {
namespace {

TEST(ReducedImage, BlocksAreMeansWithRowZeroAtTheBottom) {
    for (const auto& [width, height] : {std::pair{7, 5}, std::pair{2002, 1001}}) {
        TargetImage image;
        ASSERT_EQ(allocateImage(image, PixelFormat::Rgb48, width, height, 300.0), 0);
        // Red rises with the row, blue with the column; green is full scale.
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint8_t* p = image.rows[static_cast<std::size_t>(y)] + x * 6;
                const int red = y * 10, blue = x;
                p[4] = red & 0xFF, p[5] = red >> 8, p[2] = 0xFF, p[3] = 0xFF, p[0] = blue & 0xFF, p[1] = blue >> 8;
            }
        const ReducedImage reduced = reduceImage(image, 2);
        ASSERT_EQ(reduced.width, width / 2);
        ASSERT_EQ(reduced.height, height / 2);
        const int top = reduced.height - 1, right = reduced.width - 1;
        EXPECT_FLOAT_EQ(reduced.at(right, top)[0], (2 * top + 0.5f) * 10 / 65535.0f);
        EXPECT_FLOAT_EQ(reduced.at(right, top)[1], 1.0f);
        EXPECT_FLOAT_EQ(reduced.at(right, top)[2], (2 * right + 0.5f) / 65535.0f);
        EXPECT_DOUBLE_EQ(reduced.toImage(right), 2 * right + 0.5);
        EXPECT_DOUBLE_EQ(reduced.fromImage(reduced.toImage(1.25)), 1.25);
    }
    EXPECT_EQ(reductionFactor(6000, 4525, 800), 5);
    EXPECT_EQ(reductionFactor(640, 480, 800), 1);
}

TEST(PatchBlobs, FlatSquaresAreFoundButBarsAndCornerShapesAreNot) {
    // Twenty squares of 20 x 20 pixels, a long bar and an L on a noisy
    // mid-gray, in reduced coordinates (row 0 at the bottom).
    ReducedImage image;
    image.width = 240;
    image.height = 180;
    image.rgb.assign(static_cast<std::size_t>(image.width) * image.height * 3, 0.0f);
    std::uint32_t state = 7;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            float v[3] = {0.4f, 0.4f, 0.4f};
            const int i = (x - 10) / 26, j = (y - 10) / 26;
            if (x >= 10 && y >= 10 && i < 5 && j < 4 && (x - 10) % 26 < 20 && (y - 10) % 26 < 20) {
                v[0] = 0.1f + 0.15f * i;
                v[1] = 0.9f - 0.2f * j;
            }
            if (y >= 130 && y < 136 && x >= 10 && x < 200) v[2] = 0.9f;
            if (x >= 170 && x < 230 && y >= 20 && y < 80 && (x < 182 || y < 32)) v[0] = 0.95f;
            for (int c = 0; c < 3; ++c) {
                state = state * 1664525u + 1013904223u;
                image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3 + c] = v[c] + ((state >> 9) / 8388608.0f - 0.5f) * 0.02f;
            }
        }
    const std::vector<PatchBlob> blobs = findPatchBlobs(image);
    ASSERT_EQ(blobs.size(), 20u);
    for (const PatchBlob& b : blobs) {
        const double i = (b.x - 19.5) / 26, j = (b.y - 19.5) / 26;
        EXPECT_NEAR(i, std::round(i), 0.03);
        EXPECT_NEAR(j, std::round(j), 0.03);
        EXPECT_NEAR(b.area, 20 * 20, 100);
    }
}

// Patches at the picture's top and bottom rows are seen alike: the picture
// turned upside down gives the same patches, upside down.
TEST(PatchBlobs, TheTopAndBottomRowsAreTreatedAlike) {
    ReducedImage image[2];
    for (ReducedImage& r : image) {
        r.width = 120;
        r.height = 60;
        r.rgb.assign(static_cast<std::size_t>(r.width) * r.height * 3, 0.4f);
    }
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120; ++x) {
            const int i = (x - 8) / 28;
            const bool low = y >= 1 && y < 19, high = y >= 43 && y < 60;
            if (x < 8 || (x - 8) % 28 >= 18 || i > 3 || !(low || high)) continue;
            for (int c = 0; c < 3; ++c) {
                const float v = c == 0 ? 0.1f + 0.2f * i : (c == 1 ? (low ? 0.8f : 0.15f) : 0.5f);
                image[0].rgb[(static_cast<std::size_t>(y) * 120 + x) * 3 + c] = v;
                image[1].rgb[(static_cast<std::size_t>(59 - y) * 120 + x) * 3 + c] = v;
            }
        }
    auto sorted = [](std::vector<PatchBlob> blobs, bool flip) {
        for (PatchBlob& b : blobs)
            if (flip) b.y = 59 - b.y;
        std::sort(blobs.begin(), blobs.end(), [](const PatchBlob& a, const PatchBlob& b) {
            return std::tie(a.x, a.y) < std::tie(b.x, b.y);
        });
        return blobs;
    };
    const std::vector<PatchBlob> upright = sorted(findPatchBlobs(image[0]), false);
    const std::vector<PatchBlob> turned = sorted(findPatchBlobs(image[1]), true);
    ASSERT_EQ(upright.size(), 8u);
    ASSERT_EQ(turned.size(), upright.size());
    for (std::size_t k = 0; k < upright.size(); ++k) {
        EXPECT_NEAR(turned[k].x, upright[k].x, 1e-9) << k;
        EXPECT_NEAR(turned[k].y, upright[k].y, 1e-9) << k;
        EXPECT_EQ(turned[k].area, upright[k].area) << k;
    }
}

TEST(SiteGrid, EveryLayoutIsARegularGridOfItsCommonCells) {
    // IT8: the colour patches only (the gray steps are twice as tall);
    // DC: all but the four cells of the double gray patch.
    const int expected[5][3] = {{19, 12, 228}, {6, 4, 24}, {20, 12, 236}, {14, 10, 140}, {29, 22, 535}};
    for (int type = 0; type < 5; ++type) {
        const SiteGrid grid = siteGrid(makeTargetLayout(type));
        EXPECT_EQ(grid.columns, expected[type][0]) << type;
        EXPECT_EQ(grid.rows, expected[type][1]) << type;
        EXPECT_EQ(static_cast<int>(grid.sites.size()), expected[type][2]) << type;
    }
}

TEST(SiteGrid, MatchingFindsTheLayoutInEachOfItsEightOrientations) {
    // The SG's grid is full: every orientation ties with its symmetric ones.
    const TargetLayout layout = makeTargetLayout(3);
    const SiteGrid grid = siteGrid(layout);
    for (int orientation = 0; orientation < 8; ++orientation) {
        GridPlacement truth;
        truth.swap = orientation >= 4;
        truth.sp = orientation & 1 ? -1 : 1;
        truth.sq = orientation & 2 ? -1 : 1;
        truth.oi = 3;
        truth.oj = -7;
        PatchLattice lattice;
        for (const auto& site : grid.sites) {
            double i, j;
            truth.toLattice(grid, grid.u0 + site[0] * grid.pitchU, grid.t0 + site[1] * grid.pitchT, i, j);
            lattice.nodes.push_back({static_cast<int>(std::lround(i)), static_cast<int>(std::lround(j)), 0});
        }
        const std::vector<GridPlacement> found = matchLayoutGrid(grid, lattice, 1.0);
        ASSERT_FALSE(found.empty());
        bool again = false;
        for (const GridPlacement& p : found) {
            EXPECT_EQ(p.matched, static_cast<int>(grid.sites.size()));
            again = again || (p.swap == truth.swap && p.sp == truth.sp && p.sq == truth.sq && p.oi == truth.oi &&
                              p.oj == truth.oj);
        }
        EXPECT_TRUE(again) << orientation;
        double u, t, i, j;
        truth.toLattice(grid, 0.3, 0.8, i, j);
        truth.toLayout(grid, i, j, u, t);
        EXPECT_NEAR(u, 0.3, 1e-12);
        EXPECT_NEAR(t, 0.8, 1e-12);
    }
}

TEST(PatchLattice, JoinsAGridOverHolesAndDropsWhatIsOffIt) {
    // An 8 x 6 grid, sheared and turned, with three holes, two patches run
    // together and a speck beside the grid.
    std::vector<PatchBlob> blobs;
    auto at = [](double i, double j) { return std::pair{100 + 20 * i - 4 * j, 50 + 3 * i + 18 * j}; };
    for (int j = 0; j < 6; ++j)
        for (int i = 0; i < 8; ++i) {
            if ((i == 2 && j == 2) || (i == 6 && j == 1) || (i == 4 && j == 5) || (j == 4 && (i == 1 || i == 2)))
                continue;
            const auto [x, y] = at(i, j);
            blobs.push_back({x, y, 200.0, {}});
        }
    const auto [mx, my] = at(1.5, 4);
    blobs.push_back({mx, my, 400.0, {}});
    const auto [sx, sy] = at(9.4, 2.5);
    blobs.push_back({sx, sy, 200.0, {}});
    const std::vector<PatchLattice> lattices = findPatchLattices(blobs, 4);
    ASSERT_EQ(lattices.size(), 1u);
    const PatchLattice& lattice = lattices[0];
    EXPECT_EQ(lattice.nodes.size(), 48u - 5u);
    EXPECT_NEAR(lattice.pitch, std::hypot(4.0, 18.0), 0.01);
    for (const LatticeNode& n : lattice.nodes) {
        double x, y;
        lattice.map(n.i, n.j, x, y);
        EXPECT_NEAR(x, blobs[static_cast<std::size_t>(n.blob)].x, 1e-6);
        EXPECT_NEAR(y, blobs[static_cast<std::size_t>(n.blob)].y, 1e-6);
        EXPECT_LT(n.blob, static_cast<int>(blobs.size()) - 2);
    }
}

TEST(PatchFit, RightPairingFitsTheReferenceAndAShuffledOneDoesNot) {
    ReferenceData reference;
    reference.grayCount = 6;
    reference.colorCount = 18;
    std::vector<PatchRgb> gray, color;
    // Device values an affine function of L*a*b*: a perfect fit.
    auto device = [](const CieTriple& lab) {
        return PatchRgb{0.01 * lab[0] + 0.003 * lab[1], 0.01 * lab[0] - 0.002 * lab[2], 0.009 * lab[0] + 0.004 * lab[2]};
    };
    for (int i = 0; i < 6; ++i) gray.push_back(device(reference.grayLab[i] = {15.0 + 14 * i, 0.0, 0.0}));
    for (int i = 0; i < 18; ++i)
        color.push_back(device(reference.colorLab[i] = {30.0 + 3 * i, (i * 37) % 80 - 40.0, (i * 53) % 90 - 45.0}));
    EXPECT_LT(referenceMisfit(gray, color, reference), 1e-6);
    reference.colorXYZ[4][0] = kReferenceMissing;  // its L*a*b* is no measurement
    reference.colorLab[4] = {0.0, 0.0, 0.0};
    EXPECT_LT(referenceMisfit(gray, color, reference), 1e-6);
    std::vector<PatchRgb> shuffled(color.rbegin(), color.rend());
    EXPECT_GT(referenceMisfit(gray, shuffled, reference), 0.6);
    EXPECT_EQ(referenceMisfit({}, {color.begin(), color.begin() + 7}, reference), 1.0);
}

TEST(PatchFit, GrayScaleRisesOnlyWhenEveryChannelRisesOverAWideSpanOfFlatPatches) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<PatchRgb> rising;
    for (int i = 0; i < 10; ++i) rising.push_back({0.05 + 0.09 * i, 0.06 + 0.09 * i, 0.04 + 0.08 * i});
    EXPECT_DOUBLE_EQ(grayScaleRise(rising), 1.0);
    rising[3] = {nan, nan, nan};  // not measured: left out
    EXPECT_DOUBLE_EQ(grayScaleRise(rising), 1.0);
    std::vector<PatchRgb> falling(rising.rbegin(), rising.rend());
    EXPECT_DOUBLE_EQ(grayScaleRise(falling), -1.0);
    std::vector<PatchRgb> dimming;  // uneven light on a plain surface
    for (int i = 0; i < 10; ++i) dimming.push_back({0.5 + 0.02 * i, 0.5 + 0.02 * i, 0.5 + 0.02 * i});
    EXPECT_DOUBLE_EQ(grayScaleRise(dimming), 0.0);
    std::vector<double> spread(rising.size(), 0.01);
    EXPECT_DOUBLE_EQ(grayScaleRise(rising, spread), 1.0);
    for (std::size_t k = 0; k < 3; ++k) spread[k] = 0.2;  // stripes through three of the cells
    EXPECT_DOUBLE_EQ(grayScaleRise(rising, spread), 0.0);
    EXPECT_DOUBLE_EQ(grayScaleRise({rising.begin(), rising.begin() + 3}), -1.0);
}

TEST(ChartEdges, CornersSettleOnThePatchEdgesFromANearbyStart) {
    SyntheticTargetOptions options;
    options.targetType = 2;
    options.width = 600;
    options.height = 450;
    ChartPlacement placement;
    placement.chartWidth = 400;
    placement.chartHeight = 260;
    placement.angle = 20;
    placement.keystone = 0.04;
    placement.blur = 1.0;
    SyntheticTarget target;
    ASSERT_EQ(renderPlacedTarget(options, placement, generatedReference(2), target), kSyntheticOk);
    TargetImage image;
    ASSERT_EQ(pictureToTargetImage(target.picture, image), 0);
    const TargetLayout layout = makeTargetLayout(2);
    OverlayQuad start = target.quad;
    const double nudge[4][2] = {{2.0, -1.5}, {-1.0, 2.5}, {1.5, 1.5}, {-2.5, -0.5}};
    for (std::size_t k = 0; k < 4; ++k) {
        start.corners[k].x += nudge[k][0];
        start.corners[k].y += nudge[k][1];
    }
    EdgeFit fit;
    FrameModel model = lensFor(image.width, image.height);
    ASSERT_TRUE(modelThroughQuad(model, start));
    ASSERT_TRUE(fitChartEdges(image, siteGrid(layout), model, 4.0, fit));
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(fit.quad.corners[k].x, target.quad.corners[k].x, 0.3);
        EXPECT_NEAR(fit.quad.corners[k].y, target.quad.corners[k].y, 0.3);
    }
    EXPECT_LT(fit.rmsPitch, 0.02);
    EXPECT_GT(fit.inlierShare, 0.9);

    TargetImage flat;
    ASSERT_EQ(allocateImage(flat, PixelFormat::Rgb24, 600, 450, 300.0), 0);
    for (std::uint8_t* row : flat.rows) std::fill(row, row + 600 * 3, 128);
    EXPECT_FALSE(fitChartEdges(flat, siteGrid(layout), model, 4.0, fit));
}

}  // namespace
}  // namespace calivant
