#include "image/chunk_decoders.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "image/lzw_decoder.h"

namespace calivant {
namespace {

class LzwStream final : public ChunkStreamDecoder {
public:
    void start() override { startLzw(lzw_); }
    TiffProblem begin(std::span<const std::uint8_t> firstPiece) override {
        return isOldStyleLzw(firstPiece) ? TiffProblem::CompressionNotSupported : TiffProblem::None;
    }
    TiffProblem decode(std::span<const std::uint8_t>& input, std::uint8_t* output, std::size_t capacity,
                       std::size_t& produced) override {
        return decodeLzw(lzw_, input, output, capacity, produced) == 0 ? TiffProblem::None : TiffProblem::DamagedData;
    }
    bool ended() const override { return lzw_.ended; }

private:
    LzwDecoder lzw_;
};

// TIFF's Deflate is a zlib stream (with its header and checksum) per chunk.
class DeflateStream final : public ChunkStreamDecoder {
public:
    DeflateStream() {
        if (inflateInit(&z_) != Z_OK) throw std::bad_alloc();
    }
    ~DeflateStream() override { inflateEnd(&z_); }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    void start() override {
        inflateReset(&z_);
        ended_ = false;
    }
    TiffProblem decode(std::span<const std::uint8_t>& input, std::uint8_t* output, std::size_t capacity,
                       std::size_t& produced) override {
        produced = 0;
        // zlib counts in 32 bits; the buffers here are far smaller, but a
        // call never asks for more than it can count.
        constexpr std::size_t kLargest = std::numeric_limits<uInt>::max();
        z_.next_in = const_cast<Bytef*>(input.data());
        z_.avail_in = static_cast<uInt>(std::min(input.size(), kLargest));
        z_.next_out = output;
        z_.avail_out = static_cast<uInt>(std::min(capacity, kLargest));
        const uInt inputGiven = z_.avail_in;
        const uInt outputGiven = z_.avail_out;
        const int status = ended_ ? Z_STREAM_END : inflate(&z_, Z_NO_FLUSH);
        input = input.subspan(inputGiven - z_.avail_in);
        produced = outputGiven - z_.avail_out;
        switch (status) {
            case Z_OK:
            case Z_BUF_ERROR: return TiffProblem::None;  // no progress without more input or room
            case Z_STREAM_END: ended_ = true; return TiffProblem::None;
            case Z_MEM_ERROR: return TiffProblem::OutOfMemory;
            default: return TiffProblem::DamagedData;
        }
    }
    bool ended() const override { return ended_; }

private:
    z_stream z_{};
    bool ended_ = false;
};

class PackBitsStream final : public ChunkStreamDecoder {
public:
    void start() override {
        literal_ = 0;
        run_ = 0;
        runByteDue_ = false;
    }
    TiffProblem decode(std::span<const std::uint8_t>& input, std::uint8_t* output, std::size_t capacity,
                       std::size_t& produced) override {
        std::size_t out = 0;
        std::size_t in = 0;
        while (out < capacity) {
            if (literal_ > 0) {
                const std::size_t n = std::min({literal_, capacity - out, input.size() - in});
                if (n == 0) break;
                std::memcpy(output + out, input.data() + in, n);
                literal_ -= n;
                out += n;
                in += n;
                continue;
            }
            if (run_ > 0) {
                if (runByteDue_) {
                    if (in == input.size()) break;
                    runByte_ = input[in++];
                    runByteDue_ = false;
                }
                const std::size_t n = std::min(run_, capacity - out);
                std::memset(output + out, runByte_, n);
                run_ -= n;
                out += n;
                continue;
            }
            if (in == input.size()) break;
            const auto header = static_cast<std::int8_t>(input[in++]);
            if (header >= 0) {
                literal_ = static_cast<std::size_t>(header) + 1;
            } else if (header != -128) {
                run_ = static_cast<std::size_t>(1 - header);
                runByteDue_ = true;
            }
        }
        input = input.subspan(in);
        produced = out;
        return TiffProblem::None;
    }
    // PackBits has no end marker: its data ends with its bytes.
    bool ended() const override { return false; }

private:
    std::size_t literal_ = 0;
    std::size_t run_ = 0;
    bool runByteDue_ = false;
    std::uint8_t runByte_ = 0;
};

}  // namespace

std::unique_ptr<ChunkStreamDecoder> makeChunkStreamDecoder(std::uint32_t compression) {
    switch (compression) {
        case kCompressionLzw: return std::make_unique<LzwStream>();
        case kCompressionDeflate:
        case kCompressionDeflateOld: return std::make_unique<DeflateStream>();
        case kCompressionPackBits: return std::make_unique<PackBitsStream>();
        default: return nullptr;
    }
}

std::uint64_t largestChunkOutput(std::uint32_t compression, std::uint64_t inputBytes) {
    // Sizes are bounded by the file's, far below where these products overflow.
    switch (compression) {
        case kCompressionNone: return inputBytes;
        case kCompressionLzw: return lzwLargestOutput(inputBytes);
        // 258 bytes from a length and a distance code of one bit each.
        case kCompressionDeflate:
        case kCompressionDeflateOld: return inputBytes * 1032 + 258;
        // 128 bytes from a header and a byte to repeat.
        case kCompressionPackBits: return (inputBytes + 1) / 2 * 128;
        default: return std::numeric_limits<std::uint64_t>::max();
    }
}

}  // namespace calivant
