// The chart finder on real photographs and scans: the pictures listed in a
// pictures.tsv (name, expect, target, width, height, corners, where the
// picture comes from), read from a folder the developer fills (see the
// README beside the list). For each picture it prints the time `locateChart`
// takes (the read not counted) and the outcome:
//   correct    every corner within 0.25 pitch of the listed corners
//   imprecise  within 0.5 pitch
//   wrong      a corner beyond 0.5 pitch (the worst outcome: a chart placed
//              wrong is measured wrong without a word)
//   missed     not found (with the finder's reason)
// and, for pictures without a chart, refused or wrong. Then the totals, and
// the time against a same-run baseline of one pass over every sample.
//
//   real_photos_bench --folder DIR [--list pictures.tsv] [--only NAME]
//                     [--scale S] [--repeat N]
//
// The folder holds each picture as NAME.tif (or .tiff, .png, .jpg, .jpeg):
// as published, or converted as the README beside the list says.
// --scale resamples each picture by S (box filter down, nearest up) first,
// and scales the listed corners to match.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "image/byte_source.h"
#include "image/picture_reader.h"
#include "image/transforms.h"
#include "locate/chart_locator.h"
#include "locate/layout_grid.h"
#include "make-target/synthetic_target.h"
#include "shell/data_folder.h"
#include "util/paths.h"

namespace {

using namespace calivant;
using Clock = std::chrono::steady_clock;
using bench::processSeconds;

struct Row {
    std::string name;
    bool chart = false;
    std::string target;
    int width = 0;
    int height = 0;
    std::vector<double> corners;  // x, y down: top-left, top-right, bottom-right, bottom-left
};

struct TargetName {
    const char* name;
    int type;
    const char* builtIn;
};
const TargetName kTargets[] = {
    {"it8-reflective", 0, ""},
    {"it8-transparency", 0, ""},
    {"colorchecker", 1, "ColorChecker.ref"},
    {"colorchecker-dc", 2, "ColorChecker DC.ref"},
    {"colorchecker-sg", 3, "ColorChecker SG.ref"},
    {"hct-reflective", 4, ""},
    {"hct-transparency", 4, ""},
};

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t')) fields.push_back(field);
    return fields;
}

std::vector<Row> readList(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    std::vector<Row> rows;
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        const std::vector<std::string> f = splitTabs(line);
        if (f.size() < 6) continue;
        Row r;
        r.name = f[0];
        r.chart = f[1] == "chart";
        r.target = f[2];
        r.width = std::atoi(f[3].c_str());
        r.height = std::atoi(f[4].c_str());
        if (f[5] != "-") {
            std::istringstream c(f[5]);
            std::string v;
            while (std::getline(c, v, ',')) r.corners.push_back(std::strtod(v.c_str(), nullptr));
        }
        rows.push_back(r);
    }
    return rows;
}

std::string findPicture(const std::string& folder, const std::string& name) {
    for (const char* ext : {".tif", ".tiff", ".png", ".jpg", ".jpeg", ".JPG", ".PNG"}) {
        const std::string path = folder + "/" + name + ext;
        if (std::filesystem::exists(path)) return path;
    }
    return {};
}

// The listed corners as an overlay quad (corner 0 bottom-left, y up).
OverlayQuad quadOf(const Row& r, int height, double scale) {
    OverlayQuad q;
    auto at = [&](int k) {
        const double x = (r.corners[static_cast<std::size_t>(2 * k)] + 0.5) * scale - 0.5;
        const double y = (r.corners[static_cast<std::size_t>(2 * k + 1)] + 0.5) * scale - 0.5;
        return ImagePoint{x, height - 1 - y};
    };
    q.corners = {at(3), at(0), at(1), at(2)};
    return q;
}

// A corner's error in pitches, carried into layout units by the listed
// quad's local derivative.
double cornerError(const OverlayQuad& truth, const OverlayQuad& found, const SiteGrid& grid) {
    const double corners[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    double worst = 0.0;
    for (int k = 0; k < 4; ++k) {
        const double u = corners[k][0];
        const double v = corners[k][1];
        const double h = 1e-4;
        const double s = u > 0.5 ? -h : h;
        const double t = v > 0.5 ? -h : h;
        const ImagePoint p = mapTargetPoint(truth, u, v);
        const ImagePoint pu = mapTargetPoint(truth, u + s, v);
        const ImagePoint pv = mapTargetPoint(truth, u, v + t);
        const double a = (pu.x - p.x) / s, b = (pv.x - p.x) / t, c = (pu.y - p.y) / s, d = (pv.y - p.y) / t;
        const double ex = found.corners[static_cast<std::size_t>(k)].x - p.x;
        const double ey = found.corners[static_cast<std::size_t>(k)].y - p.y;
        const double det = a * d - b * c;
        worst = std::max(worst, std::hypot((d * ex - b * ey) / det / grid.pitchU, (-c * ex + a * ey) / det / grid.pitchT));
    }
    return worst;
}

// Box-filtered (down) or nearest (up) resampling by `scale`.
TargetImage resample(const TargetImage& in, double scale) {
    const int w = std::max(1, static_cast<int>(std::lround(in.width * scale)));
    const int h = std::max(1, static_cast<int>(std::lround(in.height * scale)));
    TargetImage out;
    if (allocateImage(out, in.format, w, h, in.resolution) != 0) return out;
    const int bytes = in.format == PixelFormat::Rgb48 ? 2 : 1;
    auto sample = [&](int x, int y, int c) {
        const std::uint8_t* p = in.rows[static_cast<std::size_t>(y)] + (static_cast<std::size_t>(x) * 3 + c) * bytes;
        return bytes == 2 ? p[0] | (p[1] << 8) : p[0];
    };
    for (int y = 0; y < h; ++y) {
        const int y0 = std::min(in.height - 1, static_cast<int>(y / scale));
        const int y1 = std::max(y0 + 1, std::min(in.height, static_cast<int>((y + 1) / scale)));
        for (int x = 0; x < w; ++x) {
            const int x0 = std::min(in.width - 1, static_cast<int>(x / scale));
            const int x1 = std::max(x0 + 1, std::min(in.width, static_cast<int>((x + 1) / scale)));
            for (int c = 0; c < 3; ++c) {
                long sum = 0;
                for (int yy = y0; yy < y1; ++yy)
                    for (int xx = x0; xx < x1; ++xx) sum += sample(xx, yy, c);
                const long v = sum / ((y1 - y0) * (x1 - x0));
                std::uint8_t* p = out.rows[static_cast<std::size_t>(y)] + (static_cast<std::size_t>(x) * 3 + c) * bytes;
                p[0] = static_cast<std::uint8_t>(v & 0xff);
                if (bytes == 2) p[1] = static_cast<std::uint8_t>(v >> 8);
            }
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    std::string list = std::string(CALIVANT_SOURCE_DIR) + "/../shared/real-photos/pictures.tsv";
    std::string only;
    double scale = 1.0;
    int repeat = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--folder") folder = next();
        else if (a == "--list") list = next();
        else if (a == "--only") only = next();
        else if (a == "--scale") scale = std::strtod(next().c_str(), nullptr);
        else if (a == "--repeat") repeat = std::max(1, std::atoi(next().c_str()));
        else {
            std::fprintf(stderr, "usage: real_photos_bench --folder DIR [--list TSV] [--only NAME] [--scale S] [--repeat N]\n");
            return 2;
        }
    }
    if (folder.empty()) {
        std::fprintf(stderr, "--folder is needed: the pictures listed in %s (see the README beside it)\n", list.c_str());
        return 2;
    }
    const std::string referenceFolder = joinPath(programDataFolder(executableFolder()), "Reference Files/Macbeth");

    int charts = 0, correct = 0, imprecise = 0, wrong = 0, missed = 0, absent = 0;
    int empties = 0, refused = 0, emptyWrong = 0;
    double totalTime = 0.0, totalPass = 0.0, worstTime = 0.0, totalCpu = 0.0;
    std::printf("%-56s %-6s %6s %6s %7s  %s\n", "picture", "expect", "time", "cpu", "error", "outcome");
    for (const Row& r : readList(list)) {
        if (!only.empty() && r.name.find(only) == std::string::npos) continue;
        const TargetName* target = nullptr;
        for (const TargetName& t : kTargets)
            if (r.target == t.name) target = &t;
        if (!target) {
            std::printf("%-56s unknown target %s\n", r.name.c_str(), r.target.c_str());
            continue;
        }
        (r.chart ? charts : empties) += 1;
        const std::string path = findPicture(folder, r.name);
        TargetImage image;
        FileByteSource file;
        PictureRead read;
        if (path.empty() || file.open(path) != 0 || readPicture(file, image, read) != 0) {
            std::printf("%-56s %-6s %6s %6s %7s  absent (%s)\n", r.name.c_str(), r.chart ? "chart" : "none", "-", "-", "-",
                        path.empty() ? "no file" : !file.problem().empty() ? file.problem().c_str() : read.reason.c_str());
            ++absent;
            continue;
        }
        if (scale != 1.0) image = resample(image, scale);
        const TargetLayout layout = makeTargetLayout(target->type);
        ReferenceData reference;
        const bool withReference = *target->builtIn != '\0';
        if (withReference && readReferencePath(joinPath(referenceFolder, target->builtIn), target->type, reference) != 0) {
            std::fprintf(stderr, "cannot read the built-in reference %s in %s\n", target->builtIn, referenceFolder.c_str());
            return 1;
        }
        ChartLocation location;
        double best = 1e9, cpu = 1e9;
        for (int k = 0; k < repeat; ++k) {
            const auto start = Clock::now();
            const double startCpu = processSeconds();
            location = locateChart(image, layout, withReference ? &reference : nullptr);
            best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
            cpu = std::min(cpu, processSeconds() - startCpu);
        }
        totalCpu += cpu;
        totalTime += best;
        worstTime = std::max(worstTime, best);
        totalPass += bench::onePassOverSamples(image);
        std::string outcome;
        double error = -1.0;
        if (r.chart) {
            if (!location.found) {
                outcome = "missed: " + location.reason;
                ++missed;
            } else if (r.corners.size() == 8) {
                error = cornerError(quadOf(r, image.height, scale), location.quad, siteGrid(layout));
                if (error <= 0.25) outcome = "correct", ++correct;
                else if (error <= 0.5) outcome = "imprecise", ++imprecise;
                else outcome = "wrong", ++wrong;
            }
        } else {
            if (location.found) outcome = "wrong (a chart found where there is none)", ++emptyWrong;
            else outcome = "refused: " + location.reason, ++refused;
        }
        char errorText[32] = "-";
        if (error >= 0.0) std::snprintf(errorText, sizeof errorText, "%.3f", error);
        std::printf("%-56s %-6s %5.3fs %5.3fs %7s  %s\n", r.name.c_str(), r.chart ? "chart" : "none", best, cpu,
                    errorText, outcome.c_str());
        std::fflush(stdout);
    }
    std::printf("\ncharts: %d correct, %d imprecise, %d wrong, %d missed of %d", correct, imprecise, wrong, missed, charts);
    if (absent) std::printf(" (%d pictures absent)", absent);
    std::printf("\nno chart: %d refused, %d wrong of %d\n", refused, emptyWrong, empties);
    const int timed = std::max(1, charts + empties - absent);
    std::printf("time: %.3f s per picture on average (processor %.3f s), %.3f s at most; one pass over every sample "
                "%.3f s (ratio %.1f)\n",
                totalTime / timed, totalCpu / timed, worstTime, totalPass / timed, totalTime / std::max(1e-9, totalPass));
    return wrong + emptyWrong > 0 ? 1 : 0;
}
