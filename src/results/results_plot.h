#pragma once
// The geometry of the compute page's two plots: the chromaticity diagram with
// the device gamut against sRGB, and the three tone curves. Both are drawn
// over a 440 x 440 background whose plot square runs from 20 pixels inside
// its left and bottom edges (0.0) to 20 pixels inside its right and top edges
// (1.0), placed at (margin, margin) of the results window. The window only
// paints what is computed here.

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

enum ResultsView : int { GamutView = 0, CurvesView = 1 };

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
PlotPoint gamutPixel(int margin, double x, double y);
// The small (patch) or large (primary, white) marker around a pixel.
PlotBox markerBox(PlotPoint p, bool large);

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
GamutPlot gamutPlot(const ReferenceData& reference, const ProfileResult& profile, int colorSpace, int margin);

// The 256 points of one tone curve in a client area of w x h pixels.
std::vector<PlotPoint> curvePoints(const ToneCurve& curve, int margin, int clientWidth, int clientHeight);

// The two tabs of the strip [left, right) x [top, bottom): Gamut on the left
// half, Curves on the right; each box starts 2 pixels below the strip's top.
struct ResultTab {
    PlotBox box;
    // The tab's outline, inside the box: down the left side, along the
    // bottom row inset by the margin, up the right side; for the tab that is
    // not current, back along the top (the current one stays open toward
    // the plot).
    std::vector<PlotPoint> outline;
};
std::array<ResultTab, 2> resultTabs(int left, int top, int right, int bottom, int margin, int currentView);
// The view a press at x inside the strip selects.
int tabViewAt(int x, int stripLeft, int stripRight);

// The background of the chromaticity diagram: is (x, y) inside the spectral
// locus (closed by the line of purples), and the colour it is filled with
// there (8-bit sRGB, brightest channel at full scale).
bool insideSpectralLocus(double x, double y);
std::array<int, 3> diagramColor(double x, double y);
// The spectral locus chromaticities, 380 to 700 nm in 5 nm steps, from the
// CIE 1931 2-degree colour-matching functions.
const std::vector<std::array<double, 2>>& spectralLocus();

// Where the D50 white lies (x, y).
inline constexpr double kD50ChromaticityX = 0.3457;
inline constexpr double kD50ChromaticityY = 0.3585;

}  // namespace calivant
