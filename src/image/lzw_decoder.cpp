#include "image/lzw_decoder.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace calivant {
namespace {

constexpr std::int32_t kMaxCodeWidth = 12;
constexpr std::uint32_t kNoPrefix = 0xFFFF;

constexpr std::uint64_t makeEntry(std::uint32_t prefix, std::uint32_t length, std::uint32_t last, std::uint32_t first) {
    return std::uint64_t{prefix} | (std::uint64_t{length} << 16) | (std::uint64_t{last} << 32) |
           (std::uint64_t{first} << 40);
}
constexpr std::int32_t prefixOf(std::uint64_t e) { return static_cast<std::int32_t>(e & 0xFFFF); }
constexpr std::uint32_t lengthOf(std::uint64_t e) { return static_cast<std::uint32_t>((e >> 16) & 0xFFFF); }
constexpr std::uint8_t lastOf(std::uint64_t e) { return static_cast<std::uint8_t>(e >> 32); }
constexpr std::uint32_t firstOf(std::uint64_t e) { return static_cast<std::uint32_t>((e >> 40) & 0xFF); }

// Writes bytes [from, to) of the string of code, whose length is length, to
// out[0 .. to - from). Strings are stored back to front, so the walk starts
// at the last byte and skips the tail first.
void writeString(const std::uint64_t* table, std::int32_t code, std::uint32_t length, std::uint32_t from,
                 std::uint32_t to, std::uint8_t* out) {
    std::uint32_t k = length;
    std::int32_t c = code;
    while (k > to) {
        c = prefixOf(table[c]);
        --k;
    }
    std::uint8_t* p = out + (to - from);
    while (k > from) {
        const std::uint64_t e = table[c];
        *--p = lastOf(e);
        c = prefixOf(e);
        --k;
    }
}

// Takes the next code of `width` bits, refilling the bit buffer from
// [in, inEnd) with whole bytes while they fit in 64 bits, so that one refill
// serves several codes. False when the input ends first.
inline bool nextCode(const std::uint8_t*& in, const std::uint8_t* inEnd, std::uint64_t& bits, std::int32_t& bitCount,
                     std::int32_t width, std::int32_t& code) {
    if (bitCount < width) {
        if (inEnd - in >= 8) {
            const int take = (63 - bitCount) >> 3;
            std::uint64_t next = 0;
            for (int k = 0; k < 8; ++k) next = (next << 8) | in[k];
            bits = (bits << (8 * take)) | (next >> (64 - 8 * take));
            in += take;
            bitCount += 8 * take;
        } else {
            while (bitCount < width) {
                if (in == inEnd) return false;
                bits = (bits << 8) | *in++;
                bitCount += 8;
            }
        }
    }
    bitCount -= width;
    code = static_cast<std::int32_t>((bits >> bitCount) & ((1u << width) - 1u));
    return true;
}

}  // namespace

std::uint64_t lzwLargestOutput(std::uint64_t inputBytes) {
    return (inputBytes * 8 / 9 + 1) * kLzwLongestString;
}

bool isOldStyleLzw(std::span<const std::uint8_t> start) {
    return start.size() >= 2 && start[0] == 0 && (start[1] & 1) != 0;
}

void startLzw(LzwDecoder& decoder) {
    for (std::uint32_t i = 0; i < 256; ++i) decoder.table[i] = makeEntry(kNoPrefix, 1, i, i);
    // Clear and End of Information are never looked up as strings.
    decoder.table[kLzwClear] = makeEntry(kNoPrefix, 0, 0, 0);
    decoder.table[kLzwEnd] = makeEntry(kNoPrefix, 0, 0, 0);
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
    std::uint64_t* const table = decoder.table.data();
    std::size_t written = 0;

    if (decoder.pendingCode >= 0 && capacity > 0) {
        const std::uint32_t length = lengthOf(table[decoder.pendingCode]);
        const std::uint32_t to =
            static_cast<std::uint32_t>(std::min<std::size_t>(length, decoder.pendingWritten + capacity));
        writeString(table, decoder.pendingCode, length, decoder.pendingWritten, to, output);
        written = to - decoder.pendingWritten;
        decoder.pendingWritten = to;
        if (to == length) decoder.pendingCode = -1;
    }

    const std::uint8_t* in = input.data();
    const std::uint8_t* const inEnd = in + input.size();
    // Working copies: the output bytes may alias anything, so fields read
    // through decoder would be reloaded after every byte written.
    std::uint64_t bits = decoder.bits;
    std::int32_t bitCount = decoder.bitCount;
    std::int32_t width = decoder.codeWidth;
    std::int32_t widthLimit = decoder.widthLimit;
    std::int32_t nextFree = decoder.nextFree;
    std::int32_t previous = decoder.previous;
    std::uint64_t previousEntry = previous >= 0 ? table[previous] : 0;
    bool ended = decoder.ended;
    int result = 0;

    while (written < capacity && !ended) {
        std::int32_t code = 0;
        if (!nextCode(in, inEnd, bits, bitCount, width, code)) goto done;

        if (code == kLzwEnd) {
            ended = true;
            break;
        }
        if (code == kLzwClear) {
            nextFree = kLzwFirstCode;
            width = 9;
            widthLimit = 510;
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
            previousEntry = table[code];
            continue;
        }

        if (nextFree >= kLzwTableSize) {
            result = 1;
            goto done;
        }
        // Every code below nextFree holds a string built from earlier ones;
        // the code being defined (nextFree) is the previous string plus its
        // own first byte; any later code is not in the table.
        if (code > nextFree) {
            result = 1;
            goto done;
        }
        const bool known = code < nextFree;
        const std::uint64_t current = table[code];
        const std::uint32_t previousFirst = firstOf(previousEntry);
        const std::uint64_t added = makeEntry(static_cast<std::uint32_t>(previous), lengthOf(previousEntry) + 1,
                                              known ? firstOf(current) : previousFirst, previousFirst);
        table[nextFree] = added;
        const std::uint64_t entry = known ? current : added;
        ++nextFree;
        if (nextFree > widthLimit) {
            widthLimit = 2 * widthLimit + 2;
            // Codes never grow past 12 bits in TIFF; a writer that lets the
            // table fill without a Clear still writes 12-bit codes.
            if (width < kMaxCodeWidth) ++width;
        }

        const std::uint32_t length = lengthOf(entry);
        const std::size_t room = capacity - written;
        if (length <= 2 && room >= 2) {
            // Literals and two-byte strings, most codes of a noisy scan,
            // need no walk. A literal's second byte is overwritten by the
            // next string.
            output[written] = static_cast<std::uint8_t>(firstOf(entry));
            output[written + 1] = lastOf(entry);
            written += length;
        } else if (length <= room) {
            std::uint8_t* p = output + written + length;
            std::int32_t c = code;
            do {
                const std::uint64_t e = table[c];
                *--p = lastOf(e);
                c = prefixOf(e);
            } while (p != output + written);
            written += length;
        } else {
            writeString(table, code, length, 0, static_cast<std::uint32_t>(room), output + written);
            written += room;
            decoder.pendingCode = code;
            decoder.pendingWritten = static_cast<std::uint32_t>(room);
        }
        previous = code;
        previousEntry = entry;
    }

done:
    decoder.bits = bits;
    decoder.bitCount = bitCount;
    decoder.codeWidth = width;
    decoder.widthLimit = widthLimit;
    decoder.nextFree = nextFree;
    decoder.previous = previous;
    decoder.ended = ended;
    input = input.subspan(static_cast<std::size_t>(in - input.data()));
    produced = written;
    return result;
}

void prepareLzwChunk(LzwChunkDecoder& decoder, std::size_t capacity) {
    decoder.bytes.resize(kLzwOutputStart + capacity + kLzwOverrun);
    for (std::uint32_t i = 0; i < 256; ++i) {
        decoder.bytes[i] = static_cast<std::uint8_t>(i);
        decoder.table[i] = std::uint64_t{i} | (std::uint64_t{1} << 32);
    }
}

int decodeLzwChunk(LzwChunkDecoder& decoder, std::span<const std::uint8_t> input, std::size_t capacity,
                   std::size_t& produced) {
    assert(decoder.bytes.size() >= kLzwOutputStart + capacity + kLzwOverrun);
    std::uint64_t* const table = decoder.table.data();
    std::uint8_t* const base = decoder.bytes.data();
    const std::size_t end = kLzwOutputStart + capacity;
    std::size_t at = kLzwOutputStart;

    const std::uint8_t* in = input.data();
    const std::uint8_t* const inEnd = in + input.size();
    std::uint64_t bits = 0;
    std::int32_t bitCount = 0;
    std::int32_t width = 9;
    std::int32_t widthLimit = 510;
    std::int32_t nextFree = kLzwFirstCode;
    std::int32_t previous = -1;
    std::uint64_t previousEntry = 0;
    int result = 0;

    // Copies length bytes from from to to in 16-byte steps. to lies after
    // every byte needed (from + length <= to, or the string being extended
    // ends at to), so what is read is never what this copy writes.
    auto copy = [](std::uint8_t* to, const std::uint8_t* from, std::uint32_t length) {
        std::uint8_t word[16];
        for (std::uint32_t k = 0; k < length; k += 16) {
            std::memcpy(word, from + k, 16);
            std::memcpy(to + k, word, 16);
        }
    };

    while (at < end) {
        std::int32_t code = 0;
        if (!nextCode(in, inEnd, bits, bitCount, width, code)) goto done;

        if (code == kLzwEnd) break;
        if (code == kLzwClear) {
            nextFree = kLzwFirstCode;
            width = 9;
            widthLimit = 510;
            previous = -1;
            continue;
        }
        if (previous < 0) {
            if (code > 255) {
                result = 1;
                goto done;
            }
            base[at] = static_cast<std::uint8_t>(code);
            previous = code;
            previousEntry = std::uint64_t{at} | (std::uint64_t{1} << 32);
            ++at;
            continue;
        }
        if (nextFree >= kLzwTableSize || code > nextFree) {
            result = 1;
            goto done;
        }
        // The new code's string is the previous one and the byte after it,
        // which is the first byte of the string about to be written there.
        const auto previousStart = static_cast<std::uint32_t>(previousEntry);
        const auto previousLength = static_cast<std::uint32_t>(previousEntry >> 32);
        const std::uint64_t added = std::uint64_t{previousStart} | (std::uint64_t{previousLength + 1} << 32);
        std::uint64_t entry;
        if (code < nextFree) {
            entry = table[code];
            copy(base + at, base + static_cast<std::uint32_t>(entry), static_cast<std::uint32_t>(entry >> 32));
        } else {
            // The string being defined: the previous one and its own first byte.
            entry = added;
            copy(base + at, base + previousStart, previousLength);
            base[at + previousLength] = base[previousStart];
        }
        table[nextFree] = added;
        ++nextFree;
        if (nextFree > widthLimit) {
            widthLimit = 2 * widthLimit + 2;
            if (width < kMaxCodeWidth) ++width;
        }
        previous = code;
        previousEntry = std::uint64_t{at} | (entry & 0xFFFFFFFF00000000u);
        at += static_cast<std::uint32_t>(entry >> 32);
    }

done:
    produced = std::min(at, end) - kLzwOutputStart;
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
