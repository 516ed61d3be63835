#include "locate/patch_blobs.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "util/parallel.h"

namespace calivant {
namespace {

// The gradient is measured on the square root of the values: photon noise
// grows with the square root of the light, so the root gives dark and light
// patches alike noise, and a dark, linear exposure the same edges as a
// bright one.
// Gradient levels: this many per doubling, from kFloorGradient up.
constexpr int kLevelsPerOctave = 32;
constexpr int kLevels = 768;
constexpr double kFloorGradient = 1e-5;

constexpr double kMinBlobArea = 10.0;
// No patch covers more than this share of the picture (a ColorChecker
// filling the whole picture has patches of about 2 %).
constexpr double kMaxBlobShare = 0.125;
// area / (12 sqrt(det covariance)) is 1 for any parallelogram; a little more
// for small pixel blocks, less for ragged or hollow regions.
constexpr double kMinFill = 0.78;
constexpr double kMaxFill = 1.3;
// Longer over shorter axis: cells are square, seen at an angle or with
// keystone; two cells run together are twice as long as wide.
constexpr double kMaxElongation = 1.75;
// The ridge around a patch stands at least this far above the gradient
// inside it (levels, kLevelsPerOctave to a doubling).
constexpr int kMinContrastLevels = kLevelsPerOctave;
// Blobs closer than this share of their side, and within this factor in
// area, stand for the same patch.
constexpr double kSamePlaceShare = 0.3;
constexpr double kSameSize = 2.0;
// Tiles of a copy too large to hold whole: this many pixels of their own
// across, and this many beyond it on every side, so that every patch up to
// the margin's size lies whole in the tile that holds its centre. Larger
// patches are the next coarser copy's.
constexpr int kTileCore = 320;
constexpr int kTileMargin = 40;
constexpr double kMaxTileBlobArea = 4.0 * kTileMargin * kTileMargin;

// The level of a squared gradient: a float's exponent and leading mantissa
// bits are its logarithm, near enough (piecewise linear within each
// doubling, and monotone), at a fraction of the cost of log2. The magnitude
// doubles when its square quadruples: kLevelsPerOctave levels per two
// doublings of the square, kMantissaBits of the mantissa for each.
constexpr int kMantissaBits = 4;
static_assert(kLevelsPerOctave == 2 << kMantissaBits);
std::uint16_t levelOfSquare(float square) {
    static const std::int32_t floor = std::bit_cast<std::int32_t>(static_cast<float>(kFloorGradient * kFloorGradient));
    const std::int32_t steps = (std::bit_cast<std::int32_t>(square) - floor) >> (23 - kMantissaBits);
    return static_cast<std::uint16_t>(std::clamp(steps, 0, kLevels - 1));
}

// Row y of the copy as square roots, smoothed by [1 2 1] / 4 along the row,
// the edge repeated.
void rootRow(const ReducedImage& image, int y, std::vector<float>& roots, float* out) {
    const int w = image.width;
    const float* row = image.at(0, y);
    roots.resize(static_cast<std::size_t>(w) * 3);
    for (std::size_t i = 0; i < roots.size(); ++i) roots[i] = std::sqrt(std::max(row[i], 0.0f));
    for (int x = 0; x < w; ++x) {
        const int l = std::max(x - 1, 0) * 3;
        const int r = std::min(x + 1, w - 1) * 3;
        for (int k = 0; k < 3; ++k) out[x * 3 + k] = 0.25f * (roots[l + k] + 2.0f * roots[x * 3 + k] + roots[r + k]);
    }
}

// The gradient level of every pixel. The smoothed copy ([1 2 1] / 4 both
// ways, on the square roots) is made a row at a time: three rows along the
// picture, three across.
std::vector<std::uint16_t> gradientLevels(const ReducedImage& image) {
    const int w = image.width;
    const int h = image.height;
    const std::size_t row = static_cast<std::size_t>(w) * 3;
    std::vector<std::uint16_t> levels(static_cast<std::size_t>(w) * h);
    // along[k]: row y + k - 1 smoothed along; smooth[k]: row y + k - 1 smoothed both ways.
    std::vector<float> along(4 * row), smooth(3 * row);
    auto alongRow = [&](int y) { return &along[static_cast<std::size_t>((y + 4) % 4) * row]; };
    auto smoothRow = [&](int y) { return &smooth[static_cast<std::size_t>((y + 3) % 3) * row]; };
    std::vector<float> roots;
    auto makeAlong = [&](int y) { rootRow(image, std::clamp(y, 0, h - 1), roots, alongRow(y)); };
    auto makeSmooth = [&](int y) {
        const float* b = alongRow(y - 1);
        const float* c = alongRow(y);
        const float* t = alongRow(y + 1);
        float* out = smoothRow(y);
        for (std::size_t i = 0; i < row; ++i) out[i] = 0.25f * (b[i] + 2.0f * c[i] + t[i]);
    };
    makeAlong(-1);
    makeAlong(0);
    makeAlong(1);
    makeSmooth(0);
    std::copy(smoothRow(0), smoothRow(0) + row, smoothRow(-1));
    const float floor2 = static_cast<float>(kFloorGradient * kFloorGradient);
    for (int y = 0; y < h; ++y) {
        if (y + 1 < h) {
            makeAlong(y + 2);
            makeSmooth(y + 1);
        } else {
            std::copy(smoothRow(y), smoothRow(y) + row, smoothRow(y + 1));
        }
        const float* below = smoothRow(y - 1);
        const float* here = smoothRow(y);
        const float* above = smoothRow(y + 1);
        std::uint16_t* out = &levels[static_cast<std::size_t>(y) * w];
        for (int x = 0; x < w; ++x) {
            const int xl = std::max(x - 1, 0) * 3;
            const int xr = std::min(x + 1, w - 1) * 3;
            float sum = 0.0f;
            for (int k = 0; k < 3; ++k) {
                const float gx = 0.5f * (here[xr + k] - here[xl + k]);
                const float gy = 0.5f * (above[x * 3 + k] - below[x * 3 + k]);
                sum += gx * gx + gy * gy;
            }
            out[x] = levelOfSquare(std::max(sum, floor2));
        }
    }
    return levels;
}

// A region's sums, kept only while it is the root of its pixels.
struct Region {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    int minX = 0, maxX = 0, minY = 0, maxY = 0;
    // The level at which it last took in a region of some size (or became
    // one itself): how uneven its inside is.
    int inner = 0;
};

// The flood over a picture framed by a border of pixels that are never
// flooded, so that every pixel has four neighbours to look at.
class Flood {
public:
    Flood(const ReducedImage& image, const BlobWindow& window, double maxArea, std::vector<PatchBlob>& blobs)
        : image_(image), window_(window), blobs_(blobs), stride_(image.width + 2),
          parent_(static_cast<std::size_t>(image.width + 2) * (image.height + 2), kUnset), maxArea_(maxArea) {}

    // Floods the pixel at x, y at a gradient level.
    void add(int x, int y, int level) {
        const std::int32_t pixel = (y + 1) * stride_ + x + 1;
        const std::int32_t neighbours[4] = {pixel - 1, pixel + 1, pixel - stride_, pixel + stride_};
        // The pixel joins the region of its first flooded neighbour, and
        // that region then meets the others; only a pixel with none begins a
        // region of its own.
        std::int32_t root = -1;
        for (std::int32_t q : neighbours) {
            if (parent_[static_cast<std::size_t>(q)] == kUnset) continue;
            const std::int32_t other = find(q);
            if (root < 0) {
                root = other;
                Region& r = regionOf(root);
                addPixel(r, x, y);
                if (r.n == kMinBlobArea) r.inner = level;
                parent_[static_cast<std::size_t>(pixel)] = root;
            } else if (other != root) {
                root = unite(root, other, level);
            }
        }
        if (root < 0) parent_[static_cast<std::size_t>(pixel)] = encodeRoot(newRegion(x, y, level));
    }

    // The regions never met by another of their size.
    void finish(int level) {
        for (std::size_t i = 0; i < parent_.size(); ++i)
            if (parent_[i] <= kRootBase) offer(regions_[static_cast<std::size_t>(decodeRoot(parent_[i]))], level);
    }

private:
    static constexpr std::int32_t kUnset = -1;
    // Roots hold -(slot + 2): every parent value below -1 is a root.
    static constexpr std::int32_t kRootBase = -2;
    static std::int32_t encodeRoot(std::int32_t slot) { return kRootBase - slot; }
    static std::int32_t decodeRoot(std::int32_t value) { return kRootBase - value; }

    Region& regionOf(std::int32_t root) {
        return regions_[static_cast<std::size_t>(decodeRoot(parent_[static_cast<std::size_t>(root)]))];
    }

    std::int32_t newRegion(int x, int y, int level) {
        std::int32_t slot;
        if (!free_.empty()) {
            slot = free_.back();
            free_.pop_back();
        } else {
            slot = static_cast<std::int32_t>(regions_.size());
            regions_.emplace_back();
        }
        Region& r = regions_[static_cast<std::size_t>(slot)];
        r = Region{};
        addPixel(r, x, y);
        r.inner = level;
        return slot;
    }

    static void addPixel(Region& r, int x, int y) {
        if (r.n == 0) {
            r.minX = r.maxX = x;
            r.minY = r.maxY = y;
        } else {
            r.minX = std::min(r.minX, x);
            r.maxX = std::max(r.maxX, x);
            r.minY = std::min(r.minY, y);
            r.maxY = std::max(r.maxY, y);
        }
        r.n += 1;
        r.sx += x;
        r.sy += y;
        r.sxx += static_cast<double>(x) * x;
        r.sxy += static_cast<double>(x) * y;
        r.syy += static_cast<double>(y) * y;
    }

    // The root of a pixel's region, halving the path on the way.
    std::int32_t find(std::int32_t i) {
        for (;;) {
            const std::int32_t up = parent_[static_cast<std::size_t>(i)];
            if (up < 0) return i;
            const std::int32_t upper = parent_[static_cast<std::size_t>(up)];
            if (upper < 0) return up;
            parent_[static_cast<std::size_t>(i)] = upper;
            i = upper;
        }
    }

    // Joins two roots' regions; returns the root that stays.
    std::int32_t unite(std::int32_t a, std::int32_t b, int level) {
        Region* ra = &regionOf(a);
        Region* rb = &regionOf(b);
        const bool sizeable = ra->n >= kMinBlobArea && rb->n >= kMinBlobArea;
        if (sizeable) {
            offer(*ra, level);
            offer(*rb, level);
        }
        // The larger region keeps its root.
        if (ra->n < rb->n) {
            std::swap(a, b);
            std::swap(ra, rb);
        }
        Region& keep = *ra;
        const Region& gone = *rb;
        const bool wasSmall = keep.n < kMinBlobArea;
        keep.n += gone.n;
        keep.sx += gone.sx;
        keep.sy += gone.sy;
        keep.sxx += gone.sxx;
        keep.sxy += gone.sxy;
        keep.syy += gone.syy;
        keep.minX = std::min(keep.minX, gone.minX);
        keep.maxX = std::max(keep.maxX, gone.maxX);
        keep.minY = std::min(keep.minY, gone.minY);
        keep.maxY = std::max(keep.maxY, gone.maxY);
        if (sizeable || (wasSmall && keep.n >= kMinBlobArea)) keep.inner = level;
        free_.push_back(decodeRoot(parent_[static_cast<std::size_t>(b)]));
        parent_[static_cast<std::size_t>(b)] = a;
        return a;
    }

    // Looks at a region about to meet another as a possible patch.
    void offer(const Region& r, int level) {
        const int contrast = level - r.inner;
        if (contrast < kMinContrastLevels || r.n > maxArea_) return;
        // Cut by a tile's edge: its neighbour tile sees it whole.
        if ((window_.openLeft && r.minX == 0) || (window_.openRight && r.maxX == image_.width - 1) ||
            (window_.openBottom && r.minY == 0) || (window_.openTop && r.maxY == image_.height - 1))
            return;
        const double cx = r.sx / r.n;
        const double cy = r.sy / r.n;
        const double vxx = r.sxx / r.n - cx * cx;
        const double vxy = r.sxy / r.n - cx * cy;
        const double vyy = r.syy / r.n - cy * cy;
        const double det = vxx * vyy - vxy * vxy;
        if (!(det > 0.0)) return;
        const double fill = r.n / (12.0 * std::sqrt(det));
        if (fill < kMinFill || fill > kMaxFill) return;
        const double half = 0.5 * (vxx + vyy);
        const double root = std::sqrt(std::max(0.0, half * half - det));
        const double major = half + root;
        const double minor = half - root;
        if (!(minor > 0.0) || major > kMaxElongation * kMaxElongation * minor) return;
        PatchBlob blob;
        blob.x = cx;
        blob.y = cy;
        blob.area = r.n;
        blob.contrast = static_cast<float>(std::exp2(static_cast<double>(contrast) / kLevelsPerOctave));
        blobs_.push_back(blob);
    }

    const ReducedImage& image_;
    BlobWindow window_;
    std::vector<PatchBlob>& blobs_;
    std::int32_t stride_;
    std::vector<std::int32_t> parent_;
    std::vector<Region> regions_;
    std::vector<std::int32_t> free_;
    double maxArea_;
};

// A patch is offered again each time a region around it is looked at (with
// a little more of its border, or a speck of glare taken in): of the blobs
// at one place and of about one size, the one with the clearest border
// stays. Blobs of other sizes at the same place (a block of four patches
// that run together, centred on their common corner) are kept.
std::vector<PatchBlob> onePerPlace(std::vector<PatchBlob> blobs, int width, int height) {
    std::stable_sort(blobs.begin(), blobs.end(),
                     [](const PatchBlob& a, const PatchBlob& b) { return a.contrast > b.contrast; });
    constexpr int kBucket = 8;
    const int columns = width / kBucket + 1;
    const int rows = height / kBucket + 1;
    std::vector<std::vector<std::int32_t>> buckets(static_cast<std::size_t>(columns) * rows);
    std::vector<PatchBlob> kept;
    for (const PatchBlob& b : blobs) {
        if (kept.size() >= static_cast<std::size_t>(kMaxBlobs)) break;
        const double reach = kSamePlaceShare * std::sqrt(b.area);
        const int x0 = std::max(0, static_cast<int>((b.x - reach) / kBucket));
        const int x1 = std::min(columns - 1, static_cast<int>((b.x + reach) / kBucket));
        const int y0 = std::max(0, static_cast<int>((b.y - reach) / kBucket));
        const int y1 = std::min(rows - 1, static_cast<int>((b.y + reach) / kBucket));
        bool taken = false;
        for (int by = y0; by <= y1 && !taken; ++by)
            for (int bx = x0; bx <= x1 && !taken; ++bx)
                for (std::int32_t k : buckets[static_cast<std::size_t>(by) * columns + bx]) {
                    const PatchBlob& o = kept[static_cast<std::size_t>(k)];
                    if (std::hypot(o.x - b.x, o.y - b.y) <= reach && o.area <= kSameSize * b.area &&
                        b.area <= kSameSize * o.area) {
                        taken = true;
                        break;
                    }
                }
        if (taken) continue;
        const int bx = std::clamp(static_cast<int>(b.x / kBucket), 0, columns - 1);
        const int by = std::clamp(static_cast<int>(b.y / kBucket), 0, rows - 1);
        buckets[static_cast<std::size_t>(by) * columns + bx].push_back(static_cast<std::int32_t>(kept.size()));
        kept.push_back(b);
    }
    return kept;
}

// The blobs of one picture (or tile), before the same patch offered twice
// is thinned out.
void floodBlobs(const ReducedImage& image, const BlobWindow& window, double maxArea, std::vector<PatchBlob>& blobs) {
    const int w = image.width;
    const int h = image.height;
    // Columns and rows are packed in 16 bits each.
    if (w < 3 || h < 3 || w > 0xFFFF || h > 0xFFFF) return;
    const std::size_t n = static_cast<std::size_t>(w) * h;

    // The pixels in order of rising gradient (a counting sort), each as its
    // column and row packed in one word.
    std::vector<std::uint32_t> order(n);
    std::vector<std::uint32_t> start(kLevels + 1, 0);
    {
        const std::vector<std::uint16_t> levels = gradientLevels(image);
        for (std::uint16_t l : levels) ++start[l + 1u];
        for (int l = 0; l < kLevels; ++l) start[static_cast<std::size_t>(l) + 1] += start[static_cast<std::size_t>(l)];
        std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
        std::size_t i = 0;
        for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(h); ++y)
            for (std::uint32_t x = 0; x < static_cast<std::uint32_t>(w); ++x, ++i) order[next[levels[i]]++] = x | y << 16;
    }

    Flood flood(image, window, maxArea, blobs);
    for (int level = 0; level < kLevels; ++level)
        for (std::uint32_t k = start[static_cast<std::size_t>(level)]; k < start[static_cast<std::size_t>(level) + 1]; ++k)
            flood.add(static_cast<int>(order[k] & 0xFFFF), static_cast<int>(order[k] >> 16), level);
    flood.finish(kLevels);
}

}  // namespace

std::vector<PatchBlob> findPatchBlobs(const ReducedImage& image) {
    std::vector<PatchBlob> blobs;
    floodBlobs(image, BlobWindow{}, kMaxBlobShare * static_cast<double>(image.width) * image.height, blobs);
    return onePerPlace(std::move(blobs), image.width, image.height);
}

std::vector<PatchBlob> findPatchBlobsInTiles(const TargetImage& image, int factor, const TileInterest& interest,
                                             double pixelBudget) {
    const int width = image.width / std::max(factor, 1);
    const int height = image.height / std::max(factor, 1);
    std::vector<PatchBlob> all;
    if (width < 3 || height < 3) return all;
    const int columns = (width + kTileCore - 1) / kTileCore;
    const int rows = (height + kTileCore - 1) / kTileCore;
    // The tiles by interest, as many as the budget holds.
    std::vector<std::pair<double, int>> ranked;
    for (int t = 0; t < columns * rows; ++t) {
        const double x0 = (t % columns) * kTileCore, y0 = (t / columns) * kTileCore;
        const double x1 = std::min<double>(width, x0 + kTileCore), y1 = std::min<double>(height, y0 + kTileCore);
        ranked.push_back({-interest(x0 * factor, y0 * factor, x1 * factor, y1 * factor), t});
    }
    std::sort(ranked.begin(), ranked.end());
    std::vector<int> chosen;
    double spent = 0.0;
    for (const auto& [score, t] : ranked) {
        if (spent >= pixelBudget) break;
        chosen.push_back(t);
        const int cx0 = (t % columns) * kTileCore, cy0 = (t / columns) * kTileCore;
        spent += static_cast<double>(std::min(width, cx0 + kTileCore + kTileMargin) - std::max(0, cx0 - kTileMargin)) *
                 (std::min(height, cy0 + kTileCore + kTileMargin) - std::max(0, cy0 - kTileMargin));
    }
    std::sort(chosen.begin(), chosen.end());
    const int tiles = static_cast<int>(chosen.size());
    // Each tile's blobs in a place of its own: the same list on any number
    // of threads.
    std::vector<std::vector<PatchBlob>> found(static_cast<std::size_t>(tiles));
    const double maxArea = kMaxTileBlobArea;
    runEachIndex(static_cast<std::size_t>(tiles), 0, [&](std::size_t k) {
        const int t = chosen[k];
        const int cx0 = (t % columns) * kTileCore, cy0 = (t / columns) * kTileCore;
        const int cx1 = std::min(width, cx0 + kTileCore), cy1 = std::min(height, cy0 + kTileCore);
        const int x0 = std::max(0, cx0 - kTileMargin), y0 = std::max(0, cy0 - kTileMargin);
        const int x1 = std::min(width, cx1 + kTileMargin), y1 = std::min(height, cy1 + kTileMargin);
        const ReducedImage tile = reduceRegion(image, factor, x0, y0, x1 - x0, y1 - y0);
        if (tile.rgb.empty()) return;
        BlobWindow window;
        window.openLeft = x0 > 0;
        window.openRight = x1 < width;
        window.openBottom = y0 > 0;
        window.openTop = y1 < height;
        std::vector<PatchBlob> blobs;
        floodBlobs(tile, window, maxArea, blobs);
        for (PatchBlob& b : blobs) {
            b.x += x0;
            b.y += y0;
            // A patch belongs to the tile that holds its centre.
            if (b.x >= cx0 - 0.5 && b.x < cx1 - 0.5 && b.y >= cy0 - 0.5 && b.y < cy1 - 0.5)
                found[static_cast<std::size_t>(k)].push_back(b);
        }
    });
    for (const auto& blobs : found) all.insert(all.end(), blobs.begin(), blobs.end());
    return onePerPlace(std::move(all), width, height);
}

}  // namespace calivant
