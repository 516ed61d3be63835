#pragma once
// libjpeg (libjpeg-turbo) for the JPEG reader and for JPEG-compressed TIFF
// strips and tiles, with an error manager that never exits and never
// prints: a failure ends the call with libjpeg's own words. So do the
// warnings that mean damaged or missing data (a truncated file is never
// padded with gray, as libjpeg would do), and a progressive file with an
// absurd number of scans. Internal to the image folder.
//
// libjpeg reports errors by a longjmp out of its own code. Every libjpeg
// call here is made from a member function whose locals are plain values
// set before its setjmp, and no C++ object with a destructor lives in the
// frames the jump passes (libjpeg's own and the callbacks of this file), so
// the jump skips no destructor.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "image/byte_source.h"

namespace calivant {

// What a JPEG stream holds, from its header.
struct JpegHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int components = 0;
    // The colour model libjpeg takes the data to be in.
    enum class Colours { Gray, Rgb, YCbCr, Cmyk, Ycck, Other } colours = Colours::Other;
    // JFIF density: 0 none, 1 per inch, 2 per centimetre.
    int densityUnit = 0;
    std::uint16_t xDensity = 0;
};

class JpegDecompressor {
public:
    // Throws std::bad_alloc. memoryLimit bounds what libjpeg itself may
    // allocate (progressive files hold every coefficient).
    explicit JpegDecompressor(std::uint64_t memoryLimit);
    ~JpegDecompressor();
    JpegDecompressor(const JpegDecompressor&) = delete;
    JpegDecompressor& operator=(const JpegDecompressor&) = delete;

    // The next stream is count bytes of file from offset on, read a piece
    // at a time.
    void setInput(const ByteSource& file, std::uint64_t offset, std::uint64_t count);

    // Reads a stream of tables only (a TIFF file's JPEGTables); the tables
    // stay for the streams read after it. False on failure.
    bool readTables();
    // Reads the header of an image stream; with keepExif the Exif block of
    // an APP1 marker is kept (exifBlock). False on failure.
    bool readHeader(bool keepExif, JpegHeader& header);
    // Starts decoding after readHeader: the data taken to be in colours and
    // delivered as out: gray, or 3 bytes per pixel red first or blue first.
    // False on failure.
    enum class Output { Gray, Rgb, Bgr };
    bool start(JpegHeader::Colours colours, Output out);
    // The next count rows, top first. False on failure.
    bool readRows(std::uint8_t* const* rows, std::size_t count);
    // Reads the rest of the stream after its last row, up to its end
    // marker: a file that ends early fails here. False on failure.
    bool readToEnd();
    // Ends the current stream wherever it stands; the tables are kept.
    void finish();

    // The TIFF data inside the Exif APP1 marker (after "Exif\0\0"); empty
    // when the stream has none.
    std::span<const std::uint8_t> exifBlock() const;
    // Why the last call failed, in libjpeg's words.
    std::string message() const;

private:
    struct Session;
    std::unique_ptr<Session> s_;
};

}  // namespace calivant
