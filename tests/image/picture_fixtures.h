#pragma once
// PNG and JPEG files made and decoded by libpng and libjpeg-turbo called
// directly: the oracles for what the picture reader must deliver. Both
// libraries jump out of errors with longjmp, so each call sits in a small
// function that holds nothing with a destructor.

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "image/image_fixtures.h"

namespace calivant::testing {

// The picture's bytes (samples in file order, 16-bit big-endian) as PNG of
// a colour type: PNG_COLOR_TYPE_GRAY, _RGB, _RGB_ALPHA (samples 1, 3, 4),
// or _PALETTE (an 8-bit RGB picture of at most 256 colours, the first made
// half transparent).
inline std::string writePng(const Picture& p, int colourType, bool interlaced = false) {
    const bool palette = colourType == PNG_COLOR_TYPE_PALETTE;
    std::vector<png_color> colours;
    std::vector<std::uint8_t> raster;
    std::map<std::vector<std::uint16_t>, std::uint8_t> index;
    const int bytes = p.bits == 16 ? 2 : 1;
    for (std::size_t i = 0; i < p.values.size(); i += static_cast<std::size_t>(p.samples)) {
        if (palette) {
            const std::vector<std::uint16_t> rgb(p.values.begin() + i, p.values.begin() + i + 3);
            if (!index.count(rgb)) {
                index[rgb] = static_cast<std::uint8_t>(colours.size());
                colours.push_back({std::uint8_t(rgb[0]), std::uint8_t(rgb[1]), std::uint8_t(rgb[2])});
            }
            raster.push_back(index[rgb]);
            continue;
        }
        for (int s = 0; s < p.samples; ++s) {
            if (bytes == 2) raster.push_back(static_cast<std::uint8_t>(p.values[i + s] >> 8));
            raster.push_back(static_cast<std::uint8_t>(p.values[i + s]));
        }
    }
    const std::size_t rowBytes = raster.size() / static_cast<std::size_t>(p.height);
    std::vector<png_bytep> rows;
    for (std::int32_t y = 0; y < p.height; ++y) rows.push_back(raster.data() + rowBytes * y);
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    struct Sink {
        static void write(png_structp png, png_bytep data, std::size_t n) {
            static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), n);
        }
        static void flush(png_structp) {}
        static bool run(png_structp png, png_infop info, const Picture* p, int type, bool interlaced,
                        const std::vector<png_color>* colours, png_bytepp rows) {
            if (setjmp(png_jmpbuf(png))) return false;
            png_set_IHDR(png, info, png_uint_32(p->width), png_uint_32(p->height), p->bits, type,
                         interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, 0, 0);
            if (type == PNG_COLOR_TYPE_PALETTE) {
                png_set_PLTE(png, info, colours->data(), int(colours->size()));
                png_byte half = 128;
                png_set_tRNS(png, info, &half, 1, nullptr);
            }
            png_write_info(png, info);
            png_write_image(png, rows);
            png_write_end(png, nullptr);
            return true;
        }
    };
    png_set_write_fn(png, &out, Sink::write, Sink::flush);
    const bool ok = Sink::run(png, info, &p, colourType, interlaced, &colours, rows.data());
    png_destroy_write_struct(&png, &info);
    if (!ok) throw std::runtime_error("libpng cannot write the picture");
    return out;
}

// What libpng itself makes of a PNG: palettes expanded to RGB (a tRNS chunk
// to alpha), gray below 8 bits widened, interlacing undone. Nothing with
// the gamma or a profile.
inline Picture decodePng(const std::string& bytes) {
    struct Source {
        const std::string* bytes;
        std::size_t at = 0;
        static void read(png_structp png, png_bytep out, std::size_t n) {
            auto* s = static_cast<Source*>(png_get_io_ptr(png));
            if (s->at + n > s->bytes->size()) png_error(png, "end");
            std::memcpy(out, s->bytes->data() + s->at, n);
            s->at += n;
        }
        static bool header(png_structp png, png_infop info) {
            if (setjmp(png_jmpbuf(png))) return false;
            png_read_info(png, info);
            png_set_palette_to_rgb(png);
            png_set_expand_gray_1_2_4_to_8(png);
            png_set_interlace_handling(png);
            png_read_update_info(png, info);
            return true;
        }
        static bool image(png_structp png, png_bytepp rows) {
            if (setjmp(png_jmpbuf(png))) return false;
            png_read_image(png, rows);
            return true;
        }
    } source{&bytes};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_read_fn(png, &source, Source::read);
    Picture p;
    std::vector<std::uint8_t> raster;
    std::vector<png_bytep> rows;
    bool ok = Source::header(png, info);
    if (ok) {
        p = {std::int32_t(png_get_image_width(png, info)), std::int32_t(png_get_image_height(png, info)),
             png_get_channels(png, info), png_get_bit_depth(png, info), {}};
        raster.resize(png_get_rowbytes(png, info) * std::size_t(p.height));
        for (std::int32_t y = 0; y < p.height; ++y) rows.push_back(raster.data() + png_get_rowbytes(png, info) * y);
        ok = Source::image(png, rows.data());
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) throw std::runtime_error("libpng cannot read the picture");
    for (std::size_t i = 0; i < raster.size(); i += p.bits / 8)
        p.values.push_back(p.bits == 16 ? std::uint16_t(raster[i] << 8 | raster[i + 1]) : raster[i]);
    return p;
}

// What libjpeg-turbo itself makes of a JPEG, in RGB, with its default
// settings; the raster as stored (no Exif orientation applied).
inline Picture decodeJpeg(const std::string& bytes) {
    struct Errors {
        jpeg_error_mgr base;
        std::jmp_buf jump;
        static void exit(j_common_ptr info) { std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1); }
        static bool header(jpeg_decompress_struct* d, const std::string* bytes) {
            if (setjmp(reinterpret_cast<Errors*>(d->err)->jump)) return false;
            jpeg_create_decompress(d);
            jpeg_mem_src(d, reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size());
            jpeg_read_header(d, TRUE);
            d->out_color_space = JCS_RGB;
            jpeg_start_decompress(d);
            return true;
        }
        static bool rows(jpeg_decompress_struct* d, std::uint8_t* raster) {
            if (setjmp(reinterpret_cast<Errors*>(d->err)->jump)) return false;
            while (d->output_scanline < d->output_height) {
                JSAMPROW row = raster + std::size_t(d->output_scanline) * d->output_width * 3;
                jpeg_read_scanlines(d, &row, 1);
            }
            return true;
        }
    } errors{};
    jpeg_decompress_struct d{};
    d.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = Errors::exit;
    Picture p;
    std::vector<std::uint8_t> raster;
    bool ok = Errors::header(&d, &bytes);
    if (ok) {
        p = {std::int32_t(d.output_width), std::int32_t(d.output_height), 3, 8, {}};
        raster.resize(std::size_t(p.width) * std::size_t(p.height) * 3);
        ok = Errors::rows(&d, raster.data());
    }
    jpeg_destroy_decompress(&d);
    if (!ok) throw std::runtime_error("libjpeg cannot read the picture");
    p.values.assign(raster.begin(), raster.end());
    return p;
}

// A flat JPEG of any colour model libjpeg writes: JCS_GRAYSCALE (1
// component), JCS_RGB (3), JCS_CMYK (4).
inline std::string encodeJpeg(int width, int height, J_COLOR_SPACE colours) {
    struct Run {
        static bool write(jpeg_compress_struct* c, const std::vector<std::uint8_t>* row) {
            if (setjmp(*static_cast<std::jmp_buf*>(c->client_data))) return false;
            jpeg_set_defaults(c);
            jpeg_start_compress(c, TRUE);
            while (c->next_scanline < c->image_height) {
                JSAMPROW r = const_cast<JSAMPROW>(row->data());
                jpeg_write_scanlines(c, &r, 1);
            }
            jpeg_finish_compress(c);
            return true;
        }
        static void exit(j_common_ptr c) { std::longjmp(*static_cast<std::jmp_buf*>(c->client_data), 1); }
    };
    std::jmp_buf jump;
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    errors.error_exit = Run::exit;
    c.client_data = &jump;
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width), c.image_height = JDIMENSION(height);
    c.input_components = colours == JCS_GRAYSCALE ? 1 : colours == JCS_CMYK ? 4 : 3;
    c.in_color_space = colours;
    const std::vector<std::uint8_t> row(std::size_t(width) * c.input_components, 100);
    const bool ok = Run::write(&c, &row);
    jpeg_destroy_compress(&c);
    std::string bytes(reinterpret_cast<char*>(out), ok ? size : 0);
    std::free(out);
    return bytes;
}

}  // namespace calivant::testing
