#include "make-target/picture_files.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <memory>
#include <vector>

#include "make-target/synthetic_tiff.h"

namespace calivant {
namespace {

int fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return 1;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool validPicture(const SyntheticPicture& p) {
    return p.width > 0 && p.height > 0 &&
           p.samples.size() == static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height) * 3;
}

// Both libraries report errors by a longjmp; the writers below keep every
// object with a destructor outside the functions that set the jump.
bool writePngRows(png_structp png, png_infop info, std::FILE* file, const SyntheticPicture* picture, bool alpha,
                  bool interlaced, std::vector<png_bytep>* rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture->width), static_cast<png_uint_32>(picture->height),
                 picture->bitsPerSample, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows->data());
    png_write_end(png, nullptr);
    return true;
}

struct JpegErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void jpegError(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1); }

bool writeJpegRows(jpeg_compress_struct* info, const std::vector<std::uint8_t>* exif,
                   const std::vector<std::uint8_t>* raster, int rowBytes) {
    if (setjmp(reinterpret_cast<JpegErrors*>(info->err)->jump)) return false;
    jpeg_start_compress(info, TRUE);
    if (!exif->empty()) jpeg_write_marker(info, JPEG_APP0 + 1, exif->data(), static_cast<unsigned>(exif->size()));
    while (info->next_scanline < info->image_height) {
        auto* row = const_cast<JSAMPROW>(raster->data() + std::size_t{info->next_scanline} * rowBytes);
        jpeg_write_scanlines(info, &row, 1);
    }
    jpeg_finish_compress(info);
    return true;
}

bool createJpeg(jpeg_compress_struct* info, std::FILE* file) {
    if (setjmp(reinterpret_cast<JpegErrors*>(info->err)->jump)) return false;
    jpeg_create_compress(info);
    jpeg_stdio_dest(info, file);
    return true;
}

bool setUpJpeg(jpeg_compress_struct* info, int width, int height, const JpegWriteOptions* o) {
    if (setjmp(reinterpret_cast<JpegErrors*>(info->err)->jump)) return false;
    info->image_width = static_cast<JDIMENSION>(width);
    info->image_height = static_cast<JDIMENSION>(height);
    info->input_components = 3;
    info->in_color_space = JCS_RGB;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, o->quality, TRUE);
    if (o->progressive) jpeg_simple_progression(info);
    return true;
}

// An Exif block whose TIFF directory holds Orientation alone.
std::vector<std::uint8_t> exifWithOrientation(int orientation) {
    return {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,  // header, directory at 8
            1,   0,                                                  // one entry
            0x12, 0x01, 3, 0, 1, 0, 0, 0, static_cast<std::uint8_t>(orientation), 0, 0, 0,
            0,   0,   0,   0};  // no next directory
}

}  // namespace

int writeSyntheticPng(const std::string& path, const SyntheticPicture& picture, const PngWriteOptions& options,
                      std::string* error) {
    if (!validPicture(picture) || (picture.bitsPerSample != 8 && picture.bitsPerSample != 16))
        return fail(error, "picture is empty or not of 8 or 16 bits");
    const int samples = options.alpha ? 4 : 3;
    const int bytes = picture.bitsPerSample / 8;
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * samples * bytes;
    std::vector<std::uint8_t> raster(rowBytes * picture.height);
    std::vector<png_bytep> rows(static_cast<std::size_t>(picture.height));
    for (int y = 0; y < picture.height; ++y) {
        std::uint8_t* row = raster.data() + rowBytes * y;
        rows[static_cast<std::size_t>(y)] = row;
        for (int x = 0; x < picture.width; ++x)
            for (int c = 0; c < samples; ++c) {
                const std::uint16_t v = c < 3 ? picture.sample(x, y, c) : (bytes == 1 ? 255 : 65535);
                std::uint8_t* p = row + (static_cast<std::size_t>(x) * samples + c) * bytes;
                if (bytes == 1) p[0] = static_cast<std::uint8_t>(v);
                else p[0] = static_cast<std::uint8_t>(v >> 8), p[1] = static_cast<std::uint8_t>(v);  // big-endian
            }
    }
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) return fail(error, "cannot create " + path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool ok = info && writePngRows(png, info, file.get(), &picture, options.alpha, options.interlaced, &rows);
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!ok || std::fflush(file.get()) != 0) return fail(error, "cannot write " + path);
    return 0;
}

int writeSyntheticJpeg(const std::string& path, const SyntheticPicture& picture, const JpegWriteOptions& options,
                       std::string* error) {
    if (!validPicture(picture) || picture.bitsPerSample != 8) return fail(error, "JPEG takes 8-bit pictures only");
    if (options.orientation < 1 || options.orientation > 8) return fail(error, "orientation must lie in 1..8");
    if (options.quality < 1 || options.quality > 100) return fail(error, "quality must lie in 1..100");
    int width = 0, height = 0;
    storedSize(options.orientation, picture.width, picture.height, width, height);
    const int rowBytes = width * 3;
    std::vector<std::uint8_t> raster(static_cast<std::size_t>(rowBytes) * height);
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            int x = 0, y = 0;
            uprightPosition(options.orientation, picture.width, picture.height, column, row, x, y);
            for (int c = 0; c < 3; ++c)
                raster[static_cast<std::size_t>(row) * rowBytes + column * 3 + c] =
                    static_cast<std::uint8_t>(picture.sample(x, y, c));
        }
    const std::vector<std::uint8_t> exif =
        options.orientation == 1 ? std::vector<std::uint8_t>{} : exifWithOrientation(options.orientation);

    File file(std::fopen(path.c_str(), "wb"));
    if (!file) return fail(error, "cannot create " + path);
    jpeg_compress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jpegError;
    const bool ok = createJpeg(&info, file.get()) && setUpJpeg(&info, width, height, &options) &&
                    writeJpegRows(&info, &exif, &raster, rowBytes);
    jpeg_destroy_compress(&info);
    if (!ok || std::fflush(file.get()) != 0) return fail(error, "cannot write " + path);
    return 0;
}

}  // namespace calivant
