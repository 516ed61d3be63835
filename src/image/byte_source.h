#pragma once
// Random-access input for the binary readers: an open file, or bytes already
// in memory (the fuzzer and the tests read from memory).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace calivant {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to count bytes at the current position and moves past them.
    // Returns the number read: 0 at the end of the data or on a read error.
    virtual std::size_t read(std::uint8_t* buffer, std::size_t count) = 0;
    // Moves to an absolute offset; false when it lies beyond the end.
    virtual bool seek(std::uint64_t offset) = 0;
    virtual std::uint64_t position() const = 0;
    // Total bytes available from offset 0.
    virtual std::uint64_t size() const = 0;
    // Why a read delivered less than it should have (empty when none did):
    // the system's reason for a read error, or kFileChanged for a file that
    // shrank while it was read. Readers put this above their own reason:
    // the data may be fine where the file failed.
    virtual std::string readProblem() const { return {}; }
    // Reads up to count bytes at offset without moving the position; the
    // number read, 0 at the end or on an error. Safe to call from several
    // threads at once (the decoders read their strips in parallel).
    virtual std::size_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) const = 0;
};

// A file opened for reading as InputFile opens it; closed when the object
// goes.
class FileByteSource final : public ByteSource {
public:
    FileByteSource() = default;
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    // Returns 0 when the file is open, 1 when it cannot be opened (or is not
    // a regular file), problem() then saying why.
    int open(const std::filesystem::path& file);
    const std::string& problem() const { return problem_; }

    std::size_t read(std::uint8_t* buffer, std::size_t count) override;
    bool seek(std::uint64_t offset) override;
    std::uint64_t position() const override { return position_; }
    std::uint64_t size() const override { return size_; }
    std::size_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) const override;
    std::string readProblem() const override;

private:
    int fd_ = -1;
    std::uint64_t position_ = 0;
    std::uint64_t size_ = 0;
    std::string problem_;
    // The first failed read: an error number, or -1 when the file ended
    // before the size it had when opened. Set by any of the reading threads.
    mutable std::atomic<int> readError_{0};
};

// Bytes owned by the caller, who keeps them alive while this is used.
class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t read(std::uint8_t* buffer, std::size_t count) override;
    bool seek(std::uint64_t offset) override;
    std::uint64_t position() const override { return position_; }
    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) const override;

private:
    std::span<const std::uint8_t> bytes_;
    std::uint64_t position_ = 0;
};

// Reads up to count bytes into buffer and stores the number read in got.
// Returns 1 when the read fails or delivers nothing; a request for 0 bytes
// succeeds without reading. A short read succeeds.
int readBytes(ByteSource& file, std::size_t count, std::uint8_t* buffer, std::size_t& got);

// Absolute seek; 1 on failure.
int seekTo(ByteSource& file, std::uint64_t offset);

std::uint64_t tellPosition(const ByteSource& file);

}  // namespace calivant
