#pragma once
// A picture as a camera or scanner takes it: charts (as printed) lying in a
// plane seen in perspective, on a background, perhaps partly covered, lit
// unevenly, through a lens with barrel distortion and fall-off, then
// encoded, sharpened, noisy and JPEG-compressed. Each step is one of the
// flaws real pictures of charts have; all default to none.
//
// Picture coordinates: x right, y down, 0,0 the centre of the top-left
// pixel. The renderer works in linear light: paints and background are
// lit, blurred and vignetted there, then encoded through the device model;
// sharpening and noise act on the encoded values, as in a camera.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "make-target/picture_filters.h"
#include "make-target/printed_chart.h"
#include "make-target/synthetic_target.h"

namespace calivant {

struct PicturePoint {
    double x = 0.0;
    double y = 0.0;
};

struct SceneChart {
    ChartArtwork artwork;
    // Where the frame's corners (u, t) = (0, 0), (1, 0), (1, 1), (0, 1) lie
    // in the undistorted picture; the plane between them is projective.
    std::array<PicturePoint, 4> frame{};
    // A scanned card's shadow on the lid, towards +u and +t, in layout units.
    double dropShadow = 0.0;
};

enum class OccluderKind { None, Thumb, Clip };

struct Occluder {
    OccluderKind kind = OccluderKind::None;
    PicturePoint centre;
    double halfLength = 0.0;  // along `angle`
    double halfWidth = 0.0;
    double angle = 0.0;       // radians, picture coordinates
};

struct CameraScene {
    int width = 0;
    int height = 0;
    int bitsPerSample = 16;
    DeviceModel device = defaultDeviceModel();
    std::vector<SceneChart> charts;  // the first lies on top
    BackgroundKind background = BackgroundKind::Flat;
    double backgroundLevel = 0.8;  // device value
    Occluder occluder;
    // Light falling off linearly across the picture by `gradient`, in the
    // direction gradientAngle (degrees counter-clockwise from left to right).
    double gradient = 0.0;
    double gradientAngle = 0.0;
    // Lens fall-off: the light at the picture's corners is 1 - vignetting.
    double vignetting = 0.0;
    // A shadow's edge: the line through shadowPoint at shadowAngle degrees
    // (counter-clockwise as seen); to its left the light falls by
    // shadowDepth, over shadowSoftness pixels.
    double shadowDepth = 0.0;
    PicturePoint shadowPoint;
    double shadowAngle = 0.0;
    double shadowSoftness = 4.0;
    // A glare spot: adds glare x the white's light at its centre, Gaussian
    // of standard deviation glareRadius pixels.
    double glare = 0.0;
    PicturePoint glarePoint;
    double glareRadius = 10.0;
    // Linear light per channel (no white balance) and overall.
    std::array<double, 3> cast{1.0, 1.0, 1.0};
    double exposure = 1.0;
    // A point at the picture's corner would lie this fraction further out
    // without the lens's barrel distortion (radial, the square of the
    // distance from the centre).
    double barrel = 0.0;
    double blur = 0.0;  // Gaussian sigma, pixels, in linear light
    // Unsharp mask on the encoded luminance: amount and sigma in pixels.
    double sharpen = 0.0;
    double sharpenRadius = 1.5;
    double noise = 0.0;   // standard deviation, fraction of full scale
    int jpegQuality = 0;  // 1..100: the picture goes through JPEG (8 bits)
    std::uint64_t seed = 1;
    unsigned workers = 1;
};

// The undistorted picture point of a layout point of a chart.
PicturePoint chartPoint(const SceneChart& chart, double u, double t);
// Where an undistorted point lands in the picture through the lens.
PicturePoint lensPoint(const CameraScene& scene, const PicturePoint& ideal);

// Renders the scene; with a JPEG quality `jpeg` receives the file the
// picture was decoded from. Returns 0, or 1 with `error` set (bad size, a
// JPEG that cannot be encoded).
int renderCameraScene(const CameraScene& scene, SyntheticPicture& picture, std::string* error = nullptr,
                      std::vector<unsigned char>* jpeg = nullptr);

}  // namespace calivant
