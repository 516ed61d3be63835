#include "profile/shaper_matrix.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cassert>
#include <cmath>

#include "util/cie.h"

namespace calivant {
namespace {

constexpr int kCurveParameters = 2 + kShaperKnots;  // offset, gamma, weights
constexpr int kParameterCount = 9 + 3 * kCurveParameters;
constexpr double kMinGamma = 0.2;
constexpr double kMaxGamma = 6.0;
constexpr double kMaxOffset = 0.5;
constexpr double kMaxWeight = 1e3;
// Each correction weight costs this many L*a*b* units per unit: the curves
// stay power laws unless the patches clearly ask for more, which keeps a
// small chart's fit well posed.
constexpr double kWeightPenalty = 0.2;
// The a* and b* differences of a patch count less the more chromatic its
// reference, as CIEDE2000 counts them: 1 / (1 + kChromaWeight C*).
constexpr double kChromaWeight = 0.03;
constexpr int kMaxIterations = 100;
// The search stops when an iteration gains less than this part of the cost,
// or less than this many squared L*a*b* units per patch: by then the
// curves no longer move in any way a colour would show.
constexpr double kRelativeGain = 1e-4;
constexpr double kGainPerPatch = 1e-6;
constexpr double kMaxDamping = 1e12;
// Matrix entries beyond this (XYZ on the white-100 scale per unit of s) are
// no device but a fit that ran away.
constexpr double kMaxMatrixEntry = 1e6;
// Gammas tried for the start, besides the one the neutral patches suggest.
constexpr double kStartGammas[] = {1.0, 1.8, 2.2, 2.6};

using Parameters = Eigen::Matrix<double, kParameterCount, 1>;
using Jacobian = Eigen::Matrix<double, Eigen::Dynamic, kParameterCount>;
using Normal = Eigen::Matrix<double, kParameterCount, kParameterCount>;

// The rising spline I_k: the integral of the hat on knots k-1, k, k+1 (half
// a hat at either end), scaled to end at 1.
double splineBasis(int k, double d) {
    const auto& t = kShaperKnotPositions;
    const double a = t[static_cast<std::size_t>(std::max(k - 1, 0))];
    const double m = t[static_cast<std::size_t>(k)];
    const double c = t[static_cast<std::size_t>(std::min(k + 1, kShaperKnots - 1))];
    if (d <= a) return 0.0;
    if (d >= c) return 1.0;
    if (d <= m) return (d - a) * (d - a) / ((m - a) * (c - a));
    return 1.0 - (c - d) * (c - d) / ((c - m) * (c - a));
}

// dI_k / dd.
double splineBasisSlope(int k, double d) {
    const auto& t = kShaperKnotPositions;
    const double a = t[static_cast<std::size_t>(std::max(k - 1, 0))];
    const double m = t[static_cast<std::size_t>(k)];
    const double c = t[static_cast<std::size_t>(std::min(k + 1, kShaperKnots - 1))];
    if (d <= a || d >= c) return 0.0;
    if (d <= m) return 2.0 * (d - a) / ((m - a) * (c - a));
    return 2.0 * (c - d) / ((c - m) * (c - a));
}

// s at d and its derivatives by offset, gamma and the weights.
struct CurvePoint {
    double s = 0.0;
    std::array<double, kCurveParameters> ds{};
};

CurvePoint curvePoint(const ShaperCurve& curve, double d) {
    d = std::clamp(d, 0.0, 1.0);
    std::array<double, kShaperKnots> basis;
    double weightSum = 0.0;
    double numerator = d;
    for (int k = 0; k < kShaperKnots; ++k) {
        basis[static_cast<std::size_t>(k)] = splineBasis(k, d);
        weightSum += curve.weights[static_cast<std::size_t>(k)];
        numerator += curve.weights[static_cast<std::size_t>(k)] * basis[static_cast<std::size_t>(k)];
    }
    const double total = 1.0 + weightSum;
    const double g = numerator / total;
    CurvePoint p;
    const double h = g > 0.0 ? std::pow(g, curve.gamma) : 0.0;
    const double raw = curve.offset + (1.0 - curve.offset) * h;
    if (raw <= 0.0) return p;  // held at 0: no parameter moves it
    p.s = raw;
    p.ds[0] = 1.0 - h;
    if (g > 0.0) {
        p.ds[1] = (1.0 - curve.offset) * h * std::log(g);
        const double slope = (1.0 - curve.offset) * curve.gamma * h / g / total;
        for (int k = 0; k < kShaperKnots; ++k)
            p.ds[static_cast<std::size_t>(2 + k)] = slope * (basis[static_cast<std::size_t>(k)] - g);
    }
    return p;
}

// L*a*b* of an XYZ and its derivatives by X, Y and Z (rows L, a, b).
double labCurve(double t, double& slope) {
    if (t > kLabThreshold) {
        const double f = std::cbrt(t);
        slope = 1.0 / (3.0 * f * f);
        return f;
    }
    slope = kLabLinearSlope;
    return kLabLinearSlope * t + kLabLinearOffset;
}

CieTriple labWithJacobian(const CieTriple& xyz, Eigen::Matrix3d& jacobian) {
    double sx, sy, sz;
    const double fx = labCurve(xyz[0] / kD50WhiteX, sx);
    const double fy = labCurve(xyz[1] / kD50WhiteY, sy);
    const double fz = labCurve(xyz[2] / kD50WhiteZ, sz);
    sx /= kD50WhiteX;
    sy /= kD50WhiteY;
    sz /= kD50WhiteZ;
    jacobian << 0.0, 116.0 * sy, 0.0, 500.0 * sx, -500.0 * sy, 0.0, 0.0, 200.0 * sy, -200.0 * sz;
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

CieTriple labOf(const CieTriple& xyz) {
    double unused;
    const double fx = labCurve(xyz[0] / kD50WhiteX, unused);
    const double fy = labCurve(xyz[1] / kD50WhiteY, unused);
    const double fz = labCurve(xyz[2] / kD50WhiteZ, unused);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

Parameters pack(const MatrixShaper& m) {
    Parameters p;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) p[3 * r + c] = m.matrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
    for (int c = 0; c < 3; ++c) {
        const ShaperCurve& curve = m.curves[static_cast<std::size_t>(c)];
        const int base = 9 + c * kCurveParameters;
        p[base] = curve.offset;
        p[base + 1] = curve.gamma;
        for (int k = 0; k < kShaperKnots; ++k) p[base + 2 + k] = curve.weights[static_cast<std::size_t>(k)];
    }
    return p;
}

MatrixShaper unpack(const Parameters& p) {
    MatrixShaper m;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m.matrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = p[3 * r + c];
    for (int c = 0; c < 3; ++c) {
        ShaperCurve& curve = m.curves[static_cast<std::size_t>(c)];
        const int base = 9 + c * kCurveParameters;
        curve.offset = p[base];
        curve.gamma = p[base + 1];
        for (int k = 0; k < kShaperKnots; ++k) curve.weights[static_cast<std::size_t>(k)] = p[base + 2 + k];
    }
    return m;
}

// Keeps every parameter where the curves stay what they claim to be.
void project(Parameters& p) {
    for (int c = 0; c < 3; ++c) {
        const int base = 9 + c * kCurveParameters;
        p[base] = std::clamp(p[base], -kMaxOffset, kMaxOffset);
        p[base + 1] = std::clamp(p[base + 1], kMinGamma, kMaxGamma);
        for (int k = 0; k < kShaperKnots; ++k) p[base + 2 + k] = std::clamp(p[base + 2 + k], 0.0, kMaxWeight);
    }
}

double chromaWeight(const CieTriple& lab) { return 1.0 / (1.0 + kChromaWeight * std::hypot(lab[1], lab[2])); }

// The squared L*a*b* error of a model (anything with xyz(device)) over the
// patches, a* and b* weighted down as chroma grows.
template <class Model>
double weightedLabError(const Model& m, std::span<const ColorTriple> device, std::span<const ColorTriple> lab) {
    double sum = 0.0;
    for (std::size_t i = 0; i < device.size(); ++i) {
        const CieTriple model = labOf(m.xyz(device[i]));
        const double w = chromaWeight(lab[i]);
        const double dl = model[0] - lab[i][0];
        const double da = w * (model[1] - lab[i][1]);
        const double db = w * (model[2] - lab[i][2]);
        sum += dl * dl + da * da + db * db;
    }
    return sum;
}

struct Problem {
    std::span<const ColorTriple> device;
    std::span<const ColorTriple> lab;

    double cost(const Parameters& p) const {
        const MatrixShaper m = unpack(p);
        double sum = weightedLabError(m, device, lab);
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < kShaperKnots; ++k) {
                const double w = kWeightPenalty * p[9 + c * kCurveParameters + 2 + k];
                sum += w * w;
            }
        return sum;
    }

    void normalEquations(const Parameters& p, Normal& normal, Parameters& gradient) const {
        linearise(p, jacobianBuffer, residualBuffer);
        normal = Normal::Zero();
        normal.selfadjointView<Eigen::Lower>().rankUpdate(jacobianBuffer.transpose());
        normal.triangularView<Eigen::StrictlyUpper>() = normal.transpose();
        gradient = jacobianBuffer.transpose() * residualBuffer;
    }

    // Kept between iterations so they are allocated once.
    mutable Jacobian jacobianBuffer{};
    mutable Eigen::VectorXd residualBuffer{};

    // Residuals and their derivatives: three rows per patch, then one per
    // correction weight (the penalty).
    void linearise(const Parameters& p, Jacobian& jacobian, Eigen::VectorXd& residuals) const {
        const MatrixShaper m = unpack(p);
        const auto rows = static_cast<Eigen::Index>(3 * device.size() + 3 * kShaperKnots);
        jacobian.setZero(rows, kParameterCount);
        residuals.setZero(rows);
        Eigen::Matrix3d dLab;
        for (std::size_t i = 0; i < device.size(); ++i) {
            std::array<CurvePoint, 3> points;
            CieTriple xyz{0.0, 0.0, 0.0};
            for (int c = 0; c < 3; ++c) points[static_cast<std::size_t>(c)] = curvePoint(m.curves[static_cast<std::size_t>(c)], device[i][c]);
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    xyz[r] += m.matrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] * points[static_cast<std::size_t>(c)].s;
            const CieTriple model = labWithJacobian(xyz, dLab);
            const double w = chromaWeight(lab[i]);
            dLab.row(1) *= w;
            dLab.row(2) *= w;
            const auto row = static_cast<Eigen::Index>(3 * i);
            for (int k = 0; k < 3; ++k) residuals[row + k] = (k == 0 ? 1.0 : w) * (model[k] - lab[i][k]);
            // By the matrix entry (r, c): dXYZ = e_r s_c.
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    jacobian.block<3, 1>(row, 3 * r + c) = dLab.col(r) * points[static_cast<std::size_t>(c)].s;
            // By the parameters of curve c: dXYZ = column c of the matrix x ds.
            for (int c = 0; c < 3; ++c) {
                const Eigen::Vector3d column(m.matrix[0][static_cast<std::size_t>(c)], m.matrix[1][static_cast<std::size_t>(c)],
                                             m.matrix[2][static_cast<std::size_t>(c)]);
                const Eigen::Vector3d through = dLab * column;
                const CurvePoint& point = points[static_cast<std::size_t>(c)];
                for (int q = 0; q < kCurveParameters; ++q)
                    jacobian.block<3, 1>(row, 9 + c * kCurveParameters + q) = through * point.ds[static_cast<std::size_t>(q)];
            }
        }
        auto row = static_cast<Eigen::Index>(3 * device.size());
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < kShaperKnots; ++k, ++row) {
                const int column = 9 + c * kCurveParameters + 2 + k;
                residuals[row] = kWeightPenalty * p[column];
                jacobian(row, column) = kWeightPenalty;
            }
    }
};

// Levenberg-Marquardt from p (whose cost is `cost`) while an iteration gains
// enough; problem.normalEquations gives J'J and J'r at p, problem.cost the
// cost, project keeps a step within the parameters' bounds.
template <int N, class Problem, class Project>
void minimise(const Problem& problem, Eigen::Matrix<double, N, 1>& p, double& cost, std::size_t patchCount,
              int maxIterations, double relativeGain, const Project& project) {
    using Vector = Eigen::Matrix<double, N, 1>;
    using Square = Eigen::Matrix<double, N, N>;
    Square normal;
    Vector gradient;
    double damping = 1e-3;
    for (int iteration = 0; iteration < maxIterations; ++iteration) {
        problem.normalEquations(p, normal, gradient);
        bool improved = false;
        double previous = cost;
        while (damping <= kMaxDamping) {
            Square damped = normal;
            for (int i = 0; i < N; ++i) damped(i, i) += damping * normal(i, i) + 1e-12;
            Vector trial = p - damped.ldlt().solve(gradient);
            project(trial);
            const double trialCost = trial.allFinite() ? problem.cost(trial) : cost;
            if (trialCost < cost) {
                p = trial;
                cost = trialCost;
                damping = std::max(damping / 3.0, 1e-12);
                improved = true;
                break;
            }
            damping *= 4.0;
        }
        const double gain = previous - cost;
        if (!improved || gain <= relativeGain * previous || gain <= kGainPerPatch * static_cast<double>(patchCount))
            break;
    }
}

// The matrix that best maps the curves' values to the reference XYZ, by
// least squares in XYZ. False when the curves' values are degenerate.
bool fitMatrix(std::span<const ColorTriple> device, std::span<const ColorTriple> xyz, MatrixShaper& m) {
    Eigen::Matrix3d a = Eigen::Matrix3d::Zero();
    Eigen::Matrix3d b = Eigen::Matrix3d::Zero();
    for (std::size_t i = 0; i < device.size(); ++i) {
        const ColorTriple s = m.linear(device[i]);
        const Eigen::Vector3d v(s[0], s[1], s[2]);
        const Eigen::Vector3d t(xyz[i][0], xyz[i][1], xyz[i][2]);
        a += v * v.transpose();
        b += v * t.transpose();
    }
    const Eigen::LDLT<Eigen::Matrix3d> solver(a);
    if (solver.info() != Eigen::Success || !(std::fabs(a.determinant()) > 1e-12 * std::pow(a.trace(), 3))) return false;
    const Eigen::Matrix3d solution = solver.solve(b);  // row c: the colorant of channel c
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) m.matrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = solution(c, r);
    return solution.allFinite();
}

// The gamma of each channel the near-neutral patches suggest: the slope of
// log Y against log device value.
std::array<double, 3> neutralGammas(std::span<const ColorTriple> device, std::span<const ColorTriple> xyz,
                                    std::span<const ColorTriple> lab) {
    std::array<double, 3> gammas{2.2, 2.2, 2.2};
    for (int c = 0; c < 3; ++c) {
        double n = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
        for (std::size_t i = 0; i < device.size(); ++i) {
            if (std::hypot(lab[i][1], lab[i][2]) > 5.0 || xyz[i][1] < 1.0 || device[i][c] < 0.02) continue;
            const double x = std::log(device[i][c]);
            const double y = std::log(xyz[i][1] / 100.0);
            n += 1.0;
            sx += x;
            sy += y;
            sxx += x * x;
            sxy += x * y;
        }
        const double spread = sxx - sx * sx / std::max(n, 1.0);
        if (n >= 3.0 && spread > 1e-6) gammas[static_cast<std::size_t>(c)] = (sxy - sx * sy / n) / spread;
    }
    return gammas;
}

bool withinLimits(const Parameters& p) {
    if (!p.allFinite()) return false;
    for (int i = 0; i < 9; ++i)
        if (!(std::fabs(p[i]) <= kMaxMatrixEntry)) return false;
    return true;
}

}  // namespace

double ShaperCurve::value(double device) const {
    const double d = std::clamp(device, 0.0, 1.0);
    double weightSum = 0.0;
    double numerator = d;
    for (int k = 0; k < kShaperKnots; ++k) {
        weightSum += weights[static_cast<std::size_t>(k)];
        numerator += weights[static_cast<std::size_t>(k)] * splineBasis(k, d);
    }
    const double g = numerator / (1.0 + weightSum);
    const double s = offset + (1.0 - offset) * (g > 0.0 ? std::pow(g, gamma) : 0.0);
    return s > 0.0 ? s : 0.0;
}

ColorTriple MatrixShaper::linear(const ColorTriple& device) const {
    return {curves[0].value(device[0]), curves[1].value(device[1]), curves[2].value(device[2])};
}

CieTriple MatrixShaper::xyz(const ColorTriple& device) const {
    const ColorTriple s = linear(device);
    CieTriple out{};
    for (int r = 0; r < 3; ++r)
        out[r] = matrix[static_cast<std::size_t>(r)][0] * s[0] + matrix[static_cast<std::size_t>(r)][1] * s[1] +
                 matrix[static_cast<std::size_t>(r)][2] * s[2];
    return out;
}

int fitMatrixShaper(std::span<const ColorTriple> device, std::span<const ColorTriple> xyz,
                    std::span<const ColorTriple> lab, const MatrixShaper* start, MatrixShaper& out) {
    assert(device.size() == xyz.size() && device.size() == lab.size());
    if (device.size() < 4) return 1;
    const Problem problem{device, lab};

    Parameters p;
    double cost = 0.0;
    if (start) {
        p = pack(*start);
        project(p);
        cost = problem.cost(p);
    } else {
        // The best of a few power laws, each with its least-squares matrix.
        const std::array<double, 3> suggested = neutralGammas(device, xyz, lab);
        bool found = false;
        for (int attempt = -1; attempt < static_cast<int>(std::size(kStartGammas)); ++attempt) {
            MatrixShaper candidate;
            for (int c = 0; c < 3; ++c)
                candidate.curves[static_cast<std::size_t>(c)].gamma = std::clamp(
                    attempt < 0 ? suggested[static_cast<std::size_t>(c)] : kStartGammas[attempt], kMinGamma, kMaxGamma);
            if (!fitMatrix(device, xyz, candidate)) continue;
            const Parameters q = pack(candidate);
            const double c = problem.cost(q);
            if (std::isfinite(c) && (!found || c < cost)) {
                p = q;
                cost = c;
                found = true;
            }
        }
        if (!found) return 1;
    }
    if (!std::isfinite(cost)) return 1;

    minimise(problem, p, cost, device.size(), kMaxIterations, kRelativeGain, [](Parameters& q) { project(q); });
    if (!withinLimits(p) || !std::isfinite(cost)) return 1;
    out = unpack(p);
    return 0;
}

ShaperCurvePoint shaperCurvePoint(const ShaperCurve& curve, double device) {
    const double d = std::clamp(device, 0.0, 1.0);
    const CurvePoint p = curvePoint(curve, d);
    ShaperCurvePoint out;
    out.s = p.s;
    out.bySetting = p.ds;
    if (p.s <= 0.0) return out;
    double weightSum = 0.0, numerator = d, rise = 1.0;
    for (int k = 0; k < kShaperKnots; ++k) {
        const double w = curve.weights[static_cast<std::size_t>(k)];
        weightSum += w;
        numerator += w * splineBasis(k, d);
        rise += w * splineBasisSlope(k, d);
    }
    const double g = numerator / (1.0 + weightSum);
    if (g > 0.0)
        out.byDevice = (1.0 - curve.offset) * curve.gamma * std::pow(g, curve.gamma - 1.0) * rise / (1.0 + weightSum);
    return out;
}

namespace {

// The mix's six off-diagonal entries, then the matrix, then the curves.
constexpr int kMixEntries = 6;
constexpr int kMixingParameterCount = kMixEntries + 9 + 3 * kCurveParameters;
constexpr int kMixingCurveBase = kMixEntries + 9;
constexpr std::array<std::array<int, 2>, kMixEntries> kMixPlaces = {{{0, 1}, {0, 2}, {1, 0}, {1, 2}, {2, 0}, {2, 1}}};
// A mix entry beyond this is no device's crosstalk or boost.
constexpr double kMaxMix = 0.5;
// Each unit of mix costs this many L*a*b* units: it stays at none unless the
// patches ask for it, which keeps a small chart's fit well posed.
constexpr double kMixPenalty = 1.0;

using MixingParameters = Eigen::Matrix<double, kMixingParameterCount, 1>;
using MixingNormal = Eigen::Matrix<double, kMixingParameterCount, kMixingParameterCount>;

Matrix3 mixOf(const std::array<double, kMixEntries>& offDiagonal) {
    Matrix3 m{};
    for (int k = 0; k < kMixEntries; ++k)
        m[static_cast<std::size_t>(kMixPlaces[static_cast<std::size_t>(k)][0])]
         [static_cast<std::size_t>(kMixPlaces[static_cast<std::size_t>(k)][1])] = offDiagonal[static_cast<std::size_t>(k)];
    for (std::size_t r = 0; r < 3; ++r) m[r][r] = 1.0 - m[r][0] - m[r][1] - m[r][2];
    return m;
}

MixingParameters packMixing(const MixingShaper& m) {
    MixingParameters p;
    for (int k = 0; k < kMixEntries; ++k)
        p[k] = m.mix[static_cast<std::size_t>(kMixPlaces[static_cast<std::size_t>(k)][0])]
                    [static_cast<std::size_t>(kMixPlaces[static_cast<std::size_t>(k)][1])];
    const Parameters shaper = pack(m.shaper);
    for (int i = 0; i < kParameterCount; ++i) p[kMixEntries + i] = shaper[i];
    return p;
}

MixingShaper unpackMixing(const MixingParameters& p) {
    MixingShaper m;
    std::array<double, kMixEntries> offDiagonal{};
    for (int k = 0; k < kMixEntries; ++k) offDiagonal[static_cast<std::size_t>(k)] = p[k];
    m.mix = mixOf(offDiagonal);
    m.shaper = unpack(p.segment<kParameterCount>(kMixEntries));
    return m;
}

void projectMixing(MixingParameters& p) {
    for (int k = 0; k < kMixEntries; ++k) p[k] = std::clamp(p[k], -kMaxMix, kMaxMix);
    Parameters shaper = p.segment<kParameterCount>(kMixEntries);
    project(shaper);
    p.segment<kParameterCount>(kMixEntries) = shaper;
}

// A curve at an input beyond 0..1 through its end's value and slope; its
// derivatives by the curve's settings are taken at the end.
ShaperCurvePoint extendedCurvePoint(const ShaperCurve& curve, double x) {
    if (x >= 0.0 && x <= 1.0) return shaperCurvePoint(curve, x);
    const double end = x > 1.0 ? 1.0 : 0.0;
    ShaperCurvePoint p = shaperCurvePoint(curve, end);
    p.s = std::max(0.0, p.s + p.byDevice * (x - end));
    return p;
}

struct MixingProblem {
    std::span<const ColorTriple> device;
    std::span<const ColorTriple> lab;

    double cost(const MixingParameters& p) const {
        const MixingShaper m = unpackMixing(p);
        double sum = weightedLabError(m, device, lab);
        for (int k = 0; k < kMixEntries; ++k) sum += (kMixPenalty * p[k]) * (kMixPenalty * p[k]);
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < kShaperKnots; ++k) {
                const double w = kWeightPenalty * p[kMixingCurveBase + c * kCurveParameters + 2 + k];
                sum += w * w;
            }
        return sum;
    }

    // J'J and J'r, a patch at a time (three rows each), then the penalties.
    void normalEquations(const MixingParameters& p, MixingNormal& normal, MixingParameters& gradient) const {
        const MixingShaper m = unpackMixing(p);
        normal.setZero();
        gradient.setZero();
        Eigen::Matrix<double, kMixingParameterCount, 3> rows;
        Eigen::Matrix3d dLab;
        for (std::size_t i = 0; i < device.size(); ++i) {
            const ColorTriple& d = device[i];
            const ColorTriple x = m.mixed(d);
            std::array<ShaperCurvePoint, 3> points;
            CieTriple xyz{0.0, 0.0, 0.0};
            for (int c = 0; c < 3; ++c) points[static_cast<std::size_t>(c)] = extendedCurvePoint(m.shaper.curves[static_cast<std::size_t>(c)], x[c]);
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    xyz[r] += m.shaper.matrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] * points[static_cast<std::size_t>(c)].s;
            const CieTriple model = labWithJacobian(xyz, dLab);
            const double w = chromaWeight(lab[i]);
            dLab.row(1) *= w;
            dLab.row(2) *= w;
            const Eigen::Vector3d residual(model[0] - lab[i][0], w * (model[1] - lab[i][1]), w * (model[2] - lab[i][2]));
            rows.setZero();
            // By the mix entry (c, k): dx_c = d_k - d_c, through curve c and column c.
            for (int e = 0; e < kMixEntries; ++e) {
                const int c = kMixPlaces[static_cast<std::size_t>(e)][0];
                const int k = kMixPlaces[static_cast<std::size_t>(e)][1];
                const double ds = points[static_cast<std::size_t>(c)].byDevice * (d[k] - d[c]);
                for (int r = 0; r < 3; ++r)
                    rows.row(e) += dLab.col(r).transpose() * m.shaper.matrix[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] * ds;
            }
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    rows.row(kMixEntries + 3 * r + c) = dLab.col(r).transpose() * points[static_cast<std::size_t>(c)].s;
            for (int c = 0; c < 3; ++c) {
                const Eigen::Vector3d column(m.shaper.matrix[0][static_cast<std::size_t>(c)], m.shaper.matrix[1][static_cast<std::size_t>(c)],
                                             m.shaper.matrix[2][static_cast<std::size_t>(c)]);
                const Eigen::Vector3d through = dLab * column;
                const ShaperCurvePoint& point = points[static_cast<std::size_t>(c)];
                for (int q = 0; q < kCurveParameters; ++q)
                    rows.row(kMixingCurveBase + c * kCurveParameters + q) = through.transpose() * point.bySetting[static_cast<std::size_t>(q)];
            }
            normal.selfadjointView<Eigen::Lower>().rankUpdate(rows);
            gradient += rows * residual;
        }
        normal.triangularView<Eigen::StrictlyUpper>() = normal.transpose();
        auto penalise = [&](int index, double weight) {
            normal(index, index) += weight * weight;
            gradient[index] += weight * weight * p[index];
        };
        for (int k = 0; k < kMixEntries; ++k) penalise(k, kMixPenalty);
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < kShaperKnots; ++k) penalise(kMixingCurveBase + c * kCurveParameters + 2 + k, kWeightPenalty);
    }
};

}  // namespace

ColorTriple MixingShaper::mixed(const ColorTriple& device) const {
    ColorTriple x{};
    for (std::size_t r = 0; r < 3; ++r) x[r] = mix[r][0] * device[0] + mix[r][1] * device[1] + mix[r][2] * device[2];
    return x;
}

double extendedCurveValue(const ShaperCurve& curve, double input) {
    if (input >= 0.0 && input <= 1.0) return curve.value(input);
    return extendedCurvePoint(curve, input).s;
}

ColorTriple MixingShaper::linear(const ColorTriple& device) const {
    const ColorTriple x = mixed(device);
    return {extendedCurveValue(shaper.curves[0], x[0]), extendedCurveValue(shaper.curves[1], x[1]),
            extendedCurveValue(shaper.curves[2], x[2])};
}

CieTriple MixingShaper::xyz(const ColorTriple& device) const {
    const ColorTriple s = linear(device);
    CieTriple out{};
    for (std::size_t r = 0; r < 3; ++r)
        out[r] = shaper.matrix[r][0] * s[0] + shaper.matrix[r][1] * s[1] + shaper.matrix[r][2] * s[2];
    return out;
}

namespace {

// Levenberg-Marquardt from start; false when the fit is not finite or runs
// away.
bool minimiseMixing(std::span<const ColorTriple> device, std::span<const ColorTriple> lab, const MixingShaper& start,
                    int maxIterations, MixingShaper& out, double& cost) {
    const MixingProblem problem{device, lab};
    MixingParameters p = packMixing(start);
    projectMixing(p);
    cost = problem.cost(p);
    if (!std::isfinite(cost)) return false;
    minimise(problem, p, cost, device.size(), maxIterations, kRelativeGain, [](MixingParameters& q) { projectMixing(q); });
    if (!withinLimits(p.segment<kParameterCount>(kMixEntries)) || !std::isfinite(cost)) return false;
    out = unpackMixing(p);
    return true;
}

}  // namespace

int fitMixingShaper(std::span<const ColorTriple> device, std::span<const ColorTriple> lab, const MatrixShaper& shaper,
                    MixingShaper& out) {
    assert(device.size() == lab.size());
    if (device.size() < 4) return 1;
    // Two starts, both without a mix: the shaper/matrix as fitted, whose
    // curves have bent to make up for the mixing it cannot represent, and
    // the same with plain power laws. Each reaches the device from some
    // devices far sooner than the other.
    MixingShaper fitted, plain;
    fitted.shaper = shaper;
    plain.shaper = shaper;
    for (ShaperCurve& curve : plain.shaper.curves) {
        curve.offset = 0.0;
        curve.weights.fill(0.0);
    }
    MixingShaper a, b;
    double costA = 0.0, costB = 0.0;
    const bool okA = minimiseMixing(device, lab, fitted, kMaxIterations, a, costA);
    const bool okB = minimiseMixing(device, lab, plain, kMaxIterations, b, costB);
    if (!okA && !okB) return 1;
    out = okA && (!okB || costA <= costB) ? a : b;
    return 0;
}

int refitMixingShaper(std::span<const ColorTriple> device, std::span<const ColorTriple> lab, const MixingShaper& start,
                      MixingShaper& out) {
    assert(device.size() == lab.size());
    if (device.size() < 4) return 1;
    double cost = 0.0;
    return minimiseMixing(device, lab, start, kMixingRefitIterations, out, cost) ? 0 : 1;
}

MatrixTrcTags matrixTrcTagsOf(const MatrixShaper& shaper, int count) {
    assert(count >= 2);
    MatrixTrcTags tags;
    for (int c = 0; c < 3; ++c) {
        tags.colorants[static_cast<std::size_t>(c)] = {shaper.matrix[0][static_cast<std::size_t>(c)],
                                                       shaper.matrix[1][static_cast<std::size_t>(c)],
                                                       shaper.matrix[2][static_cast<std::size_t>(c)]};
        std::vector<std::uint16_t>& curve = tags.curves[static_cast<std::size_t>(c)];
        curve.resize(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const double s = shaper.curves[static_cast<std::size_t>(c)].value(static_cast<double>(i) / (count - 1));
            curve[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(roundHalfAway(std::clamp(s, 0.0, 1.0) * 65535.0));
        }
    }
    return tags;
}

}  // namespace calivant
