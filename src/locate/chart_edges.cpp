#include "locate/chart_edges.h"

#include <Eigen/Dense>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace calivant {
namespace {

// Cells whose edges are measured, spread evenly over the chart.
constexpr int kMaxEdgeCells = 160;
// Points measured along each edge, as fractions of its length.
constexpr double kEdgeFractions[3] = {0.25, 0.5, 0.75};
// Beside an edge the colour must change by at least this much (0..1 scale,
// Euclidean over the channels) for the edge to be measured.
constexpr double kMinEdgeContrast = 0.04;
// Profile step and the half width of the strip averaged across it, pixels.
constexpr double kProfileStep = 0.75;
constexpr double kStripHalfWidth = 1.5;
// Later rounds look as far as the corners last moved, but at least this many
// pixels; the fit has settled when no corner moves by more than kSettledMove.
constexpr double kSettledSearch = 3.0;
constexpr double kSettledMove = 0.05;
constexpr int kMinRounds = 2;
constexpr int kMaxRounds = 6;
// Residuals beyond this many robust standard deviations (and beyond the
// floor, pixels) are outliers.
constexpr double kOutlierSigmas = 3.0;
constexpr double kOutlierFloor = 0.35;
constexpr int kMinEdges = 16;
// Of the probes of each edge direction (left, right, top, bottom) at least
// this share must find their edge: where a starting placement is off by
// more than half the gap between the patches, the edges across it are all
// missed and nothing would hold the fit's scale in that direction.
constexpr double kMinDirectionShare = 0.35;

struct Rgb {
    double c[3] = {0, 0, 0};
};

class FullSampler {
public:
    explicit FullSampler(const TargetImage& image)
        : image_(image), wide_(image.format == PixelFormat::Rgb48), scale_(wide_ ? 1.0 / 65535.0 : 1.0 / 255.0) {}

    Rgb at(double x, double y) const {
        const int w = image_.width;
        const int h = image_.height;
        // Written so that a NaN lands on the edge too.
        x = x > 0.0 ? std::min(x, w - 1.0) : 0.0;
        y = y > 0.0 ? std::min(y, h - 1.0) : 0.0;
        const int ix = std::min(static_cast<int>(x), std::max(w - 2, 0));
        const int iy = std::min(static_cast<int>(y), std::max(h - 2, 0));
        const int jx = std::min(ix + 1, w - 1);
        const int jy = std::min(iy + 1, h - 1);
        const double fx = x - ix;
        const double fy = y - iy;
        Rgb p00 = pixel(ix, iy), p10 = pixel(jx, iy), p01 = pixel(ix, jy), p11 = pixel(jx, jy);
        Rgb out;
        for (int k = 0; k < 3; ++k) {
            const double bottom = p00.c[k] + (p10.c[k] - p00.c[k]) * fx;
            const double top = p01.c[k] + (p11.c[k] - p01.c[k]) * fx;
            out.c[k] = bottom + (top - bottom) * fy;
        }
        return out;
    }

private:
    Rgb pixel(int x, int y) const {
        const std::uint8_t* row = image_.rows[static_cast<std::size_t>(y)];
        Rgb out;
        if (wide_) {
            const std::uint8_t* p = row + static_cast<std::size_t>(x) * 6;
            out.c[0] = (p[4] | (p[5] << 8)) * scale_;
            out.c[1] = (p[2] | (p[3] << 8)) * scale_;
            out.c[2] = (p[0] | (p[1] << 8)) * scale_;
        } else {
            const std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
            out.c[0] = p[2] * scale_;
            out.c[1] = p[1] * scale_;
            out.c[2] = p[0] * scale_;
        }
        return out;
    }

    const TargetImage& image_;
    bool wide_;
    double scale_;
};

ImagePoint at(const OverlayQuad& quad, double u, double t) { return mapTargetPoint(quad, u, 1.0 - t); }

double distance(const ImagePoint& a, const ImagePoint& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// One edge point of a cell: where it lies in the layout, which way is out,
// how deep the cell is behind it and how wide the gap before the next cell.
struct EdgeProbe {
    double u, t;    // on the edge
    double nu, nt;  // outward normal (unit, along u or t)
    double depth;   // cell extent along the normal
    double gap;     // free space beyond the edge (0 where cells touch)
};

// A found edge: the layout point and, in the image, the point where the
// edge really lies and the edge's normal there.
struct EdgeObservation {
    double u, t;
    double nu, nt;  // the probe's outward normal in the layout
    ImagePoint found;
    double nx, ny;
};

std::vector<EdgeProbe> edgeProbes(const TargetLayout& layout, const SiteGrid& grid) {
    std::vector<const PatchCell*> cells;
    for (const auto* list : {&layout.grayCells, &layout.colorCells, &layout.whiteCells, &layout.midGrayCells,
                             &layout.blackCells})
        for (const PatchCell& c : *list)
            if (std::abs(c.width - grid.cellWidth) < 1e-6 && std::abs(c.height - grid.cellHeight) < 1e-6)
                cells.push_back(&c);
    const std::size_t stride = std::max<std::size_t>(1, (cells.size() + kMaxEdgeCells - 1) / kMaxEdgeCells);
    const double gapU = std::max(0.0, grid.pitchU - grid.cellWidth);
    const double gapT = std::max(0.0, grid.pitchT - grid.cellHeight);
    std::vector<EdgeProbe> probes;
    for (std::size_t k = 0; k < cells.size(); k += stride) {
        const PatchCell& c = *cells[k];
        for (double f : kEdgeFractions) {
            probes.push_back({c.u, c.t + f * c.height, -1, 0, c.width, gapU});
            probes.push_back({c.u + c.width, c.t + f * c.height, 1, 0, c.width, gapU});
            probes.push_back({c.u + f * c.width, c.t, 0, -1, c.height, gapT});
            probes.push_back({c.u + f * c.width, c.t + c.height, 0, 1, c.height, gapT});
        }
    }
    return probes;
}

// Looks for one edge along its normal, up to `search` pixels either way.
bool findEdge(const FullSampler& image, const OverlayQuad& quad, const EdgeProbe& e, double search,
              EdgeObservation& found) {
    const ImagePoint centre = at(quad, e.u, e.t);
    constexpr double kDelta = 1e-3;
    // Pixels per layout unit along the normal and along the edge.
    const double normalScale = distance(at(quad, e.u + kDelta * e.nu, e.t + kDelta * e.nt), centre) / kDelta;
    const ImagePoint ahead = at(quad, e.u + kDelta * e.nt, e.t + kDelta * e.nu);
    const double edgeScale = distance(ahead, centre) / kDelta;
    if (!(normalScale > 0.0) || !(edgeScale > 0.0)) return false;

    const double inside = 0.25 * e.depth;
    const double outside = e.gap > 0.05 * e.depth ? 0.5 * e.gap : 0.25 * e.depth;
    const double strip = kStripHalfWidth / edgeScale;
    // Mean colour across a short strip along the edge, at offset s along the normal.
    auto colourAt = [&](double s) {
        Rgb sum;
        for (int k = -1; k <= 1; ++k) {
            const double along = k * strip;
            const ImagePoint p = at(quad, e.u + s * e.nu + along * e.nt, e.t + s * e.nt + along * e.nu);
            const Rgb v = image.at(p.x, p.y);
            for (int c = 0; c < 3; ++c) sum.c[c] += v.c[c] / 3.0;
        }
        return sum;
    };
    const Rgb in = colourAt(-inside);
    const Rgb out = colourAt(outside);
    double d[3];
    double contrast2 = 0.0;
    for (int c = 0; c < 3; ++c) {
        d[c] = out.c[c] - in.c[c];
        contrast2 += d[c] * d[c];
    }
    if (contrast2 < kMinEdgeContrast * kMinEdgeContrast) return false;
    auto share = [&](double s) {
        const Rgb v = colourAt(s);
        double dot = 0.0;
        for (int c = 0; c < 3; ++c) dot += (v.c[c] - in.c[c]) * d[c];
        return dot / contrast2;
    };
    const double from = -std::min(inside, search / normalScale);
    const double to = std::min(outside, search / normalScale);
    const double step = kProfileStep / normalScale;
    double previousS = from;
    double previous = share(from);
    if (previous >= 0.5) return false;
    for (double s = from + step; s <= to + 0.5 * step; s += step) {
        const double current = share(s);
        if (current >= 0.5) {
            const double edge = previousS + (s - previousS) * (0.5 - previous) / (current - previous);
            found.u = e.u;
            found.t = e.t;
            found.nu = e.nu;
            found.nt = e.nt;
            found.found = at(quad, e.u + edge * e.nu, e.t + edge * e.nt);
            // The normal in the image is perpendicular to the edge's direction there.
            const double tx = ahead.x - centre.x;
            const double ty = ahead.y - centre.y;
            const double length = std::hypot(tx, ty);
            found.nx = -ty / length;
            found.ny = tx / length;
            return true;
        }
        previousS = s;
        previous = current;
    }
    return false;
}

bool everyEdgeDirectionSeen(const std::vector<EdgeObservation>& obs, std::size_t probes) {
    int seen[4] = {0, 0, 0, 0};
    for (const EdgeObservation& o : obs) ++seen[(o.nu != 0.0 ? 0 : 2) + (o.nu + o.nt > 0.0 ? 1 : 0)];
    for (int count : seen)
        if (count < kMinDirectionShare * static_cast<double>(probes) / 4.0) return false;
    return true;
}

std::array<double, 8> rowOf(const EdgeObservation& o) {
    const double u = o.u;
    const double v = 1.0 - o.t;
    const double w[4] = {(1 - u) * (1 - v), (1 - u) * v, u * v, u * (1 - v)};
    std::array<double, 8> row{};
    for (int k = 0; k < 4; ++k) {
        row[static_cast<std::size_t>(2 * k)] = w[k] * o.nx;
        row[static_cast<std::size_t>(2 * k + 1)] = w[k] * o.ny;
    }
    return row;
}

double residualOf(const EdgeObservation& o, const OverlayQuad& quad) {
    const ImagePoint p = at(quad, o.u, o.t);
    return (p.x - o.found.x) * o.nx + (p.y - o.found.y) * o.ny;
}

// Least squares corners for the kept observations; false when singular.
bool solveCorners(const std::vector<EdgeObservation>& obs, const std::vector<char>& keep, OverlayQuad& quad) {
    Eigen::Matrix<double, 8, 8> normal = Eigen::Matrix<double, 8, 8>::Zero();
    Eigen::Matrix<double, 8, 1> rhs = Eigen::Matrix<double, 8, 1>::Zero();
    for (std::size_t k = 0; k < obs.size(); ++k) {
        if (!keep[k]) continue;
        const std::array<double, 8> row = rowOf(obs[k]);
        const Eigen::Map<const Eigen::Matrix<double, 8, 1>> a(row.data());
        normal += a * a.transpose();
        rhs += a * (obs[k].found.x * obs[k].nx + obs[k].found.y * obs[k].ny);
    }
    const Eigen::LDLT<Eigen::Matrix<double, 8, 8>> ldlt(normal);
    if (ldlt.info() != Eigen::Success || !ldlt.isPositive()) return false;
    // A tiny pivot means some corner is not held by any edge.
    const auto diagonal = ldlt.vectorD();
    if (diagonal.minCoeff() <= 1e-9 * diagonal.maxCoeff()) return false;
    const Eigen::Matrix<double, 8, 1> x = ldlt.solve(rhs);
    if (!x.allFinite()) return false;
    for (int k = 0; k < 4; ++k) quad.corners[static_cast<std::size_t>(k)] = {x(2 * k), x(2 * k + 1)};
    return true;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
    return values[mid];
}

}  // namespace

bool fitChartEdges(const TargetImage& image, const TargetLayout& layout, const SiteGrid& grid,
                   const OverlayQuad& start, double searchPixels, EdgeFit& fit) {
    if (grid.sites.empty()) return false;
    const FullSampler sampler(image);
    const std::vector<EdgeProbe> probes = edgeProbes(layout, grid);
    OverlayQuad quad = start;
    std::vector<EdgeObservation> obs;
    std::vector<char> keep;
    double limit = 0.0;
    double moved = searchPixels;
    for (int round = 0; round < kMaxRounds && (round < kMinRounds || moved > kSettledMove); ++round) {
        const double search = std::min(searchPixels, std::max(kSettledSearch, moved));
        obs.clear();
        for (const EdgeProbe& p : probes) {
            EdgeObservation o;
            if (findEdge(sampler, quad, p, search, o)) obs.push_back(o);
        }
        if (static_cast<int>(obs.size()) < kMinEdges || !everyEdgeDirectionSeen(obs, probes.size())) return false;
        keep.assign(obs.size(), 1);
        OverlayQuad solved = quad;
        for (int pass = 0; pass < 3; ++pass) {
            if (!solveCorners(obs, keep, solved)) return false;
            std::vector<double> magnitudes;
            for (std::size_t k = 0; k < obs.size(); ++k) magnitudes.push_back(std::abs(residualOf(obs[k], solved)));
            limit = std::max(kOutlierFloor, kOutlierSigmas * 1.4826 * median(magnitudes));
            for (std::size_t k = 0; k < obs.size(); ++k) keep[k] = magnitudes[k] <= limit;
        }
        moved = 0.0;
        for (std::size_t k = 0; k < 4; ++k) moved = std::max(moved, distance(solved.corners[k], quad.corners[k]));
        quad = solved;
    }
    fit.quad = quad;
    fit.edges = static_cast<int>(obs.size());
    double sum = 0.0;
    int kept = 0;
    for (std::size_t k = 0; k < obs.size(); ++k)
        if (keep[k]) {
            const double r = residualOf(obs[k], quad);
            sum += r * r;
            ++kept;
        }
    const double uc = 0.5, tc = 0.5;
    const ImagePoint c = at(quad, uc, tc);
    fit.pitchPixels = std::min(distance(at(quad, uc + grid.pitchU, tc), c), distance(at(quad, uc, tc + grid.pitchT), c));
    fit.inlierShare = static_cast<double>(kept) / static_cast<double>(obs.size());
    fit.rmsPitch = kept > 0 && fit.pitchPixels > 0.0 ? std::sqrt(sum / kept) / fit.pitchPixels : 1.0;
    return true;
}

}  // namespace calivant
