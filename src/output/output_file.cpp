#include "output/output_file.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace zbx::output {

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

bool OutputFile::write_all(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) return false;
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::write_all(std::span<::iovec> parts) {
    if (fd_ < 0) return false;
    std::size_t first = 0;
    while (first < parts.size()) {
        if (parts[first].iov_len == 0) {
            ++first;
            continue;
        }
        const int count = static_cast<int>(std::min<std::size_t>(parts.size() - first, IOV_MAX));
        ssize_t n = ::writev(fd_, &parts[first], count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        // Skip what went out, part by part; a part written halfway resumes
        // at its first unwritten byte.
        auto done = static_cast<std::size_t>(n);
        while (done > 0) {
            ::iovec& part = parts[first];
            const std::size_t step = std::min(done, part.iov_len);
            part.iov_base = static_cast<std::uint8_t*>(part.iov_base) + step;
            part.iov_len -= step;
            done -= step;
            if (part.iov_len == 0) ++first;
        }
    }
    return true;
}

bool OutputFile::close() {
    if (fd_ < 0) return true;
    int fd = release();
    // A failed close may report a write that failed late (network or full
    // file systems); the descriptor is gone either way.
    return ::close(fd) == 0;
}

OutputFile OpenForWrite(const char* name) {
    if (name == nullptr || *name == '\0') return OutputFile();
    // Truncate an existing file first and create only when there is none,
    // so a name that exists but cannot be written is never replaced.
    int fd = ::open(name, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return OutputFile(fd);
}

}  // namespace zbx::output
