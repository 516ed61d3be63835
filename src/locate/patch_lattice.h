#pragma once
// Joins candidate patches into lattices: from a patch with four neighbours
// at the ends of two independent steps, the lattice grows patch by patch,
// each step predicted from the steps measured nearby (so keystone and lens
// distortion bend it gently), jumping a single missing patch where needed.
// A smooth map from lattice index (i, j) to picture position is fitted to
// the patches and those that stray from it are dropped.

#include <array>
#include <vector>

#include "locate/patch_blobs.h"

namespace calivant {

struct LatticeNode {
    int i = 0;
    int j = 0;
    int blob = 0;  // index into the blobs the lattice was built from
};

struct PatchLattice {
    std::vector<LatticeNode> nodes;
    // x and y (reduced coordinates) as quadratic polynomials of the index,
    // in terms 1, i, j, i^2, i j, j^2.
    std::array<double, 6> fitX{};
    std::array<double, 6> fitY{};
    // Median distance between neighbouring patches, reduced pixels.
    double pitch = 0.0;

    void map(double i, double j, double& x, double& y) const;
};

inline constexpr int kMinLatticeNodes = 8;

// The lattices among the blobs, largest first (at most maxLattices), each
// with at least kMinLatticeNodes patches spanning two rows and two columns.
std::vector<PatchLattice> findPatchLattices(const std::vector<PatchBlob>& blobs, int maxLattices);

}  // namespace calivant
