#include "locate/patch_lattice.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <unordered_map>

namespace calivant {
namespace {

// Neighbouring patches differ in area by at most this factor: two patches
// run together are twice the size of one.
constexpr double kAreaRatio = 1.8;
// A seed's neighbours lie within this many blob sides, and no nearer than
// half of one.
constexpr double kSeedReach = 3.0;
constexpr double kMinStep = 0.5;
// Two steps are independent when the cosine of their angle is below this.
constexpr double kMaxStepCosine = 0.6;
// A predicted patch position is met within this share of the shorter step;
// a jump over a missing patch is allowed a little more.
constexpr double kStepTolerance = 0.3;
constexpr double kJumpTolerance = 0.35;
// Patches smaller than this share of the typical one are left out of the fit.
constexpr double kMinFitAreaShare = 0.85;
// Patches further than this share of the pitch from the fitted map are dropped.
constexpr double kOutlierShare = 0.25;
constexpr int kFitRounds = 3;
// A seed needs neighbours at this many of the four ends of its two steps
// (three still fix both steps; a small, blurred chart may have no patch with
// all four neighbours found).
constexpr int kMinSeedSupport = 3;
// Seeds tried before giving up on more lattices.
constexpr int kMaxSeeds = 60;
// No chart has more patches along a side than this.
constexpr int kMaxIndex = 256;

struct Vec {
    double x = 0.0;
    double y = 0.0;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y}; }
Vec operator*(Vec a, double s) { return {a.x * s, a.y * s}; }
double length(Vec a) { return std::hypot(a.x, a.y); }

// Blobs in square buckets for neighbour queries.
class BlobIndex {
public:
    explicit BlobIndex(const std::vector<PatchBlob>& blobs) : blobs_(blobs) {
        std::vector<double> sides;
        for (const PatchBlob& b : blobs) sides.push_back(std::sqrt(b.area));
        std::nth_element(sides.begin(), sides.begin() + static_cast<std::ptrdiff_t>(sides.size() / 2), sides.end());
        cell_ = std::max(2.0, sides[sides.size() / 2]);
        x0_ = y0_ = 1e300;
        double x1 = -1e300, y1 = -1e300;
        for (const PatchBlob& b : blobs) {
            x0_ = std::min(x0_, b.x);
            y0_ = std::min(y0_, b.y);
            x1 = std::max(x1, b.x);
            y1 = std::max(y1, b.y);
        }
        nx_ = static_cast<int>((x1 - x0_) / cell_) + 1;
        ny_ = static_cast<int>((y1 - y0_) / cell_) + 1;
        buckets_.resize(static_cast<std::size_t>(nx_) * ny_);
        for (std::size_t i = 0; i < blobs.size(); ++i) buckets_[bucketOf(blobs[i].x, blobs[i].y)].push_back(static_cast<int>(i));
    }

    template <typename Visit>
    void forEachNear(double x, double y, double radius, Visit visit) const {
        const int bx0 = std::max(0, static_cast<int>(std::floor((x - radius - x0_) / cell_)));
        const int bx1 = std::min(nx_ - 1, static_cast<int>(std::floor((x + radius - x0_) / cell_)));
        const int by0 = std::max(0, static_cast<int>(std::floor((y - radius - y0_) / cell_)));
        const int by1 = std::min(ny_ - 1, static_cast<int>(std::floor((y + radius - y0_) / cell_)));
        for (int by = by0; by <= by1; ++by)
            for (int bx = bx0; bx <= bx1; ++bx)
                for (int i : buckets_[static_cast<std::size_t>(by) * nx_ + bx]) {
                    const double d = std::hypot(blobs_[static_cast<std::size_t>(i)].x - x, blobs_[static_cast<std::size_t>(i)].y - y);
                    if (d <= radius) visit(i, d);
                }
    }

private:
    std::size_t bucketOf(double x, double y) const {
        const int bx = std::clamp(static_cast<int>((x - x0_) / cell_), 0, nx_ - 1);
        const int by = std::clamp(static_cast<int>((y - y0_) / cell_), 0, ny_ - 1);
        return static_cast<std::size_t>(by) * nx_ + bx;
    }

    const std::vector<PatchBlob>& blobs_;
    double cell_ = 1.0;
    double x0_ = 0.0, y0_ = 0.0;
    int nx_ = 1, ny_ = 1;
    std::vector<std::vector<int>> buckets_;
};

bool similarArea(const PatchBlob& a, const PatchBlob& b) {
    return a.area <= kAreaRatio * b.area && b.area <= kAreaRatio * a.area;
}

struct Seed {
    int blob = 0;
    int support = 0;  // neighbours found at the ends of the two steps, 0..4
    Vec a, b;
};

class Grower {
public:
    explicit Grower(const std::vector<PatchBlob>& blobs) : blobs_(blobs), index_(blobs), owner_(blobs.size(), -1) {}

    Vec position(int blob) const { return {blobs_[static_cast<std::size_t>(blob)].x, blobs_[static_cast<std::size_t>(blob)].y}; }

    // The free blob nearest to p within radius whose area suits `like`.
    int nearestFree(Vec p, double radius, int like) const {
        int best = -1;
        double bestDistance = radius;
        index_.forEachNear(p.x, p.y, radius, [&](int i, double d) {
            if (owner_[static_cast<std::size_t>(i)] >= 0 || i == like || d > bestDistance) return;
            if (!similarArea(blobs_[static_cast<std::size_t>(i)], blobs_[static_cast<std::size_t>(like)])) return;
            best = i;
            bestDistance = d;
        });
        return best;
    }

    Seed seedAt(int blob) const {
        Seed seed;
        seed.blob = blob;
        const PatchBlob& b = blobs_[static_cast<std::size_t>(blob)];
        const double side = std::sqrt(b.area);
        std::vector<std::pair<double, int>> near;
        index_.forEachNear(b.x, b.y, kSeedReach * side, [&](int i, double d) {
            if (i != blob && d >= kMinStep * side && similarArea(blobs_[static_cast<std::size_t>(i)], b)) near.push_back({d, i});
        });
        if (near.size() < 2) return seed;
        std::sort(near.begin(), near.end());
        const Vec p = position(blob);
        const Vec a = position(near[0].second) - p;
        const double la = length(a);
        for (std::size_t k = 1; k < near.size(); ++k) {
            const Vec v = position(near[k].second) - p;
            const double cosine = std::abs(a.x * v.x + a.y * v.y) / (la * length(v));
            if (cosine < kMaxStepCosine) {
                seed.a = a;
                seed.b = v;
                break;
            }
        }
        if (length(seed.b) == 0.0) return seed;
        // Where the nearest neighbours are missing, two diagonals may have
        // been taken for steps: they span every other patch only. A patch
        // half way along their sum or difference gives the true step.
        for (int round = 0; round < 2; ++round) {
            for (Vec half : {(seed.a + seed.b) * 0.5, (seed.a - seed.b) * 0.5}) {
                if (nearestFree(p + half, kStepTolerance * length(half), blob) < 0 &&
                    nearestFree(p - half, kStepTolerance * length(half), blob) < 0)
                    continue;
                if (length(seed.a) > length(seed.b)) seed.a = half;
                else seed.b = half;
                break;
            }
        }
        if (length(seed.a) > length(seed.b)) std::swap(seed.a, seed.b);
        const double tolerance = kStepTolerance * std::min(length(seed.a), length(seed.b));
        for (Vec step : {seed.a, seed.a * -1.0, seed.b, seed.b * -1.0})
            if (nearestFree(p + step, tolerance, blob) >= 0) ++seed.support;
        return seed;
    }

    bool isFree(int blob) const { return owner_[static_cast<std::size_t>(blob)] < 0; }

    std::vector<LatticeNode> grow(const Seed& seed, int id) {
        struct Grown {
            LatticeNode node;
            Vec a, b;
        };
        std::vector<Grown> grown;
        std::unordered_map<std::int64_t, int> occupied;
        auto key = [](int i, int j) { return (static_cast<std::int64_t>(i) + kMaxIndex) * 4 * kMaxIndex + (j + kMaxIndex); };
        auto add = [&](int blob, int i, int j, Vec a, Vec b) {
            owner_[static_cast<std::size_t>(blob)] = id;
            occupied[key(i, j)] = static_cast<int>(grown.size());
            grown.push_back({{i, j, blob}, a, b});
        };
        add(seed.blob, 0, 0, seed.a, seed.b);
        for (std::size_t next = 0; next < grown.size(); ++next) {
            const Grown g = grown[next];
            const Vec p = position(g.node.blob);
            const double shorter = std::min(length(g.a), length(g.b));
            const int steps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
            for (const auto& s : steps) {
                const int di = s[0];
                const int dj = s[1];
                const Vec step = di != 0 ? g.a * di : g.b * dj;
                int reach = 1;
                int found = -1;
                for (; reach <= 2 && found < 0; ++reach) {
                    const int i = g.node.i + di * reach;
                    const int j = g.node.j + dj * reach;
                    if (std::abs(i) >= kMaxIndex || std::abs(j) >= kMaxIndex || occupied.count(key(i, j)) > 0) break;
                    const double tolerance = (reach == 1 ? kStepTolerance : kJumpTolerance) * shorter;
                    found = nearestFree(p + step * reach, tolerance, g.node.blob);
                    if (found >= 0) break;
                }
                if (found < 0) continue;
                const Vec measured = (position(found) - p) * (1.0 / reach);
                Vec a = g.a;
                Vec b = g.b;
                if (di != 0) a = measured * di;
                else b = measured * dj;
                add(found, g.node.i + di * reach, g.node.j + dj * reach, a, b);
            }
        }
        std::vector<LatticeNode> nodes;
        for (const Grown& g : grown) nodes.push_back(g.node);
        return nodes;
    }

private:
    const std::vector<PatchBlob>& blobs_;
    BlobIndex index_;
    std::vector<int> owner_;
};

int distinctCount(const std::vector<LatticeNode>& nodes, bool alongI) {
    std::vector<int> values;
    for (const LatticeNode& n : nodes) values.push_back(alongI ? n.i : n.j);
    std::sort(values.begin(), values.end());
    return static_cast<int>(std::unique(values.begin(), values.end()) - values.begin());
}

// Least squares fit of the index-to-position map; quadratic when the nodes
// span at least three rows and columns, affine otherwise. Patches much
// smaller than the others are left out: cut by the picture's edge, their
// centroids are off their cells' centres.
bool fitLattice(PatchLattice& lattice, const std::vector<PatchBlob>& blobs) {
    if (static_cast<int>(lattice.nodes.size()) < kMinLatticeNodes) return false;
    std::vector<double> areas;
    for (const LatticeNode& n : lattice.nodes) areas.push_back(blobs[static_cast<std::size_t>(n.blob)].area);
    std::nth_element(areas.begin(), areas.begin() + static_cast<std::ptrdiff_t>(areas.size() / 2), areas.end());
    const double typical = areas[areas.size() / 2];
    std::vector<LatticeNode> nodes;
    for (const LatticeNode& n : lattice.nodes)
        if (blobs[static_cast<std::size_t>(n.blob)].area >= kMinFitAreaShare * typical) nodes.push_back(n);
    const int ni = distinctCount(nodes, true);
    const int nj = distinctCount(nodes, false);
    if (static_cast<int>(nodes.size()) < kMinLatticeNodes || ni < 2 || nj < 2) return false;
    const int terms = (ni >= 3 && nj >= 3 && nodes.size() >= 12) ? 6 : 3;
    Eigen::MatrixXd a(static_cast<Eigen::Index>(nodes.size()), terms);
    Eigen::MatrixXd rhs(static_cast<Eigen::Index>(nodes.size()), 2);
    for (std::size_t k = 0; k < nodes.size(); ++k) {
        const double i = nodes[k].i;
        const double j = nodes[k].j;
        const double row[6] = {1.0, i, j, i * i, i * j, j * j};
        for (int t = 0; t < terms; ++t) a(static_cast<Eigen::Index>(k), t) = row[t];
        rhs(static_cast<Eigen::Index>(k), 0) = blobs[static_cast<std::size_t>(nodes[k].blob)].x;
        rhs(static_cast<Eigen::Index>(k), 1) = blobs[static_cast<std::size_t>(nodes[k].blob)].y;
    }
    const auto qr = a.colPivHouseholderQr();
    if (qr.rank() < terms) return false;
    const Eigen::MatrixXd solution = qr.solve(rhs);
    lattice.fitX.fill(0.0);
    lattice.fitY.fill(0.0);
    for (int t = 0; t < terms; ++t) {
        lattice.fitX[static_cast<std::size_t>(t)] = solution(t, 0);
        lattice.fitY[static_cast<std::size_t>(t)] = solution(t, 1);
    }
    return true;
}

// The shorter of the two steps of the fitted map, median over the nodes.
double latticePitch(const PatchLattice& lattice) {
    std::vector<double> steps;
    for (const LatticeNode& n : lattice.nodes) {
        double x0, y0, xi, yi, xj, yj;
        lattice.map(n.i, n.j, x0, y0);
        lattice.map(n.i + 1, n.j, xi, yi);
        lattice.map(n.i, n.j + 1, xj, yj);
        steps.push_back(std::min(std::hypot(xi - x0, yi - y0), std::hypot(xj - x0, yj - y0)));
    }
    std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
    return steps[steps.size() / 2];
}

bool settleLattice(PatchLattice& lattice, const std::vector<PatchBlob>& blobs) {
    for (int round = 0; round < kFitRounds; ++round) {
        if (!fitLattice(lattice, blobs)) return false;
        lattice.pitch = latticePitch(lattice);
        const double limit = kOutlierShare * lattice.pitch;
        std::vector<LatticeNode> kept;
        for (const LatticeNode& n : lattice.nodes) {
            double x, y;
            lattice.map(n.i, n.j, x, y);
            const PatchBlob& b = blobs[static_cast<std::size_t>(n.blob)];
            if (std::hypot(b.x - x, b.y - y) <= limit) kept.push_back(n);
        }
        const bool changed = kept.size() != lattice.nodes.size();
        lattice.nodes = std::move(kept);
        if (!changed) return true;
    }
    if (!fitLattice(lattice, blobs)) return false;
    lattice.pitch = latticePitch(lattice);
    return true;
}

}  // namespace

void PatchLattice::map(double i, double j, double& x, double& y) const {
    const double terms[6] = {1.0, i, j, i * i, i * j, j * j};
    x = 0.0;
    y = 0.0;
    for (int t = 0; t < 6; ++t) {
        x += fitX[static_cast<std::size_t>(t)] * terms[t];
        y += fitY[static_cast<std::size_t>(t)] * terms[t];
    }
}

std::vector<PatchLattice> findPatchLattices(const std::vector<PatchBlob>& blobs, int maxLattices) {
    std::vector<PatchLattice> lattices;
    if (blobs.size() < static_cast<std::size_t>(kMinLatticeNodes)) return lattices;
    Grower grower(blobs);
    std::vector<Seed> seeds;
    for (std::size_t i = 0; i < blobs.size(); ++i) {
        const Seed seed = grower.seedAt(static_cast<int>(i));
        if (seed.support >= kMinSeedSupport) seeds.push_back(seed);
    }
    // Seeds with all four neighbours first, then those of the most common
    // size: a seed made of two patches run together lies between lattice
    // points.
    if (seeds.empty()) return lattices;
    std::vector<double> areas;
    for (const Seed& s : seeds) areas.push_back(blobs[static_cast<std::size_t>(s.blob)].area);
    std::nth_element(areas.begin(), areas.begin() + static_cast<std::ptrdiff_t>(areas.size() / 2), areas.end());
    const double typical = areas[areas.size() / 2];
    auto oddness = [&](const Seed& s) { return std::abs(std::log(blobs[static_cast<std::size_t>(s.blob)].area / typical)); };
    std::stable_sort(seeds.begin(), seeds.end(), [&](const Seed& a, const Seed& b) {
        return a.support != b.support ? a.support > b.support : oddness(a) < oddness(b);
    });
    int tried = 0;
    for (const Seed& seed : seeds) {
        if (tried >= kMaxSeeds) break;
        if (!grower.isFree(seed.blob)) continue;
        ++tried;
        PatchLattice lattice;
        lattice.nodes = grower.grow(seed, tried);
        if (settleLattice(lattice, blobs)) lattices.push_back(std::move(lattice));
    }
    std::sort(lattices.begin(), lattices.end(),
              [](const PatchLattice& a, const PatchLattice& b) { return a.nodes.size() > b.nodes.size(); });
    if (static_cast<int>(lattices.size()) > maxLattices) lattices.resize(static_cast<std::size_t>(maxLattices));
    return lattices;
}

}  // namespace calivant
