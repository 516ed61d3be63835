#pragma once
// Synthetic target scans: a picture of any chart rendered from reference
// values through a known device model, with the reference file that goes
// with it. Tests and benchmarks use these instead of hand-made images, since
// the device value every patch was rendered with is known exactly.
//
// The picture is upright (as the program shows it after orientation) and
// stored top row first; image coordinates are those of the overlay: x the
// column, y the row counted from the bottom, so a picture row R is image row
// height - 1 - R.

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "image/target_image.h"
#include "util/cie.h"
#include "reference/reference_data.h"
#include "target/overlay.h"
#include "target/target_layout.h"

namespace calivant {

struct ScanSession;
struct SyntheticTarget;

// Device values, 0.0..1.0 per channel (red, green, blue).
using DeviceRgb = std::array<double, 3>;
using Matrix3 = std::array<std::array<double, 3>, 3>;
double determinant(const Matrix3& m);
// The inverse of a matrix whose determinant is not zero.
Matrix3 inverse(const Matrix3& m);

// How device values come from linear ones (see device_kinds.h).
enum class DeviceKind { MatrixShaper, Crosstalk, Camera, Linear, Saturation, CameraLook };

// A scanner or camera that is linear after a power curve per channel:
// linear = device ^ gamma, XYZ = toXyz * linear (Y = 100 for a linear 1.0 on
// all channels with the default matrix). Rendering runs it backwards:
// device = (toXyz^-1 * XYZ) ^ (1 / gamma), clamped to 0..1. The other kinds
// put crosstalk, flare or a dark offset between the two.
struct DeviceModel {
    DeviceRgb gamma{2.0, 2.2, 2.4};
    Matrix3 toXyz{};
    DeviceKind kind = DeviceKind::MatrixShaper;
    // Crosstalk: device = crosstalk x (linear ^ (1 / gamma)); Saturation and
    // CameraLook: the matrix after the curves (a saturation boost, a look).
    Matrix3 crosstalk{{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};
    // Saturation and CameraLook: linear light is scaled by this before the
    // curves, leaving the boosted colours room below full scale.
    double exposure = 1.0;
    // Camera: the part of the white's signal every channel also receives.
    double flare = 0.0;
    // Linear: the device value of black.
    double darkOffset = 0.0;
};

// sRGB primaries adapted to D50, scaled so that linear (1, 1, 1) is the D50
// white (96.42, 100, 82.49) exactly; gammas 2.0, 2.2 and 2.4.
DeviceModel defaultDeviceModel();

// 0 when every gamma is positive and finite and the matrix can be inverted
// safely, else 1.
int checkDeviceModel(const DeviceModel& model);

// Linear device RGB (unclamped) of a colour; the model must pass checkDeviceModel.
DeviceRgb linearFromXyz(const DeviceModel& model, const CieTriple& xyz);
// The device value a perfect scan of the colour gives, each channel clamped to 0..1.
DeviceRgb deviceFromXyz(const DeviceModel& model, const CieTriple& xyz);
// The forward direction (no clamping), for checks.
CieTriple xyzFromDevice(const DeviceModel& model, const DeviceRgb& device);

// --- Reference values -------------------------------------------------------

// File name of the built-in reference of a ColorChecker type ("ColorChecker.ref",
// "ColorChecker DC.ref", "ColorChecker SG.ref"), found in "Reference Files/Macbeth"
// of the program's data folder; empty for IT8 and HCT.
std::string builtInReferenceName(int targetType);

// Result of readReferencePath beyond those of readReferenceFile.
inline constexpr int kReferenceCannotOpen = 4;

// Reads a reference file for a target type; returns readReferenceFile's
// result, or kReferenceCannotOpen.
int readReferencePath(const std::string& path, int targetType, ReferenceData& reference);

// A plausible reference for any chart: colour patches spread evenly over a
// gamut a little smaller than sRGB (a Halton sequence, the same on every
// run), a neutral gray scale from L* 10 (gray index 0) to L* 92 in even
// steps. Values are rounded as the reference file writes them.
ReferenceData generatedReference(int targetType);

// Rounds every value as writeReferenceFile writes it (X, Y, Z to four
// decimals, L*, a*, b* to two), so that reading the file back gives exactly
// these values.
void roundReferenceAsWritten(ReferenceData& reference);

// The border patches of ColorChecker DC, SG and HCT are not part of the
// reference the program reads; they are rendered from these neutral values.
struct BorderXyz {
    CieTriple white{};
    CieTriple midGray{};
    CieTriple black{};
};
// L* 95, 50 and 15, neutral.
BorderXyz defaultBorderXyz();

// --- Rendering --------------------------------------------------------------

inline constexpr int kMinSyntheticSide = 2;
inline constexpr int kMaxSyntheticSide = 65535;
inline constexpr std::int64_t kMaxSyntheticPixels = 100'000'000;

struct SyntheticTargetOptions {
    int targetType = 0;
    int width = 600;
    int height = 400;
    int bitsPerSample = 8;  // 8 or 16
    DeviceModel device = defaultDeviceModel();
    // Where the chart lies, in image coordinates (corner 0 bottom-left, 1
    // top-left, 2 top-right, 3 bottom-right, y counted from the bottom row).
    // Unset: the corners of the picture, where resetOverlay puts the overlay.
    std::optional<OverlayQuad> chartQuad;
    // The quad is a flat card seen in perspective: the chart is mapped
    // through the homography through its corners (rows further away are
    // smaller), as a camera sees it, not bilinearly as the overlay maps.
    // The two agree for rectangles and parallelograms.
    bool perspective = false;
    // Between the cells of the chart, and outside the chart.
    DeviceRgb background{0.25, 0.25, 0.25};
    DeviceRgb surround{0.08, 0.08, 0.08};
    BorderXyz border = defaultBorderXyz();
    // Gaussian noise added to every device sample before quantisation, as a
    // fraction of full scale (0.01 is about 2.6 codes at 8 bits).
    double noiseSigma = 0.0;
    std::uint64_t seed = 1;
    // Uneven lighting: linear light falls from 1 at the picture's left
    // column to 1 - gradient at its right column (0..0.99), or, turned
    // counter-clockwise by gradientAngle degrees, from one corner to the
    // opposite one.
    double gradient = 0.0;
    double gradientAngle = 0.0;
    // Lens vignetting on top: light falls off from the picture's centre as
    // the cos^4 law gives it, 1 / (1 + k r^2)^2, to 1 - vignetting at the
    // corners (0..0.99).
    double vignetting = 0.0;
    // A gray or colour patch (by its layout name, any case) whose right half
    // is rendered in a clearly different colour, so that its samples scatter.
    std::string badPatch;
};

// A picture of 8-bit or 16-bit RGB samples (8-bit samples hold 0..255),
// rows top first, red, green, blue per pixel.
struct SyntheticPicture {
    int width = 0;
    int height = 0;
    int bitsPerSample = 8;
    std::vector<std::uint16_t> samples;

    std::uint16_t sample(int column, int row, int channel) const {
        return samples[(static_cast<std::size_t>(row) * static_cast<std::size_t>(width) + column) * 3 + channel];
    }
};

// The picture as the program holds a loaded scan: Rgb24 or Rgb48, row 0 at
// the bottom, blue-green-red. Returns 1 when the raster cannot be allocated.
int pictureToTargetImage(const SyntheticPicture& picture, TargetImage& image);

// Puts a rendered target into a session as if the user had loaded its scan
// and reference: target type, image, reset overlay, reference, both ready
// flags. Returns 1 when the image cannot be allocated.
int loadSyntheticTarget(ScanSession& session, const SyntheticTarget& target);


// What measuring each patch of the chart through the overlay `quad` should
// give: the device value of the pixel at the cell's centre, quantised
// (code / 255 or code / 65535), in the order of the measurement arrays.
// Without noise and gradient every pixel the sampling reads holds exactly
// this value; noise adds about sigma / 21 to a patch mean, a gradient makes
// it vary across the patch. For the half-split patch it is the value of its
// left half.
struct ExpectedDevice {
    std::vector<DeviceRgb> gray;  // gray order: index 0 the darkest (Dmax)
    std::vector<DeviceRgb> color;
    std::vector<DeviceRgb> white;
    std::vector<DeviceRgb> midGray;
    std::vector<DeviceRgb> black;
};

struct SyntheticTarget {
    int targetType = 0;
    TargetLayout layout;
    // The reference the picture was rendered from, rounded as written.
    ReferenceData reference;
    BorderXyz border;
    // Where the chart lies; the overlay placed here measures `expected`.
    OverlayQuad quad;
    SyntheticPicture picture;
    ExpectedDevice expected;
    // The half-split patch: its position in grayCells or its colour index
    // (as the bad-patch flags count them), -1 when there is none.
    int badGrayPosition = -1;
    int badColorIndex = -1;
    // The JPEG file the picture was decoded from, when it went through one.
    std::vector<unsigned char> jpeg;
};

// Result codes of renderSyntheticTarget.
inline constexpr int kSyntheticOk = 0;
inline constexpr int kSyntheticBadOptions = 1;

// Renders the chart. Every pixel whose centre lies in a patch cell (overlay
// coordinates of `quad`, cells half-open on their right and bottom edges)
// takes that patch's colour; pixels inside the chart but in no cell take
// the background, pixels outside it the surround. Returns kSyntheticBadOptions
// (and leaves `target` unspecified) for an unknown target type, a size out
// of range, bits other than 8 or 16, a device model that fails
// checkDeviceModel, a negative noise, a gradient or vignetting outside 0..0.99,
// a gradient angle that is not finite, a bad-patch
// name that is no gray or colour patch, or a reference that is incomplete.
// `error` then says which.
int renderSyntheticTarget(const SyntheticTargetOptions& options, const ReferenceData& reference,
                          SyntheticTarget& target, std::string* error = nullptr);

// Relative light at picture column x and row (rows top first) of a picture
// width x height pixels: the gradient and the vignetting of the options.
double lightAt(const SyntheticTargetOptions& options, double x, double row);

// --- Reference file ----------------------------------------------------------

// The identification keyword the reader expects: "IT8.7/2", "ColorChecker",
// "ColorCheckerDC", "ColorCheckerSG", "HCT".
std::string referenceKeyword(int targetType);

// Writes the target's reference in the reader's layout: keyword, header
// lines, BEGIN_DATA, one "name X Y Z L a b" line per colour, gray and border
// patch (layout names, CR LF line ends), END_DATA. Returns 0, or 1 when the
// stream fails.
int writeReferenceFile(std::ostream& out, const SyntheticTarget& target);
int writeReferencePath(const std::string& path, const SyntheticTarget& target);

}  // namespace calivant
