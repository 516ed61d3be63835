#pragma once
// Candidate patches: the flat regions of the reduced picture. Pixels whose
// colour gradient stands above the picture's noise are edges; the connected
// regions between them that are compact and of a plausible size are kept,
// each with its centroid, size and mean colour.

#include <array>
#include <vector>

#include "locate/reduced_image.h"

namespace calivant {

struct PatchBlob {
    double x = 0.0;  // centroid, reduced coordinates
    double y = 0.0;
    double area = 0.0;  // pixels
    std::array<float, 3> rgb{};
};

// Finds the candidate patches. At most kMaxBlobs are returned (the largest
// first when there are more).
std::vector<PatchBlob> findPatchBlobs(const ReducedImage& image);

inline constexpr int kMaxBlobs = 20000;

}  // namespace calivant
