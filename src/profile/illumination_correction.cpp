#include "profile/illumination_correction.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <span>

#include "measure/quality_checks.h"
#include "profile/tone_curves.h"

namespace calivant {
namespace {

// The field's shape (its constant is each group's level): the quadratic
// and r^4 terms, and the cubic ones when they earn their place.
constexpr int kShapeTerms = kIlluminationShapeTerms;
constexpr int kQuadraticTerms = 6;
constexpr int kGroups = 3;
// A border patch whose light departs from the field by more than this
// (as a fraction, at the white's precision) and by more than
// kOutlierSpread robust spreads is left out: a glare spot, a scuff, dust.
constexpr double kOutlierFloor = 0.02;
constexpr double kOutlierSpread = 5.0;
// At most this part of the border patches is left out as outlying; beyond
// it the field is not believed.
constexpr double kMaxOutlierShare = 0.25;
// Fewer usable border patches than this carry no field, and fewer than the
// second number no cubic terms.
constexpr int kMinBorderPatches = 8;
constexpr int kMinCubicBorderPatches = 16;
// A field whose shape explains less than this many times the border
// patches' scatter per term (an F ratio) is no field: even light. Even light
// seen through noise and 8-bit steps stays below 25, the gentlest fall-off
// of the benchmarks above 600.
constexpr double kSignificantField = 100.0;
// Points per side of the grid on which the field's brightest and darkest
// points over the chart are found.
constexpr int kFieldGrid = 65;
// Device values are searched in this range when the curves are inverted:
// a corrected value beyond full scale is clipped afterwards.
constexpr double kSearchLow = 0.0;
constexpr double kSearchHigh = 2.0;
constexpr int kBisections = 60;
// A device value of 0 has no logarithm; the curves read it as this.
constexpr double kSmallestDevice = 1e-6;
// The joint fit of field and curves: Gauss-Newton steps (damped when a step
// does not pay), the step of the numerical derivatives, and the gain below
// which it stops.
constexpr int kJointIterations = 30;
constexpr double kDerivativeStep = 1e-6;
constexpr double kJointGain = 1e-10;

using Shape = std::array<double, kShapeTerms>;

std::array<double, kShapeTerms> shapeTerms(double u, double t, double aspect) {
    return illuminationShapeTerms(u, t, aspect);
}

double shapeAt(const Shape& shape, const std::array<double, kShapeTerms>& terms) {
    double v = 0.0;
    for (int k = 0; k < kShapeTerms; ++k) v += shape[static_cast<std::size_t>(k)] * terms[static_cast<std::size_t>(k)];
    return v;
}

double centreU(const PatchCell& cell) { return cell.u + 0.5 * cell.width; }
double centreT(const PatchCell& cell) { return cell.t + 0.5 * cell.height; }

// One channel's curve from device value to light, through the gray scale's
// knots in log-log space: a power law is a straight line there, so the
// monotone cubic between knots bends little, and beyond the end grays the
// curve goes on as a power law with the end slopes.
struct LogLogCurve {
    std::vector<double> x;  // log device value, increasing
    std::vector<double> y;  // log light
    std::vector<double> slopes;

    double log(double device) const {
        const double lx = std::log(std::max(device, kSmallestDevice));
        const std::size_t n = x.size();
        if (lx <= x[0]) return y[0] + slopes[0] * (lx - x[0]);
        if (lx >= x[n - 1]) return y[n - 1] + slopes[n - 1] * (lx - x[n - 1]);
        std::size_t k = 1;
        while (k < n - 1 && lx > x[k]) ++k;
        return hermiteValue(lx, x[k - 1], x[k], y[k - 1], y[k], slopes[k - 1], slopes[k]);
    }
};

// False when there are fewer than two grays with distinct positive values
// and positive light, or the light does not rise with the values.
bool makeLogLogCurve(std::span<const double> device, std::span<const double> light, LogLogCurve& out) {
    std::vector<std::pair<double, double>> knots;
    for (std::size_t i = 0; i < device.size(); ++i)
        if (device[i] > 0.0 && light[i] > 0.0) knots.emplace_back(std::log(device[i]), std::log(light[i]));
    std::sort(knots.begin(), knots.end());
    out.x.clear();
    out.y.clear();
    // Equal device values (clipped shadows) become one knot at their mean light.
    for (std::size_t k = 0; k < knots.size();) {
        double sum = 0.0;
        std::size_t count = 0;
        const double at = knots[k].first;
        for (; k < knots.size() && knots[k].first == at; ++k, ++count) sum += knots[k].second;
        out.x.push_back(at);
        out.y.push_back(sum / static_cast<double>(count));
    }
    // A negative image: the profile refuses it anyway.
    if (out.x.size() < 2 || !(out.y.back() > out.y.front())) return false;
    out.slopes.assign(out.x.size(), 0.0);
    std::vector<double> work(out.x.size() - 1);
    hermiteSlopes(out.x, out.y, out.slopes, work);
    return true;
}

struct Linearizer {
    std::array<LogLogCurve, 3> curves;

    // The light of the gray the channel's value belongs to.
    double linear(int channel, double device) const {
        return std::exp(curves[static_cast<std::size_t>(channel)].log(device));
    }

    // The device value whose light is `light`, by bisection: the curve rises
    // (or stays flat).
    double device(int channel, double light) const {
        double lo = kSearchLow;
        double hi = kSearchHigh;
        if (!(linear(channel, lo) < light)) return lo;
        if (!(linear(channel, hi) > light)) return hi;
        for (int i = 0; i < kBisections; ++i) {
            const double mid = 0.5 * (lo + hi);
            if (linear(channel, mid) < light) lo = mid;
            else hi = mid;
        }
        return 0.5 * (lo + hi);
    }
};

// The gray scale as sampled: device values (gray order), the reference's
// Y / 100, and where on the chart each gray lies. Not the smoothed or
// reordered values: those no longer belong to one place on the chart.
struct GrayScale {
    std::vector<DeviceRgb> device;
    std::vector<double> y;
    std::vector<std::array<double, kShapeTerms>> terms;
};

GrayScale grayScaleOf(const TargetMeasurement& m, const TargetLayout& layout, const ReferenceData& reference) {
    GrayScale g;
    for (int i = 0; i < layout.grayCount; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const PatchCell& cell = layout.grayCells[static_cast<std::size_t>(grayPositionOfIndex(layout, i))];
        g.device.push_back(m.graySampled[at]);
        g.y.push_back(reference.grayXYZ[at][1] / 100.0);
        g.terms.push_back(shapeTerms(centreU(cell), centreT(cell), chartAspect(layout)));
    }
    return g;
}

// The curves through the gray scale with each gray's light taken as its Y
// times exp(shape) where it lies: the gray scale is lit by the same field as
// the rest of the chart. With a flat shape, the curves of the gray scale as
// measured.
bool litLinearizer(const GrayScale& grays, const Shape& shape, Linearizer& out) {
    std::vector<double> targets(grays.y.size());
    for (std::size_t i = 0; i < targets.size(); ++i) targets[i] = grays.y[i] * std::exp(shapeAt(shape, grays.terms[i]));
    for (int c = 0; c < 3; ++c) {
        std::vector<double> values(grays.device.size());
        for (std::size_t i = 0; i < values.size(); ++i) values[i] = grays.device[i][c];
        if (!makeLogLogCurve(values, targets, out.curves[static_cast<std::size_t>(c)])) return false;
    }
    return true;
}

// One border patch as the fit sees it.
struct BorderSample {
    PatchCell cell;
    BorderGroup group = BorderGroup::White;
    DeviceRgb device{};
    std::array<double, kShapeTerms> terms{};
    double weight = 0.0;  // (light / its slope by device value)^2, relative to the heaviest
    bool uniform = true;
    bool outlying = false;
};

bool used(const BorderSample& s) { return s.uniform && !s.outlying; }

double lightOf(const Linearizer& lin, const DeviceRgb& device) {
    return (lin.linear(0, device[0]) + lin.linear(1, device[1]) + lin.linear(2, device[2])) / 3.0;
}

// The border patches, weighted by how exactly their values give the light:
// the log of the light moves by gamma / d per unit of device value d, so
// equal device noise counts (d / gamma)^2 times in the log. Gamma is the
// gray scale's overall log-log slope: a local slope would follow every kink
// that uneven light puts into the curves of the gray scale as measured.
std::vector<BorderSample> borderSamples(const TargetMeasurement& m, const TargetLayout& layout, const Linearizer& lin) {
    std::array<double, 3> gamma{};
    for (int c = 0; c < 3; ++c) {
        const LogLogCurve& curve = lin.curves[static_cast<std::size_t>(c)];
        gamma[static_cast<std::size_t>(c)] = (curve.y.back() - curve.y.front()) / (curve.x.back() - curve.x.front());
    }
    std::vector<BorderSample> samples;
    auto addGroup = [&](const std::vector<PatchCell>& cells, int count, const auto& means, const auto& deviations,
                        BorderGroup group) {
        for (int i = 0; i < count; ++i) {
            const auto at = static_cast<std::size_t>(i);
            BorderSample s;
            s.cell = cells[at];
            s.group = group;
            s.device = means[at];
            s.terms = shapeTerms(centreU(s.cell), centreT(s.cell), chartAspect(layout));
            for (int c = 0; c < 3; ++c) {
                const double step = s.device[c] / gamma[static_cast<std::size_t>(c)];
                s.weight += step * step / 3.0;
            }
            if (!(s.weight > 0.0) || !(lightOf(lin, s.device) > 0.0)) s.weight = 0.0;
            // No sample inside the picture (-1) counts as non-uniform too.
            s.uniform = deviations[at] >= 0.0 && deviations[at] <= kUniformityThreshold && s.weight > 0.0;
            samples.push_back(std::move(s));
        }
    };
    addGroup(layout.whiteCells, layout.whiteCount, m.whiteMeasured, m.whiteDeviation, BorderGroup::White);
    addGroup(layout.midGrayCells, layout.midGrayCount, m.midGrayMeasured, m.midGrayDeviation, BorderGroup::MidGray);
    addGroup(layout.blackCells, layout.blackCount, m.blackMeasured, m.blackDeviation, BorderGroup::Black);
    double heaviest = 0.0;
    for (const BorderSample& s : samples)
        if (s.uniform) heaviest = std::max(heaviest, s.weight);
    for (BorderSample& s : samples) s.weight = heaviest > 0.0 ? s.weight / heaviest : 0.0;
    return samples;
}

// The unknowns of the fit: the first shapeTerms terms of the shape, then
// the level of each group that has a patch in use.
struct FieldModel {
    std::array<int, kGroups> levelIndex{};  // -1: no patch of the group in use
    int shapeTerms = kShapeTerms;
    int unknowns = kShapeTerms;

    FieldModel(const std::vector<BorderSample>& samples, int terms) : shapeTerms(terms), unknowns(terms) {
        levelIndex.fill(-1);
        for (const BorderSample& s : samples) {
            int& index = levelIndex[static_cast<std::size_t>(s.group)];
            if (used(s) && index < 0) index = unknowns++;
        }
    }

    Shape shapeOf(const Eigen::VectorXd& p) const {
        Shape shape{};
        for (int k = 0; k < shapeTerms; ++k) shape[static_cast<std::size_t>(k)] = p[k];
        return shape;
    }
};

// Each used sample's weighted departure of its log light from its group's
// level and the field: log(light) - level - shape . terms, the light read
// through the curves of the gray scale lit by the same field. False when the
// curves cannot be made or a light is not positive.
bool residuals(const std::vector<BorderSample>& samples, const GrayScale& grays, const FieldModel& model,
               const Eigen::VectorXd& p, Eigen::VectorXd& out) {
    const Shape shape = model.shapeOf(p);
    Linearizer lin;
    if (!litLinearizer(grays, shape, lin)) return false;
    std::vector<double> r;
    for (const BorderSample& s : samples) {
        if (!used(s)) continue;
        const double light = lightOf(lin, s.device);
        if (!(light > 0.0)) return false;
        r.push_back(std::sqrt(s.weight) *
                    (std::log(light) - p[model.levelIndex[static_cast<std::size_t>(s.group)]] - shapeAt(shape, s.terms)));
    }
    out = Eigen::Map<const Eigen::VectorXd>(r.data(), static_cast<Eigen::Index>(r.size()));
    return out.allFinite();
}

// Damped Gauss-Newton from p with numerical derivatives. False when the
// samples cannot determine the field.
bool fitJointly(const std::vector<BorderSample>& samples, const GrayScale& grays, const FieldModel& model,
                Eigen::VectorXd& p) {
    Eigen::VectorXd r;
    if (!residuals(samples, grays, model, p, r)) return false;
    double cost = r.squaredNorm();
    double damping = 1e-6;
    for (int iteration = 0; iteration < kJointIterations; ++iteration) {
        Eigen::MatrixXd jacobian(r.size(), model.unknowns);
        for (int k = 0; k < model.unknowns; ++k) {
            Eigen::VectorXd q = p;
            q[k] += kDerivativeStep;
            Eigen::VectorXd moved;
            if (!residuals(samples, grays, model, q, moved)) return false;
            jacobian.col(k) = (moved - r) / kDerivativeStep;
        }
        const Eigen::MatrixXd normal = jacobian.transpose() * jacobian;
        // The border must surround enough of the chart to tell a slope from
        // a curvature in both directions.
        if (Eigen::FullPivLU<Eigen::MatrixXd>(normal).rank() < model.unknowns) return false;
        const Eigen::VectorXd gradient = jacobian.transpose() * r;
        bool improved = false;
        for (; damping < 1e6; damping *= 10.0) {
            Eigen::MatrixXd damped = normal;
            damped.diagonal() *= 1.0 + damping;
            const Eigen::VectorXd trial = p - damped.ldlt().solve(gradient);
            Eigen::VectorXd trialResiduals;
            if (!trial.allFinite() || !residuals(samples, grays, model, trial, trialResiduals)) continue;
            const double trialCost = trialResiduals.squaredNorm();
            if (trialCost < cost) {
                const double gain = cost - trialCost;
                p = trial;
                r = trialResiduals;
                cost = trialCost;
                damping = std::max(damping / 10.0, 1e-9);
                improved = gain > kJointGain * std::max(cost, 1e-12);
                break;
            }
        }
        if (!improved) break;
    }
    return true;
}

// A power law per channel through the gray scale as measured, by least
// squares in log-log: uneven light scatters the grays about it but hardly
// tilts it.
bool powerLawLinearizer(const GrayScale& grays, Linearizer& out) {
    for (int c = 0; c < 3; ++c) {
        double n = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0, lo = HUGE_VAL, hi = -HUGE_VAL;
        for (std::size_t i = 0; i < grays.y.size(); ++i) {
            const double d = grays.device[i][c];
            if (!(d > 0.0) || !(grays.y[i] > 0.0)) continue;
            const double x = std::log(d), y = std::log(grays.y[i]);
            n += 1.0;
            sx += x;
            sy += y;
            sxx += x * x;
            sxy += x * y;
            lo = std::min(lo, d);
            hi = std::max(hi, d);
        }
        const double spread = sxx - sx * sx / std::max(n, 1.0);
        if (n < 2.0 || !(spread > 0.0)) return false;
        const double gamma = (sxy - sx * sy / n) / spread;
        const double offset = (sy - gamma * sx) / n;
        const double ends[2] = {lo, hi};
        const double lights[2] = {std::exp(offset + gamma * std::log(lo)), std::exp(offset + gamma * std::log(hi))};
        if (!makeLogLogCurve(ends, lights, out.curves[static_cast<std::size_t>(c)])) return false;
    }
    return true;
}

// A start of the joint fit: the field's least squares with the light read
// through lin.
bool linearStart(const std::vector<BorderSample>& samples, const Linearizer& lin, const FieldModel& model,
                 Eigen::VectorXd& p) {
    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(model.unknowns, model.unknowns);
    Eigen::VectorXd b = Eigen::VectorXd::Zero(model.unknowns);
    for (const BorderSample& s : samples) {
        if (!used(s)) continue;
        const double light = lightOf(lin, s.device);
        if (!(light > 0.0)) return false;
        Eigen::VectorXd row = Eigen::VectorXd::Zero(model.unknowns);
        for (int k = 0; k < model.shapeTerms; ++k) row[k] = s.terms[static_cast<std::size_t>(k)];
        row[model.levelIndex[static_cast<std::size_t>(s.group)]] = 1.0;
        a += s.weight * row * row.transpose();
        b += s.weight * std::log(light) * row;
    }
    const Eigen::FullPivLU<Eigen::MatrixXd> lu(a);
    if (lu.rank() < model.unknowns) return false;
    p = lu.solve(b);
    return p.allFinite();
}

// Marks the one sample that lies furthest beyond the outlier bound, if any;
// true when it marked one.
bool markWorstOutlier(std::vector<BorderSample>& samples, const GrayScale& grays, const FieldModel& model,
                      const Eigen::VectorXd& p) {
    Eigen::VectorXd r;
    if (!residuals(samples, grays, model, p, r) || r.size() == 0) return false;
    std::vector<double> sorted(r.data(), r.data() + r.size());
    for (double& v : sorted) v = std::fabs(v);
    std::vector<double> scaled = sorted;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    const double spread = 1.4826 * sorted[sorted.size() / 2];
    const double bound = std::max(kOutlierFloor, kOutlierSpread * spread);
    std::size_t worst = scaled.size();
    for (std::size_t k = 0; k < scaled.size(); ++k)
        if (scaled[k] > bound && (worst == scaled.size() || scaled[k] > scaled[worst])) worst = k;
    if (worst == scaled.size()) return false;
    std::size_t k = 0;
    for (BorderSample& s : samples) {
        if (!used(s)) continue;
        if (k++ == worst) {
            s.outlying = true;
            return true;
        }
    }
    return false;
}

// The unknowns of flat light: no shape, each group at its weighted mean log
// light through the curves of the gray scale as measured.
Eigen::VectorXd flatLevels(const std::vector<BorderSample>& samples, const Linearizer& measured, const FieldModel& model) {
    Eigen::VectorXd p = Eigen::VectorXd::Zero(model.unknowns);
    std::array<double, kGroups> sum{}, weight{};
    for (const BorderSample& s : samples) {
        if (!used(s)) continue;
        sum[static_cast<std::size_t>(s.group)] += s.weight * std::log(lightOf(measured, s.device));
        weight[static_cast<std::size_t>(s.group)] += s.weight;
    }
    for (int g = 0; g < kGroups; ++g) {
        const int index = model.levelIndex[static_cast<std::size_t>(g)];
        if (index >= 0) p[index] = sum[static_cast<std::size_t>(g)] / weight[static_cast<std::size_t>(g)];
    }
    return p;
}

// Fits the field with the gray scale's curves, leaving out outliers one at a
// time, and normalises it to 1 at the chart's brightest point. False when
// the border patches cannot carry one.
enum class FieldFit { Failed, Flat, Fitted };

// The field of the first `terms` shape terms, leaving out outliers one at a
// time; its residuals in `r`. False when the border cannot carry it.
bool fitShape(std::vector<BorderSample>& samples, const GrayScale& grays, const Linearizer& measured,
              const Linearizer* powerLaw, int terms, int maxOutliers, Eigen::VectorXd& p, Eigen::VectorXd& r) {
    for (int outliers = 0;; ++outliers) {
        const FieldModel model(samples, terms);
        double best = HUGE_VAL;
        for (const Linearizer* start : {&measured, powerLaw}) {
            Eigen::VectorXd q, qr;
            if (!start || !linearStart(samples, *start, model, q) || !fitJointly(samples, grays, model, q) ||
                !residuals(samples, grays, model, q, qr))
                continue;
            if (qr.squaredNorm() < best) {
                best = qr.squaredNorm();
                p = q;
                r = qr;
            }
        }
        if (!(best < HUGE_VAL)) return false;
        if (outliers == maxOutliers || !markWorstOutlier(samples, grays, model, p)) break;
    }
    return residuals(samples, grays, FieldModel(samples, terms), p, r);
}

FieldFit fitIlluminationField(std::vector<BorderSample>& samples, const GrayScale& grays, double aspect,
                              IlluminationCorrection& out) {
    int uniform = 0;
    for (const BorderSample& s : samples)
        if (s.uniform) ++uniform;
    if (uniform < kMinBorderPatches) return FieldFit::Failed;
    const int maxOutliers = static_cast<int>(kMaxOutlierShare * uniform);
    // Two starts: the curves of the gray scale as measured, which uneven
    // light bends, and a power law through it, which it hardly tilts. The
    // joint fit can stall on the kinks of the first when the light is very
    // uneven; the better end wins.
    Linearizer measured, powerLaw;
    if (!litLinearizer(grays, Shape{}, measured)) return FieldFit::Failed;
    const Linearizer* powerLawStart = powerLawLinearizer(grays, powerLaw) ? &powerLaw : nullptr;
    Eigen::VectorXd p, full;
    if (!fitShape(samples, grays, measured, powerLawStart, kQuadraticTerms, maxOutliers, p, full))
        return FieldFit::Failed;
    int terms = kQuadraticTerms;
    // The cubic terms only where they explain far more than the scatter the
    // quadratic field leaves: strong one-sided light. Elsewhere they would
    // trade against the gray scale's curves, whose patches lie along a line.
    if (uniform >= kMinCubicBorderPatches) {
        std::vector<BorderSample> cubicSamples = samples;
        Eigen::VectorXd cp, cr;
        if (fitShape(cubicSamples, grays, measured, powerLawStart, kShapeTerms, maxOutliers, cp, cr)) {
            const double cubicDof = static_cast<double>(cr.size() - FieldModel(cubicSamples, kShapeTerms).unknowns);
            if (cubicDof > 0.0 && cr.size() == full.size() &&
                (full.squaredNorm() - cr.squaredNorm()) / (kShapeTerms - kQuadraticTerms) >
                    kSignificantField * cr.squaredNorm() / cubicDof) {
                samples = std::move(cubicSamples);
                p = cp;
                full = cr;
                terms = kShapeTerms;
            }
        }
    }
    // A field no better than flat light beyond what the patches' own scatter
    // explains is taken as flat: dividing by it would only add that scatter.
    const FieldModel model(samples, terms);
    Eigen::VectorXd flat;
    if (!residuals(samples, grays, model, flatLevels(samples, measured, model), flat)) return FieldFit::Failed;
    const double dof = static_cast<double>(full.size() - model.unknowns);
    if (dof > 0.0 && (flat.squaredNorm() - full.squaredNorm()) / terms < kSignificantField * full.squaredNorm() / dof)
        return FieldFit::Flat;
    const Shape shape = model.shapeOf(p);
    double highest = -HUGE_VAL;
    double lowest = HUGE_VAL;
    for (int i = 0; i < kFieldGrid; ++i)
        for (int j = 0; j < kFieldGrid; ++j) {
            const double v = shapeAt(shape, shapeTerms(static_cast<double>(i) / (kFieldGrid - 1),
                                                       static_cast<double>(j) / (kFieldGrid - 1), aspect));
            highest = std::max(highest, v);
            lowest = std::min(lowest, v);
        }
    out.field.logTerms[0] = -highest;
    std::copy(shape.begin(), shape.end(), out.field.logTerms.begin() + 1);
    out.field.aspect = aspect;
    out.lowest = std::exp(lowest - highest);
    out.highest = 1.0;
    return std::isfinite(out.lowest) ? FieldFit::Fitted : FieldFit::Failed;
}

// The shape part of a fitted field (its constant is the normalisation).
Shape shapeOfField(const IlluminationField& field) {
    Shape shape{};
    std::copy(field.logTerms.begin() + 1, field.logTerms.end(), shape.begin());
    return shape;
}

// A patch's device value with the light divided out, through curves that
// give each device value the light that falls on it.
DeviceRgb corrected(const Linearizer& lin, const DeviceRgb& device, double light) {
    DeviceRgb out{};
    for (int c = 0; c < 3; ++c) out[c] = std::clamp(lin.device(c, lin.linear(c, device[c]) / light), 0.0, 1.0);
    return out;
}

double fieldAt(const IlluminationField& field, const PatchCell& cell) { return field.at(centreU(cell), centreT(cell)); }

}  // namespace

void correctIllumination(TargetMeasurement& m, const TargetLayout& layout, const ReferenceData& reference,
                         const AdvancedOptions& options) {
    m.illumination = IlluminationCorrection{};
    if (!options.correctIllumination) return;
    IlluminationCorrection& record = m.illumination;
    if (!hasBorderPatches(layout.targetType)) {
        record.status = IlluminationStatus::NoBorderPatches;
        return;
    }
    record.status = IlluminationStatus::TooFewBorderPatches;
    const GrayScale grays = grayScaleOf(m, layout, reference);
    Linearizer measured;
    if (!litLinearizer(grays, Shape{}, measured)) return;
    std::vector<BorderSample> samples = borderSamples(m, layout, measured);
    const FieldFit fit = fitIlluminationField(samples, grays, chartAspect(layout), record);
    for (const BorderSample& s : samples)
        if (!used(s)) record.leftOut.push_back({s.cell.name, s.uniform});
    if (fit == FieldFit::Flat) {
        record.status = IlluminationStatus::Even;
        return;
    }
    Linearizer lit;
    if (fit != FieldFit::Fitted || !litLinearizer(grays, shapeOfField(record.field), lit)) return;
    record.status = IlluminationStatus::Corrected;

    const auto grayCount = static_cast<std::size_t>(layout.grayCount);
    const auto colorCount = static_cast<std::size_t>(layout.colorCount);
    std::vector<DeviceRgb> gray(grayCount), color(colorCount);
    for (std::size_t i = 0; i < grayCount; ++i) {
        const PatchCell& cell = layout.grayCells[static_cast<std::size_t>(grayPositionOfIndex(layout, static_cast<int>(i)))];
        gray[i] = corrected(lit, m.graySampled[i], fieldAt(record.field, cell));
    }
    for (std::size_t i = 0; i < colorCount; ++i)
        color[i] = corrected(lit, m.colorMeasured[i], fieldAt(record.field, layout.colorCells[i]));
    // The corrected gray scale is smoothed and put in order as the measured
    // one was; what that says has been said for the measured one.
    Diagnostics repeated;
    tidyGrayScale(gray, reference, options.smoothing, repeated);
    if (options.stretch) {
        stretchContrast(gray, color, options.stretchDmax, options.stretchDmin, std::span(m.grayWorking).first(grayCount),
                        std::span(m.colorWorking).first(colorCount));
    } else {
        std::copy(gray.begin(), gray.end(), m.grayWorking.begin());
        std::copy(color.begin(), color.end(), m.colorWorking.begin());
    }
}

BorderLighting borderLighting(const TargetMeasurement& m, const TargetLayout& layout, const ReferenceData& reference) {
    BorderLighting view;
    if (!m.measured || !hasBorderPatches(layout.targetType)) return view;
    const GrayScale grays = grayScaleOf(m, layout, reference);
    view.corrected = m.illumination.status == IlluminationStatus::Corrected;
    // The curves the correction ended with, when there was one.
    Linearizer lin;
    if (!litLinearizer(grays, view.corrected ? shapeOfField(m.illumination.field) : Shape{}, lin)) {
        view.corrected = false;
        return view;
    }
    view.available = true;
    const std::vector<BorderSample> samples = borderSamples(m, layout, lin);
    std::array<double, kGroups> brightestBefore{}, brightestAfter{};
    for (const BorderSample& s : samples) {
        BorderPatchLight p;
        p.cell = s.cell;
        p.group = s.group;
        p.before = std::max(lightOf(lin, s.device), 0.0);
        p.after = view.corrected ? p.before / fieldAt(m.illumination.field, s.cell) : p.before;
        for (const IlluminationCorrection::LeftOut& left : m.illumination.leftOut)
            if (left.name == s.cell.name) p.leftOut = true;
        const auto g = static_cast<std::size_t>(s.group);
        brightestBefore[g] = std::max(brightestBefore[g], p.before);
        brightestAfter[g] = std::max(brightestAfter[g], p.after);
        view.patches.push_back(std::move(p));
    }
    for (BorderPatchLight& p : view.patches) {
        const auto g = static_cast<std::size_t>(p.group);
        p.before = brightestBefore[g] > 0.0 ? p.before / brightestBefore[g] : 0.0;
        p.after = brightestAfter[g] > 0.0 ? p.after / brightestAfter[g] : 0.0;
    }
    return view;
}

}  // namespace calivant
