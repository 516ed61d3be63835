#include "make-target/printed_chart.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>

#include "make-target/random.h"
#include "reference/text_input.h"

namespace calivant {
namespace {

constexpr double kPi = 3.141592653589793;

// Printable: every linear channel of the default device inside this range,
// so that no printed colour clips on a plain scan.
constexpr double kPrintableLow = 0.003;
constexpr double kPrintableHigh = 0.95;

CieTriple lab(double l, double a, double b) { return labToXyz(CieTriple{l, a, b}); }

int addPaint(ChartArtwork& artwork, const CieTriple& xyz) {
    artwork.paints.push_back(xyz);
    return static_cast<int>(artwork.paints.size()) - 1;
}

bool inside(const ArtworkRect& r, double u, double t) { return u >= r.u0 && u < r.u1 && t >= r.t0 && t < r.t1; }

// Index of the cell edge at or left of v among sorted edges; -1 before the first.
int cellIndex(const std::vector<double>& edges, double v) {
    const int count = static_cast<int>(edges.size());
    const double pitch = count > 1 ? (edges.back() - edges.front()) / (count - 1) : 1.0;
    int i = std::clamp(static_cast<int>((v - edges.front()) / pitch), 0, count - 1);
    while (i > 0 && v < edges[static_cast<std::size_t>(i)]) --i;
    while (i + 1 < count && v >= edges[static_cast<std::size_t>(i + 1)]) ++i;
    return v < edges.front() ? -1 : i;
}

int gridPaint(const ArtworkGrid& g, double u, double t) {
    const int c = cellIndex(g.left, u);
    const int r = cellIndex(g.top, t);
    if (c < 0 || r < 0) return -1;
    if (u >= g.left[static_cast<std::size_t>(c)] + g.width || t >= g.top[static_cast<std::size_t>(r)] + g.height)
        return -1;
    return g.paint[static_cast<std::size_t>(r) * g.left.size() + static_cast<std::size_t>(c)];
}

std::uint32_t mixBits(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    std::uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    return h ^ (h >> 15);
}

// A glyph of 3 x 5 dots in the middle of its cell; one cell in eight is a space.
bool textInk(const ArtworkText& text, double u, double t) {
    const double fu = (u - text.u0) / text.glyphWidth;
    const double ft = (t - text.t0) / text.lineHeight;
    const int column = static_cast<int>(fu);
    const int line = static_cast<int>(ft);
    const double x = (fu - column - 0.12) / 0.7;
    const double y = (ft - line - 0.18) / 0.64;
    if (x < 0.0 || x >= 1.0 || y < 0.0 || y >= 1.0) return false;
    const std::uint32_t h = mixBits(text.seed, static_cast<std::uint32_t>(line), static_cast<std::uint32_t>(column));
    if ((h >> 24) % 8 == 0) return false;
    const int bit = static_cast<int>(y * 5) * 3 + static_cast<int>(x * 3);
    // A vertical stem on the left in most glyphs keeps them letter-like.
    if (bit % 3 == 0 && (h >> 20) % 4 != 0) return true;
    return ((h >> bit) & 1u) != 0;
}

bool insideCard(const ChartArtwork& a, double u, double t) {
    const ArtworkRect& c = a.card;
    if (!inside(c, u, t)) return false;
    if (a.cornerU <= 0.0 || a.cornerT <= 0.0) return true;
    const double du = std::max({c.u0 + a.cornerU - u, u - (c.u1 - a.cornerU), 0.0}) / a.cornerU;
    const double dt = std::max({c.t0 + a.cornerT - t, t - (c.t1 - a.cornerT), 0.0}) / a.cornerT;
    return du * du + dt * dt <= 1.0;
}

struct CellPaint {
    const PatchCell* cell;
    int paint;
};

// Cells of one size on one grid each: the grid's edges are the distinct
// edges of its cells.
std::vector<ArtworkGrid> gridsOfCells(const std::vector<CellPaint>& cells) {
    auto key = [](double v) { return std::llround(v * 1e6); };
    std::map<std::pair<long long, long long>, std::vector<CellPaint>> groups;
    for (const CellPaint& c : cells) groups[{key(c.cell->width), key(c.cell->height)}].push_back(c);
    std::vector<ArtworkGrid> grids;
    for (const auto& [size, group] : groups) {
        std::map<long long, double> lefts, tops;
        for (const CellPaint& c : group) {
            lefts.emplace(key(c.cell->u), c.cell->u);
            tops.emplace(key(c.cell->t), c.cell->t);
        }
        ArtworkGrid grid;
        for (const auto& [k, v] : lefts) grid.left.push_back(v);
        for (const auto& [k, v] : tops) grid.top.push_back(v);
        grid.width = group.front().cell->width;
        grid.height = group.front().cell->height;
        grid.paint.assign(grid.left.size() * grid.top.size(), -1);
        for (const CellPaint& c : group) {
            const auto column = std::distance(lefts.begin(), lefts.find(key(c.cell->u)));
            const auto row = std::distance(tops.begin(), tops.find(key(c.cell->t)));
            grid.paint[static_cast<std::size_t>(row) * grid.left.size() + static_cast<std::size_t>(column)] = c.paint;
        }
        grids.push_back(std::move(grid));
    }
    return grids;
}

// Every cell of the layout with its colour.
std::vector<CellPaint> layoutCellPaints(ChartArtwork& artwork, const TargetLayout& layout, const ReferenceData& reference,
                                        const BorderXyz& border) {
    std::vector<CellPaint> cells;
    for (int p = 0; p < layout.grayCount; ++p)
        cells.push_back({&layout.grayCells[static_cast<std::size_t>(p)],
                         addPaint(artwork, reference.grayXYZ[static_cast<std::size_t>(grayIndexOfPosition(layout, p))])});
    for (int i = 0; i < layout.colorCount; ++i)
        cells.push_back({&layout.colorCells[static_cast<std::size_t>(i)],
                         addPaint(artwork, reference.colorXYZ[static_cast<std::size_t>(i)])});
    for (const auto& [group, xyz] : {std::pair{&layout.whiteCells, border.white}, {&layout.midGrayCells, border.midGray},
                                     {&layout.blackCells, border.black}}) {
        const int paint = group->empty() ? -1 : addPaint(artwork, xyz);
        for (const PatchCell& cell : *group) cells.push_back({&cell, paint});
    }
    return cells;
}

// Colours of the cells a reference file leaves out: plausible, and the same
// for every picture of the type, as a printed chart's are.
CieTriple plausibleColour(Random& random, bool neutral) {
    const double l = random.uniform(12.0, 90.0);
    if (neutral) return lab(l, random.uniform(-1.5, 1.5), random.uniform(-2.0, 2.0));
    // Half of them skin tones and browns, as makers like to add.
    if (random.chance(0.5)) return printableColour(random.uniform(25.0, 80.0), random.uniform(25.0, 75.0), random.uniform(8.0, 40.0));
    return printableColour(l, random.uniform(0.0, 360.0), random.uniform(5.0, 75.0));
}

ArtworkGrid* gridWithRows(ChartArtwork& artwork, std::size_t rows) {
    for (ArtworkGrid& g : artwork.grids)
        if (g.top.size() == rows) return &g;
    return nullptr;
}

void printIt8(ChartArtwork& a, const std::vector<CieTriple>& extra) {
    // The maker's columns 20..22 continue the colour grid.
    ArtworkGrid& grid = *gridWithRows(a, 12);
    const std::size_t used = grid.left.size();
    const double pitch = grid.left[1] - grid.left[0];
    ArtworkGrid wide = grid;
    for (int k = 1; k <= 3; ++k) wide.left.push_back(grid.left.back() + k * pitch);
    const std::size_t columns = wide.left.size();
    wide.paint.assign(columns * grid.top.size(), -1);
    Random random(0x17A8ull);
    for (std::size_t r = 0; r < grid.top.size(); ++r)
        for (std::size_t c = 0; c < columns; ++c) {
            const std::size_t k = r * 3 + (c - used);
            wide.paint[r * columns + c] =
                c < used ? grid.paint[r * used + c]
                         : addPaint(a, k < extra.size() ? extra[k] : plausibleColour(random, false));
        }
    grid = std::move(wide);

    const int surround = addPaint(a, lab(38.0, 0.0, -1.0));
    const int paper = addPaint(a, lab(90.0, 0.0, 2.0));
    const int white = addPaint(a, lab(93.0, 0.0, 0.0));
    const int ink = addPaint(a, lab(18.0, 0.0, 0.0));
    a.card = {-0.012, -0.02, 1.012, 1.12, surround};
    a.back.push_back({-0.012, 1.0, 1.012, 1.12, paper});
    const double first = grid.left.front();
    const double last = grid.left.back() + pitch;
    a.texts = {{first, 0.012, last, 0.052, pitch / 2.2, 0.04, white, 1},
               {first, 0.8225, last, 0.8625, pitch / 2.2, 0.04, white, 2},
               {0.008, 0.0625, 0.034, 0.8125, 0.026, 0.0625, white, 3},
               {0.966, 0.0625, 0.992, 0.8125, 0.026, 0.0625, white, 4},
               {0.0, 1.012, 0.16, 1.068, 0.011, 0.028, ink, 5},
               {0.38, 1.02, 0.98, 1.048, 0.0095, 0.028, ink, 6},
               {0.74, 1.058, 0.99, 1.108, 0.02, 0.05, ink, 7}};
    // Thin white corner marks along the frame's edges.
    constexpr double kStrokeU = 0.0022, kStrokeT = 0.0033;
    for (const LayoutRectangle& m : layoutCornerMarks(static_cast<int>(TargetType::It8))) {
        const bool left = m.u < 0.5, top = m.t < 0.5;
        const double su = left ? m.u : m.u + m.width - kStrokeU;
        const double st = top ? m.t : m.t + m.height - kStrokeT;
        a.front.push_back({m.u, st, m.u + m.width, st + kStrokeT, white});
        a.front.push_back({su, m.t, su + kStrokeU, m.t + m.height, white});
    }
}

void printHct(ChartArtwork& a, const std::vector<CieTriple>& extra) {
    // Every cell of the 29 x 22 grid is a patch; the border rows and columns
    // hold neutrals, the unused inner cells colours.
    ArtworkGrid& grid = *gridWithRows(a, 22);
    Random random(0x4C7ull);
    std::size_t next = 0;
    const std::size_t columns = grid.left.size();
    for (std::size_t r = 0; r < grid.top.size(); ++r)
        for (std::size_t c = 0; c < columns; ++c) {
            int& paint = grid.paint[r * columns + c];
            if (paint >= 0) continue;
            const bool edge = r == 0 || r + 1 == grid.top.size() || c == 0 || c + 1 == columns;
            paint = addPaint(a, next < extra.size() ? extra[next] : plausibleColour(random, edge));
            ++next;
        }
    const int paper = addPaint(a, lab(93.0, 0.0, 1.5));
    const int ink = addPaint(a, lab(20.0, 0.0, 0.0));
    a.card = {-0.025, -0.03, 1.025, 1.10, paper};
    a.texts = {{0.0, 1.02, 0.62, 1.05, 0.008, 0.03, ink, 11}, {0.0, 1.055, 0.3, 1.085, 0.008, 0.03, ink, 12}};
}

}  // namespace

int ChartArtwork::paintAt(double u, double t) const {
    for (auto r = front.rbegin(); r != front.rend(); ++r)
        if (inside(*r, u, t)) return r->paint;
    for (auto g = grids.rbegin(); g != grids.rend(); ++g) {
        const int paint = gridPaint(*g, u, t);
        if (paint >= 0) return paint;
    }
    for (auto x = texts.rbegin(); x != texts.rend(); ++x)
        if (u >= x->u0 && u < x->u1 && t >= x->t0 && t < x->t1 && textInk(*x, u, t)) return x->ink;
    for (auto r = back.rbegin(); r != back.rend(); ++r)
        if (inside(*r, u, t)) return r->paint;
    if (card.paint >= 0 && insideCard(*this, u, t)) return card.paint;
    return -1;
}

ArtworkRect ChartArtwork::bounds() const {
    ArtworkRect b{1e300, 1e300, -1e300, -1e300, -1};
    auto take = [&](double u0, double t0, double u1, double t1) {
        b.u0 = std::min(b.u0, u0);
        b.t0 = std::min(b.t0, t0);
        b.u1 = std::max(b.u1, u1);
        b.t1 = std::max(b.t1, t1);
    };
    if (card.paint >= 0) take(card.u0, card.t0, card.u1, card.t1);
    for (const auto* list : {&back, &front})
        for (const ArtworkRect& r : *list) take(r.u0, r.t0, r.u1, r.t1);
    for (const ArtworkText& x : texts) take(x.u0, x.t0, x.u1, x.t1);
    for (const ArtworkGrid& g : grids) take(g.left.front(), g.top.front(), g.left.back() + g.width, g.top.back() + g.height);
    return b;
}

ChartArtwork plainArtwork(const TargetLayout& layout, const ReferenceData& reference, const BorderXyz& border,
                          const CieTriple& frame) {
    ChartArtwork a;
    a.card = {0.0, 0.0, 1.0, 1.0, addPaint(a, frame)};
    a.grids = gridsOfCells(layoutCellPaints(a, layout, reference, border));
    return a;
}

ChartArtwork printedArtwork(const TargetLayout& layout, const ReferenceData& reference, const BorderXyz& border,
                            const std::vector<CieTriple>& extra) {
    ChartArtwork a;
    a.grids = gridsOfCells(layoutCellPaints(a, layout, reference, border));
    const int black = addPaint(a, lab(12.0, 0.0, -0.5));
    switch (static_cast<TargetType>(layout.targetType)) {
        case TargetType::It8: printIt8(a, extra); break;
        case TargetType::ColorChecker:
            a.card = {-0.035, -0.06, 1.035, 1.06, black};
            a.cornerU = 0.02;
            a.cornerT = 0.03;
            break;
        case TargetType::ColorCheckerDc: a.card = {-0.02, -0.035, 1.012, 1.02, black}; break;
        case TargetType::ColorCheckerSg:
            a.card = {-0.03, -0.045, 1.03, 1.09, black};
            a.texts = {{0.02, 1.005, 0.5, 1.07, 0.012, 0.04, addPaint(a, lab(80.0, 0.0, 0.0)), 21}};
            break;
        case TargetType::Hct: printHct(a, extra); break;
    }
    return a;
}

void addPassportPage(ChartArtwork& a) {
    // The case lies under both pages; the chart's own card becomes a page.
    a.back.insert(a.back.begin(), a.card);
    const int page = a.card.paint >= 0 ? a.card.paint : addPaint(a, lab(12.0, 0.0, -0.5));
    a.back.insert(a.back.begin(), {a.card.u0, -1.16, a.card.u1, -0.12, page});
    a.card = {a.card.u0 - 0.04, -1.2, a.card.u1 + 0.04, a.card.t1 + 0.04, addPaint(a, lab(26.0, 0.0, -1.0))};
    a.cornerU = 0.03;
    a.cornerT = 0.03;
    // Skin tones and warm and cool neutrals on a grid of their own, and a
    // large gray card for white balance.
    ArtworkGrid extra;
    for (int c = 0; c < 6; ++c) extra.left.push_back(0.02 + c * 0.162);
    for (int r = 0; r < 2; ++r) extra.top.push_back(-1.11 + r * 0.2);
    extra.width = 0.14;
    extra.height = 0.17;
    Random random(0x9A55ull);
    for (int k = 0; k < 12; ++k)
        extra.paint.push_back(addPaint(a, k < 6 ? printableColour(random.uniform(40.0, 75.0), random.uniform(30.0, 65.0),
                                                                  random.uniform(12.0, 30.0))
                                                : lab(random.uniform(60.0, 95.0), random.uniform(-4.0, 4.0),
                                                      random.uniform(-8.0, 8.0))));
    a.grids.insert(a.grids.begin(), extra);
    a.back.push_back({0.02, -0.66, 0.98, -0.17, addPaint(a, lab(52.0, 0.0, 0.0))});
}

CieTriple printableColour(double lightness, double hueDegrees, double chroma) {
    const DeviceModel model = defaultDeviceModel();
    const double h = hueDegrees * kPi / 180.0;
    auto colour = [&](double c) { return lab(lightness, c * std::cos(h), c * std::sin(h)); };
    auto fits = [&](double c) {
        for (double v : linearFromXyz(model, colour(c)))
            if (v < kPrintableLow || v > kPrintableHigh) return false;
        return true;
    };
    if (fits(chroma)) return colour(chroma);
    double lo = 0.0, hi = chroma;
    for (int i = 0; i < 30; ++i) {
        const double mid = 0.5 * (lo + hi);
        (fits(mid) ? lo : hi) = mid;
    }
    return colour(lo);
}

ReferenceData printedIt8Reference() {
    const TargetLayout layout = makeTargetLayout(static_cast<int>(TargetType::It8));
    ReferenceData ref;
    ref.colorCount = layout.colorCount;
    ref.grayCount = layout.grayCount;
    constexpr double kGroupLightness[3] = {32.0, 52.0, 72.0};
    // Cyan, magenta, yellow, neutral, red, green, blue at full strength.
    constexpr double kInks[7][3] = {{55, -37, -50}, {48, 74, -3}, {89, -5, 93}, {6, 0, 0},
                                    {45, 65, 45},   {50, -65, 30}, {28, 20, -55}};
    constexpr double kPaper[3] = {93.0, 0.0, -1.0};
    for (int r = 0; r < 12; ++r)
        for (int j = 0; j < 19; ++j) {
            CieTriple xyz;
            if (j < 12) {
                xyz = printableColour(kGroupLightness[j / 4], 15.0 + 30.0 * r, 80.0 * (j % 4 + 1) / 4.0);
            } else {
                const double* ink = kInks[j - 12];
                const double f = std::pow((r + 1) / 12.0, 0.85);
                const double l = kPaper[0] + (ink[0] - kPaper[0]) * f;
                const double a = kPaper[1] + (ink[1] - kPaper[1]) * f;
                const double b = kPaper[2] + (ink[2] - kPaper[2]) * f;
                xyz = printableColour(l, std::atan2(b, a) * 180.0 / kPi, std::hypot(a, b));
            }
            ref.colorXYZ[static_cast<std::size_t>(r * 19 + j)] = xyz;
            ref.colorLab[static_cast<std::size_t>(r * 19 + j)] = xyzToLab(xyz);
        }
    for (int g = 0; g < ref.grayCount; ++g) {
        ref.grayXYZ[static_cast<std::size_t>(g)] = lab(5.0 + 88.0 * g / (ref.grayCount - 1), 0.0, 0.0);
        ref.grayLab[static_cast<std::size_t>(g)] = xyzToLab(ref.grayXYZ[static_cast<std::size_t>(g)]);
    }
    roundReferenceAsWritten(ref);
    return ref;
}

std::vector<CieTriple> readExtraPatches(const std::string& path, int targetType) {
    if (targetType != static_cast<int>(TargetType::It8)) return {};
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::vector<std::string> fields;
    std::map<std::string, CieTriple> found;
    enum { Header, Format, Data } part = Header;
    std::string line;
    while (readTextLine(in, line, 4096) == 0) {
        const std::vector<std::string> tokens = splitTokens(line);
        if (tokens.empty()) continue;
        if (tokens[0] == "BEGIN_DATA_FORMAT") { part = Format; continue; }
        if (tokens[0] == "END_DATA_FORMAT" || tokens[0] == "END_DATA") { part = Header; continue; }
        if (tokens[0] == "BEGIN_DATA") { part = Data; continue; }
        if (part == Format) fields.insert(fields.end(), tokens.begin(), tokens.end());
        if (part != Data) continue;
        auto field = [&](const char* name) {
            const auto at = std::find(fields.begin(), fields.end(), name);
            double v = 0.0;
            const std::size_t k = static_cast<std::size_t>(at - fields.begin());
            return at != fields.end() && k < tokens.size() && parseReal(tokens[k], v) == 0 ? v : kReferenceMissing;
        };
        const CieTriple xyz = {field("XYZ_X"), field("XYZ_Y"), field("XYZ_Z")};
        const CieTriple labValues = {field("LAB_L"), field("LAB_A"), field("LAB_B")};
        if (xyz[0] != kReferenceMissing && xyz[1] != kReferenceMissing && xyz[2] != kReferenceMissing)
            found[tokens[0]] = xyz;
        else if (labValues[0] != kReferenceMissing && labValues[1] != kReferenceMissing && labValues[2] != kReferenceMissing)
            found[tokens[0]] = labToXyz(labValues);
    }
    std::vector<CieTriple> extra;
    for (char row = 'A'; row <= 'L'; ++row)
        for (int column = 20; column <= 22; ++column) {
            const auto at = found.find(std::string(1, row) + std::to_string(column));
            if (at == found.end()) return {};
            extra.push_back(at->second);
        }
    return extra;
}

}  // namespace calivant
