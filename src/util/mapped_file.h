#pragma once
// A file's bytes mapped into memory read-only: the pages come from the
// system's file cache as they are touched and count as the file's, not as
// memory of the process. For readers that look at a small part of a large
// file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

namespace calivant {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the whole file. Returns 0, or 1 when it cannot be opened or
    // mapped (an empty file, a pipe, a file system without mapping).
    int open(const std::filesystem::path& file);

    // The mapped bytes; empty before a successful open.
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace calivant
