#include "make-target/synthetic_target.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>

#include <tiffio.h>

#include "make-target/synthetic_tiff.h"
#include "reference/reference_file.h"
#include "measure/advanced_options.h"
#include "support/temp_folder.h"
#include "tiff_read_back.h"

namespace calivant {
namespace {

using testing::Raster;
using testing::TiffFile;

constexpr int kAllTargets[] = {0, 1, 2, 3, 4};

std::string builtInPath(int targetType) {
    return std::string(CALIVANT_SOURCE_DIR) + "/data/Reference Files/Macbeth/" + builtInReferenceName(targetType);
}

SyntheticTarget rendered(const SyntheticTargetOptions& options, const ReferenceData& reference) {
    SyntheticTarget target;
    std::string error;
    EXPECT_EQ(renderSyntheticTarget(options, reference, target, &error), kSyntheticOk) << error;
    return target;
}

SyntheticTarget rendered(const SyntheticTargetOptions& options) {
    return rendered(options, generatedReference(options.targetType));
}

Raster rasterOf(const SyntheticPicture& picture) { return {picture.width, picture.height, picture.samples}; }

// Every cell of the layout with the value measuring it should give.
struct CellExpectation {
    const PatchCell* cell;
    DeviceRgb device;
};

std::vector<CellExpectation> cellExpectations(const SyntheticTarget& target) {
    const TargetLayout& layout = target.layout;
    const ExpectedDevice& e = target.expected;
    std::vector<CellExpectation> cells;
    for (int p = 0; p < layout.grayCount; ++p)
        cells.push_back({&layout.grayCells[p], e.gray[grayIndexOfPosition(layout, p)]});
    for (int i = 0; i < layout.colorCount; ++i) cells.push_back({&layout.colorCells[i], e.color[i]});
    for (int i = 0; i < layout.whiteCount; ++i) cells.push_back({&layout.whiteCells[i], e.white[i]});
    for (int i = 0; i < layout.midGrayCount; ++i) cells.push_back({&layout.midGrayCells[i], e.midGray[i]});
    for (int i = 0; i < layout.blackCount; ++i) cells.push_back({&layout.blackCells[i], e.black[i]});
    return cells;
}

// The pixel nearest to where the overlay puts a layout point (u, t).
void pixelAt(const Raster& raster, const OverlayQuad& quad, double u, double t, int& column, int& row) {
    const ImagePoint p = mapTargetPoint(quad, u, 1.0 - t);
    column = static_cast<int>(std::lround(p.x));
    row = raster.height - 1 - static_cast<int>(std::lround(p.y));
}

// Walks the measurement's sample grid (21 x 21 points over the middle half
// of every cell, mapped through the overlay) and compares the four pixels
// around each point, which the bilinear sampling blends, with the expected
// codes. Returns the number of mismatching pixels.
int mismatchesInCells(const Raster& raster, const SyntheticTarget& target, int maxCode) {
    int mismatches = 0;
    for (const CellExpectation& e : cellExpectations(target)) {
        for (int j = -10; j <= 10; ++j)
            for (int i = -10; i <= 10; ++i) {
                const double u = e.cell->u + (0.5 + 0.025 * i) * e.cell->width;
                const double v = 1.0 - e.cell->t - (0.5 + 0.025 * j) * e.cell->height;
                const ImagePoint p = mapTargetPoint(target.quad, u, v);
                const int x0 = static_cast<int>(std::floor(p.x));
                const int y0 = static_cast<int>(std::floor(p.y));
                for (int x = x0; x <= x0 + 1; ++x)
                    for (int y = y0; y <= y0 + 1; ++y) {
                        if (x < 0 || y < 0 || x >= raster.width || y >= raster.height) {
                            ++mismatches;
                            continue;
                        }
                        for (int c = 0; c < 3; ++c) {
                            const int code = raster.at(x, raster.height - 1 - y, c);
                            if (code != std::lround(e.device[c] * maxCode) && mismatches++ < 5)
                                ADD_FAILURE() << e.cell->name << " at (" << x << ", " << y << ") channel " << c
                                              << ": " << code << " vs " << e.device[c] * maxCode;
                        }
                    }
            }
    }
    return mismatches;
}

TEST(DeviceModel, DefaultModelMapsFullScaleToD50AndInvertsItself) {
    const DeviceModel model = defaultDeviceModel();
    ASSERT_EQ(checkDeviceModel(model), 0);
    const CieTriple white = xyzFromDevice(model, {1.0, 1.0, 1.0});
    EXPECT_NEAR(white[0], kD50WhiteX, 1e-9);
    EXPECT_NEAR(white[1], kD50WhiteY, 1e-9);
    EXPECT_NEAR(white[2], kD50WhiteZ, 1e-9);
    // The gammas differ per channel: a neutral gray scans with unequal channels.
    const DeviceRgb gray = deviceFromXyz(model, labToXyz(CieTriple{50.0, 0.0, 0.0}));
    EXPECT_LT(gray[0], gray[1]);
    EXPECT_LT(gray[1], gray[2]);
    for (const DeviceRgb& d : {DeviceRgb{0.1, 0.5, 0.9}, DeviceRgb{0.7, 0.2, 0.4}, DeviceRgb{0.33, 0.33, 0.95}}) {
        const DeviceRgb back = deviceFromXyz(model, xyzFromDevice(model, d));
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(back[c], d[c], 1e-12);
    }
    // Colours beyond the device's reach are clamped, never NaN.
    const DeviceRgb clamped = deviceFromXyz(model, {150.0, 20.0, -5.0});
    for (double v : clamped) EXPECT_TRUE(v >= 0.0 && v <= 1.0);

    DeviceModel singular = model;
    singular.toXyz[2] = singular.toXyz[0];
    EXPECT_EQ(checkDeviceModel(singular), 1);
    DeviceModel flat = model;
    flat.gamma[1] = 0.0;
    EXPECT_EQ(checkDeviceModel(flat), 1);
    DeviceModel broken = model;
    broken.toXyz[1][1] = std::nan("");
    EXPECT_EQ(checkDeviceModel(broken), 1);
}

TEST(GeneratedReference, SpreadsColoursInsideTheGamutAndRisesAlongTheGrayScale) {
    const DeviceModel model = defaultDeviceModel();
    for (int type : kAllTargets) {
        SCOPED_TRACE(type);
        const ReferenceData ref = generatedReference(type);
        const TargetLayout layout = makeTargetLayout(type);
        ASSERT_EQ(ref.colorCount, layout.colorCount);
        ASSERT_EQ(ref.grayCount, layout.grayCount);
        for (int g = 1; g < ref.grayCount; ++g) EXPECT_GT(ref.grayXYZ[g][1], ref.grayXYZ[g - 1][1]);
        EXPECT_LT(ref.grayLab[0][0], 10.5);
        EXPECT_GT(ref.grayLab[ref.grayCount - 1][0], 91.5);
        double lightest = 0.0, darkest = 100.0;
        std::set<std::array<double, 3>> distinct;
        for (int i = 0; i < ref.colorCount; ++i) {
            // Renderable without clamping, and L*a*b* agrees with XYZ.
            const DeviceRgb linear = linearFromXyz(model, ref.colorXYZ[i]);
            for (double v : linear) {
                EXPECT_GT(v, 0.0);
                EXPECT_LT(v, 0.95);
            }
            const CieTriple lab = xyzToLab(ref.colorXYZ[i]);
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(lab[c], ref.colorLab[i][c], 0.01);
            lightest = std::max(lightest, lab[0]);
            darkest = std::min(darkest, lab[0]);
            distinct.insert(ref.colorXYZ[i]);
        }
        EXPECT_EQ(distinct.size(), static_cast<std::size_t>(ref.colorCount));
        EXPECT_GT(lightest - darkest, 40.0);
    }
}

TEST(ReferenceFile, WrittenFileReadsBackCompleteWithTheSameValues) {
    for (int type : kAllTargets) {
        SCOPED_TRACE(type);
        SyntheticTargetOptions options;
        options.targetType = type;
        options.width = 60;
        options.height = 40;
        ReferenceData source = generatedReference(type);
        if (!builtInReferenceName(type).empty()) {
            ASSERT_EQ(readReferencePath(builtInPath(type), type, source), 0);
        }
        const SyntheticTarget target = rendered(options, source);

        std::ostringstream out;
        ASSERT_EQ(writeReferenceFile(out, target), 0);
        const std::string text = out.str();
        EXPECT_EQ(text.substr(0, text.find('\r')), referenceKeyword(type));

        std::istringstream in(text);
        ReferenceData read;
        ASSERT_EQ(readReferenceFile(in, type, read), kReferenceComplete);
        for (int g = 0; g < read.grayCount; ++g) {
            EXPECT_EQ(read.grayXYZ[g], target.reference.grayXYZ[g]) << g;
            EXPECT_EQ(read.grayLab[g], target.reference.grayLab[g]) << g;
        }
        for (int i = 0; i < read.colorCount; ++i) {
            EXPECT_EQ(read.colorXYZ[i], target.reference.colorXYZ[i]) << i;
            EXPECT_EQ(read.colorLab[i], target.reference.colorLab[i]) << i;
        }
        // A file read from disk (the shipped ones carry four and two decimals) is unchanged.
        if (!builtInReferenceName(type).empty()) {
            EXPECT_EQ(target.reference.colorXYZ, source.colorXYZ);
            EXPECT_EQ(target.reference.grayLab, source.grayLab);
        }
    }
}

TEST(Render, EveryCellCarriesItsExpectedValueWhereTheResetOverlayMeasures) {
    testing::TempFolder folder;
    for (int type : kAllTargets) {
        SCOPED_TRACE(type);
        SyntheticTargetOptions options;
        options.targetType = type;
        const SyntheticTarget target = rendered(options);
        const std::string path = (folder / ("t" + std::to_string(type) + ".tif")).string();
        ASSERT_EQ(writeSyntheticTiff(path, target.picture, TiffWriteOptions{}), 0);
        TiffFile file;
        ASSERT_TRUE(readTiffFile(path, file));
        ASSERT_EQ(file.stored.width, 600);
        ASSERT_EQ(file.stored.height, 400);
        EXPECT_EQ(file.bitsPerSample, 8);
        EXPECT_GT(file.strips, 1);
        EXPECT_EQ(mismatchesInCells(file.stored, target, 255), 0);

        // The expected values are those of the device model for the reference.
        const TargetLayout& layout = target.layout;
        for (int i = 0; i < layout.colorCount; ++i) {
            const DeviceRgb device = deviceFromXyz(options.device, target.reference.colorXYZ[i]);
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(target.expected.color[i][c], device[c], 0.5 / 255);
        }
    }
}

TEST(Render, SixteenBitLzwPictureReproducesTheReferenceColours) {
    testing::TempFolder folder;
    SyntheticTargetOptions options;
    options.targetType = static_cast<int>(TargetType::Hct);
    options.bitsPerSample = 16;
    const SyntheticTarget target = rendered(options);
    TiffWriteOptions tiff;
    tiff.compression = kTiffCompressionLzw;
    tiff.predictor = true;
    tiff.bigEndian = true;
    const std::string path = (folder / "hct.tif").string();
    ASSERT_EQ(writeSyntheticTiff(path, target.picture, tiff), 0);
    TiffFile file;
    ASSERT_TRUE(readTiffFile(path, file));
    EXPECT_EQ(file.compression, COMPRESSION_LZW);
    EXPECT_EQ(file.predictor, PREDICTOR_HORIZONTAL);
    EXPECT_TRUE(file.bigEndian);
    EXPECT_EQ(file.stored, rasterOf(target.picture));
    EXPECT_EQ(mismatchesInCells(file.stored, target, 65535), 0);

    // Forward through the model, the 16-bit values land on the reference
    // within a small fraction of a just noticeable difference.
    const ReferenceData& ref = target.reference;
    auto deltaE = [&](const DeviceRgb& device, const CieTriple& xyz) {
        const CieTriple a = xyzToLab(xyzFromDevice(options.device, device));
        const CieTriple b = xyzToLab(xyz);
        return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
    };
    for (int i = 0; i < ref.colorCount; ++i) EXPECT_LT(deltaE(target.expected.color[i], ref.colorXYZ[i]), 0.02) << i;
    for (int g = 0; g < ref.grayCount; ++g) EXPECT_LT(deltaE(target.expected.gray[g], ref.grayXYZ[g]), 0.02) << g;
    for (const DeviceRgb& white : target.expected.white) EXPECT_LT(deltaE(white, target.border.white), 0.02);
}

TEST(Render, ChartFollowsAGivenQuadWithBackgroundAndSurround) {
    SyntheticTargetOptions options;
    options.targetType = static_cast<int>(TargetType::It8);
    OverlayQuad quad;
    quad.corners = {ImagePoint{40, 30}, ImagePoint{70, 375}, ImagePoint{560, 385}, ImagePoint{585, 15}};
    options.chartQuad = quad;
    const SyntheticTarget target = rendered(options);
    EXPECT_EQ(target.quad.corners, quad.corners);
    const Raster raster = rasterOf(target.picture);
    EXPECT_EQ(mismatchesInCells(raster, target, 255), 0);

    auto codeAt = [&](double u, double t) {
        int column = 0, row = 0;
        pixelAt(raster, quad, u, t, column, row);
        return raster.at(column, row, 1);
    };
    const auto background = static_cast<std::uint16_t>(std::lround(options.background[1] * 255));
    const auto surround = static_cast<std::uint16_t>(std::lround(options.surround[1] * 255));
    EXPECT_EQ(codeAt(0.92, 0.3), background);   // columns 20..22 of the IT8 hold no patches
    EXPECT_EQ(codeAt(0.5, 0.84), background);   // between the colour rows and the gray scale
    EXPECT_EQ(raster.at(0, 0, 1), surround);     // picture corners lie outside the chart
    EXPECT_EQ(raster.at(599, 399, 1), surround);
    EXPECT_EQ(raster.at(300, 399, 1), surround);
}

TEST(Render, BadPatchIsSplitDownTheMiddleAndReported) {
    SyntheticTargetOptions options;
    options.targetType = static_cast<int>(TargetType::ColorCheckerDc);
    options.badPatch = "l8";  // the darkest gray step, named in any case
    const SyntheticTarget gray = rendered(options);
    EXPECT_EQ(gray.badGrayPosition, 0);
    EXPECT_EQ(gray.badColorIndex, -1);
    options.badPatch = "C4";
    const SyntheticTarget color = rendered(options);
    EXPECT_EQ(color.badGrayPosition, -1);
    const int index = color.badColorIndex;
    ASSERT_GE(index, 0);
    const PatchCell& cell = color.layout.colorCells[index];
    EXPECT_EQ(cell.name, "C4");

    const Raster raster = rasterOf(color.picture);
    for (double t : {0.3, 0.5, 0.7}) {
        int leftColumn = 0, leftRow = 0, rightColumn = 0, rightRow = 0;
        pixelAt(raster, color.quad, cell.u + 0.3 * cell.width, cell.t + t * cell.height, leftColumn, leftRow);
        pixelAt(raster, color.quad, cell.u + 0.7 * cell.width, cell.t + t * cell.height, rightColumn, rightRow);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(raster.at(leftColumn, leftRow, c), std::lround(color.expected.color[index][c] * 255));
            EXPECT_NEAR(std::abs(raster.at(rightColumn, rightRow, c) - raster.at(leftColumn, leftRow, c)), 89, 1);
        }
    }
    // Everything else is as without the split.
    options.badPatch.clear();
    const SyntheticTarget plain = rendered(options);
    EXPECT_EQ(plain.expected.color, color.expected.color);
    EXPECT_EQ(plain.badColorIndex, -1);
}

TEST(Render, GradientDimsLinearLightFromLeftToRight) {
    SyntheticTargetOptions options;
    options.targetType = static_cast<int>(TargetType::ColorCheckerSg);
    options.bitsPerSample = 16;
    const SyntheticTarget even = rendered(options);
    options.gradient = 0.3;
    const SyntheticTarget dimmed = rendered(options);
    const Raster raster = rasterOf(dimmed.picture);

    const std::vector<PatchCell>& whites = dimmed.layout.whiteCells;
    for (std::size_t i = 0; i < whites.size(); ++i) {
        const PatchCell& cell = whites[i];
        const double u = cell.u + cell.width / 2, t = cell.t + cell.height / 2;
        const double light = 1.0 - 0.3 * std::round(mapTargetPoint(dimmed.quad, u, 1.0 - t).x) / 599.0;
        int column = 0, row = 0;
        pixelAt(raster, dimmed.quad, u, t, column, row);
        for (int c = 0; c < 3; ++c) {
            // The value expected is the centre pixel's.
            EXPECT_EQ(raster.at(column, row, c), std::lround(dimmed.expected.white[i][c] * 65535));
            const double ratio = std::pow(dimmed.expected.white[i][c], options.device.gamma[c]) /
                                 std::pow(even.expected.white[i][c], options.device.gamma[c]);
            EXPECT_NEAR(ratio, light, 1e-4) << cell.name;
        }
    }
    // Left and right white patches now differ enough for the illumination check.
    EXPECT_GT(dimmed.expected.white.front()[1] - dimmed.expected.white.back()[1], 0.1);
}

TEST(Render, NoiseIsSeededAndHasTheRequestedSpread) {
    testing::TempFolder folder;
    SyntheticTargetOptions options;
    options.targetType = static_cast<int>(TargetType::ColorChecker);
    options.width = 300;
    options.height = 200;
    options.bitsPerSample = 16;
    options.noiseSigma = 0.01;
    options.seed = 7;
    const SyntheticTarget first = rendered(options);
    const SyntheticTarget again = rendered(options);
    EXPECT_EQ(first.picture.samples, again.picture.samples);
    const std::string a = (folder / "a.tif").string(), b = (folder / "b.tif").string();
    ASSERT_EQ(writeSyntheticTiff(a, first.picture, TiffWriteOptions{}), 0);
    ASSERT_EQ(writeSyntheticTiff(b, again.picture, TiffWriteOptions{}), 0);
    EXPECT_EQ(testing::readFile(a), testing::readFile(b));
    options.seed = 8;
    EXPECT_NE(rendered(options).picture.samples, first.picture.samples);

    // Over the middle half of every patch the deviations from the expected
    // value have mean 0 and the requested standard deviation.
    const Raster raster = rasterOf(first.picture);
    double sum = 0.0, squares = 0.0;
    int count = 0;
    for (const CellExpectation& e : cellExpectations(first)) {
        for (double t = 0.3; t < 0.71; t += 0.05)
            for (double u = 0.3; u < 0.71; u += 0.05) {
                int column = 0, row = 0;
                pixelAt(raster, first.quad, e.cell->u + u * e.cell->width, e.cell->t + t * e.cell->height, column,
                        row);
                for (int c = 0; c < 3; ++c) {
                    const double d = raster.at(column, row, c) / 65535.0 - e.device[c];
                    sum += d;
                    squares += d * d;
                    ++count;
                }
            }
    }
    const double mean = sum / count;
    EXPECT_NEAR(mean, 0.0, 0.001);
    EXPECT_NEAR(std::sqrt(squares / count - mean * mean), 0.01, 0.0005);
}

TEST(Tiff, EveryOrientationStoresTheUprightPicture) {
    testing::TempFolder folder;
    SyntheticTargetOptions options;
    options.targetType = static_cast<int>(TargetType::ColorChecker);
    options.width = 61;
    options.height = 37;
    options.noiseSigma = 0.05;  // every pixel differs from its neighbours
    for (int bits : {8, 16}) {
        options.bitsPerSample = bits;
        const SyntheticTarget target = rendered(options);
        const Raster upright = rasterOf(target.picture);
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(::testing::Message() << bits << " bits, orientation " << orientation);
            TiffWriteOptions tiff;
            tiff.orientation = orientation;
            tiff.compression = orientation % 2 ? kTiffCompressionNone : kTiffCompressionLzw;
            tiff.predictor = orientation % 4 == 0;
            tiff.bigEndian = orientation > 4;
            tiff.alpha = orientation == 3;
            tiff.rowsPerStrip = 5;
            const std::string path = (folder / "o.tif").string();
            ASSERT_EQ(writeSyntheticTiff(path, target.picture, tiff), 0);
            TiffFile file;
            ASSERT_TRUE(readTiffFile(path, file));
            EXPECT_EQ(file.orientation, orientation);
            EXPECT_EQ(file.samplesPerPixel, orientation == 3 ? 4 : 3);
            EXPECT_EQ(file.rowsPerStrip, 5);
            EXPECT_EQ(file.stored.width, orientation >= 5 ? 37 : 61);
            EXPECT_EQ(testing::uprightRaster(file.stored, orientation), upright);

            // libtiff's own reading of orientations 1..4 agrees.
            if (bits == 8 && orientation <= 4) {
                std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), TIFFClose);
                std::vector<std::uint32_t> rgba(61 * 37);
                ASSERT_TRUE(TIFFReadRGBAImageOriented(tif.get(), 61, 37, rgba.data(), ORIENTATION_TOPLEFT, 0));
                for (int row = 0; row < 37; ++row)
                    for (int column = 0; column < 61; ++column) {
                        const std::uint32_t p = rgba[row * 61 + column];
                        ASSERT_EQ(TIFFGetR(p), upright.at(column, row, 0));
                        ASSERT_EQ(TIFFGetB(p), upright.at(column, row, 2));
                    }
            }
        }
    }
}

}  // namespace
}  // namespace calivant
