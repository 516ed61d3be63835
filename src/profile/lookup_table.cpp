#include "profile/lookup_table.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <atomic>

#include "util/cie.h"
#include "util/parallel.h"
#include "profile/regression.h"

namespace calivant {
namespace {

constexpr double kLabLScale = 652.8;
constexpr double kLabAbScale = 256.0;
constexpr double kLabAbOffset = 32768.0;
constexpr double kXyzScale = 327.67;
constexpr double kMaxCode = 65535.0;

bool allFinite(const ColorTriple& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

double clampTo(double v, double low, double high) { return v < low ? low : v > high ? high : v; }

std::uint16_t toCode(double v) { return static_cast<std::uint16_t>(roundHalfAway(v)); }


bool encodePoint(bool xyz, const ColorTriple& v, std::uint16_t* out) {
    return xyz ? encodeXyzPoint(v, out) : encodeLabPoint(v, out);
}

ColorTriple modelAt(const ProfileResult& result, bool xyz, double r, double g, double b) {
    return xyz ? evaluateModelXyz(result, r, g, b, false) : evaluateModelLab(result, r, g, b, false);
}

// What one table build reads.
struct TableJob {
    const ProfileResult& result;
    bool xyz;
    bool eliminateResiduals;
    int n;
    std::uint16_t* clut;

    // Rows [first, last) of the grid; the residuals come precomputed, a row
    // at a time. False when a value is not finite.
    bool fillRows(std::size_t first, std::size_t last) const {
        return fillGridRows(
            n, eliminateResiduals ? &result.patchResiduals : nullptr, first, last, clut,
            [&](double r, double g, double b) { return modelAt(result, xyz, r, g, b); },
            [&](const ColorTriple& v, std::uint16_t* out) { return encodePoint(xyz, v, out); });
    }

    // Every point, the correction evaluated per point as defined.
    bool fillPerQuery() const {
        const std::size_t size = static_cast<std::size_t>(n);
        for (std::size_t point = 0; point < size * size * size; ++point) {
            const double r = gridCoordinate(point / (size * size), n);
            const double g = gridCoordinate(point / size % size, n);
            const double b = gridCoordinate(point % size, n);
            ColorTriple v = modelAt(result, xyz, r, g, b);
            if (eliminateResiduals) {
                const ColorTriple c = xyz ? residualCorrectionXyz(result, r, g, b) : residualCorrectionLab(result, r, g, b);
                for (int k = 0; k < 3; ++k) v[k] += c[k];
            }
            if (!encodePoint(xyz, v, clut + point * 3)) return false;
        }
        return true;
    }
};

bool tableFits(const AdvancedOptions& options, std::span<std::uint16_t> clut) {
    if (!isValidClutSize(options.clutSize)) return false;
    const std::size_t n = static_cast<std::size_t>(options.clutSize);
    return clut.size() >= n * n * n * 3;
}

TableJob jobFor(const ProfileResult& result, const AdvancedOptions& options, std::span<std::uint16_t> clut) {
    return {result, options.colorSpace == CieXyz, options.eliminateResiduals != 0, options.clutSize, clut.data()};
}

bool colorantsEncodable(const ProfileResult& result, int colorSpace) {
    for (int channel = 0; channel < 3; ++channel)
        for (double v : primaryXyz(result, colorSpace, channel))
            if (!(std::fabs(v) <= kMaxColorantMagnitude)) return false;
    return true;
}

int failRegression(Diagnostics& diagnostics) {
    addError(diagnostics, "Regression error");
    return 1;
}

}  // namespace

bool encodeLabPoint(const ColorTriple& lab, std::uint16_t* out) {
    if (!allFinite(lab)) return false;
    double l = lab[0];
    double a = lab[1];
    double b = lab[2];
    if (l < 0.0) {
        l = a = b = 0.0;
    } else if (l > 100.0) {
        l = 100.0;
        a = b = 0.0;
    }
    out[0] = toCode(l * kLabLScale);
    out[1] = toCode(clampTo(a * kLabAbScale + kLabAbOffset, 0.0, kMaxCode));
    out[2] = toCode(clampTo(b * kLabAbScale + kLabAbOffset, 0.0, kMaxCode));
    return true;
}

bool encodeXyzPoint(const ColorTriple& xyz, std::uint16_t* out) {
    if (!allFinite(xyz)) return false;
    out[0] = toCode(clampTo(xyz[0], 0.0, kD50WhiteX) * kXyzScale);
    out[1] = toCode(clampTo(xyz[1], 0.0, kD50WhiteY) * kXyzScale);
    out[2] = toCode(clampTo(xyz[2], 0.0, kD50WhiteZ) * kXyzScale);
    return true;
}

int buildLookupTable(const AdvancedOptions& options, int targetType, ProfileResult& result,
                     std::vector<std::uint16_t>& clut, Diagnostics& diagnostics) {
    assert(tableFits(options, clut));
    if (fitRegression(options, targetType, result, diagnostics) != 0) return 1;
    if (!colorantsEncodable(result, options.colorSpace)) return failRegression(diagnostics);
    if (fillLookupTable(result, options, clut) != 0) return failRegression(diagnostics);
    return 0;
}

int fillLookupTable(const ProfileResult& result, const AdvancedOptions& options, std::span<std::uint16_t> clut,
                    unsigned threadCount) {
    if (!tableFits(options, clut)) return 1;
    const TableJob job = jobFor(result, options, clut);
    const std::size_t rows = static_cast<std::size_t>(options.clutSize) * options.clutSize;

    return fillOnCores(rows, threadCount, [&](std::size_t first, std::size_t last) { return job.fillRows(first, last); })
               ? 0
               : 1;
}

bool fillOnCores(std::size_t rows, unsigned threadCount, const std::function<bool(std::size_t, std::size_t)>& fill) {
    std::atomic<bool> filled{true};
    runOnRanges(rows, threadCount, [&](std::size_t first, std::size_t last) {
        if (!fill(first, last)) filled = false;
    });
    return filled;
}

int fillLookupTablePerQuery(const ProfileResult& result, const AdvancedOptions& options,
                            std::span<std::uint16_t> clut) {
    if (!tableFits(options, clut)) return 1;
    return jobFor(result, options, clut).fillPerQuery() ? 0 : 1;
}

}  // namespace calivant
