#pragma once
// Fits the overlay's corners to the edges of the chart's patches at full
// resolution. Starting from a placement close to the truth (within a few
// pixels), each patch edge is found along its normal as the point where the
// colour passes half way from the patch's own colour to the colour beside
// it; the corners that put every edge where it was found are a linear least
// squares problem, since the overlay maps bilinearly. Edges that disagree
// with the rest are dropped, and the search repeats from the new corners.

#include "image/target_image.h"
#include "locate/layout_grid.h"
#include "target/overlay.h"
#include "target/target_layout.h"

namespace calivant {

struct EdgeFit {
    OverlayQuad quad;
    int edges = 0;             // edge points found in the last round
    double inlierShare = 0.0;  // of them, those the fit kept
    double rmsPitch = 0.0;     // their residual, in patch pitches
    double pitchPixels = 0.0;  // the shorter patch pitch at the chart's centre
};

// Fits from `start`; the edges are looked for up to searchPixels from where
// `start` puts them. False when too few edges were found to fit the corners.
bool fitChartEdges(const TargetImage& image, const TargetLayout& layout, const SiteGrid& grid,
                   const OverlayQuad& start, double searchPixels, EdgeFit& fit);

}  // namespace calivant
