#pragma once
// What the setup page does with the user's choices, without the page: the
// target type list, loading the target image and the reference file, turning
// and mirroring. The wizard and the command line both call these, so they
// show the same messages and leave the session in the same state.

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "image/orientation.h"
#include "image/pixel_source.h"
#include "locate/chart_locator.h"

namespace calivant {

struct ScanSession;

struct TargetTypeEntry {
    std::string_view label;
    int targetType;
    int reflective;
};

// The seven entries of the target type list, in list order.
inline constexpr std::array<TargetTypeEntry, 7> kTargetTypeEntries{{
    {"IT8 - Reflective", 0, 1},
    {"IT8 - Transparency", 0, 0},
    {"Macbeth Color Checker", 1, 1},
    {"Macbeth Color Checker DC", 2, 1},
    {"Macbeth Color Checker SG", 3, 1},
    {"HCT - Reflective", 4, 1},
    {"HCT - Transparency", 4, 0},
}};

// The list index of the session's target type and material, or -1.
int targetTypeListIndex(int targetType, int reflective);

// "<programFolder>/Reference Files/Macbeth/<name>" for the ColorChecker
// types; empty for IT8 and HCT.
std::string builtInReferencePath(const ScanSession& session, int targetType);
std::string builtInReferencePath(const std::string& programFolder, int targetType);

// Picks list entry index. IT8 and HCT then need a reference file chosen by
// the user (referenceReady 0). The ColorChecker types read their built-in
// file; when that fails the message names it and referenceReady is 0. The
// overlay and layout are reset to the image in every case, so the patch
// counts always follow the target type. Returns 0, or 1 when a built-in
// reference could not be read. referencePath receives the file that was
// read (empty when none).
int selectTargetType(ScanSession& session, int listIndex, std::string& referencePath);

// Reads the built-in reference of a ColorChecker type without any message
// (start-up). Returns 0 when it was read.
int loadBuiltInReferenceSilently(ScanSession& session, std::string& referencePath);

// Reads a TIFF, PNG or JPEG target image into the session, turned as asked
// after the file's own orientation; on success resets the overlay,
// remembers the folder and the kind of file, and sets imageReady. Messages
// name the file.
int loadTargetImage(ScanSession& session, const std::string& path, const PictureTurn& turn = {});

// The target image read where it lies in its file instead (the session's
// image is left empty), turned as asked; on success as loadTargetImage. Null,
// without a message and with the session unchanged, when the file cannot
// be read that way: loadTargetImage then reads it, or says what is wrong.
std::unique_ptr<PixelSource> openTargetInPlace(ScanSession& session, const std::string& path,
                                               const PictureTurn& turn);

// Reads a reference file for the current target type; on success remembers
// the folder and sets referenceReady. Messages name the file.
int loadReferenceFile(ScanSession& session, const std::string& path);

// Turns the target image a quarter clockwise, or mirrors it left to right.
// The overlay corners stay where they are. Returns 1 when memory runs out
// (the image is then unchanged).
int rotateTargetImage(ScanSession& session);
int mirrorTargetImage(ScanSession& session);

// Looks for the chart of the session's layout in the session's image (with
// the reference when one is ready) and puts the overlay on it; when none is
// found the overlay is reset to the whole image. The location says which.
ChartLocation placeChartOverlay(ScanSession& session);

// Copies a typed text into description or copyright, cut at 338 bytes
// without splitting a character.
void setDescription(ScanSession& session, std::string_view text);
void setCopyright(ScanSession& session, std::string_view text);

}  // namespace calivant
