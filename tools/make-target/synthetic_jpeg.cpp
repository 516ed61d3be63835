#include "make-target/synthetic_jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <jpeglib.h>

namespace calivant {
namespace {

// libjpeg reports a fatal error through error_exit, which must not return:
// it jumps back to the call that started the work.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr info) {
    ErrorManager* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

bool fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return false;
}

}  // namespace

int encodeJpeg(const SyntheticPicture& picture, int quality, std::vector<unsigned char>& bytes, std::string* error) {
    if (picture.bitsPerSample != 8 || picture.width <= 0 || picture.height <= 0) {
        fail(error, "JPEG takes 8-bit pictures");
        return 1;
    }
    if (quality < 1 || quality > 100) {
        fail(error, "JPEG quality must lie in 1..100");
        return 1;
    }
    std::vector<JSAMPLE> row(static_cast<std::size_t>(picture.width) * 3);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_compress_struct info{};
    ErrorManager manager{};
    info.err = jpeg_std_error(&manager.base);
    manager.base.error_exit = onError;
    if (setjmp(manager.jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        fail(error, std::string("JPEG encoding failed: ") + manager.message);
        return 1;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(picture.width);
    info.image_height = static_cast<JDIMENSION>(picture.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        const std::size_t first = static_cast<std::size_t>(info.next_scanline) * row.size();
        for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<JSAMPLE>(picture.samples[first + i]);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    bytes.assign(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return 0;
}

int decodeJpeg(const std::vector<unsigned char>& bytes, SyntheticPicture& picture, std::string* error) {
    jpeg_decompress_struct info{};
    ErrorManager manager{};
    info.err = jpeg_std_error(&manager.base);
    manager.base.error_exit = onError;
    std::vector<JSAMPLE> row;
    if (setjmp(manager.jump)) {
        jpeg_destroy_decompress(&info);
        fail(error, std::string("JPEG decoding failed: ") + manager.message);
        return 1;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    picture.width = static_cast<int>(info.output_width);
    picture.height = static_cast<int>(info.output_height);
    picture.bitsPerSample = 8;
    picture.samples.assign(static_cast<std::size_t>(picture.width) * picture.height * 3, 0);
    row.resize(static_cast<std::size_t>(picture.width) * 3);
    while (info.output_scanline < info.output_height) {
        const std::size_t first = static_cast<std::size_t>(info.output_scanline) * row.size();
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        for (std::size_t i = 0; i < row.size(); ++i) picture.samples[first + i] = row[i];
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return 0;
}

int writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return out ? 0 : 1;
}

}  // namespace calivant
