#pragma once
// A chart as it is printed: the layout's patches, and around them what the
// physical object carries and the layout leaves out. A chart finder meets
// all of it in real pictures:
//
//   IT8.7/1, IT8.7/2  the maker's patches in columns 20..22, the gray
//                     surround with the row letters and column numbers, the
//                     corner marks, a paper strip with text under the gray
//                     scale; columns 1..12 step through hue (rows), lightness
//                     (groups of four columns) and chroma, 13..19 are ramps
//   ColorChecker      patches on a black card, wider than the frame
//   ColorChecker DC, SG   every cell a patch on a black card
//   HCT               every cell of the 29 x 22 grid a patch, touching, on
//                     white paper with a line of text below
//
// The artwork lives in layout coordinates (u right, t down, the frame 0..1
// both ways); parts beyond the frame (the card) have coordinates outside
// 0..1. paintAt answers which paint covers a point in constant time, so that
// a renderer can ask for every pixel of a large picture.

#include <cstdint>
#include <string>
#include <vector>

#include "make-target/synthetic_target.h"

namespace calivant {

// Cells on a grid of columns and rows; a cell is the rectangle from
// (left[c], top[r]) of size width x height. Paint -1: no cell there.
struct ArtworkGrid {
    std::vector<double> left;
    std::vector<double> top;
    double width = 0.0;
    double height = 0.0;
    std::vector<int> paint;  // row by row
};

struct ArtworkRect {
    double u0 = 0.0, t0 = 0.0, u1 = 0.0, t1 = 0.0;
    int paint = -1;
};

// Lines of text-like strokes: glyphs of 3 x 5 dots, chosen from the seed,
// in cells of glyphWidth x lineHeight.
struct ArtworkText {
    double u0 = 0.0, t0 = 0.0, u1 = 0.0, t1 = 0.0;
    double glyphWidth = 0.0;
    double lineHeight = 0.0;
    int ink = -1;
    std::uint32_t seed = 0;
};

struct ChartArtwork {
    // Paints as measured colours, D50, Y of the perfect white 100.
    std::vector<CieTriple> paints;
    // The card (or case) everything lies on, with elliptical corners of
    // these radii; no card when cardPaint is -1.
    ArtworkRect card;
    double cornerU = 0.0;
    double cornerT = 0.0;
    // Drawn over the card: back rectangles, then texts, then grids, then
    // front rectangles, each list later over earlier.
    std::vector<ArtworkRect> back;
    std::vector<ArtworkText> texts;
    std::vector<ArtworkGrid> grids;
    std::vector<ArtworkRect> front;

    // The paint at layout point (u, t), -1 outside the artwork.
    int paintAt(double u, double t) const;
    // Every point paintAt may paint lies in this rectangle.
    ArtworkRect bounds() const;
};

// The layout's cells with the reference's colours (gray scale, colour
// patches, border patches as `border` gives them), on the frame painted
// `frame` and nothing beyond it: what renderSyntheticTarget draws.
ChartArtwork plainArtwork(const TargetLayout& layout, const ReferenceData& reference, const BorderXyz& border,
                          const CieTriple& frame);

// The chart as printed. `extra` gives the colours of the cells the layout
// does not measure (IT8 columns 20..22 row by row, A20, A21, A22, B20 ...;
// HCT's unused cells row by row); missing ones get plausible colours that
// depend only on the target type.
ChartArtwork printedArtwork(const TargetLayout& layout, const ReferenceData& reference, const BorderXyz& border,
                            const std::vector<CieTriple>& extra = {});

// A ColorChecker Passport's second page joined to the artwork: the two
// pages in their case, hinged along the frame's top edge, the second page
// above the chart (t < 0) with its own patches on another grid.
void addPassportPage(ChartArtwork& artwork);

// An IT8 reference whose colours follow the printed chart's structure:
// rows A..L twelve hues, columns 1..4, 5..8 and 9..12 three lightness
// levels each stepping through four chromas, columns 13..19 ramps of cyan,
// magenta, yellow, neutral, red, green and blue from paper white, and a
// gray scale from L* 93 (GS0) to L* 5 (GS23). Values rounded as written.
ReferenceData printedIt8Reference();

// The XYZ of the cells beyond the layout that a reference file lists (IT8:
// A20 .. L22), taken by the field names of its data format; empty when the
// file cannot be read or lists none of them.
std::vector<CieTriple> readExtraPatches(const std::string& path, int targetType);

// A colour of the given L*, hue and chroma (at most), its chroma reduced
// until the sRGB-like default device can show it without clipping.
CieTriple printableColour(double lightness, double hueDegrees, double chroma);

}  // namespace calivant
