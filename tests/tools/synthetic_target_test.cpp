#include "make-target/synthetic_target.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <sstream>

#include "image/tiff_reader.h"
#include "make-target/synthetic_tiff.h"
#include "reference/reference_file.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

// Default options changed by `change`; the generated reference unless one is given.
SyntheticTarget rendered(TargetType type, const std::function<void(SyntheticTargetOptions&)>& change = {},
                         const ReferenceData* reference = nullptr) {
    SyntheticTargetOptions options;
    options.targetType = static_cast<int>(type);
    if (change) change(options);
    SyntheticTarget target;
    const ReferenceData generated = generatedReference(options.targetType);
    EXPECT_EQ(renderSyntheticTarget(options, reference ? *reference : generated, target), kSyntheticOk);
    return target;
}

// At overlay point (u, t).
int sampleAt(const SyntheticTarget& target, double u, double t, int channel) {
    const ImagePoint p = mapTargetPoint(target.quad, u, 1.0 - t);
    return target.picture.sample(int(std::lround(p.x)), target.picture.height - 1 - int(std::lround(p.y)), channel);
}

// Pixels off their cell's expected code among the four around each point of
// the measurement's 21 x 21 sample grid over the middle half of every cell.
int mismatches(const SyntheticTarget& target) {
    const TargetLayout& layout = target.layout;
    const ExpectedDevice& e = target.expected;
    std::vector<std::pair<const PatchCell*, DeviceRgb>> cells;
    for (int p = 0; p < layout.grayCount; ++p)
        cells.emplace_back(&layout.grayCells[p], e.gray[grayIndexOfPosition(layout, p)]);
    for (const auto& [group, values] : {std::pair{&layout.colorCells, &e.color}, {&layout.whiteCells, &e.white},
                                        {&layout.midGrayCells, &e.midGray}, {&layout.blackCells, &e.black}})
        for (std::size_t i = 0; i < group->size(); ++i) cells.emplace_back(&(*group)[i], (*values)[i]);
    const SyntheticPicture& picture = target.picture;
    int count = 0;
    for (const auto& [cell, device] : cells)
        for (int k = 0; k < 21 * 21 * 4; ++k) {
            const ImagePoint p = mapTargetPoint(target.quad, cell->u + (0.25 + 0.025 * (k / 4 % 21)) * cell->width,
                                                1.0 - cell->t - (0.25 + 0.025 * (k / 84)) * cell->height);
            const int x = int(std::floor(p.x)) + k % 2, y = int(std::floor(p.y)) + k / 2 % 2;
            for (int c = 0; c < 3; ++c)
                count += picture.sample(x, picture.height - 1 - y, c) !=
                         std::lround(device[c] * (picture.bitsPerSample == 8 ? 255 : 65535));
        }
    return count;
}

TEST(SyntheticTarget, DeviceModelMapsFullScaleToD50AndInvertsItself) {
    const DeviceModel model = defaultDeviceModel();
    EXPECT_EQ(xyzFromDevice(model, {1.0, 1.0, 1.0}), (CieTriple{kD50WhiteX, kD50WhiteY, kD50WhiteZ}));
    const DeviceRgb back = deviceFromXyz(model, xyzFromDevice(model, {0.1, 0.5, 0.9}));
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(back[c], 0.1 + 0.4 * c, 1e-12);
    for (double v : deviceFromXyz(model, {150.0, 20.0, -5.0})) EXPECT_TRUE(v >= 0.0 && v <= 1.0);  // clamped
    DeviceModel singular = model, flat = model, broken = model;
    singular.toXyz[2] = singular.toXyz[0], flat.gamma[1] = 0.0, broken.toXyz[1][1] = std::nan("");
    for (const DeviceModel& bad : {singular, flat, broken}) EXPECT_EQ(checkDeviceModel(bad), 1);
}

TEST(SyntheticTarget, ReferenceIsInGamutAndItsFileReadsBackUnchanged) {
    for (int type = 0; type < kTargetTypeCount; ++type) {
        SCOPED_TRACE(type);
        ReferenceData ref = generatedReference(type);
        for (int g = 1; g < ref.grayCount; ++g) EXPECT_GT(ref.grayXYZ[g][1], ref.grayXYZ[g - 1][1]);
        for (int i = 0; i < ref.colorCount; ++i) {
            for (double v : linearFromXyz(defaultDeviceModel(), ref.colorXYZ[i])) EXPECT_TRUE(v > 0.0 && v < 0.95);
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(xyzToLab(ref.colorXYZ[i])[c], ref.colorLab[i][c], 0.01);
        }
        const std::string shipped = CALIVANT_SOURCE_DIR "/data/Reference Files/Macbeth/" + builtInReferenceName(type);
        ASSERT_EQ(builtInReferenceName(type).empty() ? 0 : readReferencePath(shipped, type, ref), 0);
        const SyntheticTarget target = rendered(TargetType(type), [](auto& o) { o.width = 60; o.height = 40; }, &ref);
        std::stringstream file;
        ASSERT_EQ(writeReferenceFile(file, target), 0);
        ReferenceData read;
        ASSERT_EQ(readReferenceFile(file, type, read), kReferenceComplete);
        EXPECT_TRUE(read.grayXYZ == ref.grayXYZ && read.grayLab == ref.grayLab);
        EXPECT_TRUE(read.colorXYZ == ref.colorXYZ && read.colorLab == ref.colorLab);
    }
}

TEST(SyntheticTarget, EveryCellHoldsTheDeviceValueOfItsReferenceWhereTheOverlayMeasures) {
    for (int type = 0; type < kTargetTypeCount; ++type)
        for (int bits : {8, 16}) {
            SCOPED_TRACE(::testing::Message() << type << ", " << bits << " bits");
            const SyntheticTarget target = rendered(TargetType(type), [&](auto& o) { o.bitsPerSample = bits; });
            EXPECT_EQ(mismatches(target), 0);
            const double step = bits == 8 ? 0.5 / 255 : 0.5 / 65535;
            for (const auto& [values, xyz] : {std::pair{&target.expected.color, target.reference.colorXYZ.data()},
                                              {&target.expected.gray, target.reference.grayXYZ.data()}})
                for (std::size_t k = 0; k < 3 * values->size(); ++k)
                    EXPECT_NEAR((*values)[k / 3][k % 3], deviceFromXyz(defaultDeviceModel(), xyz[k / 3])[k % 3], step);
        }
}

TEST(SyntheticTarget, ChartFollowsAGivenQuadWithBackgroundAndSurround) {
    const OverlayQuad quad{{ImagePoint{40, 30}, ImagePoint{70, 375}, ImagePoint{560, 385}, ImagePoint{585, 15}}};
    const SyntheticTarget target = rendered(TargetType::It8, [&](auto& o) { o.chartQuad = quad; });
    EXPECT_EQ(mismatches(target), 0);
    const auto background = std::lround(SyntheticTargetOptions{}.background[1] * 255);
    EXPECT_EQ(sampleAt(target, 0.92, 0.3, 1), background);  // columns 20..22 of the IT8 hold no patches
    EXPECT_EQ(sampleAt(target, 0.5, 0.84, 1), background);  // between the colour rows and the gray scale
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{599, 399}, std::pair{300, 399}})  // outside the chart
        EXPECT_EQ(target.picture.sample(x, y, 1), std::lround(SyntheticTargetOptions{}.surround[1] * 255));
}

TEST(SyntheticTarget, BadPatchIsSplitDownTheMiddle) {
    EXPECT_EQ(rendered(TargetType::ColorCheckerDc, [](auto& o) { o.badPatch = "l8"; }).badGrayPosition, 0);  // any case
    const SyntheticTarget split = rendered(TargetType::ColorCheckerDc, [](auto& o) { o.badPatch = "C4"; });
    const PatchCell& cell = split.layout.colorCells.at(split.badColorIndex);
    ASSERT_TRUE(split.badGrayPosition == -1 && cell.name == "C4");
    for (int k = 0; k < 9; ++k) {  // three rows across the cell, each channel
        const double t = cell.t + (0.3 + k / 3 * 0.2) * cell.height;
        const int left = sampleAt(split, cell.u + 0.3 * cell.width, t, k % 3);
        EXPECT_EQ(left, std::lround(split.expected.color[split.badColorIndex][k % 3] * 255));
        EXPECT_NEAR(std::abs(sampleAt(split, cell.u + 0.7 * cell.width, t, k % 3) - left), 89, 1);
    }
}

TEST(SyntheticTarget, GradientDimsLinearLightFromLeftToRight) {
    const SyntheticTarget dimmed = rendered(TargetType::ColorCheckerSg, [](auto& o) {
        o.bitsPerSample = 16;
        o.gradient = 0.3;
    });
    for (std::size_t i = 0; i < dimmed.layout.whiteCells.size(); ++i) {
        const PatchCell& cell = dimmed.layout.whiteCells[i];
        const double u = cell.u + cell.width / 2, t = cell.t + cell.height / 2;
        const double light = 1.0 - 0.3 * std::round(mapTargetPoint(dimmed.quad, u, 1.0 - t).x) / 599.0;
        for (int c = 0; c < 3; ++c) {
            // The expected value is the centre pixel's, dimmed in linear light.
            EXPECT_EQ(sampleAt(dimmed, u, t, c), std::lround(dimmed.expected.white[i][c] * 65535));
            const double even = deviceFromXyz(defaultDeviceModel(), dimmed.border.white)[c];
            EXPECT_NEAR(std::pow(dimmed.expected.white[i][c] / even, defaultDeviceModel().gamma[c]), light, 1e-4);
        }
    }
}

// Light turned by an angle falls from one corner to the opposite one; lens
// vignetting from the centre to the corners by the cos^4 law.
TEST(SyntheticTarget, LightFallsOffAlongAnAngleAndTowardsTheCorners) {
    SyntheticTargetOptions o;
    o.width = 401;
    o.height = 201;
    const struct {
        double gradient, angle, vignetting, x, row, light;
    } cases[] = {
        {0.3, 0.0, 0.0, 400, 0, 0.7},     {0.3, 45.0, 0.0, 0, 200, 1.0}, {0.3, 45.0, 0.0, 400, 0, 0.7},
        {0.3, 90.0, 0.0, 0, 0, 0.7},      {0.3, 90.0, 0.0, 0, 200, 1.0}, {0.0, 0.0, 0.2, 200, 100, 1.0},
        {0.0, 0.0, 0.2, 0, 0, 0.8},       {0.0, 0.0, 0.2, 400, 200, 0.8},
        // Half-way to the corner 1 / (1 + k / 4)^2, k = 1 / sqrt(0.8) - 1.
        {0.0, 0.0, 0.2, 300, 150, 0.9435}, {0.2, 0.0, 0.2, 400, 100, 0.8 * 0.8349},
    };
    for (const auto& c : cases) {
        o.gradient = c.gradient;
        o.gradientAngle = c.angle;
        o.vignetting = c.vignetting;
        EXPECT_NEAR(lightAt(o, c.x, c.row), c.light, 1e-4) << c.gradient << " " << c.angle << " " << c.vignetting;
    }
}

TEST(SyntheticTarget, NoiseIsSeededAndHasTheRequestedSpread) {
    auto samples = [](double sigma, std::uint64_t seed) {
        return rendered(TargetType::ColorChecker, [&](auto& o) {
                   o.width = 300; o.height = 200; o.bitsPerSample = 16; o.noiseSigma = sigma; o.seed = seed;
               }).picture.samples;
    };
    const std::vector<std::uint16_t> plain = samples(0.0, 7), noisy = samples(0.01, 7);
    EXPECT_EQ(samples(0.01, 7), noisy);
    EXPECT_NE(samples(0.01, 8), noisy);
    // Every sample deviates, by the requested standard deviation.
    std::vector<double> d(noisy.size());
    std::transform(noisy.begin(), noisy.end(), plain.begin(), d.begin(), [](int a, int b) { return (a - b) / 65535.0; });
    EXPECT_NEAR(std::sqrt(std::inner_product(d.begin(), d.end(), d.begin(), 0.0) / d.size()), 0.01, 0.0003);
}

// Each variant reads back upright through our reader; libtiff confirms the options.
TEST(SyntheticTarget, TiffVariantsReadBackUpright) {
    testing::TempFolder folder;
    const std::string path = (folder / "o.tif").string();
    for (int k = 0; k < 16; ++k) {
        const int orientation = k % 8 + 1;
        const SyntheticTarget target = rendered(TargetType::ColorChecker, [&](auto& o) {
            o.width = 61; o.height = 37; o.bitsPerSample = k < 8 ? 8 : 16; o.noiseSigma = 0.05;  // pixels all differ
        });
        // Compression, predictor, orientation, rows per strip, big-endian, alpha, resolution.
        const TiffWriteOptions tiff{orientation % 2 ? kTiffCompressionNone : kTiffCompressionLzw, orientation % 4 == 0,
                                    orientation, 5, orientation > 4, orientation == 3, 300.0};
        ASSERT_EQ(writeSyntheticTiff(path, target.picture, tiff), 0);
        TargetImage read, expected;
        ASSERT_TRUE(readTiffImage(path, read) == 0 && pictureToTargetImage(target.picture, expected) == 0) << k;
        ASSERT_TRUE(read.format == expected.format && read.width == 61 && read.height == 37) << k;
        for (int row = 0; row < 37; ++row)
            EXPECT_EQ(std::memcmp(read.rows[row], expected.rows[row], expected.stride), 0) << k << ", row " << row;
        std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), TIFFClose);
        std::uint16_t compression = 0, predictor = 1, samples = 0;
        TIFFGetField(tif.get(), TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tif.get(), TIFFTAG_PREDICTOR, &predictor);
        TIFFGetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
        EXPECT_EQ((std::vector<int>{compression, predictor, samples, TIFFIsBigEndian(tif.get()) != 0}),
                  (std::vector<int>{tiff.compression, tiff.predictor ? 2 : 1, tiff.alpha ? 4 : 3, tiff.bigEndian}))
            << k;
    }
}

}  // namespace
}  // namespace calivant
