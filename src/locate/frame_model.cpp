#include "locate/frame_model.h"

#include <Eigen/Dense>

#include <cmath>

namespace calivant {
namespace {

// The point that the lens moves onto (x, y): the radial term inverted by a
// few fixed-point steps (it is a few per cent at most).
ImagePoint undistort(const FrameModel& m, double x, double y) {
    double ux = x, uy = y;
    for (int i = 0; i < 4; ++i) {
        const double dx = ux - m.cx;
        const double dy = uy - m.cy;
        const double f = 1.0 + m.k * (dx * dx + dy * dy) / m.r2;
        ux = m.cx + (x - m.cx) / f;
        uy = m.cy + (y - m.cy) / f;
    }
    return {ux, uy};
}

// Shift and scale that bring points to mean 0 and mean distance sqrt 2.
struct Normaliser {
    double mx = 0.0, my = 0.0, s = 1.0;
    explicit Normaliser(const std::vector<std::array<double, 2>>& p) {
        for (const auto& v : p) {
            mx += v[0];
            my += v[1];
        }
        mx /= static_cast<double>(p.size());
        my /= static_cast<double>(p.size());
        double d = 0.0;
        for (const auto& v : p) d += std::hypot(v[0] - mx, v[1] - my);
        d /= static_cast<double>(p.size());
        s = d > 0.0 ? std::sqrt(2.0) / d : 1.0;
    }
    Eigen::Matrix3d matrix() const {
        Eigen::Matrix3d t;
        t << s, 0, -s * mx, 0, s, -s * my, 0, 0, 1;
        return t;
    }
};

}  // namespace

ImagePoint FrameModel::map(double u, double t) const {
    const double w = h[6] * u + h[7] * t + h[8];
    const double x = (h[0] * u + h[1] * t + h[2]) / w;
    const double y = (h[3] * u + h[4] * t + h[5]) / w;
    const double dx = x - cx;
    const double dy = y - cy;
    const double f = 1.0 + k * (dx * dx + dy * dy) / r2;
    return {cx + dx * f, cy + dy * f};
}

OverlayQuad FrameModel::quad() const {
    OverlayQuad q;
    q.corners = {map(0.0, 1.0), map(0.0, 0.0), map(1.0, 0.0), map(1.0, 1.0)};
    return q;
}

FrameModel lensFor(int width, int height) {
    FrameModel m;
    m.cx = 0.5 * (width - 1);
    m.cy = 0.5 * (height - 1);
    m.r2 = std::max(1.0, m.cx * m.cx + m.cy * m.cy);
    return m;
}

bool fitHomography(FrameModel& model, const std::vector<std::array<double, 2>>& layout,
                   const std::vector<ImagePoint>& picture) {
    const std::size_t n = layout.size();
    if (n < 4 || picture.size() != n) return false;
    std::vector<std::array<double, 2>> flat(n);
    for (std::size_t i = 0; i < n; ++i) {
        const ImagePoint p = undistort(model, picture[i].x, picture[i].y);
        flat[i] = {p.x, p.y};
    }
    const Normaliser from(layout), to(flat);
    // Direct linear transform: two rows per pair, the homography as the
    // singular vector of the smallest singular value.
    Eigen::MatrixXd a(static_cast<Eigen::Index>(2 * n), 9);
    for (std::size_t i = 0; i < n; ++i) {
        const double u = from.s * (layout[i][0] - from.mx);
        const double t = from.s * (layout[i][1] - from.my);
        const double x = to.s * (flat[i][0] - to.mx);
        const double y = to.s * (flat[i][1] - to.my);
        const Eigen::Index r = static_cast<Eigen::Index>(2 * i);
        a.row(r) << u, t, 1, 0, 0, 0, -x * u, -x * t, -x;
        a.row(r + 1) << 0, 0, 0, u, t, 1, -y * u, -y * t, -y;
    }
    const Eigen::JacobiSVD<Eigen::MatrixXd> svd(a, Eigen::ComputeFullV);
    const Eigen::VectorXd s = svd.singularValues();
    // A second vanishing singular value: the points fix no single map.
    if (!(s(7) > 1e-9 * s(0))) return false;
    const Eigen::VectorXd v = svd.matrixV().col(8);
    Eigen::Matrix3d hn;
    hn << v(0), v(1), v(2), v(3), v(4), v(5), v(6), v(7), v(8);
    const Eigen::Matrix3d hm = to.matrix().inverse() * hn * from.matrix();
    if (!hm.allFinite() || std::abs(hm(2, 2)) < 1e-12) return false;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) model.h[static_cast<std::size_t>(3 * r + c)] = hm(r, c) / hm(2, 2);
    return true;
}

bool modelThroughQuad(FrameModel& model, const OverlayQuad& quad) {
    const std::vector<std::array<double, 2>> layout = {{0.0, 1.0}, {0.0, 0.0}, {1.0, 0.0}, {1.0, 1.0}};
    const std::vector<ImagePoint> picture(quad.corners.begin(), quad.corners.end());
    return fitHomography(model, layout, picture);
}

}  // namespace calivant
