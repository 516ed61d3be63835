#include "shell/profile_job.h"

#include <sstream>

#include "output/icc_profile.h"
#include "output/profile_log.h"
#include "measure/quality_checks.h"
#include "shell/computation.h"
#include "shell/platform.h"
#include "shell/saving.h"
#include "shell/scan_session.h"
#include "shell/setup_actions.h"
#include "util/atomic_file.h"
#include "util/format.h"

namespace calivant {

// The session's platform for a job: messages go to the observer as
// diagnostics, the question is answered from the job's texts, there is no
// cursor and the clock is never read (the caller passes the time).
class ScanJob::Messages : public Platform {
public:
    explicit Messages(JobObserver& observer) : observer_(observer) {}

    void showError(std::string_view message) override { observer_.report({Severity::Error, std::string(message)}); }
    void showWarning(std::string_view message) override {
        observer_.report({Severity::Warning, std::string(message)});
    }
    // The questions (gray patches out of order, a reference that does not
    // match) are answered by the job's texts; their "OK or Cancel" sentence
    // means nothing outside the wizard.
    int askWarning(std::string_view message) override {
        std::string_view text = message == kGrayOrderQuestion ? kGrayOrderWarning : message;
        const bool grayOrder = message == kGrayOrderQuestion;
        const std::string ending = "\n" + std::string(kClickOkOrCancel);
        if (text.ends_with(ending)) text.remove_suffix(ending.size());
        const bool goOn = grayOrder ? continueOnGrayOrder : continueOnMismatch;
        observer_.report({goOn ? Severity::Warning : Severity::Error, std::string(text)});
        return goOn ? 0 : 1;
    }
    void showBusyCursor() override {}
    void showArrowCursor() override {}
    LocalTime localTime() override { return systemLocalTime(); }

    JobObserver& observer() { return observer_; }
    bool continueOnGrayOrder = false;
    bool continueOnMismatch = false;

private:
    JobObserver& observer_;
};

ScanJob::ScanJob(JobObserver& observer)
    : messages_(std::make_unique<Messages>(observer)),
      session_(std::make_unique<ScanSession>(*messages_)),
      picture_(std::make_unique<ImagePixels>(session_->image)) {}

ScanJob::~ScanJob() = default;

int ScanJob::load(const JobTarget& target) {
    ScanSession& session = *session_;
    session.programFolder = target.dataFolder;
    const int listIndex = targetTypeListIndex(target.targetType, target.reflective);
    std::string builtIn;
    if (target.reference.empty()) {
        if (selectTargetType(session, listIndex, builtIn) != 0) return 1;
    } else {
        session.targetType = target.targetType;
        session.reflective = target.reflective;
    }

    messages_->observer().progress("Reading the target image");
    // Turned while read: no turned copy of a large picture.
    const PictureTurn turn{target.quarterTurns, target.mirror};
    std::unique_ptr<PixelSource> inPlace;
    if (!needsWholePicture(target)) inPlace = openTargetInPlace(session, target.image, turn);
    if (inPlace) {
        picture_ = std::move(inPlace);
    } else {
        if (loadTargetImage(session, target.image, turn) != 0) return 1;
        picture_ = std::make_unique<ImagePixels>(session.image);
    }
    resetOverlay(session, picture_->width(), picture_->height());
    if (target.corners) {
        // Given top-left, top-right, bottom-right, bottom-left with y down;
        // the overlay numbers its corners bottom-left, top-left, top-right,
        // bottom-right with y up.
        const double h = picture_->height() - 1;
        const auto& c = *target.corners;
        auto point = [&](int k) { return ImagePoint{c[static_cast<std::size_t>(k)].x, h - c[static_cast<std::size_t>(k)].y}; };
        session.overlay.corners = {point(3), point(0), point(1), point(2)};
    }
    if (!target.reference.empty() && loadReferenceFile(session, target.reference) != 0) return 1;
    if (target.locateChart && !target.corners) {
        messages_->observer().progress("Finding the chart");
        const ChartLocation location = placeChartOverlay(session);
        if (!location.found) {
            session.platform.showError(std::string(kChartNotFound) + ": " + location.reason);
            return 1;
        }
        chartConfidence_ = location.confidence;
    }
    return 0;
}

// A JPEG can be measured and profiled, but what the profile describes is
// the camera's rendering, and the user should know before relying on it.
void ScanJob::warnOfJpeg() {
    if (session_->imageKind == PictureKind::Jpeg) session_->platform.showWarning(kJpegPictureWarning);
}

int ScanJob::measure(const AdvancedOptions& options) {
    messages_->observer().progress("Measuring the target");
    warnOfJpeg();
    session_->options = options;
    return measureSession(*session_, MeasureMode::Report, *picture_);
}

int ScanJob::compute(const AdvancedOptions& options, const JobTexts& texts) {
    ScanSession& session = *session_;
    session.options = options;
    setDescription(session, texts.description);
    setCopyright(session, texts.copyright);
    messages_->continueOnGrayOrder = texts.continueOnGrayOrder;
    messages_->continueOnMismatch = texts.continueOnMismatch;
    messages_->observer().progress("Computing the profile");
    warnOfJpeg();
    return computeSessionProfile(session, *picture_);
}

bool ScanJob::profileBytes(const LocalTime& time, std::string_view path, std::vector<std::uint8_t>& bytes) {
    if (buildIccProfile(iccProfileSettingsOf(profileRecordOf(*session_)), session_->profile, time, bytes) == 0)
        return true;
    session_->platform.showError(formatText("Cannot write file: %s", {path}));
    return false;
}

bool ScanJob::logText(const LocalTime& time, std::string_view path, std::string& text) {
    std::ostringstream out;
    if (writeProfileLog(out, profileRecordOf(*session_), time) == 0) {
        text = out.str();
        return true;
    }
    session_->platform.showError(formatText("Cannot write file: %s", {path}));
    return false;
}

int ScanJob::save(const std::string& profilePath, const std::string& logPath, const LocalTime& time) {
    // Both files are made in memory first and go into place together: a
    // failure leaves the old profile and the old log as they were.
    std::vector<std::uint8_t> profile;
    if (!profileBytes(time, profilePath, profile)) return 1;
    std::string log;
    if (!logPath.empty() && !logText(time, logPath, log)) return 1;

    messages_->observer().progress("Writing the profile");
    // Moved, not copied, and the bytes freed once in the file's record: a
    // 65-point profile is megabytes.
    std::vector<FileToWrite> files;
    files.push_back({profilePath, std::string(profile.begin(), profile.end())});
    std::vector<std::uint8_t>().swap(profile);
    if (!logPath.empty()) files.push_back({logPath, std::move(log)});
    const FilesWritten written = writeFilesTogether(files);
    if (written.result == AtomicWriteResult::Ok) return 0;
    const std::string& path = written.file == 0 ? profilePath : logPath;
    session_->platform.showError(fileWriteMessage(written.result, path));
    return 1;
}

const TargetLayout& ScanJob::layout() const { return session_->targetLayout; }
const TargetMeasurement& ScanJob::measurement() const { return session_->measurement; }
const ReferenceData& ScanJob::reference() const { return session_->reference; }
const ModelAccuracy& ScanJob::accuracy() const { return session_->profile.accuracy; }
std::array<ImagePoint, 4> ScanJob::chartCorners() const {
    const auto& c = session_->overlay.corners;
    const double h = picture_->height() - 1;
    auto down = [&](int k) { return ImagePoint{c[static_cast<std::size_t>(k)].x, h - c[static_cast<std::size_t>(k)].y}; };
    return {down(1), down(2), down(3), down(0)};
}
int ScanJob::imageWidth() const { return picture_->width(); }
int ScanJob::imageHeight() const { return picture_->height(); }

// The locator looks at every pixel.
bool ScanJob::needsWholePicture(const JobTarget& target) {
    return target.wholePicture || (target.locateChart && !target.corners);
}
bool ScanJob::readsInPlace() const { return dynamic_cast<const ImagePixels*>(picture_.get()) == nullptr; }

}  // namespace calivant
