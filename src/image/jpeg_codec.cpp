#include "image/jpeg_codec.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstring>
#include <new>
#include <vector>

#include "image/target_image.h"

namespace calivant {
namespace {

// Progressive files are decoded scan by scan; thousands of tiny scans are
// a known way to make a small file take minutes.
constexpr int kMaxScans = 1000;

// An Exif APP1 marker starts with these six bytes.
constexpr std::uint8_t kExifId[] = {'E', 'x', 'i', 'f', 0, 0};

// Warnings after which the pixels would be made up: libjpeg pads a file
// that ends early with gray and skips what it cannot decode.
bool damagesPixels(int code) {
    switch (code) {
        case JWRN_ARITH_BAD_CODE:
        case JWRN_BOGUS_PROGRESSION:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_JPEG_EOF:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_TOO_MUCH_DATA: return true;
        default: return false;
    }
}

}  // namespace

struct JpegDecompressor::Session {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    char message[JMSG_LENGTH_MAX] = {};
    const ByteSource* file = nullptr;
    std::uint64_t next = 0;  // file offset of the next piece
    std::uint64_t end = 0;
    std::vector<std::uint8_t> piece;
    bool created = false;

    static Session& of(j_common_ptr info) { return *static_cast<Session*>(info->client_data); }

    // The error manager: libjpeg's text kept, then back to the call that
    // set the jump.
    [[noreturn]] static void failWith(j_common_ptr info) {
        Session& s = of(info);
        info->err->format_message(info, s.message);
        std::longjmp(s.jump, 1);
    }
    static void onError(j_common_ptr info) { failWith(info); }
    static void onMessage(j_common_ptr info, int level) {
        if (level < 0 && damagesPixels(info->err->msg_code)) failWith(info);
    }
    static void silent(j_common_ptr) {}
    static void onProgress(j_common_ptr info) {
        const auto* d = reinterpret_cast<j_decompress_ptr>(info);
        if (d->input_scan_number <= kMaxScans) return;
        Session& s = of(info);
        std::snprintf(s.message, sizeof s.message, "Progressive JPEG image has more than %d scans", kMaxScans);
        std::longjmp(s.jump, 1);
    }

    // The source manager: the stream's bytes a piece at a time. The end of
    // the data is a failure, never the end of the image.
    static void initSource(j_decompress_ptr) {}
    static boolean fillInput(j_decompress_ptr info) {
        Session& s = of(reinterpret_cast<j_common_ptr>(info));
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(s.piece.size(), s.end - s.next));
        const std::size_t got = s.next < s.end ? s.file->readAt(s.next, s.piece.data(), want) : 0;
        if (got == 0) WARNMS(info, JWRN_JPEG_EOF);  // fatal, through onMessage
        s.next += got;
        info->src->next_input_byte = s.piece.data();
        info->src->bytes_in_buffer = got;
        return TRUE;
    }
    static void skipInput(j_decompress_ptr info, long count) {
        if (count <= 0) return;
        jpeg_source_mgr& src = *info->src;
        const auto skip = static_cast<std::uint64_t>(count);
        if (skip <= src.bytes_in_buffer) {
            src.next_input_byte += skip;
            src.bytes_in_buffer -= static_cast<std::size_t>(skip);
            return;
        }
        Session& s = of(reinterpret_cast<j_common_ptr>(info));
        s.next = std::min(s.end, s.next + (skip - src.bytes_in_buffer));
        src.bytes_in_buffer = 0;
    }
    static void termSource(j_decompress_ptr) {}
};

JpegDecompressor::JpegDecompressor(std::uint64_t memoryLimit) : s_(std::make_unique<Session>()) {
    Session* s = s_.get();
    s->piece.resize(kMaxBlockBytes);
    s->info.err = jpeg_std_error(&s->errors);
    s->errors.error_exit = Session::onError;
    s->errors.emit_message = Session::onMessage;
    s->errors.output_message = Session::silent;
    s->info.client_data = s;
    if (setjmp(s->jump)) throw std::bad_alloc();  // libjpeg could not make its object
    jpeg_create_decompress(&s->info);
    s->created = true;
    s->info.mem->max_memory_to_use = static_cast<long>(std::min<std::uint64_t>(memoryLimit, LONG_MAX));
    s->source.init_source = Session::initSource;
    s->source.fill_input_buffer = Session::fillInput;
    s->source.skip_input_data = Session::skipInput;
    s->source.resync_to_restart = jpeg_resync_to_restart;
    s->source.term_source = Session::termSource;
    s->info.src = &s->source;
    s->progress.progress_monitor = Session::onProgress;
    s->info.progress = &s->progress;
}

JpegDecompressor::~JpegDecompressor() {
    if (s_->created) jpeg_destroy_decompress(&s_->info);
}

void JpegDecompressor::setInput(const ByteSource& file, std::uint64_t offset, std::uint64_t count) {
    Session* s = s_.get();
    // Back to the start state, wherever the last stream stopped; the
    // tables stay.
    jpeg_abort_decompress(&s->info);
    s->file = &file;
    s->next = std::min(offset, file.size());
    s->end = s->next + std::min(count, file.size() - s->next);
    s->source.bytes_in_buffer = 0;
    s->source.next_input_byte = nullptr;
}

bool JpegDecompressor::readTables() {
    Session* s = s_.get();
    if (setjmp(s->jump)) return false;
    return jpeg_read_header(&s->info, FALSE) == JPEG_HEADER_TABLES_ONLY;
}

bool JpegDecompressor::readHeader(bool keepExif, JpegHeader& header) {
    Session* s = s_.get();
    JpegHeader* h = &header;
    if (setjmp(s->jump)) return false;
    jpeg_save_markers(&s->info, JPEG_APP0 + 1, keepExif ? 0xFFFF : 0);
    jpeg_read_header(&s->info, TRUE);
    const jpeg_decompress_struct& i = s->info;
    h->width = i.image_width;
    h->height = i.image_height;
    h->components = i.num_components;
    switch (i.jpeg_color_space) {
        case JCS_GRAYSCALE: h->colours = JpegHeader::Colours::Gray; break;
        case JCS_RGB: h->colours = JpegHeader::Colours::Rgb; break;
        case JCS_YCbCr: h->colours = JpegHeader::Colours::YCbCr; break;
        case JCS_CMYK: h->colours = JpegHeader::Colours::Cmyk; break;
        case JCS_YCCK: h->colours = JpegHeader::Colours::Ycck; break;
        default: h->colours = JpegHeader::Colours::Other; break;
    }
    h->densityUnit = i.saw_JFIF_marker ? i.density_unit : 0;
    h->xDensity = i.X_density;
    return true;
}

bool JpegDecompressor::start(JpegHeader::Colours colours, Output out) {
    Session* s = s_.get();
    if (setjmp(s->jump)) return false;
    switch (colours) {
        case JpegHeader::Colours::Gray: s->info.jpeg_color_space = JCS_GRAYSCALE; break;
        case JpegHeader::Colours::Rgb: s->info.jpeg_color_space = JCS_RGB; break;
        case JpegHeader::Colours::YCbCr: s->info.jpeg_color_space = JCS_YCbCr; break;
        default: break;
    }
    s->info.out_color_space = out == Output::Gray ? JCS_GRAYSCALE : out == Output::Rgb ? JCS_RGB : JCS_EXT_BGR;
    jpeg_start_decompress(&s->info);
    return true;
}

bool JpegDecompressor::readRows(std::uint8_t* const* rows, std::size_t count) {
    Session* s = s_.get();
    if (setjmp(s->jump)) return false;
    for (std::size_t done = 0; done < count;) {
        // libjpeg takes mutable row pointers but writes only the rows.
        JSAMPARRAY at = const_cast<JSAMPARRAY>(rows + done);
        const JDIMENSION got =
            jpeg_read_scanlines(&s->info, at, static_cast<JDIMENSION>(std::min<std::size_t>(count - done, 0xFFFF)));
        if (got == 0) ERREXIT(&s->info, JERR_INPUT_EMPTY);
        done += got;
    }
    return true;
}

bool JpegDecompressor::readToEnd() {
    Session* s = s_.get();
    if (setjmp(s->jump)) return false;
    jpeg_finish_decompress(&s->info);
    return true;
}

void JpegDecompressor::finish() { jpeg_abort_decompress(&s_->info); }

std::span<const std::uint8_t> JpegDecompressor::exifBlock() const {
    for (jpeg_saved_marker_ptr m = s_->info.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length > sizeof kExifId &&
            std::memcmp(m->data, kExifId, sizeof kExifId) == 0)
            return {m->data + sizeof kExifId, m->data_length - sizeof kExifId};
    return {};
}

std::string JpegDecompressor::message() const { return s_->message; }

}  // namespace calivant
