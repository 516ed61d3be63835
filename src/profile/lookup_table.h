#pragma once
// The colour lookup table of one pass: the fitted model sampled on a regular
// n x n x n grid of linearized RGB, optionally bent through every patch by
// the residual correction, clipped to the connection space and encoded as
// the 16-bit values of an ICC "mft2" CLUT (R index slowest, B fastest, the
// three values of a point in PCS order).
//
// Encodings:
//   Lab  L* x 652.8 (100 -> 0xFF00); a*, b* x 256 + 32768 clipped to 0..65535.
//        An L* below 0 becomes black (0, 0, 0), above 100 white (100, 0, 0).
//   XYZ  each component clipped to 0..D50 white, then x 327.67 (Y 100 ->
//        32767: the historical scale, not 327.68).

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "profile/profile_result.h"
#include "profile/regression.h"
#include "measure/advanced_options.h"

#include "util/diagnostics.h"

namespace calivant {

// The colorants are written as value x 655.35 in a signed 32-bit number; a
// fit whose primaries lie beyond this cannot be written and is refused.
inline constexpr double kMaxColorantMagnitude = 3.0e6;

// Encodes one model value (already corrected) as three table values. Returns
// false, storing nothing, when a component is not finite.
bool encodeLabPoint(const ColorTriple& lab, std::uint16_t* out);
bool encodeXyzPoint(const ColorTriple& xyz, std::uint16_t* out);

// Coordinate 0..1 of point `index` along an n-point axis of the grid.
inline double gridCoordinate(std::size_t index, int n) { return static_cast<double>(index) / (n - 1); }

// Rows [first, last) of an n-point grid, a row being the n points of one
// (R, G) pair: value(r, g, b), plus the residual correction interpolated a
// row at a time when `residuals` is given, written by encode(value, out).
// False when encode refuses a value.
template <class Value, class Encode>
bool fillGridRows(int n, const PatchResiduals* residuals, std::size_t first, std::size_t last, std::uint16_t* clut,
                  const Value& value, const Encode& encode) {
    const std::size_t size = static_cast<std::size_t>(n);
    std::array<double, kMaxClutGridSize> b;
    std::array<ColorTriple, kMaxClutGridSize> corrections;
    for (std::size_t k = 0; k < size; ++k) b[k] = gridCoordinate(k, n);
    for (std::size_t row = first; row < last; ++row) {
        const double r = gridCoordinate(row / size, n);
        const double g = gridCoordinate(row % size, n);
        if (residuals)
            interpolateResidualRow(*residuals, r, g, std::span<const double>(b.data(), size),
                                   std::span<ColorTriple>(corrections.data(), size));
        for (std::size_t k = 0; k < size; ++k) {
            auto v = value(r, g, b[k]);
            if (residuals)
                for (int c = 0; c < 3; ++c) v[c] += corrections[k][c];
            if (!encode(v, clut + (row * size + k) * 3)) return false;
        }
    }
    return true;
}

// Splits rows [0, rows) into threadCount ranges (0: one per core) and calls
// fill(first, last) for each through runOnRanges. True when every range was
// filled. The ranges do not depend on which thread runs them.
bool fillOnCores(std::size_t rows, unsigned threadCount, const std::function<bool(std::size_t, std::size_t)>& fill);

// Fits the regression, then fills the first clutSize^3 x 3 values of clut
// (which has room for the largest grid) on every core. Returns 1 after
// "Regression error" when the fit fails, or when it gives colorants or table
// values that are not finite or cannot be encoded. On failure the table is
// incomplete.
int buildLookupTable(const AdvancedOptions& options, int targetType, ProfileResult& result,
                     std::vector<std::uint16_t>& clut, Diagnostics& diagnostics);

// Fills the table from the model already fitted in result, with the
// precomputed patch residuals, on threadCount threads (0: one per core).
// Every thread writes its own range of grid points, so the table does not
// depend on the thread count. Returns 1, showing nothing, when a value is not
// finite or the grid size or table room is wrong.
int fillLookupTable(const ProfileResult& result, const AdvancedOptions& options, std::span<std::uint16_t> clut,
                    unsigned threadCount = 0);

// The same table on one thread with the residual correction evaluated per
// grid point exactly as defined (one model evaluation per patch per point).
// Much slower; kept as the reference the fast form must match bit for bit.
int fillLookupTablePerQuery(const ProfileResult& result, const AdvancedOptions& options,
                            std::span<std::uint16_t> clut);

}  // namespace calivant
