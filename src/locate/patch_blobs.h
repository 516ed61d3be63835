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
#include <functional>
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

// Which edges of a picture given to the search are cut from a larger one:
// regions touching them are not whole and are not offered.
struct BlobWindow {
    bool openLeft = false, openRight = false, openBottom = false, openTop = false;
};

// Finds the candidate patches. At most kMaxBlobs are returned (those of the
// clearest border first when there are more).
std::vector<PatchBlob> findPatchBlobs(const ReducedImage& image);

// How much a part of the picture (image pixels x0 .. x1, y0 .. y1) promises
// small patches; larger first.
using TileInterest = std::function<double(double x0, double y0, double x1, double y1)>;

// The same in the picture reduced by `factor` (reduced coordinates), made
// and searched a tile at a time on every core, for copies too large to hold
// whole: only patches small enough to lie whole in a tile are found. The
// tiles of most interest are searched first, until they hold about
// pixelBudget pixels of the copy.
std::vector<PatchBlob> findPatchBlobsInTiles(const TargetImage& image, int factor, const TileInterest& interest,
                                             double pixelBudget);

inline constexpr int kMaxBlobs = 20000;

}  // namespace calivant
