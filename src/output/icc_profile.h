#pragma once
// The ICC version 2 input profile ("scnr", RGB to Lab or XYZ) built from the
// profile computation. Everything is big-endian; the file is laid out as
//
//   0     header, 128 bytes: size, "TSRY", 0x02400000, "scnr", "RGB ",
//         "Lab " or "XYZ ", date and time, "acsp", "MSFT", ..., D50, "TSRY"
//   128   tag count 12, then per tag: signature, offset, size
//   276   "cprt" text    copyright and a zero byte
//         "desc"         the description as ASCII, empty Unicode and ScriptCode
//   W     "wtpt" "bkpt" "rXYZ" "gXYZ" "bXYZ"   XYZ numbers, 100 -> 65535
//         "rTRC" "gTRC" "bTRC"                  curv, the shaper/matrix curves
//         "A2B0" "A2B1"  mft2: identity matrix, the tone curves as input
//                        tables (256 samples, or an automatic choice's
//                        own tables of up to 4096 entries), the CLUT,
//                        identity output tables
//
// with W = 296 + padTo4(Lc + 1) + padTo4(Ld + 79 + 2 Lu) (Lc, Ld the lengths
// of the ASCII texts, Lu the UTF-16 description's units with its zero, or 0).
// The colorants and TRC curves come from the shaper/matrix fit (1024
// entries, 0..1 with the scale in the colorants), so a CMM that reads the
// profile through its matrix/TRC tags sees the same device as through its
// tables.
// Tags follow each other in table order, each padded to 4 bytes except the
// last: the file ends with the last byte of "A2B1".

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <string_view>
#include <vector>

#include "measure/advanced_options.h"
#include "output/profile_record.h"
#include "profile/profile_result.h"
#include "util/local_time.h"

namespace calivant {

// Byte caps of the texts typed by the user; they end up in fixed-size
// profile tags.
inline constexpr std::size_t kMaxDescriptionLength = 338;
inline constexpr std::size_t kMaxCopyrightLength = 338;

// What the profile takes from the run besides the computed tables.
struct IccProfileSettings {
    std::string_view description;  // not empty in practice; any bytes
    std::string_view copyright;    // may be empty
    int colorSpace = CieLab;
    int reflective = 1;  // 0 for a transparency target
    int clutSize = 33;   // the grid the tables were built with
};

IccProfileSettings iccProfileSettingsOf(const ProfileRecord& record);

void putBigEndian16(std::span<std::uint8_t> buffer, std::size_t offset, std::uint16_t value);
void putBigEndian32(std::span<std::uint8_t> buffer, std::size_t offset, std::uint32_t value);
// count rounded up to a multiple of 4.
std::size_t padTo4(std::size_t count);

// year x 10000 + month x 100 + day and hour x 10000 + minute x 100 + second:
// the header takes its six numbers from these by division and remainder. The
// year is held to 0..65535 and the other fields to 0..99, so the numbers
// always split back into what the header can store.
int localDateNumber(const LocalTime& time);
int localTimeNumber(const LocalTime& time);

// Byte count of the profile these settings give with the result's TRC
// curves (straight 1-entry curves when the result is null or has none), or 0
// when they cannot be written (a text beyond its cap, a grid size other than
// 17, 33 or 65, curves of different lengths).
std::size_t iccProfileSize(const IccProfileSettings& settings);
std::size_t iccProfileSize(const IccProfileSettings& settings, const ProfileResult* result);

// Assembles the whole profile in bytes, sized from its computed length.
// Returns 1 (bytes left empty) when the settings cannot be written, a table
// of the result is too small for the grid, or memory runs out.
int buildIccProfile(const IccProfileSettings& settings, const ProfileResult& result, const LocalTime& time,
                    std::vector<std::uint8_t>& bytes);

// Builds the profile and writes it with one write. Returns 0, or 1 when it
// cannot be built or the stream fails. Shows nothing.
int writeIccProfile(std::ostream& out, const IccProfileSettings& settings, const ProfileResult& result,
                    const LocalTime& time);

}  // namespace calivant
