#pragma once
// Fits the chart's frame to the edges of its patches at full resolution.
// Starting from a placement close to the truth (within a few pixels), each
// patch edge is found along its normal as the point where the colour passes
// half way from the patch's own colour to the colour beside it; the frame
// model (perspective and lens bending) that puts every edge where it was
// found is a small least squares problem. Edges that disagree with the rest
// (glare, a thumb over a patch) are dropped, and the search repeats from the
// new frame.

#include "image/target_image.h"
#include "locate/frame_model.h"
#include "locate/layout_grid.h"
#include "target/overlay.h"
#include "target/target_layout.h"

namespace calivant {

struct EdgeFit {
    FrameModel model;
    OverlayQuad quad;          // the model's corners
    double patchScale = 1.0;   // printed patch size over the layout's cell size
    int edges = 0;             // edge points found in the last round
    double inlierShare = 0.0;  // of them, those the fit kept
    double rmsPitch = 0.0;     // their residual, in patch pitches
    double pitchPixels = 0.0;  // the shorter patch pitch at the chart's centre
};

// Fits from `start`; the edges are looked for up to searchPixels from where
// `start` puts them. False when too few edges were found to fit the frame.
bool fitChartEdges(const TargetImage& image, const SiteGrid& grid, const FrameModel& start, double searchPixels,
                   EdgeFit& fit);

}  // namespace calivant
