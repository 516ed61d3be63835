#pragma once
// JPEG through libjpeg-turbo: the artefacts of a camera's JPEG on a
// synthetic picture, and the file itself.

#include <string>
#include <vector>

#include "make-target/synthetic_target.h"

namespace calivant {

// Encodes an 8-bit picture (4:2:0, as cameras store it) at quality 1..100.
// Returns 0, or 1 with `error` set.
int encodeJpeg(const SyntheticPicture& picture, int quality, std::vector<unsigned char>& bytes,
               std::string* error = nullptr);

// Decodes a JPEG into an 8-bit RGB picture. Returns 0, or 1 with `error` set.
int decodeJpeg(const std::vector<unsigned char>& bytes, SyntheticPicture& picture, std::string* error = nullptr);

// Writes the bytes to a file. Returns 0, or 1.
int writeBytes(const std::string& path, const std::vector<unsigned char>& bytes);

}  // namespace calivant
