#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <new>

namespace zbx::platform {
namespace {

int open_retry(const char* name, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::open(name, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens without blocking (a FIFO without a peer would wait in open, and a
// device could wait in every read or write), keeps only regular files, and
// then makes the descriptor blocking again for ordinary I/O.  -1 otherwise.
int open_regular(const char* name, int flags, mode_t mode = 0) {
    const int fd = open_retry(name, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) return -1;
    struct stat st{};
    const int status = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || status < 0 ||
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

}  // namespace

File::~File() { close(); }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

bool File::write(const void* data, std::size_t size) {
    if (fd_ < 0 || (data == nullptr && size != 0)) return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool File::write_at(std::uint64_t offset, const void* data, std::size_t size) {
    if (fd_ < 0 || (data == nullptr && size != 0) ||
        offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    auto at = static_cast<off_t>(offset);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, p, size, at);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool File::seek(std::uint64_t offset) {
    if (fd_ < 0 || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return false;
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool File::seek_to_end() { return fd_ >= 0 && ::lseek(fd_, 0, SEEK_END) >= 0; }

std::int64_t File::position() const {
    if (fd_ < 0) return -1;
    return ::lseek(fd_, 0, SEEK_CUR);
}

std::int64_t File::size() const {
    struct stat st{};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
}

bool File::truncate(std::uint64_t size) {
    if (!is_open() || size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    int result;
    do result = ::ftruncate(fd_, static_cast<off_t>(size));
    while (result != 0 && errno == EINTR);
    return result == 0;
}

bool File::close() {
    if (fd_ < 0) return true;
    // Linux always frees the descriptor, even when close reports an error,
    // so it must not be retried.
    const bool ok = ::close(fd_) == 0 || errno == EINTR;
    fd_ = -1;
    return ok;
}

int File::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

File open_for_write(const char* name, bool read_back) {
    if (name == nullptr || *name == '\0') return File{};
    const int access = read_back ? O_RDWR : O_WRONLY;
    // Empty an existing file only once it is known to be a regular one (a
    // device must not see the truncation); when there is none create a
    // new one (O_EXCL: never through a name that appeared in between).
    File file{open_regular(name, access)};
    if (file) {
        if (::ftruncate(file.fd(), 0) != 0) return File{};
        return file;
    }
    if (errno == ENOENT) return File{open_regular(name, access | O_CREAT | O_EXCL, 0666)};
    return File{};
}

std::FILE* open_stream_for_write(const char* name) {
    File file = open_for_write(name);
    if (!file) return nullptr;
    std::FILE* stream = ::fdopen(file.fd(), "wb");
    if (stream != nullptr) (void)file.release();  // the stream owns it now
    return stream;
}

const std::uint8_t* MemoryReader::load(const char* name) {
    release();
    if (name == nullptr || *name == '\0') return nullptr;
    File file{open_regular(name, O_RDONLY)};
    if (!file) return nullptr;

    struct stat st{};
    if (::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > std::numeric_limits<std::uint32_t>::max())
        return nullptr;
    const auto size = static_cast<std::uint32_t>(st.st_size);

    // One byte at least, so an empty file still has a data pointer.
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[size ? size : 1]);
    if (!buffer) return nullptr;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(file.fd(), buffer.get() + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return nullptr;  // error, or the file shrank meanwhile
        done += static_cast<std::size_t>(n);
    }
    buffer_ = std::move(buffer);
    size_ = size;
    return buffer_.get();
}

void MemoryReader::release() {
    buffer_.reset();
    size_ = 0;
}

}  // namespace zbx::platform
