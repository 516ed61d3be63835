#pragma once
// Decoders of compressed strips and tiles that take their input a piece at a
// time, so that a large single-strip picture needs no strip-sized buffers:
// LZW (compression 5), Deflate (8, and 32946 of older writers) through zlib,
// and PackBits (32773). Internal to the image folder.
//
// PackBits is a byte-oriented run-length code. A header byte n, read as
// signed, is followed by n + 1 literal bytes when 0 <= n <= 127, by one
// byte to repeat 1 - n times when -127 <= n <= -1; -128 is skipped:
//
//   FE AA  02 80 00 2A  ->  AA AA AA  80 00 2A

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "image/tiff_reader.h"

namespace calivant {

inline constexpr std::uint32_t kCompressionNone = 1;
inline constexpr std::uint32_t kCompressionLzw = 5;
inline constexpr std::uint32_t kCompressionJpeg = 7;
inline constexpr std::uint32_t kCompressionDeflate = 8;
inline constexpr std::uint32_t kCompressionPackBits = 32773;
inline constexpr std::uint32_t kCompressionDeflateOld = 32946;

class ChunkStreamDecoder {
public:
    virtual ~ChunkStreamDecoder() = default;
    // Prepares for a new strip or tile.
    virtual void start() = 0;
    // Looks at the chunk's first piece of input before it is decoded: data
    // of a kind the decoder refuses (old-style LZW) is named here.
    virtual TiffProblem begin(std::span<const std::uint8_t> firstPiece) {
        (void)firstPiece;
        return TiffProblem::None;
    }
    // Decodes input into output until capacity bytes are written, the input
    // runs out or the data ends; input is advanced past what was used and
    // produced receives the count written. Output held back by the end of
    // the buffer (a string or run that did not fit) comes with the next
    // call, even one without input.
    virtual TiffProblem decode(std::span<const std::uint8_t>& input, std::uint8_t* output, std::size_t capacity,
                               std::size_t& produced) = 0;
    // True once the data has said it ends (LZW's End of Information, the
    // end of the Deflate stream).
    virtual bool ended() const = 0;
};

// The decoder for a compression that is decoded a piece at a time (LZW,
// Deflate, PackBits); null for the others. Throws std::bad_alloc.
std::unique_ptr<ChunkStreamDecoder> makeChunkStreamDecoder(std::uint32_t compression);

// The most bytes inputBytes of data in the compression can decode to, for
// refusing sizes a file cannot fill before anything is allocated; the
// largest value for a compression without such a bound (JPEG).
std::uint64_t largestChunkOutput(std::uint32_t compression, std::uint64_t inputBytes);

}  // namespace calivant
