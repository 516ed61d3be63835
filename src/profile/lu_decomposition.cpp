#include "profile/lu_decomposition.h"

#include <cassert>
#include <cmath>
#include <cstddef>
#include <utility>

namespace calivant {

int luFactor(std::span<double> a, int n, std::span<int> pivots) {
    assert(n >= 1);
    assert(a.size() >= static_cast<std::size_t>(n) * n);
    assert(pivots.size() >= static_cast<std::size_t>(n));
    auto at = [&](int row, int column) -> double& { return a[static_cast<std::size_t>(row) * n + column]; };

    pivots[n - 1] = 1;
    for (int k = 0; k < n; ++k) {
        int m = k;
        if (k < n - 1) {
            // Ties keep the upper row.
            double largest = std::fabs(at(k, k));
            for (int i = k + 1; i < n; ++i) {
                const double magnitude = std::fabs(at(i, k));
                if (magnitude > largest) {
                    largest = magnitude;
                    m = i;
                }
            }
            pivots[k] = m;
            if (m != k) pivots[n - 1] = -pivots[n - 1];
        }
        std::swap(at(m, k), at(k, k));
        const double t = at(k, k);
        if (t != 0.0) {
            for (int i = k + 1; i < n; ++i) at(i, k) = -at(i, k) / t;
            for (int j = k + 1; j < n; ++j) {
                std::swap(at(m, j), at(k, j));
                const double pivotRowValue = at(k, j);
                if (pivotRowValue != 0.0)
                    for (int i = k + 1; i < n; ++i) at(i, j) += at(i, k) * pivotRowValue;
            }
        }
        // Only an exact zero counts: a tiny pivot of a matrix that is
        // singular in exact arithmetic is solved as it stands.
        if (at(k, k) == 0.0) return 1;
    }
    return 0;
}

void luSolve(std::span<const double> a, int n, std::span<double> b, std::span<const int> pivots) {
    assert(n >= 1);
    assert(a.size() >= static_cast<std::size_t>(n) * n);
    assert(b.size() >= static_cast<std::size_t>(n));
    assert(pivots.size() >= static_cast<std::size_t>(n));
    auto at = [&](int row, int column) { return a[static_cast<std::size_t>(row) * n + column]; };

    for (int k = 0; k < n - 1; ++k) {
        const int m = pivots[k];
        assert(m >= k && m < n);
        std::swap(b[m], b[k]);
        for (int i = k + 1; i < n; ++i) b[i] += at(i, k) * b[k];
    }
    for (int k = n - 1; k >= 1; --k) {
        b[k] = b[k] / at(k, k);
        for (int i = 0; i < k; ++i) b[i] += -b[k] * at(i, k);
    }
    b[0] = b[0] / at(0, 0);
}

}  // namespace calivant
