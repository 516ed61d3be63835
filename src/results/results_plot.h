#pragma once
// The geometry of the compute page's plots: the chromaticity diagram with
// the device gamut against sRGB, and the three tone curves. Each is drawn
// over a square background whose plot square runs from an inset inside its
// left and bottom edges (0.0) to the same inset inside its right and top
// edges (1.0): at the results window's smallest size a 440 x 440 background
// at (margin, margin) with an inset of 20, larger in proportion as the
// window grows. The window only paints what is computed here.

#include <array>
#include <optional>
#include <vector>

#include "profile/profile_result.h"
#include "reference/reference_data.h"

namespace calivant {

inline constexpr int kPlotBackgroundSize = 440;
inline constexpr int kPlotInset = 20;
inline constexpr int kPlotSpan = 400;
// Height of the tab strip along the bottom of the results window.
inline constexpr int kResultTabStripHeight = 20;

// The lighting view is there for the charts with border patches only.
enum ResultsView : int { GamutView = 0, CurvesView = 1, LightingView = 2 };

// Where a view's background and its plot square lie in the results window.
struct PlotFrame {
    // The background's top-left corner in the window's client area, and its side.
    int left = 0;
    int top = 0;
    int size = kPlotBackgroundSize;
    // 0.0 lies inset pixels inside the background's left and bottom edges,
    // 1.0 span pixels further.
    int inset = kPlotInset;
    int span = kPlotSpan;
    bool operator==(const PlotFrame&) const = default;
};

// The 440-pixel background at (margin, margin): the window at its smallest.
PlotFrame smallestPlotFrame(int margin);
// The largest background that fits a client area of width x height above
// the tab strip with the margin on every side, centred there; never smaller
// than the smallest one.
PlotFrame plotFrameFor(int clientWidth, int clientHeight, int margin);
// A length of the 440-pixel background as drawn in frame, rounded.
int scaledLength(const PlotFrame& frame, int length);
// The width of the plots' lines: 1 pixel, more on a background twice as large or more.
int plotLineWidth(const PlotFrame& frame);

struct PlotPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PlotPoint&) const = default;
};

// Box of an ellipse marker, right and bottom included as the box's far side.
struct PlotBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const PlotBox&) const = default;
};

// Chromaticity (x, y) to the window pixel of the gamut view.
PlotPoint gamutPixel(const PlotFrame& frame, double x, double y);
// The small (patch) or large (primary, white) marker around a pixel, as
// large as the frame makes it.
PlotBox markerBox(PlotPoint p, bool large, const PlotFrame& frame);

// Everything the gamut view plots. A point whose X + Y + Z is not positive
// has no chromaticity and is left out (nullopt).
struct GamutPlot {
    std::vector<PlotPoint> patches;
    std::array<std::optional<PlotPoint>, 3> primaries;  // red, green, blue
    std::optional<PlotPoint> white;
    std::array<PlotPoint, 3> srgb;  // red, green, blue corners
};
// The reference's colour patches, and the primaries and white of the linear
// model fitted in colorSpace.
GamutPlot gamutPlot(const ReferenceData& reference, const ProfileResult& profile, int colorSpace,
                    const PlotFrame& frame);

// The 256 points of one tone curve across the plot square.
std::vector<PlotPoint> curvePoints(const ToneCurve& curve, const PlotFrame& frame);

// The count tabs of the strip [left, right) x [top, bottom), in equal parts
// from the left (the last one reaching the strip's right edge); each box
// starts 2 pixels below the strip's top. With two: Gamut on the left half,
// Curves on the right.
struct ResultTab {
    PlotBox box;
    // The tab's outline, inside the box: down the left side, along the
    // bottom row inset by the margin, up the right side; for the tab that is
    // not current, back along the top (the current one stays open toward
    // the plot).
    std::vector<PlotPoint> outline;
};
std::vector<ResultTab> resultTabs(int left, int top, int right, int bottom, int margin, int count, int currentView);
// The view a press at x inside the strip selects: past a tab's left edge
// (with two tabs, right of the strip's middle), the next one.
int tabViewAt(int x, int stripLeft, int stripRight, int count);

// The background of the chromaticity diagram: is (x, y) inside the spectral
// locus (closed by the line of purples), and the colour it is filled with
// there (8-bit sRGB, brightest channel at full scale).
bool insideSpectralLocus(double x, double y);
// The x where the row at height y crosses the locus's outline: (x, y) is
// inside exactly when an odd number of them lie right of x (the same test
// as insideSpectralLocus, a row at a time).
std::vector<double> spectralLocusCrossings(double y);
std::array<int, 3> diagramColor(double x, double y);
// The spectral locus chromaticities, 380 to 700 nm in 5 nm steps, from the
// CIE 1931 2-degree colour-matching functions.
const std::vector<std::array<double, 2>>& spectralLocus();

// Where the D50 white lies (x, y).
inline constexpr double kD50ChromaticityX = 0.3457;
inline constexpr double kD50ChromaticityY = 0.3585;

}  // namespace calivant
