// The chart locator on charts rendered as they are printed (every cell a
// patch, the card, its text and marks) and photographed or scanned with the
// flaws real pictures have: perspective, lens, light, casts, clutter, a thumb,
// JPEG; cropped scans; a second chart; the same chart at several scales. A
// chart is either found within a tenth of a pitch or not found with a
// reason; never placed wrong.
#include "locate/chart_locator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "locate/layout_grid.h"
#include "make-target/device_kinds.h"
#include "make-target/placement.h"
#include "make-target/synthetic_target.h"
#include "support/corner_error.h"

namespace calivant {
namespace {

struct Scene {
    SyntheticTarget target;
    TargetImage image;
    ReferenceData reference;
};

// A printed chart of `type` in a width x height picture, placed by `set`.
Scene render(int type, int width, int height, const std::function<void(ChartPlacement&, SyntheticTargetOptions&)>& set) {
    Scene s;
    SyntheticTargetOptions options;
    options.targetType = type;
    options.width = width;
    options.height = height;
    options.bitsPerSample = 16;
    ChartPlacement p;
    p.style = ChartStyle::Printed;
    const double aspect = naturalAspect(type);
    p.chartWidth = 0.6 * std::min<double>(width, height * aspect);
    p.chartHeight = p.chartWidth / aspect;
    set(p, options);
    s.reference = generatedReference(type);
    std::string error;
    EXPECT_EQ(renderPlacedTarget(options, p, s.reference, s.target, &error), kSyntheticOk) << error;
    EXPECT_EQ(pictureToTargetImage(s.target.picture, s.image), 0);
    return s;
}

void expectFound(const Scene& s, int type, bool withReference) {
    const ChartLocation location = locateChart(s.image, makeTargetLayout(type), withReference ? &s.reference : nullptr);
    ASSERT_TRUE(location.found) << location.reason;
    EXPECT_LE(testing::worstCornerError(s.target.quad, location.quad, type), 0.1);
}

struct Photo {
    const char* what;
    int type;
    bool reference;
    std::function<void(ChartPlacement&, SyntheticTargetOptions&)> set;
};

TEST(PrintedCharts, PhotographsWithTheFlawsOfRealOnes) {
    const Photo photos[] = {
        {"keystone both ways", 1, true,
         [](ChartPlacement& p, SyntheticTargetOptions&) {
             p.keystone = 0.15;
             p.keystoneLeft = -0.15;
             p.angle = 30;
         }},
        {"barrel, vignetting, fall-off", 3, true,
         [](ChartPlacement& p, SyntheticTargetOptions& o) {
             p.chartWidth *= 1.4, p.chartHeight *= 1.4;
             p.barrel = 0.02;
             p.vignetting = 0.4;
             o.gradient = 0.4;
             p.angle = 184;
         }},
        {"glare and a cast", 2, true,
         [](ChartPlacement& p, SyntheticTargetOptions&) {
             p.glare = 1.2, p.glareU = 0.3, p.glareT = 0.4;
             p.cast = {0.6, 1.0, 0.55};
             p.angle = 95;
         }},
        {"shadow, linear dark exposure", 3, true,
         [](ChartPlacement& p, SyntheticTargetOptions& o) {
             p.shadow = 0.5, p.shadowAngle = 70;
             o.device = deviceModelOfKind(DeviceKind::Linear);
             p.exposure = 0.2;
             p.angle = -12;
         }},
        {"thumb over a corner patch, JPEG, halos", 1, true,
         [](ChartPlacement& p, SyntheticTargetOptions& o) {
             p.occluder = OccluderKind::Thumb, p.occludedCorner = 0;
             p.jpegQuality = 80;
             p.sharpen = 1.0;
             o.noiseSigma = 0.01;
             p.mirror = true;
         }},
        {"clip on a corner, busy background", 3, true,
         [](ChartPlacement& p, SyntheticTargetOptions&) {
             p.occluder = OccluderKind::Clip, p.occludedCorner = 2;
             p.background = BackgroundKind::Busy;
             p.angle = 270;
         }},
        {"7 % of the picture's width", 1, true,
         [](ChartPlacement& p, SyntheticTargetOptions& o) {
             o.width = 2000, o.height = 1500;
             p.chartWidth = 140, p.chartHeight = 140 / naturalAspect(1);
             p.background = BackgroundKind::Busy;
             p.angle = 20;
         }},
        {"IT8 with its maker's columns, JPEG", 0, true,
         [](ChartPlacement& p, SyntheticTargetOptions&) {
             p.jpegQuality = 85;
             p.angle = 160;
             p.keystone = 0.08;
         }},
        {"IT8 without its reference", 0, false, [](ChartPlacement& p, SyntheticTargetOptions&) { p.angle = 7; }},
        {"HCT, touching patches, without its reference", 4, false,
         [](ChartPlacement& p, SyntheticTargetOptions&) {
             p.angle = 265;
             p.background = BackgroundKind::Busy;
         }},
        {"a ColorChecker Passport's second page", 1, true,
         [](ChartPlacement& p, SyntheticTargetOptions&) { p.second = SecondChart::PassportPage; }},
        {"another chart beside it", 3, true,
         [](ChartPlacement& p, SyntheticTargetOptions&) {
             p.second = SecondChart::OtherChart, p.secondType = 1;
             p.chartWidth *= 0.7, p.chartHeight *= 0.7;
         }},
    };
    for (const Photo& photo : photos) {
        SCOPED_TRACE(photo.what);
        const Scene s = render(photo.type, 900, 680, photo.set);
        expectFound(s, photo.type, photo.reference);
    }
}

// A scan cropped to the chart, cut by up to half a patch, with any border or
// none: found for every layout, with and without a reference.
TEST(PrintedCharts, CroppedScansOfEveryLayout) {
    const ScanBorder borders[] = {ScanBorder::None, ScanBorder::White, ScanBorder::Gray, ScanBorder::Black,
                                  ScanBorder::Lid};
    for (int type = 0; type < kTargetTypeCount; ++type)
        for (bool reference : {true, false}) {
            if (!reference && type != 0 && type != 4) continue;  // the ColorCheckers' references are built in
            const ScanBorder border = borders[(type + (reference ? 0 : 3)) % 5];
            SCOPED_TRACE(::testing::Message() << "target " << type << ", border " << static_cast<int>(border)
                                              << (reference ? " with" : " without") << " reference");
            const Scene s = render(type, 760, 540, [&](ChartPlacement& p, SyntheticTargetOptions&) {
                p.scanCrop = true;
                p.scanBorder = border;
                p.scanMargins = border == ScanBorder::None ? std::array<double, 4>{-0.5, -0.2, -0.45, 0.0}
                                                           : std::array<double, 4>{0.4, -0.5, 0.8, 0.3};
                p.angle = 0.8;
            });
            expectFound(s, type, reference);
        }
}

// The corners found in copies of a picture scaled to 25 %, 50 % and 200 %,
// divided by the scale, agree with those found at full size.
TEST(PrintedCharts, TheSameCornersAtEveryScale) {
    const Scene s = render(1, 800, 600, [](ChartPlacement& p, SyntheticTargetOptions&) {
        p.chartWidth = 290, p.chartHeight = 290 / naturalAspect(1);  // a pitch of 49 pixels
        p.angle = 17;
        p.keystone = 0.06;
    });
    const TargetLayout layout = makeTargetLayout(1);
    const ChartLocation full = locateChart(s.image, layout, &s.reference);
    ASSERT_TRUE(full.found) << full.reason;
    for (double scale : {0.25, 0.5, 2.0}) {
        SCOPED_TRACE(scale);
        // Box means down, repeated pixels up.
        const int w = static_cast<int>(s.image.width * scale), h = static_cast<int>(s.image.height * scale);
        SyntheticPicture picture;
        picture.width = w;
        picture.height = h;
        picture.bitsPerSample = 16;
        const int n = scale < 1.0 ? static_cast<int>(std::lround(1.0 / scale)) : 1;
        for (int row = 0; row < h; ++row)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    long sum = 0;
                    for (int a = 0; a < n; ++a)
                        for (int b = 0; b < n; ++b) {
                            const int sx = scale < 1.0 ? x * n + a : static_cast<int>(x / scale);
                            const int sy = scale < 1.0 ? row * n + b : static_cast<int>(row / scale);
                            sum += s.target.picture.sample(sx, sy, c);
                        }
                    picture.samples.push_back(static_cast<std::uint16_t>(sum / (n * n)));
                }
        TargetImage scaled;
        ASSERT_EQ(pictureToTargetImage(picture, scaled), 0);
        const ChartLocation location = locateChart(scaled, layout, &s.reference);
        ASSERT_TRUE(location.found) << location.reason;
        OverlayQuad back = location.quad;
        for (ImagePoint& c : back.corners) {
            // Pixel centres: x_scaled + 0.5 = (x + 0.5) * scale.
            c.x = (c.x + 0.5) / scale - 0.5;
            c.y = (c.y + 0.5) / scale - 0.5;
        }
        EXPECT_LE(testing::worstCornerError(full.quad, back, 1), 0.1);
    }
}

// Where the finder cannot be sure it says why, in words that name what it
// saw, and whether the chart's reference would let it find the chart.
TEST(PrintedCharts, ReasonsNameWhatWasSeen) {
    const Scene colorChecker = render(1, 700, 520, [](ChartPlacement& p, SyntheticTargetOptions&) { p.angle = 10; });
    ChartLocation location = locateChart(colorChecker.image, makeTargetLayout(3), nullptr);
    EXPECT_FALSE(location.found);
    EXPECT_EQ(location.reason, "no ColorChecker SG patches in the picture: is the target type right?");

    const Scene mirrored = render(0, 800, 600, [](ChartPlacement& p, SyntheticTargetOptions&) {
        p.mirror = true;
        p.angle = 90;
    });
    location = locateChart(mirrored.image, makeTargetLayout(0), nullptr);
    EXPECT_FALSE(location.found);
    EXPECT_EQ(location.reason, "a mirrored IT8 can only be found with its reference");
    EXPECT_TRUE(location.referenceWouldHelp);
    expectFound(mirrored, 0, true);

    // Another chart's reference (its patches shuffled) fits no placement.
    ReferenceData shuffled = colorChecker.reference;
    std::swap(shuffled.colorLab[0], shuffled.colorLab[11]);
    std::swap(shuffled.colorLab[3], shuffled.colorLab[16]);
    std::swap(shuffled.colorLab[5], shuffled.colorLab[8]);
    std::swap(shuffled.grayLab[0], shuffled.grayLab[5]);
    std::swap(shuffled.colorXYZ[0], shuffled.colorXYZ[11]);
    location = locateChart(colorChecker.image, makeTargetLayout(1), &shuffled);
    EXPECT_FALSE(location.found);

    // Two charts of the type: the one that fits the reference, or neither.
    const Scene two = render(3, 1000, 560, [](ChartPlacement& p, SyntheticTargetOptions&) {
        p.second = SecondChart::OtherChart, p.secondType = 3;
        p.chartWidth *= 0.6, p.chartHeight *= 0.6;
    });
    location = locateChart(two.image, makeTargetLayout(3), &two.reference);
    if (location.found) {
        EXPECT_LE(testing::worstCornerError(two.target.quad, location.quad, 3), 0.1);
    } else {
        EXPECT_EQ(location.reason, "two charts in the picture");
    }
}

}  // namespace
}  // namespace calivant
