// The job measured from the file where it lies gives what it gives from the
// whole picture in memory: the same measurement, profile bytes and log, on
// the TIFF variants a scan comes in, turned and mirrored or not.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

#include "make-target/synthetic_target.h"
#include "make-target/synthetic_tiff.h"
#include "image/orientation.h"
#include "shell/profile_job.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

class Recorder : public JobObserver {
public:
    void report(const Diagnostic& d) override { diagnostics.push_back(d); }
    Diagnostics diagnostics;
};

// The profile follows every patch's mean, and the log lists every patch's
// deviation: equal ones mean equal measurements.
struct Outcome {
    bool inPlace = false;
    Diagnostics diagnostics;
    std::vector<std::uint8_t> profile;
    std::string log;
};

Outcome runJob(JobTarget target, bool wholePicture) {
    target.wholePicture = wholePicture;
    Recorder recorder;
    ScanJob job(recorder);
    Outcome o;
    AdvancedOptions options;
    options.eliminateResiduals = 1;
    options.clutSize = 17;
    const LocalTime time{2024, 5, 6, 7, 8, 9, 1, 0};
    EXPECT_EQ(job.load(target), 0);
    // One case measures a chart placed off its patches: only the sameness counts.
    EXPECT_EQ(job.compute(options, {"d", "c", true, true}), 0);
    o.inPlace = job.readsInPlace();
    o.diagnostics = recorder.diagnostics;
    EXPECT_TRUE(job.profileBytes(time, "p.icc", o.profile));
    EXPECT_TRUE(job.logText(time, "p.txt", o.log));
    return o;
}

TEST(ScanJobInPlace, SameResultsAsTheWholePicture) {
    SyntheticTargetOptions render;
    render.targetType = 0;
    render.width = 300;
    render.height = 220;
    render.bitsPerSample = 16;
    render.noiseSigma = 0.01;
    render.gradient = 0.2;
    render.chartQuad = OverlayQuad{{ImagePoint{9, 12}, ImagePoint{14, 205}, ImagePoint{290, 210}, ImagePoint{288, 4}}};
    SyntheticTarget target;
    ASSERT_EQ(renderSyntheticTarget(render, generatedReference(0), target), 0);
    SyntheticTarget target8;
    render.bitsPerSample = 8;
    ASSERT_EQ(renderSyntheticTarget(render, generatedReference(0), target8), 0);
    testing::TempFolder folder;
    ASSERT_EQ(writeReferencePath((folder / "it8.ref").string(), target), 0);

    auto tiff = [](int orientation, bool bigEndian, bool alpha, int rowsPerStrip, bool lzw) {
        TiffWriteOptions o;
        o.orientation = orientation;
        o.bigEndian = bigEndian;
        o.alpha = alpha;
        o.rowsPerStrip = rowsPerStrip;
        o.compression = lzw ? kTiffCompressionLzw : kTiffCompressionNone;
        o.predictor = lzw;
        return o;
    };
    const struct {
        const char* name;
        const SyntheticTarget& target;
        TiffWriteOptions tiff;
        PictureTurn turn;
        bool inPlace;
    } cases[] = {
        {"8-bit, one strip", target8, tiff(1, false, false, 0, false), {}, true},
        {"16-bit big-endian RGBA", target, tiff(1, true, true, 7, false), {}, true},
        {"16-bit, orientation 6, turned back", target, tiff(6, false, false, 1, false), {3, false}, true},
        {"8-bit, orientation 3, mirrored", target8, tiff(3, true, false, 5, false), {0, true}, true},
        {"16-bit LZW predictor, turned", target, tiff(8, false, false, 4, true), {1, true}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(writeSyntheticTiff((folder / "it8.tif").string(), c.target.picture, c.tiff), 0);
        JobTarget job;
        job.targetType = 0;
        job.image = (folder / "it8.tif").string();
        job.reference = (folder / "it8.ref").string();
        job.quarterTurns = c.turn.quarterTurns;
        job.mirror = c.turn.mirror;
        // The chart's corners (x right, y down) where the turns take them.
        std::array<ImagePoint, 4> corners{{{14.25, 13.5}, {290.0, 9.0}, {288.0, 215.0}, {9.0, 207.5}}};
        double width = render.width, height = render.height;
        for (ImagePoint& p : corners)
            for (int k = 0; k < c.turn.quarterTurns; ++k) p = {height - 1 - p.y, p.x};
        if (c.turn.quarterTurns % 2 == 1) std::swap(width, height);
        if (c.turn.mirror)
            for (ImagePoint& p : corners) p.x = width - 1 - p.x;
        job.corners = corners;
        const Outcome inPlace = runJob(job, false);
        const Outcome whole = runJob(job, true);
        EXPECT_EQ(inPlace.inPlace, c.inPlace);
        EXPECT_FALSE(whole.inPlace);
        EXPECT_EQ(inPlace.diagnostics, whole.diagnostics);
        EXPECT_EQ(inPlace.profile, whole.profile);
        EXPECT_EQ(inPlace.log, whole.log);
    }
}

// A scan cut short after it was opened in place: the measurement ends with
// the file named and why, never with a signal.
TEST(ScanJobInPlace, AFileCutShortUnderTheJobIsReported) {
    SyntheticTargetOptions render;
    render.targetType = 1;
    SyntheticTarget target;
    ASSERT_EQ(renderSyntheticTarget(render, generatedReference(1), target), 0);
    testing::TempFolder folder;
    const std::string image = (folder / "cc.tif").string();
    ASSERT_EQ(writeSyntheticTiff(image, target.picture, TiffWriteOptions{}), 0);
    ASSERT_EQ(writeReferencePath((folder / "cc.ref").string(), target), 0);
    JobTarget job;
    job.targetType = 1;
    job.image = image;
    job.reference = (folder / "cc.ref").string();
    job.corners = std::array<ImagePoint, 4>{{{0, 0}, {599, 0}, {599, 399}, {0, 399}}};
    Recorder recorder;
    ScanJob scan(recorder);
    ASSERT_EQ(scan.load(job), 0);
    ASSERT_TRUE(scan.readsInPlace());
    ASSERT_EQ(::truncate(image.c_str(), 100), 0);
    EXPECT_EQ(scan.measure(AdvancedOptions{}), 1);
    EXPECT_EQ(recorder.diagnostics,
              (Diagnostics{{Severity::Error, "Cannot read target file: " + image + "\nthe file changed while it was read"}}));
}

}  // namespace
}  // namespace calivant
