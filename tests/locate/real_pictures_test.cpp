// The chart locator on real photographs and a real scan (the pictures of the
// shared real-photos/ci folder, as their makers published them), against the
// corners pictures.tsv lists for them, each checked by eye to about 0.15 of
// a pitch.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/byte_source.h"
#include "image/picture_reader.h"
#include "locate/chart_locator.h"
#include "locate/layout_grid.h"
#include "make-target/synthetic_target.h"

namespace calivant {
namespace {

struct Listed {
    std::string file;
    std::string target;
    int width = 0, height = 0;
    std::vector<double> corners;  // x, y down: top-left, top-right, bottom-right, bottom-left
};

// The rows of pictures.tsv whose picture lies in ci/ (named by the tail of
// the original path).
std::vector<Listed> listedInCi(const std::filesystem::path& folder) {
    std::vector<Listed> rows;
    std::ifstream in(folder / "pictures.tsv");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string v; std::getline(fields, v, '\t');) f.push_back(v);
        if (f.size() < 9 || f[1] != "chart") continue;
        const std::string extension = std::filesystem::path(f[8]).extension().string();
        const std::filesystem::path file = folder / "ci" / (f[0] + extension);
        if (!std::filesystem::exists(file)) continue;
        Listed r{file.string(), f[2], std::stoi(f[3]), std::stoi(f[4]), {}};
        std::istringstream corners(f[5]);
        for (std::string v; std::getline(corners, v, ',');) r.corners.push_back(std::stod(v));
        rows.push_back(r);
    }
    return rows;
}

// The worst corner's distance from the listed one, in the listed frame's
// patch pitches.
double cornerError(const Listed& r, const OverlayQuad& found, const SiteGrid& grid, int height) {
    OverlayQuad listed;
    auto at = [&](int k) {
        return ImagePoint{r.corners[static_cast<std::size_t>(2 * k)], height - 1 - r.corners[static_cast<std::size_t>(2 * k + 1)]};
    };
    listed.corners = {at(3), at(0), at(1), at(2)};
    const double uv[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    double worst = 0.0;
    for (std::size_t k = 0; k < 4; ++k) {
        const double u = uv[k][0], v = uv[k][1];
        const double du = u > 0.5 ? -1e-4 : 1e-4, dv = v > 0.5 ? -1e-4 : 1e-4;
        const ImagePoint p = mapTargetPoint(listed, u, v);
        const ImagePoint pu = mapTargetPoint(listed, u + du, v), pv = mapTargetPoint(listed, u, v + dv);
        const double a = (pu.x - p.x) / du, b = (pv.x - p.x) / dv, c = (pu.y - p.y) / du, d = (pv.y - p.y) / dv;
        const double ex = found.corners[k].x - p.x, ey = found.corners[k].y - p.y;
        const double det = a * d - b * c;
        worst = std::max(worst, std::hypot((d * ex - b * ey) / det / grid.pitchU, (a * ey - c * ex) / det / grid.pitchT));
    }
    return worst;
}

TEST(RealPictures, ChartsFoundWhereTheListSays) {
    const std::filesystem::path folder = CALIVANT_REAL_PHOTOS_DIR;
    if (!std::filesystem::is_directory(folder / "ci")) GTEST_SKIP() << "no shared photographs at " << folder;
    const std::vector<Listed> rows = listedInCi(folder);
    ASSERT_EQ(rows.size(), 4u);
    for (const Listed& r : rows) {
        SCOPED_TRACE(r.file);
        FileByteSource file;
        ASSERT_EQ(file.open(r.file), 0) << file.problem();
        TargetImage image;
        PictureRead read;
        ASSERT_EQ(readPicture(file, image, read), 0) << read.reason;
        const int type = r.target == "colorchecker" ? 1 : 0;  // the ColorChecker photographs and the IT8 scan
        ReferenceData reference;
        if (type == 1) {
            ASSERT_EQ(readReferencePath(CALIVANT_BINARY_DIR "/bin/Reference Files/Macbeth/ColorChecker.ref", 1, reference), 0);
        }
        const TargetLayout layout = makeTargetLayout(type);
        const ChartLocation location = locateChart(image, layout, type == 1 ? &reference : nullptr);
        ASSERT_TRUE(location.found) << location.reason;
        EXPECT_LE(cornerError(r, location.quad, siteGrid(layout), image.height), 0.25);
    }
}

}  // namespace
}  // namespace calivant
