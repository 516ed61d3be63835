#pragma once
// A file's bytes mapped into memory read-only: the pages come from the
// system's file cache as they are touched and count as the file's, not as
// memory of the process. For readers that look at a small part of a large
// file.
//
// A mapped file can shrink under the reader (a sync client, a second
// program writing it): touching a page past the new end raises SIGBUS,
// which would end the process. While a file is mapped here, such a fault in
// its pages is caught: the page is replaced by zeros, the read goes on, and
// changed() says the bytes read can no longer be trusted. A reader checks
// it once when it is done. Faults anywhere else keep their usual effect.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace calivant {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the whole file (opened as InputFile opens it). Returns 0, or 1
    // when it cannot be opened or mapped (an empty file, not a regular file,
    // a file system without mapping), with problem() saying why.
    int open(const std::filesystem::path& file);

    // The mapped bytes; empty before a successful open.
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }
    const std::string& problem() const { return problem_; }

    // True once a read of the mapping found the file shorter than when it
    // was mapped.
    bool changed() const;

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    int guard_ = -1;  // the slot watching the mapping, -1 for none
    std::string problem_;
};

}  // namespace calivant
