#include "shell/setup_actions.h"

#include <istream>

#include "image/byte_source.h"
#include "image/picture_reader.h"
#include "image/target_image.h"
#include "image/tiff_view.h"
#include "image/transforms.h"
#include "util/format.h"
#include "reference/reference_file.h"
#include "shell/platform.h"
#include "shell/scan_session.h"
#include "util/input_file.h"
#include "util/paths.h"
#include "util/utf8.h"

namespace calivant {
namespace {

constexpr std::string_view kBuiltInNames[] = {"", "ColorChecker.ref", "ColorChecker DC.ref",
                                              "ColorChecker SG.ref", ""};

void resetToImage(ScanSession& session) { resetOverlay(session, session.image.width, session.image.height); }

// Reads a reference file; 0 on success, 1 when it cannot be opened or read
// (problem.what says why), 2 when it is not a reference file for the target
// type (problem says why).
int readReferencePath(ScanSession& session, const std::string& path, ReferenceProblem& problem) {
    InputFile file;
    if (file.open(std::filesystem::path(path)) != 0) {
        problem = {0, file.problem(), ""};
        return 1;
    }
    InputFileBuffer buffer(file.descriptor());
    std::istream in(&buffer);
    ReferenceData reference;
    const int result = readReferenceFile(in, session.targetType, reference, problem);
    // A file that failed part way through is unreadable, whatever the part
    // read looked like.
    if (buffer.error() != 0) {
        problem = {0, systemErrorText(buffer.error()), ""};
        return 1;
    }
    if (result != 0) return 2;
    session.reference = reference;
    session.referenceFile = path;
    return 0;
}

// Shows why a reference file could not be used; read is readReferencePath's result.
void reportReferenceFailure(ScanSession& session, int read, const std::string& path, const ReferenceProblem& problem) {
    if (read == 1)
        session.platform.showError(formatText("Cannot open reference file: %s", {path}) + "\n" + problem.what);
    if (read == 2)
        session.platform.showError(formatText("Illegal reference file: %s", {path}) + "\n" +
                                   describeReferenceProblem(problem));
}

}  // namespace

int targetTypeListIndex(int targetType, int reflective) {
    for (std::size_t i = 0; i < kTargetTypeEntries.size(); ++i) {
        const TargetTypeEntry& e = kTargetTypeEntries[i];
        if (e.targetType == targetType && (e.reflective == reflective || (targetType >= 1 && targetType <= 3)))
            return static_cast<int>(i);
    }
    return -1;
}

std::string builtInReferencePath(const std::string& programFolder, int targetType) {
    if (targetType < 1 || targetType > 3) return {};
    return joinPath(joinPath(joinPath(programFolder, "Reference Files"), "Macbeth"), kBuiltInNames[targetType]);
}

std::string builtInReferencePath(const ScanSession& session, int targetType) {
    return builtInReferencePath(session.programFolder, targetType);
}

int selectTargetType(ScanSession& session, int listIndex, std::string& referencePath) {
    referencePath.clear();
    if (listIndex >= 0 && listIndex < static_cast<int>(kTargetTypeEntries.size())) {
        session.targetType = kTargetTypeEntries[static_cast<std::size_t>(listIndex)].targetType;
        session.reflective = kTargetTypeEntries[static_cast<std::size_t>(listIndex)].reflective;
    }
    session.referenceReady = 0;
    session.referenceFile.clear();
    // The layout follows the type even when the built-in file fails, so the
    // patch counts of a later measurement always match the cells.
    resetToImage(session);
    if (session.targetType < 1 || session.targetType > 3) return 0;

    const std::string path = builtInReferencePath(session, session.targetType);
    ReferenceProblem problem;
    if (const int read = readReferencePath(session, path, problem); read != 0) {
        reportReferenceFailure(session, read, path, problem);
        return 1;
    }
    referencePath = path;
    session.referenceReady = 1;
    return 0;
}

ChartLocation placeChartOverlay(ScanSession& session) {
    const ChartLocation location =
        locateChart(session.image, session.targetLayout, session.referenceReady ? &session.reference : nullptr);
    if (location.found) {
        session.overlay = location.quad;
    } else {
        resetToImage(session);
    }
    return location;
}

int loadBuiltInReferenceSilently(ScanSession& session, std::string& referencePath) {
    referencePath.clear();
    if (session.targetType < 1 || session.targetType > 3) return 1;
    const std::string path = builtInReferencePath(session, session.targetType);
    ReferenceProblem problem;
    if (readReferencePath(session, path, problem) != 0) return 1;
    referencePath = path;
    session.referenceReady = 1;
    return 0;
}

int loadTargetImage(ScanSession& session, const std::string& path, const PictureTurn& turn) {
    session.imageReady = 0;
    session.imageFile.clear();
    FileByteSource file;
    if (file.open(std::filesystem::path(path)) != 0) {
        session.platform.showError(formatText("Cannot open target image file: %s", {path}) + "\n" + file.problem());
        return 1;
    }
    // Decoded into a record of its own: the working image is replaced only
    // by an accepted picture, so a failed load leaves the previous one whole.
    TargetImage image;
    PictureRead read;
    if (readPicture(file, image, read, {turn}) != 0) {
        // A file that failed under the reader says so rather than look damaged.
        const std::string failure = file.readProblem();
        session.platform.showError(formatText("Cannot read target file: %s", {path}) + "\n" +
                                   (failure.empty() ? read.reason : failure));
        return 1;
    }
    if (image.format != PixelFormat::Rgb24 && image.format != PixelFormat::Rgb48) {
        session.platform.showError(formatText("Target file is not a 24-bit or 48-bit color image: %s", {path}));
        return 1;
    }
    session.image = std::move(image);
    session.imageFile = path;
    session.imageKind = read.kind;
    session.lastTargetFolder = folderOf(path);
    session.imageReady = 1;
    resetToImage(session);
    return 0;
}

std::unique_ptr<PixelSource> openTargetInPlace(ScanSession& session, const std::string& path,
                                               const PictureTurn& turn) {
    auto view = std::make_unique<TiffView>();
    if (view->open(std::filesystem::path(path), turn) != 0) return nullptr;
    freeImage(session.image);
    session.imageFile = path;
    session.imageKind = PictureKind::Tiff;
    session.lastTargetFolder = folderOf(path);
    session.imageReady = 1;
    resetOverlay(session, view->width(), view->height());
    return view;
}

int loadReferenceFile(ScanSession& session, const std::string& path) {
    session.referenceReady = 0;
    session.referenceFile.clear();
    ReferenceProblem problem;
    if (const int read = readReferencePath(session, path, problem); read != 0) {
        reportReferenceFailure(session, read, path, problem);
        return 1;
    }
    session.lastReferenceFolder = folderOf(path);
    session.referenceReady = 1;
    return 0;
}

int rotateTargetImage(ScanSession& session) {
    TargetImage turned;
    if (turnClockwise(session.image, turned) != 0) return 1;
    session.image = std::move(turned);
    return 0;
}

int mirrorTargetImage(ScanSession& session) {
    TargetImage mirrored;
    if (mirrorImage(session.image, mirrored) != 0) return 1;
    session.image = std::move(mirrored);
    return 0;
}

void setDescription(ScanSession& session, std::string_view text) {
    // A line break would forge lines in the log, an escape byte reaches
    // whoever prints the profile's description: neither is taken.
    session.description = truncateUtf8(withoutControlCharacters(text), kMaxDescriptionLength);
}

void setCopyright(ScanSession& session, std::string_view text) {
    session.copyright = truncateUtf8(withoutControlCharacters(text), kMaxCopyrightLength);
}

}  // namespace calivant
