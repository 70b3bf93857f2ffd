#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

namespace zbx::platform {
namespace {

std::mutex g_namespace_mutex;
std::string g_namespace;  // empty: the per-user default

std::string default_namespace() { return "zbx-" + std::to_string(::getuid()); }

std::string object_name_for(const char* name) {
    std::string ns;
    {
        std::lock_guard lock(g_namespace_mutex);
        ns = g_namespace.empty() ? default_namespace() : g_namespace;
    }
    std::string object = "/" + ns + "." + name;
    // Only the leading slash may appear in a shared-memory object name.
    for (std::size_t i = 1; i < object.size(); ++i)
        if (object[i] == '/') object[i] = '_';
    return object;
}

int flock_retry(int fd, int op) {
    int rc;
    do rc = ::flock(fd, op);
    while (rc != 0 && errno == EINTR);
    return rc;
}

// Serialises opening and closing of blocks among all processes of the user,
// so that "am I the last holder?" and "is this block abandoned?" have
// stable answers.  The lock object is never removed; it holds no data.
class OpenCloseLock {
public:
    OpenCloseLock() {
        const std::string name = "/" + default_namespace() + ".lock";
        fd_ = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0 && flock_retry(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~OpenCloseLock() {
        if (fd_ >= 0) ::close(fd_);  // also releases the lock
    }
    OpenCloseLock(const OpenCloseLock&) = delete;
    OpenCloseLock& operator=(const OpenCloseLock&) = delete;
    [[nodiscard]] bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace

void set_shared_memory_namespace(std::string ns) {
    std::lock_guard lock(g_namespace_mutex);
    g_namespace = std::move(ns);
}

std::string shared_memory_namespace() {
    std::lock_guard lock(g_namespace_mutex);
    return g_namespace.empty() ? default_namespace() : g_namespace;
}

SharedMemory::~SharedMemory() { close(); }

bool SharedMemory::open(const char* name) { return attach(name, false, 0, nullptr); }

bool SharedMemory::open_or_create(const char* name, std::size_t size, bool* created) {
    return attach(name, true, size, created);
}

// Every holder keeps a shared flock on its own descriptor of the block.
// A block on which an exclusive lock can be taken has no live holder: it
// was left by processes that ended without closing it and counts as absent.
bool SharedMemory::attach(const char* name, bool create, std::size_t size, bool* created) {
    close();
    if (created) *created = false;
    if (name == nullptr || *name == '\0' || (create && size == 0)) return false;
    const std::string object = object_name_for(name);
    if (object.size() > NAME_MAX) return false;

    OpenCloseLock guard;
    if (!guard.held()) return false;

    int fd = ::shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 && flock_retry(fd, LOCK_EX | LOCK_NB) == 0) {
        ::shm_unlink(object.c_str());  // abandoned
        ::close(fd);
        fd = -1;
    }
    bool made = false;
    if (fd < 0) {
        if (!create) return false;
        fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
            ::shm_unlink(object.c_str());
            ::close(fd);
            return false;
        }
        made = true;
    }

    struct stat st{};
    void* view = MAP_FAILED;
    if (flock_retry(fd, LOCK_SH) == 0 && ::fstat(fd, &st) == 0 && st.st_size > 0 &&
        (!create || static_cast<std::size_t>(st.st_size) >= size)) {
        view = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ | PROT_WRITE,
                      MAP_SHARED, fd, 0);
    }
    if (view == MAP_FAILED) {
        if (made) ::shm_unlink(object.c_str());
        ::close(fd);
        return false;
    }

    object_name_ = object;
    fd_ = fd;
    data_ = static_cast<std::uint8_t*>(view);
    size_ = static_cast<std::size_t>(st.st_size);
    owner_pid_ = ::getpid();
    if (created) *created = made;
    return true;
}

void SharedMemory::close() {
    if (fd_ < 0) return;
    ::munmap(data_, size_);
    // A child process that inherited this holder through fork shares the
    // parent's flock; it only lets go of its copies.
    if (owner_pid_ == ::getpid()) {
        OpenCloseLock guard;
        if (guard.held() && flock_retry(fd_, LOCK_EX | LOCK_NB) == 0)
            ::shm_unlink(object_name_.c_str());  // last holder
    }
    ::close(fd_);
    fd_ = -1;
    data_ = nullptr;
    size_ = 0;
    object_name_.clear();
}

}  // namespace zbx::platform
