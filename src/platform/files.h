// Files: an owned write handle with the truncate-else-create-new open that
// the raw dump, the BMP writer and the AVI writer use, and the whole-file
// reader of the configuration loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

namespace zbx::platform {

// An open file descriptor, closed by the destructor.  Movable.
class File {
public:
    File() = default;
    explicit File(int fd) : fd_(fd) {}
    ~File();
    File(File&& other) noexcept : fd_(other.release()) {}
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    [[nodiscard]] bool is_open() const { return fd_ >= 0; }
    explicit operator bool() const { return is_open(); }
    [[nodiscard]] int fd() const { return fd_; }

    // Writes all bytes at the current position.  False on any error
    // (disk full, file size limit, closed handle); some bytes may then
    // have been written.
    [[nodiscard]] bool write(const void* data, std::size_t size);
    [[nodiscard]] bool write(std::span<const std::uint8_t> bytes) {
        return write(bytes.data(), bytes.size());
    }
    // Writes at an absolute offset without moving the position.
    [[nodiscard]] bool write_at(std::uint64_t offset, const void* data, std::size_t size);
    // Moves the position to `offset` / to the end; false on failure.
    [[nodiscard]] bool seek(std::uint64_t offset);
    [[nodiscard]] bool seek_to_end();
    // Current position, or -1.
    [[nodiscard]] std::int64_t position() const;
    // Current size in bytes, or -1.
    [[nodiscard]] std::int64_t size() const;
    // Sets the size to `size` bytes (bytes beyond it are dropped; a shorter
    // file grows with zeros).  False when closed or refused.  Shrinking
    // needs no free space, so it works on a full disk.
    [[nodiscard]] bool truncate(std::uint64_t size);
    // Closes now; false when the system reported an error on close (data
    // may not have reached the disk).  Safe on a closed handle (true).
    bool close();
    // Gives up ownership of the descriptor.
    int release();

private:
    int fd_ = -1;
};

// Opens `name` for writing: an existing file is emptied; when there is none
// a new one is created.  Only regular files are written: a FIFO, device or
// socket under that name is refused without blocking and left untouched.
// `read_back` also allows reading (for writers that reread what they
// wrote).  Returns a closed File on failure (null or empty name, not a
// regular file, no permission, missing folder).
[[nodiscard]] File open_for_write(const char* name, bool read_back = false);

// open_for_write as a stdio stream in binary write mode, for the encoders
// that write through one; null on failure.  The caller closes it.
[[nodiscard]] std::FILE* open_stream_for_write(const char* name);

// Brings a whole file into memory.  The bytes belong to the reader; after a
// successful load data() is never null, even for an empty file, so
// data() == end() marks a file of 0 bytes.
class MemoryReader {
public:
    MemoryReader() = default;
    MemoryReader(const MemoryReader&) = delete;
    MemoryReader& operator=(const MemoryReader&) = delete;

    // Reads the whole regular file `name`; returns data() or null when the
    // file cannot be opened or read completely, is 4 GiB or larger, or is
    // not a regular file (a FIFO is refused at once, never waited on).
    // A failed load leaves the reader empty.
    const std::uint8_t* load(const char* name);
    // Frees the bytes; the reader is empty again.
    void release();

    [[nodiscard]] const std::uint8_t* data() const { return buffer_.get(); }
    [[nodiscard]] const std::uint8_t* end() const { return buffer_.get() ? buffer_.get() + size_ : nullptr; }
    [[nodiscard]] std::uint32_t size() const { return size_; }
    [[nodiscard]] std::span<const std::uint8_t> bytes() const { return {buffer_.get(), size_}; }

private:
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint32_t size_ = 0;
};

}  // namespace zbx::platform
