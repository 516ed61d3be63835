// Reads a 6000 x 4525 16-bit PNG and a quality-95 JPEG of the same chart
// with the picture reader, and decodes each with its library alone (libpng,
// libjpeg-turbo: every row into one row buffer, no conversion) in the same
// run, alternating. Prints the best and median wall clock and process CPU
// time of each, and our time over the library's (targets: at most 1 s each
// on 2 cores).
//
// The picture is what make-target renders for `--target hct --bits 16
// --noise 0.004` at that size: flat patches with sensor noise, which a PNG
// compresses about as badly as a raw developer's export of a real photo.
//
//   picture_reader_bench [--data DIR] [--runs N]
#include <png.h>
// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "image/byte_source.h"
#include "image/picture_reader.h"
#include "make-target/picture_files.h"
#include "make-target/synthetic_target.h"

namespace {

using namespace calivant;

constexpr int kWidth = 6000;
constexpr int kHeight = 4525;

struct Seconds {
    double wall = 0.0;
    double cpu = 0.0;
};

Seconds timeOf(const std::function<bool()>& work) {
    timespec cpu0{}, cpu1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
    const auto wall0 = std::chrono::steady_clock::now();
    if (!work()) {
        std::fprintf(stderr, "a read failed\n");
        std::exit(1);
    }
    const auto wall1 = std::chrono::steady_clock::now();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
    return {std::chrono::duration<double>(wall1 - wall0).count(),
            double(cpu1.tv_sec - cpu0.tv_sec) + 1e-9 * double(cpu1.tv_nsec - cpu0.tv_nsec)};
}

// libpng's default error handling ends in a longjmp to here; nothing here
// has a destructor.
bool bareLibpng(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_bytep volatile row = nullptr;
    volatile bool ok = false;
    if (!setjmp(png_jmpbuf(png))) {
        png_init_io(png, file);
        png_read_info(png, info);
        png_read_update_info(png, info);
        row = static_cast<png_bytep>(std::malloc(png_get_rowbytes(png, info)));
        for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y) png_read_row(png, row, nullptr);
        png_read_end(png, nullptr);
        ok = true;
    }
    std::free(row);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return ok;
}

bool bareLibjpeg(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    jpeg_decompress_struct d{};
    jpeg_error_mgr errors{};
    d.err = jpeg_std_error(&errors);  // exits on error: fine for a benchmark of a good file
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, file);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    std::vector<unsigned char> row(std::size_t(d.output_width) * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW r = row.data();
        jpeg_read_scanlines(&d, &r, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(file);
    return true;
}

bool ours(const std::filesystem::path& path) {
    FileByteSource file;
    if (file.open(path) != 0) return false;
    TargetImage image;
    PictureRead read;
    return readPicture(file, image, read) == 0 && image.width == kWidth && image.height == kHeight;
}

void makePictures(const std::filesystem::path& png, const std::filesystem::path& jpeg) {
    if (std::filesystem::exists(png) && std::filesystem::exists(jpeg)) return;
    std::printf("Rendering a %d x %d 16-bit HCT chart and writing it as PNG and JPEG...\n", kWidth, kHeight);
    SyntheticTargetOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.targetType = 4;
    options.bitsPerSample = 16;
    options.noiseSigma = 0.004;
    SyntheticTarget target;
    std::string error;
    if (renderSyntheticTarget(options, generatedReference(4), target, &error) != kSyntheticOk ||
        writeSyntheticPng(png.string(), target.picture, {}, &error) != 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    SyntheticPicture eight = target.picture;
    eight.bitsPerSample = 8;
    for (std::uint16_t& v : eight.samples) v = static_cast<std::uint16_t>((v * 255 + 32767) / 65535);
    if (writeSyntheticJpeg(jpeg.string(), eight, {95, 1, false}, &error) != 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path data = "picture-data";
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--data") data = argv[i + 1];
        else if (option == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    }
    std::filesystem::create_directories(data);
    const std::filesystem::path png = data / "hct-16bit.png", jpeg = data / "hct-q95.jpg";
    makePictures(png, jpeg);
    std::printf("PNG %.1f MB, JPEG %.1f MB; %d runs each, alternating, page cache warm\n",
                double(std::filesystem::file_size(png)) / 1048576.0, double(std::filesystem::file_size(jpeg)) / 1048576.0,
                runs);
    std::printf("\n%-6s %-22s %9s %9s %9s %9s\n", "file", "reader", "best wall", "med wall", "best cpu", "med cpu");
    for (const auto& [label, path, bare, library] :
         {std::tuple{"PNG", png, &bareLibpng, "libpng alone"}, std::tuple{"JPEG", jpeg, &bareLibjpeg, "libjpeg-turbo alone"}}) {
        std::vector<Seconds> mine, theirs;
        ours(path);  // warm the cache
        for (int r = 0; r < runs; ++r) {
            theirs.push_back(timeOf([&, bare = bare] { return bare(path.c_str()); }));
            mine.push_back(timeOf([&] { return ours(path); }));
        }
        auto row = [&](const char* who, std::vector<Seconds> t) {
            std::vector<double> wall, cpu;
            for (const Seconds& s : t) wall.push_back(s.wall), cpu.push_back(s.cpu);
            std::sort(wall.begin(), wall.end());
            std::sort(cpu.begin(), cpu.end());
            std::printf("%-6s %-22s %8.3fs %8.3fs %8.3fs %8.3fs\n", label, who, wall.front(), wall[wall.size() / 2],
                        cpu.front(), cpu[cpu.size() / 2]);
            return wall.front();
        };
        const double theirBest = row(library, theirs);
        const double ourBest = row("picture reader", mine);
        std::printf("%-6s ours / library %.2f; target at most 1 s: %s\n\n", label, ourBest / theirBest,
                    ourBest <= 1.0 ? "met" : "MISSED");
    }
    return 0;
}
