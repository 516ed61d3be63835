#include "measure/patch_measurement.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "measure/gray_smoothing.h"
#include "measure/quality_checks.h"
#include "util/format.h"
#include "util/parallel.h"

namespace calivant {
namespace {

bool isMeasurable(const PixelSource& picture) {
    return (picture.format() == PixelFormat::Rgb24 || picture.format() == PixelFormat::Rgb48) &&
           picture.width() >= 1 && picture.height() >= 1;
}

// Patches per thread below which starting another thread costs more than
// it saves.
constexpr std::size_t kPatchesPerThread = 16;

// Measures the cells (layout rectangles in overlay coordinates) into
// results[i], on as many cores as pay.
void measureCells(const PixelSource& picture, const OverlayQuad& quad, const std::vector<const PatchCell*>& cells,
                  std::vector<PatchMeasurement>& results) {
    const auto workers = static_cast<unsigned>(
        std::min<std::size_t>(coreCount(), std::max<std::size_t>(1, cells.size() / kPatchesPerThread)));
    runEachIndex(cells.size(), workers, [&](std::size_t i) {
        const PatchCell& cell = *cells[i];
        results[i] = measurePatch(picture, quad, cell.u, 1.0 - cell.t, cell.width, cell.height);
    });
}

DeviceRgb meansOf(const PatchMeasurement& m) { return {m.meanR, m.meanG, m.meanB}; }

}  // namespace

std::array<int, 3> sampleImage(const PixelSource& picture, double px, double py) {
    const int w = picture.width();
    const int h = picture.height();
    // Callers stay inside the image; clamping makes a stray position read
    // the edge instead of memory beyond the raster.
    if (!(px >= 0.0)) px = 0.0;
    if (!(py >= 0.0)) py = 0.0;
    if (px > w - 1) px = w - 1;
    if (py > h - 1) py = h - 1;

    int ix = static_cast<int>(px);
    int iy = static_cast<int>(py);
    int fx = static_cast<int>((px - ix) * 256.0);
    int fy = static_cast<int>((py - iy) * 256.0);
    if (fx == 0 && fy == 0) return picture.pixel(ix, iy);
    if (ix >= w - 1) {
        ix = w - 2;
        fx = 255;
    }
    if (iy >= h - 1) {
        iy = h - 2;
        fy = 255;
    }
    // A one-pixel-wide or -high image has no neighbour to blend with.
    if (ix < 0 || iy < 0) return picture.pixel(std::max(ix, 0), std::max(iy, 0));

    const PixelRgb p00 = picture.pixel(ix, iy);
    const PixelRgb p10 = picture.pixel(ix + 1, iy);
    const PixelRgb p01 = picture.pixel(ix, iy + 1);
    const PixelRgb p11 = picture.pixel(ix + 1, iy + 1);
    std::array<int, 3> out{};
    for (int c = 0; c < 3; ++c) {
        const int top = blend255(p00[c], p10[c], fx);
        const int bottom = blend255(p01[c], p11[c], fx);
        out[c] = blend255(top, bottom, fy);
    }
    return out;
}

std::array<int, 3> sampleImage(const TargetImage& image, double px, double py) {
    return sampleImage(ImagePixels(image), px, py);
}

PatchMeasurement measurePatch(const PixelSource& picture, const OverlayQuad& quad, double u, double vTop, double w,
                              double h) {
    PatchMeasurement result;
    if (!isMeasurable(picture)) {
        result.deviation = -1.0;
        return result;
    }
    const bool eightBit = picture.format() == PixelFormat::Rgb24;
    const double maxX = picture.width() - 1;
    const double maxY = picture.height() - 1;

    // The samples are kept for the second pass instead of being sampled twice.
    std::array<DeviceRgb, kSampleGridSide * kSampleGridSide> samples;
    int count = 0;
    double sumR = 0.0, sumG = 0.0, sumB = 0.0;
    for (int j = -10; j <= 10; ++j) {
        for (int i = -10; i <= 10; ++i) {
            const double pu = u + (0.5 + 0.025 * i) * w;
            const double pv = (vTop - 0.5 * h) - 0.025 * j * h;
            const ImagePoint p = mapTargetPoint(quad, pu, pv);
            if (!(p.x > 0.0 && p.x <= maxX && p.y > 0.0 && p.y <= maxY)) continue;
            std::array<int, 3> v = sampleImage(picture, p.x, p.y);
            if (eightBit)
                for (int& c : v) c = (c * 65535 + 127) / 255;
            const DeviceRgb scaled{v[0] * kSampleScale, v[1] * kSampleScale, v[2] * kSampleScale};
            sumR += scaled[0];
            sumG += scaled[1];
            sumB += scaled[2];
            samples[static_cast<std::size_t>(count++)] = scaled;
        }
    }
    if (count == 0) {
        result.deviation = -1.0;
        return result;
    }
    result.meanR = sumR / count;
    result.meanG = sumG / count;
    result.meanB = sumB / count;
    double spread = 0.0;
    for (int k = 0; k < count; ++k) {
        const DeviceRgb& s = samples[static_cast<std::size_t>(k)];
        spread += (s[0] - result.meanR) * (s[0] - result.meanR) + (s[1] - result.meanG) * (s[1] - result.meanG) +
                  (s[2] - result.meanB) * (s[2] - result.meanB);
    }
    result.deviation = std::sqrt(spread / count);
    return result;
}

PatchMeasurement measurePatch(const TargetImage& image, const OverlayQuad& quad, double u, double vTop, double w,
                              double h) {
    return measurePatch(ImagePixels(image), quad, u, vTop, w, h);
}

void stretchContrast(TargetMeasurement& m, const TargetLayout& layout, double dmax, double dmin) {
    const auto grays = static_cast<std::size_t>(layout.grayCount);
    const auto colors = static_cast<std::size_t>(layout.colorCount);
    stretchContrast(std::span(m.grayMeasured).first(grays), std::span(m.colorMeasured).first(colors), dmax, dmin,
                    std::span(m.grayWorking).first(grays), std::span(m.colorWorking).first(colors));
}

void stretchContrast(std::span<const DeviceRgb> gray, std::span<const DeviceRgb> color, double dmax, double dmin,
                     std::span<DeviceRgb> grayWorking, std::span<DeviceRgb> colorWorking) {
    auto largest = [](const DeviceRgb& rgb) { return std::max({rgb[0], rgb[1], rgb[2]}); };

    double lo = 1.0;
    double hi = 0.0;
    for (const DeviceRgb& p : gray) {
        lo = std::min(lo, largest(p));
        hi = std::max(hi, largest(p));
    }
    for (const DeviceRgb& p : color) {
        lo = std::min(lo, largest(p));
        hi = std::max(hi, largest(p));
    }

    auto stretch = [&](const DeviceRgb& measured) -> DeviceRgb {
        // Every patch with the same brightest channel: there is no range to
        // stretch, so the values pass unchanged.
        if (!(hi > lo)) return measured;
        const double v = largest(measured);
        const double target = dmax * 0.01 + (v - lo) * (dmin - dmax) * 0.01 / (hi - lo);
        // A patch that is black in every channel has no channel ratios to
        // keep: it becomes a neutral at the dark end's level.
        if (v <= 0.0) return {target, target, target};
        const double factor = target / v;
        return {measured[0] * factor, measured[1] * factor, measured[2] * factor};
    };
    for (std::size_t i = 0; i < gray.size(); ++i) grayWorking[i] = stretch(gray[i]);
    for (std::size_t i = 0; i < color.size(); ++i) colorWorking[i] = stretch(color[i]);
}

namespace {

// The chart's area in square pixels (the corners in their order around it).
double chartArea(const OverlayQuad& quad) {
    double twice = 0.0;
    for (std::size_t k = 0; k < quad.corners.size(); ++k) {
        const ImagePoint& a = quad.corners[k];
        const ImagePoint& b = quad.corners[(k + 1) % quad.corners.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return std::fabs(twice) * 0.5;
}

}  // namespace

TargetMeasurement measureTarget(const TargetImage& image, const TargetLayout& layout, const OverlayQuad& quad,
                                const ReferenceData& reference, const AdvancedOptions& options, MeasureMode mode) {
    return measureTarget(ImagePixels(image), layout, quad, reference, options, mode);
}

TargetMeasurement measureTarget(const PixelSource& picture, const TargetLayout& layout, const OverlayQuad& quad,
                                const ReferenceData& reference, const AdvancedOptions& options, MeasureMode mode) {
    TargetMeasurement m;
    // Without a usable picture there is nothing to sample; the reference must
    // belong to the layout, as its gray Y values steer the smoothing.
    if (!isMeasurable(picture)) return m;
    // Every cell needs at least a pixel of its own; below that the overlay
    // can only be somewhere wrong.
    // Findings that leave nothing to measure end a computation or a printed
    // measurement; the preview only warns of them.
    auto cannotMeasure = [&](std::string_view message) {
        if (mode == MeasureMode::Preview)
            addWarning(m.diagnostics, message);
        else
            addError(m.diagnostics, message);
        m.measured = false;
        return m;
    };
    const LayoutGrid grid = layoutGrid(layout);
    if (picture.width() < grid.columns || picture.height() < grid.rows) return cannotMeasure(kPictureTooSmallError);
    if (reference.grayCount != layout.grayCount || reference.colorCount != layout.colorCount ||
        layout.grayCount > kMaxGrayPatches || layout.colorCount > kMaxColorPatches ||
        layout.whiteCount > kMaxBorderPatches || layout.midGrayCount > kMaxBorderPatches ||
        layout.blackCount > kMaxBorderPatches)
        return m;
    // Corners on one point, or on one line, make every patch one sample of
    // one pixel: no measurement at all.
    if (!(chartArea(quad) >= static_cast<double>(grid.columns) * grid.rows)) return cannotMeasure(kChartTooSmallError);
    m.measured = true;

    // Every cell in the order its result is kept below.
    const bool borders = hasBorderPatches(layout.targetType);
    std::vector<const PatchCell*> cells;
    auto addCells = [&](const auto& from, int count) {
        for (int i = 0; i < count; ++i) cells.push_back(&from[static_cast<std::size_t>(i)]);
    };
    addCells(layout.grayCells, layout.grayCount);
    addCells(layout.colorCells, layout.colorCount);
    if (borders) {
        addCells(layout.whiteCells, layout.whiteCount);
        addCells(layout.midGrayCells, layout.midGrayCount);
        addCells(layout.blackCells, layout.blackCount);
    }
    std::vector<PatchMeasurement> measured(cells.size());
    measureCells(picture, quad, cells, measured);
    const auto chartPatches = static_cast<std::ptrdiff_t>(layout.grayCount + layout.colorCount);
    if (std::all_of(measured.begin(), measured.begin() + chartPatches,
                    [](const PatchMeasurement& p) { return p.deviation < 0.0; }))
        return cannotMeasure(kChartOutsideError);

    auto patch = measured.begin();
    for (int i = 0; i < layout.grayCount; ++i, ++patch) {
        m.grayMeasured[static_cast<std::size_t>(grayIndexOfPosition(layout, i))] = meansOf(*patch);
        m.grayDeviation[static_cast<std::size_t>(i)] = patch->deviation;
    }
    for (int i = 0; i < layout.colorCount; ++i, ++patch) {
        m.colorMeasured[static_cast<std::size_t>(i)] = meansOf(*patch);
        m.colorDeviation[static_cast<std::size_t>(i)] = patch->deviation;
    }
    if (borders) {
        auto takeGroup = [&](int count, std::array<DeviceRgb, kMaxBorderPatches>& means,
                             std::array<double, kMaxBorderPatches>& deviations) {
            for (int i = 0; i < count; ++i, ++patch) {
                means[static_cast<std::size_t>(i)] = meansOf(*patch);
                deviations[static_cast<std::size_t>(i)] = patch->deviation;
            }
        };
        takeGroup(layout.whiteCount, m.whiteMeasured, m.whiteDeviation);
        takeGroup(layout.midGrayCount, m.midGrayMeasured, m.midGrayDeviation);
        takeGroup(layout.blackCount, m.blackMeasured, m.blackDeviation);
        // Informs only: uneven lighting does not stop the computation.
        checkIllumination(m, layout, mode, m.diagnostics);
    }

    int result = checkUniformity(m, layout, mode, m.diagnostics);

    m.graySampled = m.grayMeasured;
    if (tidyGrayScale(std::span(m.grayMeasured).first(static_cast<std::size_t>(layout.grayCount)), reference,
                      options.smoothing, m.diagnostics) == 1) {
        if (mode == MeasureMode::Compute) {
            m.grayOrderQuestion = true;
        } else {
            addWarning(m.diagnostics, kGrayOrderWarning);
            result = 1;
        }
    }

    if (options.stretch) {
        stretchContrast(m, layout, options.stretchDmax, options.stretchDmin);
    } else {
        m.grayWorking = m.grayMeasured;
        m.colorWorking = m.colorMeasured;
    }
    m.status = result;
    return m;
}

int tidyGrayScale(std::span<DeviceRgb> gray, const ReferenceData& reference, int smoothing, Diagnostics& diagnostics) {
    if (smoothing != SmoothingNone) {
        const std::size_t n = gray.size();
        std::vector<double> grayY(n), red(n), green(n), blue(n);
        for (std::size_t i = 0; i < n; ++i) {
            grayY[i] = reference.grayXYZ[i][1];
            red[i] = gray[i][0];
            green[i] = gray[i][1];
            blue[i] = gray[i][2];
        }
        smoothGrayScale(diagnostics, grayY, red, green, blue, smoothing);
        for (std::size_t i = 0; i < n; ++i) gray[i] = {red[i], green[i], blue[i]};
    }
    return checkGrayOrder(gray);
}

TargetContrast contrastOfMeasurement(const TargetMeasurement& measurement, int grayCount) {
    TargetContrast contrast;
    if (grayCount < 1) return contrast;
    auto level = [](const DeviceRgb& rgb) { return 100.0 * (rgb[0] + rgb[1] + rgb[2]) * 0.3333333333333333; };
    contrast.available = true;
    contrast.dmax = level(measurement.grayMeasured[0]);
    contrast.dmin = level(measurement.grayMeasured[static_cast<std::size_t>(grayCount - 1)]);
    return contrast;
}

std::string formatContrastValue(const TargetContrast& contrast, bool darkEnd) {
    if (!contrast.available) return "N/A";
    return formatText("%2f", {darkEnd ? contrast.dmax : contrast.dmin});
}

}  // namespace calivant
