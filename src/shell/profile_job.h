#pragma once
// The whole job without the wizard, for a front end of its own: pick the
// target, load the scan and the reference, place the chart, measure, compute,
// and write the profile and the log. The command line is built on this.
//
//   ScanJob job(observer);
//   if (job.load(target) != 0) return 1;            // messages went to observer
//   if (job.compute(options, texts) != 0) return 1;
//   job.save("scanner.icc", "scanner.txt", time);
//
// Every message the engine has for the user reaches the observer in the
// order it arose, with the wizard's exact texts; only the questions,
// answered by JobTexts, arrive as their statements (kGrayOrderWarning, the
// reference mismatch without the wizard's "Click OK" line): an error when
// it ended the computation, a warning when the job went on.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/pixel_source.h"
#include "measure/advanced_options.h"
#include "measure/patch_measurement.h"
#include "profile/profile_result.h"
#include "reference/reference_data.h"
#include "target/overlay.h"
#include "target/target_layout.h"
#include "util/diagnostics.h"
#include "util/local_time.h"

namespace calivant {

struct ScanSession;

// Where a job's messages and progress go.
class JobObserver {
public:
    virtual ~JobObserver() = default;
    // A step of some length is about to start ("Reading the target image").
    virtual void progress(std::string_view step) { (void)step; }
    virtual void report(const Diagnostic& diagnostic) = 0;
};

// The chart, the scan and the reference.
struct JobTarget {
    int targetType = 0;  // TargetType
    int reflective = 1;
    std::string image;      // a TIFF, PNG or JPEG file
    std::string reference;  // empty: the built-in file of a ColorChecker type
    // The program's data folder (with "Reference Files/Macbeth").
    std::string dataFolder;
    int quarterTurns = 0;  // clockwise, applied before mirror
    bool mirror = false;
    // The chart's corners in the picture after turning and mirroring:
    // top-left, top-right, bottom-right, bottom-left of the chart, x to the
    // right and y down from the centre of the top-left pixel. None: the
    // corners of the whole picture, unless locateChart.
    std::optional<std::array<ImagePoint, 4>> corners;
    // Without corners: find the chart in the picture (with the reference
    // when there is one); loading fails when it cannot be found.
    bool locateChart = false;
    // Read every pixel into memory even when the patches alone would do.
    bool wholePicture = false;
};

// The user's texts and the answer to the one question a computation can ask.
struct JobTexts {
    std::string description;
    std::string copyright;
    // Go on when the gray patches are out of brightness order (the wizard's
    // OK); otherwise the question ends the computation.
    bool continueOnGrayOrder = false;
    // Go on when the reference file does not seem to match the chart.
    bool continueOnMismatch = false;
};

class ScanJob {
public:
    explicit ScanJob(JobObserver& observer);
    ~ScanJob();
    ScanJob(const ScanJob&) = delete;
    ScanJob& operator=(const ScanJob&) = delete;

    // Selects the target type, reads its reference and the scan, turns and
    // mirrors it and places the chart. 0 when ready to measure.
    int load(const JobTarget& target);

    // Measures the patches and runs the checks as the Advanced Options
    // dialog does (warnings only). 0 when the target passed them. A JPEG
    // picture is warned of first (kJpegPictureWarning), here and in compute.
    int measure(const AdvancedOptions& options);

    // Measures and computes both passes as the wizard does. 0 on success.
    int compute(const AdvancedOptions& options, const JobTexts& texts);

    // The profile's bytes and the log's text of the last computation; false
    // when they cannot be made (after a message naming the file path given).
    bool profileBytes(const LocalTime& time, std::string_view path, std::vector<std::uint8_t>& bytes);
    bool logText(const LocalTime& time, std::string_view path, std::string& text);

    // Writes the profile (and the log when logPath is not empty) as one:
    // both files are replaced, or neither. 0 on success.
    int save(const std::string& profilePath, const std::string& logPath, const LocalTime& time);

    const TargetLayout& layout() const;
    const TargetMeasurement& measurement() const;
    const ReferenceData& reference() const;
    // The cross-validated figures of the last computation.
    const ModelAccuracy& accuracy() const;
    // Where the chart was placed: top-left, top-right, bottom-right and
    // bottom-left in the picture after turning, y down as in JobTarget.
    std::array<ImagePoint, 4> chartCorners() const;
    // How sure the locator was of it (0 when the chart was not located).
    double chartConfidence() const { return chartConfidence_; }
    // The picture's size after turning (for corner checks).
    int imageWidth() const;
    int imageHeight() const;

    // Whether loading target reads the whole picture into memory rather
    // than only the pixels the patches are measured from (which an
    // uncompressed file gives where it lies).
    static bool needsWholePicture(const JobTarget& target);
    // Whether the loaded picture is read where it lies in its file.
    bool readsInPlace() const;

private:
    void warnOfJpeg();

    class Messages;
    std::unique_ptr<Messages> messages_;
    std::unique_ptr<ScanSession> session_;
    // What the patches are measured in: the session's image, or the file
    // read in place.
    std::unique_ptr<PixelSource> picture_;
    double chartConfidence_ = 0.0;
};

// The start of the message when the chart cannot be found; the locator's
// reason follows it.
inline constexpr std::string_view kChartNotFound = "Could not find the chart";

}  // namespace calivant
