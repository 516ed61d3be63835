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
constexpr double kScatterReach = 3.0;
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
constexpr int kSolverSteps = 3;
// The lens term: at most this much bending at the picture's corner, fitted
// only for charts whose diagonal spans this share of the picture's, and
// held near none with this weight.
constexpr double kMaxLens = 0.05;
constexpr double kLensChartShare = 0.3;
constexpr double kLensPrior = 1e3;
// Printed patches are this much smaller or larger than the layout's cells
// at most.
constexpr double kMinScale = 0.6;
constexpr double kMaxScale = 1.15;

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

    int width() const { return image_.width; }
    int height() const { return image_.height; }

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

double distance(const ImagePoint& a, const ImagePoint& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// The frame and the printed patches' size: charts of one layout are printed
// with smaller or larger patches on the same pitch (a pocket ColorChecker's
// gaps are twice the classic one's), so the patch size is fitted too, the
// cells scaled about their centres, and the frame follows their centres.
struct FitState {
    FrameModel model;
    double scale = 1.0;
};

// One edge point of a cell: its cell's centre in the layout, the edge point
// relative to the centre at scale 1, which way is out, how deep the cell is
// behind the edge and the pitch across it.
struct EdgeProbe {
    double uc, tc;
    double du, dt;
    double nu, nt;  // outward normal (unit, along u or t)
    double depth;   // cell extent along the normal at scale 1
    double pitch;   // to the next cell along the normal
    bool neighbour; // a printed patch lies beyond the edge
};

// A found edge: its probe and, in the image, the point where the edge really
// lies and the edge's normal there.
struct EdgeObservation {
    const EdgeProbe* probe;
    ImagePoint found;
    double nx, ny;
};

bool printed(CellKind kind) { return kind == CellKind::Site || kind == CellKind::Patch; }

// The edges of every printed cell of the grid's size (evenly thinned to
// kMaxEdgeCells), measured and unmeasured patches alike: both have edges.
std::vector<EdgeProbe> edgeProbes(const SiteGrid& grid) {
    std::vector<std::array<int, 2>> cells;
    for (int q = grid.firstRow; q <= grid.lastRow; ++q)
        for (int p = grid.firstColumn; p <= grid.lastColumn; ++p)
            if (printed(grid.kindAt(p, q))) cells.push_back({p, q});
    const std::size_t stride = std::max<std::size_t>(1, (cells.size() + kMaxEdgeCells - 1) / kMaxEdgeCells);
    std::vector<EdgeProbe> probes;
    for (std::size_t k = 0; k < cells.size(); k += stride) {
        const int p = cells[k][0];
        const int q = cells[k][1];
        const double uc = grid.u0 + p * grid.pitchU;
        const double tc = grid.t0 + q * grid.pitchT;
        const double w = grid.cellWidth;
        const double h = grid.cellHeight;
        auto beside = [&](int dp, int dq) { return printed(grid.kindAt(p + dp, q + dq)); };
        for (double f : kEdgeFractions) {
            const double along = f - 0.5;
            probes.push_back({uc, tc, -0.5 * w, along * h, -1, 0, w, grid.pitchU, beside(-1, 0)});
            probes.push_back({uc, tc, 0.5 * w, along * h, 1, 0, w, grid.pitchU, beside(1, 0)});
            probes.push_back({uc, tc, along * w, -0.5 * h, 0, -1, h, grid.pitchT, beside(0, -1)});
            probes.push_back({uc, tc, along * w, 0.5 * h, 0, 1, h, grid.pitchT, beside(0, 1)});
        }
    }
    return probes;
}

// The layout point of a probe's edge at a patch scale.
void edgePoint(const EdgeProbe& e, double scale, double& u, double& t) {
    u = e.uc + scale * e.du;
    t = e.tc + scale * e.dt;
}

// Looks for one edge along its normal, up to `search` pixels either way.
bool findEdge(const FullSampler& image, const FitState& state, const EdgeProbe& e, double search,
              EdgeObservation& found) {
    const FrameModel& model = state.model;
    double u, t;
    edgePoint(e, state.scale, u, t);
    const ImagePoint centre = model.map(u, t);
    if (centre.x < 0.0 || centre.y < 0.0 || centre.x > image.width() - 1.0 || centre.y > image.height() - 1.0)
        return false;
    constexpr double kDelta = 1e-3;
    // Pixels per layout unit along the normal and along the edge.
    const double normalScale = distance(model.map(u + kDelta * e.nu, t + kDelta * e.nt), centre) / kDelta;
    const ImagePoint ahead = model.map(u + kDelta * e.nt, t + kDelta * e.nu);
    const double edgeScale = distance(ahead, centre) / kDelta;
    if (!(normalScale > 0.0) || !(edgeScale > 0.0)) return false;

    const double depth = state.scale * e.depth;
    const double gap = e.pitch - depth;
    const double inside = 0.25 * depth;
    // Where the patches stand apart, the card shows between them and around
    // the outer ones (however narrow the border, it is the card's colour
    // just beyond the edge that tells the edge, not the background's
    // further out); where they touch, the next patch's middle.
    const double outside = gap > 0.05 * depth ? 0.5 * gap : 0.25 * depth;
    const double strip = kStripHalfWidth / edgeScale;
    // Mean colour across a short strip along the edge, at offset s along the normal.
    auto colourAt = [&](double s) {
        Rgb sum;
        for (int k = -1; k <= 1; ++k) {
            const double a = k * strip;
            const ImagePoint p = model.map(u + s * e.nu + a * e.nt, t + s * e.nt + a * e.nu);
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
            found.probe = &e;
            found.found = model.map(u + edge * e.nu, t + edge * e.nt);
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
    for (const EdgeObservation& o : obs) ++seen[(o.probe->nu != 0.0 ? 0 : 2) + (o.probe->nu + o.probe->nt > 0.0 ? 1 : 0)];
    for (int count : seen)
        if (count < kMinDirectionShare * static_cast<double>(probes) / 4.0) return false;
    return true;
}

double residualOf(const EdgeObservation& o, const FitState& state) {
    double u, t;
    edgePoint(*o.probe, state.scale, u, t);
    const ImagePoint p = state.model.map(u, t);
    return (p.x - o.found.x) * o.nx + (p.y - o.found.y) * o.ny;
}

// The free values: the homography's eight, the patch scale and, when
// fitted, the lens term.
constexpr int kParameters = 10;
double& parameter(FitState& s, int i) {
    return i < 8 ? s.model.h[static_cast<std::size_t>(i)] : i == 8 ? s.scale : s.model.k;
}

// Gauss-Newton steps on the kept observations; false when singular. Where
// patches touch, their common edge says nothing of their size, and the
// scale stays where it is.
bool solveModel(const std::vector<EdgeObservation>& obs, const std::vector<char>& keep, bool withLens,
                bool withScale, FitState& state) {
    using Matrix = Eigen::Matrix<double, kParameters, kParameters>;
    using Vector = Eigen::Matrix<double, kParameters, 1>;
    for (int iteration = 0; iteration < kSolverSteps; ++iteration) {
        // Finite-difference steps suited to each value's scale.
        double steps[kParameters];
        for (int i = 0; i < kParameters; ++i) steps[i] = 1e-7 * std::max(std::abs(parameter(state, i)), 1e-3);
        Matrix normal = Matrix::Zero();
        Vector rhs = Vector::Zero();
        for (std::size_t k = 0; k < obs.size(); ++k) {
            if (!keep[k]) continue;
            const double r = residualOf(obs[k], state);
            Vector row = Vector::Zero();
            for (int i = 0; i < kParameters; ++i) {
                if ((i == 8 && !withScale) || (i == 9 && !withLens)) continue;
                FitState moved = state;
                parameter(moved, i) += steps[i];
                row(i) = (residualOf(obs[k], moved) - r) / steps[i];
            }
            normal += row * row.transpose();
            rhs -= row * r;
        }
        // The lens term is held near none by a weak prior: a few per cent
        // of bending is all a lens gives, and a small chart cannot tell it.
        normal(8, 8) += withScale ? 0.0 : 1.0;
        normal(9, 9) += withLens ? kLensPrior : 1.0;
        const Eigen::LDLT<Matrix> ldlt(normal);
        if (ldlt.info() != Eigen::Success || !ldlt.isPositive()) return false;
        const auto diagonal = ldlt.vectorD();
        if (diagonal.minCoeff() <= 1e-14 * diagonal.maxCoeff()) return false;
        const Vector delta = ldlt.solve(rhs);
        if (!delta.allFinite()) return false;
        for (int i = 0; i < kParameters; ++i) parameter(state, i) += delta(i);
        state.model.k = std::clamp(state.model.k, -kMaxLens, kMaxLens);
        state.scale = std::clamp(state.scale, kMinScale, kMaxScale);
    }
    return true;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
    return values[mid];
}

}  // namespace

bool fitChartEdges(const TargetImage& image, const SiteGrid& grid, const FrameModel& start, double searchPixels,
                   EdgeFit& fit) {
    if (grid.sites.empty()) return false;
    const FullSampler sampler(image);
    const std::vector<EdgeProbe> probes = edgeProbes(grid);
    FitState state;
    state.model = start;
    // Lens bending shows only over a good part of the picture.
    const OverlayQuad startQuad = start.quad();
    const double diagonal = std::hypot(image.width, image.height);
    const bool withLens = std::max(distance(startQuad.corners[0], startQuad.corners[2]),
                                   distance(startQuad.corners[1], startQuad.corners[3])) > kLensChartShare * diagonal;
    const bool withScale = grid.pitchU - grid.cellWidth > 0.02 * grid.pitchU && grid.pitchT - grid.cellHeight > 0.02 * grid.pitchT;
    std::vector<EdgeObservation> obs;
    std::vector<char> keep;
    double moved = searchPixels;
    // The scatter of the edges about the fit: later rounds look that far too.
    double scatter = 0.0;
    for (int round = 0; round < kMaxRounds && (round < kMinRounds || moved > kSettledMove); ++round) {
        const double search = std::min(searchPixels, std::max(kSettledSearch, moved + kScatterReach * scatter));
        obs.clear();
        for (const EdgeProbe& p : probes) {
            EdgeObservation o;
            if (findEdge(sampler, state, p, search, o)) obs.push_back(o);
        }
        if (static_cast<int>(obs.size()) < kMinEdges || !everyEdgeDirectionSeen(obs, probes.size())) return false;
        keep.assign(obs.size(), 1);
        FitState solved = state;
        for (int pass = 0; pass < 3; ++pass) {
            if (!solveModel(obs, keep, withLens, withScale, solved)) return false;
            std::vector<double> magnitudes;
            for (std::size_t k = 0; k < obs.size(); ++k) magnitudes.push_back(std::abs(residualOf(obs[k], solved)));
            scatter = 1.4826 * median(magnitudes);
            const double limit = std::max(kOutlierFloor, kOutlierSigmas * scatter);
            for (std::size_t k = 0; k < obs.size(); ++k) keep[k] = magnitudes[k] <= limit;
        }
        // How far any edge point moved: the frame's corners, and the patch
        // edges through the scale.
        const OverlayQuad a = state.model.quad(), b = solved.model.quad();
        moved = 0.0;
        for (std::size_t k = 0; k < 4; ++k) moved = std::max(moved, distance(a.corners[k], b.corners[k]));
        const ImagePoint c = solved.model.map(0.5, 0.5);
        const double pitch = distance(solved.model.map(0.5 + grid.pitchU, 0.5), c);
        moved = std::max(moved, std::abs(solved.scale - state.scale) * 0.5 * grid.cellWidth / grid.pitchU * pitch);
        state = solved;
    }
    fit.model = state.model;
    fit.quad = state.model.quad();
    fit.patchScale = state.scale;
    fit.edges = static_cast<int>(obs.size());
    double sum = 0.0;
    int kept = 0;
    for (std::size_t k = 0; k < obs.size(); ++k)
        if (keep[k]) {
            const double r = residualOf(obs[k], state);
            sum += r * r;
            ++kept;
        }
    const FrameModel& model = state.model;
    const ImagePoint c = model.map(0.5, 0.5);
    fit.pitchPixels = std::min(distance(model.map(0.5 + grid.pitchU, 0.5), c), distance(model.map(0.5, 0.5 + grid.pitchT), c));
    fit.inlierShare = static_cast<double>(kept) / static_cast<double>(obs.size());
    fit.rmsPitch = kept > 0 && fit.pitchPixels > 0.0 ? std::sqrt(sum / kept) / fit.pitchPixels : 1.0;
    return true;
}

}  // namespace calivant
