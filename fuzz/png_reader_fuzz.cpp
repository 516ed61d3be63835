// Fuzzes the PNG reader (through the picture reader, which recognises the
// file by its signature) on arbitrary files: it must never read or write
// outside a buffer, leak, let libpng end the process, or hand back an image
// that breaks the record's rules; a failure must leave the image empty and
// say why.
#include "picture_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    calivant::fuzzPictureReader(data, size);
    return 0;
}
