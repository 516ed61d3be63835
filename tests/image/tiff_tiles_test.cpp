// Tiled files against the strip path, and the reasons the reader gives.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/image_fixtures.h"
#include "image/tiff_reader.h"
#include "support/temp_folder.h"

namespace calivant {
namespace {

using testing::imageShowsPicture;
using testing::makePicture;
using testing::Picture;
using testing::TiffBuilder;
using testing::TiffOptions;
using testing::writeWithLibtiff;

int readMemory(const std::string& bytes, TargetImage& image, TiffProblem& problem) {
    MemoryByteSource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return readTiffImage(source, image, problem);
}

TiffProblem problemOf(const std::string& bytes) {
    TargetImage image;
    TiffProblem problem = TiffProblem::None;
    const int result = readMemory(bytes, image, problem);
    EXPECT_EQ(result != 0, problem != TiffProblem::None);
    if (result != 0) {
        EXPECT_TRUE(image.rows.empty());
    }
    return problem;
}

std::string text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

::testing::AssertionResult sameImage(const TargetImage& a, const TargetImage& b) {
    if (a.format != b.format || a.width != b.width || a.height != b.height || a.stride != b.stride ||
        a.resolution != b.resolution)
        return ::testing::AssertionFailure() << "records differ";
    for (std::size_t r = 0; r < a.rows.size(); ++r)
        if (std::memcmp(a.rows[r], b.rows[r], static_cast<std::size_t>(a.stride)) != 0)
            return ::testing::AssertionFailure() << "row " << r << " differs";
    return ::testing::AssertionSuccess();
}

class TiffTiles : public ::testing::Test {
protected:
    // The picture written tiled and in strips; both must read, the tiled
    // one showing the picture and giving the strip path's image byte for byte.
    void expectSameAsStrips(const Picture& picture, TiffOptions o, bool inverted, const std::string& what) {
        SCOPED_TRACE(what);
        TargetImage strips;
        TiffProblem problem = TiffProblem::None;
        o.rowsPerStrip = 5;
        ASSERT_EQ(readMemory(writeWithLibtiff(folder.path(), picture, o), strips, problem), 0);
        for (const auto& [width, length] : {std::pair{16u, 16u}, std::pair{32u, 48u}, std::pair{80u, 16u}}) {
            o.tileWidth = width;
            o.tileLength = length;
            TargetImage tiles;
            ASSERT_EQ(readMemory(writeWithLibtiff(folder.path(), picture, o), tiles, problem), 0)
                << width << " x " << length << ": " << tiffProblemText(problem);
            EXPECT_TRUE(imageShowsPicture(tiles, picture, o.orientation, inverted)) << width << " x " << length;
            // Bilevel rows end in bits no pixel owns; whatever the file held there differs.
            if (picture.bits > 1) {
                EXPECT_TRUE(sameImage(tiles, strips)) << width << " x " << length;
            }
        }
    }

    testing::TempFolder folder;
};

TEST_F(TiffTiles, ReadLikeStrips) {
    // 37 x 29 leaves partial tiles on the right and at the bottom.
    for (int bits : {8, 16})
        for (int samples : {3, 4})
            for (bool bigEndian : {false, true})
                for (const auto& [compression, predictor] : {std::pair{1, 1}, std::pair{5, 1}, std::pair{5, 2}}) {
                    TiffOptions o;
                    o.bigEndian = bigEndian;
                    o.compression = compression;
                    o.predictor = predictor;
                    expectSameAsStrips(makePicture(37, 29, samples, bits), o, false,
                                       std::to_string(bits) + " bits, " + std::to_string(samples) + " samples, " +
                                           (bigEndian ? "MM" : "II") + ", compression " + std::to_string(compression) +
                                           ", predictor " + std::to_string(predictor));
                }
    for (int bits : {1, 4, 8, 16}) {
        TiffOptions o;
        o.photometric = 0;
        o.compression = 5;
        o.predictor = bits >= 8 ? 2 : 1;
        expectSameAsStrips(makePicture(37, 29, 1, bits), o, true, std::to_string(bits) + " bits white-is-zero");
    }
    for (int orientation = 2; orientation <= 8; ++orientation) {
        TiffOptions o;
        o.orientation = orientation;
        expectSameAsStrips(makePicture(41, 23, 3, 16), o, false, "orientation " + std::to_string(orientation));
    }
}

// Every refusal says why: a valid file broken in one place per row.
TEST_F(TiffTiles, RefusalsSayWhy) {
    const Picture picture = makePicture(37, 29, 3, 16);
    TiffOptions tiledLzw;
    tiledLzw.compression = 5;
    tiledLzw.tileWidth = 16;
    tiledLzw.tileLength = 16;
    const std::string tiled = writeWithLibtiff(folder.path(), picture, tiledLzw);
    TiffOptions bilevelOptions = tiledLzw;
    bilevelOptions.compression = 1;
    const std::string bilevel = writeWithLibtiff(folder.path(), makePicture(37, 29, 1, 1), bilevelOptions);
    const std::string strips = writeWithLibtiff(folder.path(), picture, {});
    const std::vector<std::uint8_t> pixels = {10, 20, 30};
    auto rgbWith = [&](std::uint16_t tag, std::vector<std::uint32_t> values) {
        return text(testing::rgbFile(1, 1, pixels).entry(tag, 3, values).build());
    };
    auto changed = [](std::string file, const std::function<void(std::string&)>& change) {
        change(file);
        return file;
    };
    // A 48-bit picture in one strip or tile, claimed by a file of a few hundred bytes.
    auto claim = [](std::uint32_t width, std::uint32_t height, bool tiles) {
        TiffBuilder b;
        b.data(std::vector<std::uint8_t>(64, 0)).entry(256, 4, {width}).entry(257, 4, {height});
        b.entry(258, 3, {16, 16, 16}).entry(262, 3, {2}).entry(277, 3, {3});
        if (tiles)
            b.entry(322, 4, {width}).entry(323, 4, {height}).entry(324, 4, {8}).entry(325, 4, {64});
        else
            b.entry(273, 4, {8}).entry(279, 4, {64});
        return text(b.build());
    };
    TiffOptions signedOptions;
    signedOptions.sampleFormat = 2;
    TiffOptions floatOptions;
    floatOptions.sampleFormat = 3;

    struct Case {
        const char* what;
        std::string file;
        TiffProblem problem;
    };
    const Case cases[] = {
        {"not a TIFF", "GIF89a", TiffProblem::NotTiff},
        {"header cut", strips.substr(0, 6), TiffProblem::Truncated},
        {"JPEG", rgbWith(259, {7}), TiffProblem::CompressionNotSupported},
        {"signed samples", writeWithLibtiff(folder.path(), picture, signedOptions),
         TiffProblem::SampleFormatNotSupported},
        {"16-bit floating point", writeWithLibtiff(folder.path(), makePicture(9, 7, 1, 16), floatOptions),
         TiffProblem::SampleFormatNotSupported},
        {"one sample of three floating point", rgbWith(339, {1, 1, 3}), TiffProblem::SampleFormatNotSupported},
        {"12 bits", rgbWith(258, {12}), TiffProblem::BitsNotSupported},
        {"two samples", rgbWith(277, {2}), TiffProblem::SamplesNotSupported},
        {"colour bits, one sample", rgbWith(277, {1}), TiffProblem::BitsAndSamplesDisagree},
        {"palette", rgbWith(262, {3}), TiffProblem::PhotometricNotSupported},
        {"planar", rgbWith(284, {2}), TiffProblem::PlanarNotSupported},
        {"fill order", rgbWith(266, {2}), TiffProblem::FillOrderNotSupported},
        {"reduced resolution", rgbWith(255, {2}), TiffProblem::SubfileNotSupported},
        {"orientation 9", rgbWith(274, {9}), TiffProblem::OrientationInvalid},
        {"predictor 3", rgbWith(317, {3}), TiffProblem::PredictorNotSupported},
        {"width 0", rgbWith(256, {0}), TiffProblem::InvalidSize},
        {"no strip offsets", changed(strips, [](std::string& f) { testing::findEntry(f, 273)[0] = 0x70; }),
         TiffProblem::InvalidLayout},
        {"200000 pixels wide", claim(200000, 1, false), TiffProblem::TooWide},
        {"20000 x 20000", claim(20000, 20000, false), TiffProblem::RasterTooLarge},
        {"a tile claimed by a small file", claim(16000, 12000, true), TiffProblem::Truncated},
        {"tile width 0", changed(tiled, [](std::string& f) { testing::setEntryValue(f, 322, 0); }),
         TiffProblem::InvalidLayout},
        {"no tile length", changed(tiled, [](std::string& f) { testing::findEntry(f, 323)[0] = 0x70; }),
         TiffProblem::InvalidLayout},
        {"no tile offsets", changed(tiled, [](std::string& f) { testing::findEntry(f, 324)[0] = 0x70; }),
         TiffProblem::InvalidLayout},
        {"too few tile offsets",
         changed(tiled, [](std::string& f) { testing::findEntry(f, 324)[f[0] == 'I' ? 4 : 7] = 5; }),
         TiffProblem::InvalidLayout},
        {"tile offset past the end",
         changed(tiled, [](std::string& f) { testing::setEntryArrayValue(f, 324, 2, 0x7FFFFFFF); }),
         TiffProblem::Truncated},
        {"tile data cut short",
         changed(tiled,
                 [](std::string& f) {
                     testing::setEntryArrayValue(f, 325, 1, testing::entryArrayValue(f, 325, 1) / 2);
                 }),
         TiffProblem::DamagedData},
        {"bilevel tile 12 wide", changed(bilevel, [](std::string& f) { testing::setEntryValue(f, 322, 12); }),
         TiffProblem::InvalidLayout},
        {"48-bit tile 50000 wide", changed(tiled, [](std::string& f) { testing::setEntryValue(f, 322, 50000); }),
         TiffProblem::TooWide},
    };
    ASSERT_EQ(problemOf(tiled), TiffProblem::None);
    ASSERT_EQ(problemOf(bilevel), TiffProblem::None);
    ASSERT_EQ(problemOf(strips), TiffProblem::None);
    for (const Case& c : cases) EXPECT_EQ(problemOf(c.file), c.problem) << c.what;
}

}  // namespace
}  // namespace calivant
