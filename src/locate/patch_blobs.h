#pragma once
// Candidate patches: regions of the reduced picture that are flatter inside
// than at their border, compact and about square.
//
// The picture's colour gradient is flooded from its lowest value up: pixels
// join the regions beside them in order of rising gradient, so every region
// grows from a flat inside to the ridge of gradient around it, where it meets
// the next region. Just before two regions of some size meet, each is
// looked at as a possible patch. No single threshold on the gradient decides
// where an edge is: a patch of a noisy photograph is whole once its own
// noise is passed, and two touching patches that differ by little still
// meet only at the faint ridge between them. The same patch may be offered
// more than once, as part of larger regions; the lattice keeps those that
// line up with their neighbours.

#include <array>
#include <vector>

#include "locate/reduced_image.h"

namespace calivant {

struct PatchBlob {
    double x = 0.0;  // centroid, reduced coordinates
    double y = 0.0;
    double area = 0.0;  // pixels
    // How far the gradient at its border stands above the gradient inside
    // it (a ratio, at least 1): how sure the region is a patch of its own.
    float contrast = 1.0f;
};

// Finds the candidate patches. At most kMaxBlobs are returned (those of the
// clearest border first when there are more).
std::vector<PatchBlob> findPatchBlobs(const ReducedImage& image);

inline constexpr int kMaxBlobs = 20000;

}  // namespace calivant
