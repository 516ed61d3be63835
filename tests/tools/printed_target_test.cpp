// The printed style and the camera model judge the chart finder: the
// patches must be where the printed chart has them, and the true corners
// where the frame's corners land whatever the lens and perspective do.
#include "make-target/placement.h"

#include <gtest/gtest.h>

#include <cmath>

#include "make-target/synthetic_jpeg.h"

namespace calivant {
namespace {

// Sample of the rendered picture at a point in image coordinates (y up).
DeviceRgb pixelAt(const SyntheticTarget& t, double x, double y) {
    const SyntheticPicture& p = t.picture;
    const int column = static_cast<int>(std::lround(x)), row = p.height - 1 - static_cast<int>(std::lround(y));
    const double scale = p.bitsPerSample == 8 ? 255.0 : 65535.0;
    return {p.sample(column, row, 0) / scale, p.sample(column, row, 1) / scale, p.sample(column, row, 2) / scale};
}

double largestDifference(const DeviceRgb& a, const DeviceRgb& b) {
    return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

SyntheticTarget renderedPlacement(int type, int width, int height, const ChartPlacement& placement,
                                  const ReferenceData& reference) {
    SyntheticTargetOptions options;
    options.targetType = type;
    options.width = width;
    options.height = height;
    SyntheticTarget target;
    std::string error;
    EXPECT_EQ(renderPlacedTarget(options, placement, reference, target, &error), kSyntheticOk) << error;
    return target;
}

// IT8 columns 20..22 hold the maker's patches when printed, nothing when plain.
TEST(PrintedTarget, It8PrintsTheMakersColumnsBesideTheLayoutsCells) {
    const CieTriple red = labToXyz(CieTriple{50.0, 60.0, 40.0});
    for (const ChartStyle style : {ChartStyle::Printed, ChartStyle::Plain}) {
        ChartPlacement placement;
        placement.style = style;
        placement.extraPatches.assign(36, red);
        placement.vignetting = 1e-9;  // through the camera model in both styles
        placement.chartWidth = 660;
        placement.chartHeight = 440;
        const SyntheticTarget t = renderedPlacement(0, 700, 500, placement, generatedReference(0));
        const PatchCell& last = t.layout.colorCells[18];  // L19
        for (int k = 1; k <= 3; ++k)
            for (double tCentre : {0.1, 0.5, 0.78}) {
                const ImagePoint p = mapTargetPoint(t.quad, last.u + (k + 0.5) * last.width, 1.0 - tCentre);
                const double off = largestDifference(pixelAt(t, p.x, p.y), deviceFromXyz(defaultDeviceModel(), red));
                if (style == ChartStyle::Printed) EXPECT_LT(off, 0.02) << "column " << 19 + k;
                else EXPECT_GT(off, 0.1) << "column " << 19 + k;
            }
    }
}

// Just inside each true corner lies the corner patch, just outside the card,
// under any perspective and lens: the corners are where the frame's land.
TEST(PrintedTarget, TrueCornersFollowKeystoneBarrelAndCroppedScans) {
    struct Case {
        double keystone, keystoneLeft, barrel, angle;
        bool crop;  // margins: cut by 0.4 pitch on the left, 0.3 pitch of border on the right
    };
    const Case cases[] = {{0.15, -0.15, 0.02, 30.0, false},
                          {-0.15, 0.15, 0.02, 200.0, false},
                          {0.0, 0.15, 0.0, 95.0, false},
                          {0.0, 0.0, 0.01, 0.5, true}};
    ReferenceData reference = generatedReference(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "angle " << c.angle);
        ChartPlacement placement;
        placement.style = ChartStyle::Printed;
        placement.keystone = c.keystone;
        placement.keystoneLeft = c.keystoneLeft;
        placement.barrel = c.barrel;
        placement.angle = c.angle;
        placement.chartWidth = 560;
        placement.chartHeight = 370;
        placement.scanCrop = c.crop;
        placement.scanMargins = {-0.4, 0.5, 0.3, -0.2};
        const SyntheticTarget t = renderedPlacement(1, 900, c.crop ? 600 : 800, placement, reference);
        const auto& q = t.quad.corners;
        const double cx = 0.25 * (q[0].x + q[1].x + q[2].x + q[3].x), cy = 0.25 * (q[0].y + q[1].y + q[2].y + q[3].y);
        const double pitch = std::hypot(q[2].x - q[1].x, q[2].y - q[1].y) / 5.876;
        // Overlay corners 0..3: Dmin, A1, A6, Dmax.
        const DeviceRgb patches[4] = {t.expected.gray[5], t.expected.color[0], t.expected.color[5], t.expected.gray[0]};
        for (int k = 0; k < 4; ++k) {
            const double dx = cx - q[k].x, dy = cy - q[k].y, length = std::hypot(dx, dy);
            const double ix = q[k].x + 0.25 * pitch * dx / length, iy = q[k].y + 0.25 * pitch * dy / length;
            if (c.crop && (ix < 0 || iy < 0 || ix > 899 || iy > 599)) continue;  // cut off
            EXPECT_LT(largestDifference(pixelAt(t, ix, iy), patches[k]), 0.01) << "inside corner " << k;
            const double ox = q[k].x - 0.08 * pitch * dx / length, oy = q[k].y - 0.08 * pitch * dy / length;
            // The black patch on the black card shows no edge.
            if ((c.crop && (ox < 0 || oy < 0 || ox > 899 || oy > 599)) || patches[k][1] < 0.15) continue;
            EXPECT_GT(largestDifference(pixelAt(t, ox, oy), patches[k]), 0.05) << "outside corner " << k;
        }
        if (c.crop) {
            EXPECT_NEAR(std::min(q[0].x, q[1].x), -0.4 * pitch, 0.1 * pitch);  // cut by 0.4 pitch on the left
            EXPECT_NEAR(std::max(q[2].x, q[3].x), 899 - 0.3 * pitch, 0.1 * pitch);  // 0.3 pitch of border on the right
        }
    }
}

// What the golden files and the old benchmark figures rest on: without the
// new options the plain renderings are the former ones, sample for sample.
TEST(PrintedTarget, PlainRenderingsKeepTheirSamples) {
    auto fnv = [](const std::vector<std::uint16_t>& samples) {
        std::uint64_t h = 1469598103934665603ull;
        for (std::uint16_t s : samples) h = (h ^ s) * 1099511628211ull;
        return h;
    };
    SyntheticTargetOptions options;
    options.targetType = 4;
    options.noiseSigma = 0.01;
    options.gradient = 0.2;
    SyntheticTarget whole;
    ASSERT_EQ(renderSyntheticTarget(options, generatedReference(4), whole), kSyntheticOk);
    const RandomPlacement r = randomPlacement(3, 400, 300, 7, true);
    SyntheticTarget placed;
    ASSERT_EQ(renderPlacedTarget(r.options, r.placement, generatedReference(3), placed), kSyntheticOk);
    EXPECT_FALSE(r.placement.needsCamera());
    EXPECT_EQ(fnv(whole.picture.samples), 1404694827395040026ull);
    // A placed chart is drawn in perspective (a photographed card), which
    // differs from the bilinear overlay where there is keystone.
    EXPECT_EQ(fnv(placed.picture.samples), 5175173676104423542ull);
}

TEST(PrintedTarget, JpegOptionGivesTheJpegThePictureWasDecodedFrom) {
    ChartPlacement placement;
    placement.style = ChartStyle::Printed;
    placement.jpegQuality = 70;
    placement.sharpen = 1.0;
    const SyntheticTarget t = renderedPlacement(2, 320, 240, placement, generatedReference(2));
    ASSERT_GT(t.jpeg.size(), 4u);
    EXPECT_TRUE(t.jpeg[0] == 0xFF && t.jpeg[1] == 0xD8 && t.jpeg[t.jpeg.size() - 2] == 0xFF && t.jpeg.back() == 0xD9);
    SyntheticPicture decoded;
    ASSERT_EQ(decodeJpeg(t.jpeg, decoded), 0);
    EXPECT_EQ(t.picture.bitsPerSample, 8);
    EXPECT_EQ(decoded.samples, t.picture.samples);
}

}  // namespace
}  // namespace calivant
