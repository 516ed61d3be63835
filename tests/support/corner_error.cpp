#include "support/corner_error.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "locate/layout_grid.h"
#include "target/target_layout.h"

namespace calivant::testing {

double worstCornerError(const OverlayQuad& truth, const OverlayQuad& found, int targetType) {
    const SiteGrid grid = siteGrid(makeTargetLayout(targetType));
    const double uv[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    double worst = 0.0;
    for (std::size_t k = 0; k < 4; ++k) {
        const double u = uv[k][0], v = uv[k][1];
        const double du = u > 0.5 ? -1e-4 : 1e-4, dv = v > 0.5 ? -1e-4 : 1e-4;
        const ImagePoint p = mapTargetPoint(truth, u, v);
        const ImagePoint pu = mapTargetPoint(truth, u + du, v);
        const ImagePoint pv = mapTargetPoint(truth, u, v + dv);
        const double a = (pu.x - p.x) / du, b = (pv.x - p.x) / dv, c = (pu.y - p.y) / du, d = (pv.y - p.y) / dv;
        const double ex = found.corners[k].x - p.x, ey = found.corners[k].y - p.y;
        const double det = a * d - b * c;
        worst = std::max(worst, std::hypot((d * ex - b * ey) / det / grid.pitchU, (a * ey - c * ex) / det / grid.pitchT));
    }
    return worst;
}

}  // namespace calivant::testing
