#pragma once
// Where the chart's frame lies in the picture: a flat card seen in
// perspective (a homography from layout (u, t) to picture coordinates),
// through a lens that bends straight lines a little (one radial term about
// the picture's centre, barrel for k < 0). A bilinear quad cannot follow a
// chart photographed at an angle: the rows that lie further away are
// smaller, so it misplaces the middle when its corners are right, and the
// corners when the middle is.

#include <array>
#include <vector>

#include "image/target_image.h"
#include "target/overlay.h"

namespace calivant {

struct FrameModel {
    // Row by row; h[8] is 1.
    std::array<double, 9> h{1, 0, 0, 0, 1, 0, 0, 0, 1};
    double k = 0.0;
    // The lens's centre and the square of the picture's half diagonal.
    double cx = 0.0, cy = 0.0, r2 = 1.0;

    ImagePoint map(double u, double t) const;
    // The frame's corners in the overlay's order: (u, t) = (0, 1), (0, 0),
    // (1, 0), (1, 1).
    OverlayQuad quad() const;
};

// A model without lens bending for a picture of the given size.
FrameModel lensFor(int width, int height);

// Sets h to the homography that best carries the layout points to the
// picture points (at least four, not three on a line), least squares after
// normalising both sets; false when they fix none. k stays as it is and the
// points are taken as bent by it.
bool fitHomography(FrameModel& model, const std::vector<std::array<double, 2>>& layout,
                   const std::vector<ImagePoint>& picture);

// The homography through a quad's four corners.
bool modelThroughQuad(FrameModel& model, const OverlayQuad& quad);

}  // namespace calivant
