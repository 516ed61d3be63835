#include "image/lzw_decoder.h"

#include <algorithm>
#include <cassert>

namespace calivant {
namespace {

constexpr std::int32_t kMaxCodeWidth = 12;
constexpr std::uint16_t kNoPrefix = 0xFFFF;

// Writes bytes [from, to) of the string of code, whose length is length, to
// out[0 .. to - from). Strings are stored back to front, so the walk starts
// at the last byte and skips the tail first.
void writeString(const LzwDecoder::Entry* table, std::int32_t code, std::uint32_t length, std::uint32_t from,
                 std::uint32_t to, std::uint8_t* out) {
    std::uint32_t k = length;
    std::int32_t c = code;
    while (k > to) {
        c = table[c].prefix;
        --k;
    }
    std::uint8_t* p = out + (to - from);
    while (k > from) {
        *--p = table[c].last;
        c = table[c].prefix;
        --k;
    }
}

}  // namespace

std::uint64_t lzwLargestOutput(std::uint64_t inputBytes) {
    return (inputBytes * 8 / 9 + 1) * kLzwLongestString;
}

bool isOldStyleLzw(std::span<const std::uint8_t> start) {
    return start.size() >= 2 && start[0] == 0 && (start[1] & 1) != 0;
}

void startLzw(LzwDecoder& decoder) {
    for (std::int32_t i = 0; i < 256; ++i)
        decoder.table[static_cast<std::size_t>(i)] = {kNoPrefix, 1, static_cast<std::uint8_t>(i),
                                                      static_cast<std::uint8_t>(i)};
    // Clear and End of Information are never looked up as strings.
    decoder.table[kLzwClear] = {kNoPrefix, 0, 0, 0};
    decoder.table[kLzwEnd] = {kNoPrefix, 0, 0, 0};
    decoder.nextFree = kLzwFirstCode;
    decoder.codeWidth = 9;
    decoder.widthLimit = 510;
    decoder.previous = -1;
    decoder.bits = 0;
    decoder.bitCount = 0;
    decoder.pendingCode = -1;
    decoder.pendingWritten = 0;
    decoder.ended = false;
}

int decodeLzw(LzwDecoder& decoder, std::span<const std::uint8_t>& input, std::uint8_t* output,
              std::size_t capacity, std::size_t& produced) {
    LzwDecoder::Entry* const table = decoder.table.data();
    std::size_t written = 0;

    if (decoder.pendingCode >= 0 && capacity > 0) {
        const std::uint32_t length = table[decoder.pendingCode].length;
        const std::uint32_t to =
            static_cast<std::uint32_t>(std::min<std::size_t>(length, decoder.pendingWritten + capacity));
        writeString(table, decoder.pendingCode, length, decoder.pendingWritten, to, output);
        written = to - decoder.pendingWritten;
        decoder.pendingWritten = to;
        if (to == length) decoder.pendingCode = -1;
    }

    const std::uint8_t* in = input.data();
    const std::uint8_t* const inEnd = in + input.size();
    std::uint32_t bits = decoder.bits;
    std::int32_t bitCount = decoder.bitCount;
    std::int32_t width = decoder.codeWidth;
    std::int32_t nextFree = decoder.nextFree;
    std::int32_t previous = decoder.previous;
    int result = 0;

    while (written < capacity && !decoder.ended) {
        while (bitCount < width) {
            if (in == inEnd) goto done;
            bits = (bits << 8) | *in++;
            bitCount += 8;
        }
        bitCount -= width;
        const auto code = static_cast<std::int32_t>((bits >> bitCount) & ((1u << width) - 1u));

        if (code == kLzwEnd) {
            decoder.ended = true;
            break;
        }
        if (code == kLzwClear) {
            nextFree = kLzwFirstCode;
            width = 9;
            decoder.widthLimit = 510;
            previous = -1;
            continue;
        }
        if (previous < 0) {
            // Only a literal can follow Clear: the table is empty.
            if (code > 255) {
                result = 1;
                goto done;
            }
            output[written++] = static_cast<std::uint8_t>(code);
            previous = code;
            continue;
        }

        if (nextFree >= kLzwTableSize) {
            result = 1;
            goto done;
        }
        const LzwDecoder::Entry& before = table[previous];
        LzwDecoder::Entry& added = table[nextFree];
        added.prefix = static_cast<std::uint16_t>(previous);
        added.first = before.first;
        added.length = static_cast<std::uint16_t>(before.length + 1);
        added.last = code < nextFree ? table[code].first : before.first;
        ++nextFree;
        if (nextFree > decoder.widthLimit) {
            decoder.widthLimit = 2 * decoder.widthLimit + 2;
            // Codes never grow past 12 bits in TIFF; a writer that lets the
            // table fill without a Clear still writes 12-bit codes.
            if (width < kMaxCodeWidth) ++width;
        }
        // Every code below nextFree holds a string built from earlier ones,
        // so only the code itself needs checking.
        if (code >= nextFree) {
            result = 1;
            goto done;
        }

        if (code < 256) {
            output[written++] = static_cast<std::uint8_t>(code);
        } else {
            const std::uint32_t length = table[code].length;
            const std::size_t room = capacity - written;
            if (length <= room) {
                writeString(table, code, length, 0, length, output + written);
                written += length;
            } else {
                writeString(table, code, length, 0, static_cast<std::uint32_t>(room), output + written);
                written += room;
                decoder.pendingCode = code;
                decoder.pendingWritten = static_cast<std::uint32_t>(room);
            }
        }
        previous = code;
    }

done:
    decoder.bits = bits;
    decoder.bitCount = bitCount;
    decoder.codeWidth = width;
    decoder.nextFree = nextFree;
    decoder.previous = previous;
    input = input.subspan(static_cast<std::size_t>(in - input.data()));
    produced = written;
    return result;
}

int readLzwStrip(const std::uint8_t* input, std::size_t count, std::uint8_t* output, std::size_t limit,
                 std::size_t& produced) {
    produced = 0;
    std::span<const std::uint8_t> data(input, count);
    if (isOldStyleLzw(data)) return 1;
    LzwDecoder decoder;
    startLzw(decoder);
    return decodeLzw(decoder, data, output, limit, produced);
}

}  // namespace calivant
