#pragma once
// Finds the chart in the target image: the four corners of the layout's
// frame, wherever the chart lies and however it is turned or mirrored, so
// that the overlay can be put on it without the user dragging corners.
//
// The picture is looked at in copies of several sizes, so that patches of
// any size are seen at a size where they are plain: in each, the patches are
// found as regions flatter inside than at their border and joined into
// lattices; the layout's grid is matched against each lattice in its eight
// orientations, and each placement is checked against what the printed
// chart must show there (patches where it prints them, none where it does
// not) and against the reference: the colours of the right placement, in
// the right orientation, follow the reference through a smooth device
// model, and those of a wrong one do not. Without a reference the gray scale
// must rise. The frame is then fitted to the patch edges at full
// resolution, in perspective. When any step is not sure of its answer the
// chart counts as not found: a wrong placement does more harm than none.

#include <string>

#include "image/target_image.h"
#include "reference/reference_data.h"
#include "target/overlay.h"
#include "target/target_layout.h"

namespace calivant {

struct ChartLocation {
    bool found = false;
    // Corners in the overlay's order and image coordinates (corner 0 at the
    // layout's (u, t) = (0, 1), 1 at (0, 0), 2 at (1, 0), 3 at (1, 1); y
    // counted from the bottom row, pixel centres). Set only when found.
    OverlayQuad quad;
    // 0..1; found charts have at least kMinChartConfidence.
    double confidence = 0.0;
    // True when a reference decided the orientation (and mirroring); false
    // when the gray scale alone did, which a reference loaded later should
    // check by locating again.
    bool orientedByReference = false;
    // Why the chart was not found, one short sentence without a full stop,
    // naming what was seen.
    std::string reason;
    // Not found, but the chart's reference would let it be found (a
    // mirrored chart, or one whose orientation only the reference can tell).
    bool referenceWouldHelp = false;
};

inline constexpr double kMinChartConfidence = 0.5;

// Locates the chart of `layout` in an Rgb24 or Rgb48 image. With a reference
// (whose counts match the layout), every orientation including the mirror
// images is tried and the patches must fit it; without one only the four
// turns are tried and the gray scale must rise from its darkest to its
// lightest patch. Never prints, never fails: bad or unusable input gives a
// location that is not found.
ChartLocation locateChart(const TargetImage& image, const TargetLayout& layout, const ReferenceData* reference);

// The chart's name as the reasons give it ("ColorChecker SG").
const char* chartName(const TargetLayout& layout);

}  // namespace calivant
