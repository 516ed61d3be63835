// The whole command line build on large HCT scans, stage by stage and as a
// process, with its peak anonymous memory, against ArgyllCMS colprof -qh on
// the same patches and (given --baseline-cli) an older build of the command
// line, all in the same run:
//
//   pipeline_bench [--data DIR] [--runs N] [--colprof-runs N] [--baseline-cli PATH] [--no-colprof]
//
// The scans are made once in DIR (default ./pipeline-data) the way
// make-target makes them:
//   make-target --target hct --width 6000 --height 4525 --bits 16 --noise 0.004
//   make-target --target hct --width 8000 --height 6000 --bits 16 --noise 0.004 --compression lzw --predictor
//   make-target --target hct --width 8000 --height 6000 --bits 16 --compression lzw --predictor   (no noise)
//
// Times are the best of N runs with the page cache warm (one run first that
// is not counted). The stages run in this process through the engine, as
// the command line runs them: read (the picture in place when the file
// allows, else decoded whole), measure, fit (working references, tone
// curves, regression; both passes), tables (both lookup tables), write
// (profile and log made and written). The command is the command line as a
// process, start to exit.
//
// Peak anonymous memory: a separate run of the command, its
// /proc/PID/status read every 0.2 ms for the largest RssAnon (the process's
// private memory; pages of a file it maps are RssFile and not counted).
// VmHWM, the peak of both together, is shown beside it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "image/tiff_reader.h"
#include "image/tiff_view.h"
#include "make-target/synthetic_target.h"
#include "make-target/synthetic_tiff.h"
#include "locate/chart_locator.h"
#include "measure/patch_measurement.h"
#include "output/icc_profile.h"
#include "output/profile_log.h"
#include "profile/compute_profile.h"
#include "profile/lookup_table.h"
#include "profile/regression.h"
#include "profile/tone_curves.h"
#include "reference/reference_file.h"

extern char** environ;

namespace {

using namespace calivant;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kHct = 4;

struct Scan {
    const char* label;
    const char* name;
    int width;
    int height;
    bool lzw;
    double noise;
    double targetSeconds;
    double targetMegabytes;  // of anonymous memory; 0: 1.1 x raster + 16
};

const Scan kScans[] = {
    {"6000 x 4525 uncompressed", "hct-6000x4525.tif", 6000, 4525, false, 0.004, 0.3, 16.0},
    {"8000 x 6000 LZW+predictor", "hct-8000x6000-lzw.tif", 8000, 6000, true, 0.004, 0.6, 0.0},
    {"8000 x 6000 LZW, no noise", "hct-8000x6000-lzw-flat.tif", 8000, 6000, true, 0.0, 0.6, 0.0},
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "pipeline_bench: %s\n", message.c_str());
    std::exit(1);
}

template <class... Values>
std::string format(const char* pattern, Values... values) {
    char text[512];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

std::string fileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// --- The scans --------------------------------------------------------------

void makeScans(const fs::path& data) {
    fs::create_directories(data);
    const ReferenceData reference = generatedReference(kHct);
    for (const Scan& scan : kScans) {
        const fs::path image = data / scan.name;
        if (fs::exists(image)) continue;
        std::printf("making %s ...\n", image.c_str());
        std::fflush(stdout);
        SyntheticTargetOptions options;
        options.targetType = kHct;
        options.width = scan.width;
        options.height = scan.height;
        options.bitsPerSample = 16;
        options.noiseSigma = scan.noise;
        SyntheticTarget target;
        std::string error;
        if (renderSyntheticTarget(options, reference, target, &error) != kSyntheticOk) fail(error);
        TiffWriteOptions tiff;
        tiff.compression = scan.lzw ? kTiffCompressionLzw : kTiffCompressionNone;
        tiff.predictor = scan.lzw;
        if (writeSyntheticTiff((data / "making.tif").string(), target.picture, tiff, &error) != 0) fail(error);
        fs::rename(data / "making.tif", image);
        if (!fs::exists(data / "hct.ref") && writeReferencePath((data / "hct.ref").string(), target) != 0)
            fail("cannot write the reference file");
    }
}

// --- The stages in this process ------------------------------------------------

struct Stages {
    double read = 0, measure = 0, fit = 0, tables = 0, write = 0;
    double sum() const { return read + measure + fit + tables + write; }
};

AdvancedOptions commandOptions() {
    AdvancedOptions o;
    o.regressionModel = Cubic;
    o.eliminateResiduals = 1;
    o.clutSize = 65;
    return o;
}

OverlayQuad wholePicture(int width, int height) {
    OverlayQuad quad;
    resetOverlayQuad(quad, width, height);
    return quad;
}

Stages timeStages(const fs::path& image, const fs::path& output, const ReferenceData& reference, int runs) {
    const TargetLayout layout = makeTargetLayout(kHct);
    const AdvancedOptions options = commandOptions();
    Stages best{1e30, 1e30, 1e30, 1e30, 1e30};
    for (int run = 0; run <= runs; ++run) {  // run 0 warms the cache
        Stages t;
        auto start = Clock::now();
        auto lap = [&] {
            const auto now = Clock::now();
            const double s = seconds(now - start);
            start = now;
            return s;
        };
        std::unique_ptr<PixelSource> picture;
        TargetImage raster;
        if (auto view = std::make_unique<TiffView>(); view->open(image) == 0) {
            picture = std::move(view);
        } else {
            FileByteSource file;
            if (file.open(image) != 0 || readTiffImage(file, raster) != 0) fail("cannot read " + image.string());
            picture = std::make_unique<ImagePixels>(raster);
        }
        t.read = lap();

        const TargetMeasurement m = measureTarget(*picture, layout, wholePicture(picture->width(), picture->height()),
                                                  reference, options, MeasureMode::Compute);
        if (!m.measured || m.status != 0) fail("the scan does not measure");
        t.measure = lap();

        ProfileResult profile;
        Diagnostics diagnostics;
        for (bool perceptual : {true, false}) {
            start = Clock::now();
            ProfileTable& table = perceptual ? profile.perceptual : profile.colorimetric;
            const auto grays = std::span(m.grayWorking).first(static_cast<std::size_t>(layout.grayCount));
            const auto colors = std::span(m.colorWorking).first(static_cast<std::size_t>(layout.colorCount));
            if (prepareWorkingReference(reference, perceptual, profile, diagnostics) != 0 ||
                buildToneCurves(grays, colors, options.colorSpace, profile, table.toneCurves, diagnostics) != 0 ||
                fitRegression(options, kHct, profile, diagnostics) != 0)
                fail("the fit failed");
            t.fit += lap();
            if (fillLookupTable(profile, options, table.clut) != 0) fail("the table failed");
            t.tables += lap();
        }

        start = Clock::now();
        const ProfileRecord record{"pipeline bench", "", kHct, 1, options, layout, m, profile};
        const LocalTime time{2024, 1, 2, 3, 4, 5, 2, 0};
        std::vector<std::uint8_t> bytes;
        std::ostringstream log;
        if (buildIccProfile(iccProfileSettingsOf(record), profile, time, bytes) != 0 ||
            writeProfileLog(log, record, time) != 0)
            fail("the profile cannot be made");
        std::ofstream(output, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                      static_cast<std::streamsize>(bytes.size()));
        std::ofstream(fs::path(output).replace_extension(".txt"), std::ios::binary) << log.str();
        t.write = lap();

        if (run == 0) continue;
        best.read = std::min(best.read, t.read);
        best.measure = std::min(best.measure, t.measure);
        best.fit = std::min(best.fit, t.fit);
        best.tables = std::min(best.tables, t.tables);
        best.write = std::min(best.write, t.write);
    }
    return best;
}

// --- The command as a process ---------------------------------------------------

struct ProcessRun {
    double wall = 0;
    double cpu = 0;        // user + system
    double peakAnon = 0;   // MB, when watched
    double peakTotal = 0;  // VmHWM, MB
    int exitCode = -1;
};

double statusField(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, length, field) == 0) return std::atof(line.c_str() + length + 1) / 1024.0;
    return 0;
}

ProcessRun runProcess(const std::vector<std::string>& arguments, bool watchMemory, const fs::path& out = {}) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const char* stdoutPath = out.empty() ? "/dev/null" : out.c_str();
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ProcessRun r;
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        fail("cannot run " + arguments[0]);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (watchMemory) {
        while (wait4(pid, &status, WNOHANG, &usage) == 0) {
            r.peakAnon = std::max(r.peakAnon, statusField(pid, "RssAnon:"));
            r.peakTotal = std::max(r.peakTotal, statusField(pid, "VmHWM:"));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    } else {
        wait4(pid, &status, 0, &usage);
    }
    r.wall = seconds(Clock::now() - start);
    r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    r.peakTotal = std::max(r.peakTotal, static_cast<double>(usage.ru_maxrss) / 1024.0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// Finding the chart in the whole picture (read once beforehand, not timed):
// best of runs.
double timeLocate(const fs::path& image, const ReferenceData& reference, int runs) {
    FileByteSource file;
    TargetImage raster;
    if (file.open(image) != 0 || readTiffImage(file, raster) != 0) fail("cannot read " + image.string());
    const TargetLayout layout = makeTargetLayout(kHct);
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        if (!locateChart(raster, layout, &reference).found) fail("the chart is not found in " + image.string());
        best = std::min(best, seconds(Clock::now() - start));
    }
    return best;
}

std::vector<std::string> commandLine(const std::string& cli, const std::string& verb, const fs::path& data,
                                     const Scan& scan, const fs::path& output) {
    // An older command line takes the whole picture's corners only as numbers.
    const std::string corners = cli == CALIVANT_CLI_PATH
                                    ? std::string("full")
                                    : "0,0," + std::to_string(scan.width - 1) + ",0," + std::to_string(scan.width - 1) +
                                          "," + std::to_string(scan.height - 1) + ",0," + std::to_string(scan.height - 1);
    std::vector<std::string> a = {cli,      verb,      "--target", "hct-reflective", "--image",
                                  (data / scan.name).string(), "--reference", (data / "hct.ref").string(),
                                  "--corners", corners, "--factory-defaults"};
    if (verb == "build")
        for (const char* s : {"--model", "cubic", "--eliminate-residuals", "--clut", "65", "--description",
                              "pipeline bench", "--output"})
            a.push_back(s);
    if (verb == "build") a.push_back(output.string());
    return a;
}

struct CommandFigures {
    ProcessRun best;
    ProcessRun memory;
};

CommandFigures timeCommand(const std::vector<std::string>& command, int runs) {
    CommandFigures f;
    if (runProcess(command, false).exitCode != 0) fail("the command failed: " + command[0]);
    f.best.wall = 1e30;
    for (int i = 0; i < runs; ++i) {
        const ProcessRun r = runProcess(command, false);
        if (r.wall < f.best.wall) f.best = r;
    }
    f.memory = runProcess(command, true);
    return f;
}

// --- ArgyllCMS --------------------------------------------------------------------

bool haveColprof() { return std::system("command -v colprof >/dev/null 2>&1") == 0; }

// The measured device values (from the command line's measure) and the
// reference XYZ of the same patches as an ArgyllCMS .ti3.
void writeTi3(const fs::path& measured, const ReferenceData& reference, const fs::path& ti3) {
    std::ifstream in(measured);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("DMAX", 0) != 0 && line.rfind("DMIN", 0) != 0) lines.push_back(line);
    const auto grays = static_cast<std::size_t>(reference.grayCount);
    if (lines.size() != grays + static_cast<std::size_t>(reference.colorCount)) fail("unexpected measure output");
    std::ofstream out(ti3);
    out << "CTI3\n\nDESCRIPTOR \"Argyll Calibration Target chart information 3\"\n"
           "ORIGINATOR \"calivant pipeline_bench\"\nDEVICE_CLASS \"INPUT\"\nCOLOR_REP \"XYZ_RGB\"\n\n"
           "NUMBER_OF_FIELDS 7\nBEGIN_DATA_FORMAT\nSAMPLE_ID XYZ_X XYZ_Y XYZ_Z RGB_R RGB_G RGB_B\nEND_DATA_FORMAT\n\n"
        << "NUMBER_OF_SETS " << lines.size() << "\nBEGIN_DATA\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::istringstream fields(lines[i]);
        std::string name;
        double r = 0, g = 0, b = 0;
        fields >> name >> r >> g >> b;
        const auto& xyz = i < grays ? reference.grayXYZ[i] : reference.colorXYZ[i - grays];
        out << i + 1 << ' ' << xyz[0] << ' ' << xyz[1] << ' ' << xyz[2] << ' ' << r << ' ' << g << ' ' << b << '\n';
    }
    out << "END_DATA\n";
}

}  // namespace

int main(int argc, char** argv) {
    fs::path data = "pipeline-data";
    std::string baseline;
    int runs = 3;
    int colprofRuns = 1;  // -qh takes minutes on a busy machine
    bool colprof = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--data" && i + 1 < argc) data = argv[++i];
        else if (a == "--baseline-cli" && i + 1 < argc) baseline = fs::absolute(argv[++i]).string();
        else if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--colprof-runs" && i + 1 < argc) colprofRuns = std::max(1, std::atoi(argv[++i]));
        else if (a == "--no-colprof") colprof = false;
        else
            fail("usage: pipeline_bench [--data DIR] [--runs N] [--colprof-runs N] [--baseline-cli PATH] "
                 "[--no-colprof]");
    }
    data = fs::absolute(data);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    makeScans(data);
    ReferenceData reference;
    {
        std::ifstream in(data / "hct.ref", std::ios::binary);
        if (readReferenceFile(in, kHct, reference) != 0) fail("cannot read " + (data / "hct.ref").string());
    }
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    colprof = colprof && haveColprof();

    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("\npipeline: build --target hct-reflective --corners full --model cubic "
                "--eliminate-residuals --clut 65\n%u cores, load average %.2f at the start; best of %d, "
                "page cache warm; seconds\n\n",
                std::thread::hardware_concurrency(), load[0], runs);
    std::printf("%-26s | %6s %7s %6s %6s %6s %6s | %7s %6s %8s %7s | %8s %6s | %s\n", "scan", "read", "measure",
                "fit", "tables", "write", "sum", "command", "cpu", "RssAnon", "VmHWM", "baseline", "ratio", "targets");
    std::string notes;
    std::vector<ProcessRun> commands;
    for (const Scan& scan : kScans) {
        const Stages s = timeStages(data / scan.name, data / "stages.icc", reference, runs);
        const CommandFigures ours =
            timeCommand(commandLine(CALIVANT_CLI_PATH, "build", data, scan, data / "ours.icc"), runs);
        commands.push_back(ours.best);
        std::vector<std::string> automatic = commandLine(CALIVANT_CLI_PATH, "build", data, scan, data / "auto.icc");
        automatic[9] = "auto";
        const CommandFigures found = timeCommand(automatic, runs);
        notes += format("%s: locate %.3f s in the whole picture (target 0.3 s); the command with --corners auto "
                        "%.3f s (cpu %.3f s), %.1f MB RssAnon\n",
                        scan.label, timeLocate(data / scan.name, reference, runs), found.best.wall, found.best.cpu,
                        found.memory.peakAnon);
        std::string baseColumns = "       -      -";
        if (!baseline.empty()) {
            const CommandFigures base =
                timeCommand(commandLine(baseline, "build", data, scan, data / "base.icc"), runs);
            baseColumns = format("%8.3f %5.1fx", base.best.wall, base.best.wall / ours.best.wall);
            const bool same = fileBytes(data / "ours.icc") == fileBytes(data / "base.icc");
            notes += format("%s: the baseline's profile %s ours; the baseline's command %.3f s cpu, %.1f MB RssAnon\n",
                            scan.label, same ? "is byte for byte" : "DIFFERS from", base.best.cpu,
                            base.memory.peakAnon);
        }
        const double raster = 6.0 * scan.width * scan.height / (1024.0 * 1024.0);
        const double memoryTarget = scan.targetMegabytes > 0 ? scan.targetMegabytes : 1.1 * raster + 16.0;
        std::printf("%-26s | %6.3f %7.3f %6.3f %6.3f %6.3f %6.3f | %7.3f %6.3f %5.1f MB %4.0f MB | %s | "
                    "%.1f s %s, %.0f MB %s\n",
                    scan.label, s.read, s.measure, s.fit, s.tables, s.write, s.sum(), ours.best.wall, ours.best.cpu,
                    ours.memory.peakAnon, ours.memory.peakTotal, baseColumns.c_str(), scan.targetSeconds,
                    ours.best.wall <= scan.targetSeconds ? "met" : "MISSED", memoryTarget,
                    ours.memory.peakAnon <= memoryTarget ? "met" : "MISSED");
    }

    // colprof on the patches of the first scan (all three show the same
    // chart; their measurements differ in the last digits), as asked and
    // without the B2A table our profiles do not have either.
    if (colprof) {
        const fs::path measured = data / "measured.txt";
        if (runProcess(commandLine(CALIVANT_CLI_PATH, "measure", data, kScans[0], {}), false, measured).exitCode)
            fail("measure failed");
        writeTi3(measured, reference, data / "argyll.ti3");
        for (const char* options : {"-qh", "-qh -bn"}) {
            const std::vector<std::string> argyll = {
                "/bin/sh", "-c", "cd '" + data.string() + "' && exec colprof " + options + " argyll"};
            ProcessRun best;
            best.wall = 1e30;
            for (int i = 0; i < colprofRuns; ++i) {
                const ProcessRun r = runProcess(argyll, false);
                if (r.exitCode != 0) fail("colprof failed");
                if (r.wall < best.wall) best = r;
            }
            notes += format("colprof %s on the %d patches: %.3f s (cpu %.3f s); the command is faster by", options,
                            reference.grayCount + reference.colorCount, best.wall, best.cpu);
            for (std::size_t k = 0; k < commands.size(); ++k)
                notes += format(" %.1fx (cpu %.1fx) on the %s%s", best.wall / commands[k].wall,
                                best.cpu / commands[k].cpu, kScans[k].label, k + 1 < commands.size() ? "," : "");
            notes += " (target: at least 10x)\n";
        }
    }
    std::printf("\n%s", notes.c_str());
    std::printf("\nstages: in this process, best of %d each; command: the command line as a process, best of %d "
                "(wall, and its cpu); RssAnon: peak, /proc/PID/status every 0.2 ms in a separate run; VmHWM: "
                "peak resident, mapped file pages included\n",
                runs, runs);
    return 0;
}
