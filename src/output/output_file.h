// A file opened for writing, owned for the length of one save.  Stand-in for
// the create-or-truncate file opening that the raw dump, the BMP writer and
// the AVI writer share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

struct iovec;

namespace zbx::output {

class OutputFile {
public:
    OutputFile() = default;
    explicit OutputFile(int fd) : fd_(fd) {}
    ~OutputFile() { close(); }
    OutputFile(OutputFile&& other) noexcept : fd_(other.release()) {}
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    [[nodiscard]] bool is_open() const { return fd_ >= 0; }
    [[nodiscard]] int fd() const { return fd_; }
    // Writes all bytes, resuming after short writes and signals.  False on
    // any failure (a full disk, an I/O error); the file stays open.
    [[nodiscard]] bool write_all(std::span<const std::uint8_t> bytes);
    // Writes the parts in order as if they were one buffer; consumes
    // (modifies) the descriptors.  False on any failure.
    [[nodiscard]] bool write_all(std::span<::iovec> parts);
    // Closes; false when the close reported a delayed write failure.
    bool close();
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

// Opens an existing file emptied, or else creates a new one; a closed
// OutputFile when neither works (missing directory, read-only file, ...).
[[nodiscard]] OutputFile OpenForWrite(const char* name);

}  // namespace zbx::output
