#pragma once
// TIFF's LZW (compression 5): codes packed most significant bit first, 9 bits
// wide after a Clear and one bit wider each time the next free code passes
// 510, 1022 and 2046 (one code early, as TIFF writers do), at most 12 bits.
// Code 256 is Clear, 257 End of Information, 258 the first string code.
//
// The decoder works incrementally so that a strip can be decoded a few rows
// at a time from input read a piece at a time: a large single-strip scan then
// needs no strip-sized buffers.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace calivant {

inline constexpr std::int32_t kLzwClear = 256;
inline constexpr std::int32_t kLzwEnd = 257;
inline constexpr std::int32_t kLzwFirstCode = 258;
inline constexpr std::int32_t kLzwTableSize = 4097;
// Every string code extends an older code by one byte, so the longest string
// is that of code 4096: 3840 bytes.
inline constexpr std::uint64_t kLzwLongestString = kLzwTableSize - 1 - 256;

// The most bytes inputBytes of LZW data can decode to: every code takes at
// least 9 bits and yields at most kLzwLongestString bytes. Flat synthetic
// targets really do compress by hundreds to one, so this is the honest
// bound for sizing checks.
std::uint64_t lzwLargestOutput(std::uint64_t inputBytes);

// The older bit-reversed LZW of early TIFF writers, which is refused: its
// data starts with a zero byte followed by one with its lowest bit set.
bool isOldStyleLzw(std::span<const std::uint8_t> start);

struct LzwDecoder {
    // One string per code, packed in 64 bits so that an entry is written and
    // read back in one piece: the code of the string without its last byte
    // (bits 0-15), its length (16-31), its last byte (32-39) and its first
    // byte (40-47).
    std::array<std::uint64_t, kLzwTableSize> table{};
    std::int32_t nextFree = kLzwFirstCode;
    std::int32_t codeWidth = 9;
    std::int32_t widthLimit = 510;
    std::int32_t previous = -1;  // -1: no previous code (start, or just after Clear)
    std::uint64_t bits = 0;      // input bits not yet used, the newest lowest
    std::int32_t bitCount = 0;
    // A string cut by the end of an output buffer: its code and the bytes of
    // it already written.
    std::int32_t pendingCode = -1;
    std::uint32_t pendingWritten = 0;
    bool ended = false;  // End of Information seen
};

// Prepares decoder for a new strip.
void startLzw(LzwDecoder& decoder);

// Decodes input into output until capacity bytes are written, the input runs
// out or End of Information is met; input is advanced past what was used and
// produced receives the count written. A string that does not fit is
// finished by the next call. Bytes of output past the count written may
// have been overwritten. Returns 1 for data that is not valid LZW: a code
// beyond the table, a full table, or a string code where a literal must come
// (first code of the data or after a Clear).
//
// Data that does not start with Clear is decoded as if it did.
int decodeLzw(LzwDecoder& decoder, std::span<const std::uint8_t>& input, std::uint8_t* output,
              std::size_t capacity, std::size_t& produced);

// A decoder for a whole strip or tile held in memory at once, decoded into
// one buffer: every string is then a stretch of earlier output, copied a
// word at a time instead of walked back byte by byte. Its output and its
// failures are those of decodeLzw going through the same data.
struct LzwChunkDecoder {
    // Per code: where its string starts in bytes (bits 0-31) and its length
    // (32-63). Codes 0..255 point at bytes 0..255, which hold themselves.
    std::array<std::uint64_t, kLzwTableSize> table{};
    // The literals, then the output from kLzwOutputStart on, then room for
    // a last string that overruns what was asked for.
    std::vector<std::uint8_t> bytes;
};

inline constexpr std::size_t kLzwOutputStart = 256;
inline constexpr std::size_t kLzwOverrun = kLzwLongestString + 16;

// Makes room for chunks of up to capacity bytes; throws std::bad_alloc.
void prepareLzwChunk(LzwChunkDecoder& decoder, std::size_t capacity);

// Decodes input, a whole strip or tile, until capacity bytes are written
// (at most the capacity prepared), the input runs out or End of
// Information is met; the output is at decoder.bytes.data() +
// kLzwOutputStart and produced the count of it that is valid (at most
// capacity). Returns 1 for data that is not valid LZW, as decodeLzw does.
int decodeLzwChunk(LzwChunkDecoder& decoder, std::span<const std::uint8_t> input, std::size_t capacity,
                   std::size_t& produced);

// Decodes one whole strip of count bytes into output, producing at most limit
// bytes: a string that would pass the limit keeps its leading bytes. Result 0
// when decoding ends normally (End of Information, input used up, or the
// limit reached), with produced the count written; 1 for bad or old-style
// data.
int readLzwStrip(const std::uint8_t* input, std::size_t count, std::uint8_t* output, std::size_t limit,
                 std::size_t& produced);

}  // namespace calivant
