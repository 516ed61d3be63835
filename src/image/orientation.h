#pragma once
// Where the pixels of a stored raster land in the upright picture: the
// eight orientations of the TIFF tag, and the user's quarter turns and
// mirroring applied after them, as one mapping. Readers that place pixels
// straight where they belong need no turned copy of the picture.
//
// A stored pixel (column c, row r counted from the top of the stored
// raster) goes to (a, b) = transpose ? (r, c) : (c, r), then to column
// flipX ? W - 1 - a : a and row flipY ? H - 1 - b : b from the top of the
// upright picture, which is W x H (the stored size, exchanged by transpose).

#include <cstdint>

namespace calivant {

// What the user asked for after the file's own orientation: clockwise
// quarter turns, then a mirror left to right.
struct PictureTurn {
    int quarterTurns = 0;
    bool mirror = false;
};

struct Orientation {
    bool transpose = false;
    bool flipX = false;
    bool flipY = false;

    bool identity() const { return !transpose && !flipX && !flipY; }
    bool operator==(const Orientation&) const = default;
};

// The orientation a TIFF tag value (1..8) asks for; anything else is upright.
constexpr Orientation orientationOfTag(std::uint32_t tag) {
    switch (tag) {
        case 2: return {false, true, false};
        case 3: return {false, true, true};
        case 4: return {false, false, true};
        case 5: return {true, false, false};
        case 6: return {true, true, false};
        case 7: return {true, true, true};
        case 8: return {true, false, true};
        default: return {};
    }
}

// The tag value of an orientation (1..8).
constexpr std::uint32_t tagOfOrientation(Orientation o) {
    for (std::uint32_t tag = 1; tag <= 8; ++tag)
        if (orientationOfTag(tag) == o) return tag;
    return 1;
}

// o followed by the turn: a clockwise quarter turn sends upright (X, Y from
// the top) to (H - 1 - Y, X); the mirror sends X to W - 1 - X.
constexpr Orientation afterTurn(Orientation o, const PictureTurn& turn) {
    for (int k = 0; k < (turn.quarterTurns % 4 + 4) % 4; ++k) o = {!o.transpose, !o.flipY, o.flipX};
    if (turn.mirror) o.flipX = !o.flipX;
    return o;
}

}  // namespace calivant
