#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "platform/private_objects.h"

namespace zbx::platform {
namespace {

// Opening or closing takes microseconds; a lock held longer is stuck or
// held on purpose by someone else.
constexpr std::uint32_t kLockTimeoutMs = 5000;

std::mutex g_namespace_mutex;
std::string g_namespace;  // empty: the per-user default

std::string default_namespace() { return "zbx-" + std::to_string(::getuid()); }

std::string current_namespace() {
    std::lock_guard lock(g_namespace_mutex);
    return g_namespace.empty() ? default_namespace() : g_namespace;
}

// Where the objects of one namespace live: a file in the private runtime
// directory, or a POSIX shared-memory object.
struct ObjectName {
    std::string name;  // the full path, or "/<object>" for shm_open
    bool in_runtime_dir = false;

    // False for a name too long for the system.
    static bool make(const std::string& ns, const char* leaf, ObjectName* out) {
        std::string object = ns + "." + leaf;
        // The object is one path component.
        for (char& c : object)
            if (c == '/') c = '_';
        if (object.size() + 1 > NAME_MAX) return false;
        const std::filesystem::path runtime = private_runtime_dir();
        out->in_runtime_dir = !runtime.empty();
        out->name = out->in_runtime_dir ? (runtime / object).string() : "/" + object;
        return true;
    }

    // Never through a symbolic link; never inherited.
    [[nodiscard]] int open(int flags, mode_t mode = 0600) const {
        int fd;
        do {
            fd = in_runtime_dir ? ::open(name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode)
                                : ::shm_open(name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
        } while (fd < 0 && errno == EINTR);
        return fd;
    }
    int unlink() const { return in_runtime_dir ? ::unlink(name.c_str()) : ::shm_unlink(name.c_str()); }
};

// Opens an existing object of the caller for reading and writing.  An
// object that is not private to the caller is removed when the system
// allows (and then counts as missing), else refused: *untrusted is set and
// -1 returned.  -1 with *untrusted false: there is none.
int open_private(const ObjectName& object, bool* untrusted) {
    *untrusted = false;
    int fd = object.open(O_RDWR);
    if (fd >= 0 && is_private_file(fd)) return fd;
    if (fd < 0 && errno == ENOENT) return -1;
    if (fd >= 0) ::close(fd);
    // Someone else's, open to others, not a file, or unreadable to us.
    if (object.unlink() != 0 && errno != ENOENT) *untrusted = true;
    return -1;
}

// Serialises opening and closing of blocks among all processes of the user,
// so that "am I the last holder?" and "is this block abandoned?" have
// stable answers.  The lock object is never removed; it holds no data.
class OpenCloseLock {
public:
    explicit OpenCloseLock(const std::string& ns) {
        ObjectName object;
        if (!ObjectName::make(ns, "lock", &object)) return;
        bool untrusted = false;
        fd_ = open_private(object, &untrusted);
        if (fd_ < 0 && !untrusted) fd_ = object.open(O_RDWR | O_CREAT | O_EXCL);
        if (fd_ < 0 && errno == EEXIST) fd_ = open_private(object, &untrusted);  // made meanwhile
        if (fd_ < 0) {
            error_ = untrusted || errno == EEXIST ? SharedMemoryError::kUntrusted : SharedMemoryError::kFailed;
            return;
        }
        if (!is_private_file(fd_)) {
            release(SharedMemoryError::kUntrusted);
        } else if (!lock_with_timeout(fd_, true, kLockTimeoutMs)) {
            release(SharedMemoryError::kLockTimeout);
        }
    }
    ~OpenCloseLock() {
        if (fd_ >= 0) ::close(fd_);  // also releases the lock
    }
    OpenCloseLock(const OpenCloseLock&) = delete;
    OpenCloseLock& operator=(const OpenCloseLock&) = delete;
    [[nodiscard]] bool held() const { return fd_ >= 0; }
    [[nodiscard]] SharedMemoryError error() const { return error_; }

private:
    void release(SharedMemoryError error) {
        ::close(fd_);
        fd_ = -1;
        error_ = error;
    }
    int fd_ = -1;
    SharedMemoryError error_ = SharedMemoryError::kNone;
};

}  // namespace

void set_shared_memory_namespace(std::string ns) {
    std::lock_guard lock(g_namespace_mutex);
    g_namespace = std::move(ns);
}

std::string shared_memory_namespace() { return current_namespace(); }

void remove_shared_memory_lock() {
    ObjectName object;
    if (ObjectName::make(current_namespace(), "lock", &object)) object.unlink();
}

SharedMemory::~SharedMemory() { close(); }

bool SharedMemory::open(const char* name) { return attach(name, false, 0, nullptr); }

bool SharedMemory::open_or_create(const char* name, std::size_t size, bool* created) {
    return attach(name, true, size, created);
}

bool SharedMemory::fail(SharedMemoryError error) {
    error_ = error;
    return false;
}

// Every holder keeps a shared flock on its own descriptor of the block.
// A block on which an exclusive lock can be taken has no live holder: it
// was left by processes that ended without closing it and counts as absent.
bool SharedMemory::attach(const char* name, bool create, std::size_t size, bool* created) {
    close();
    error_ = SharedMemoryError::kNone;
    if (created) *created = false;
    if (name == nullptr || *name == '\0' || (create && size == 0)) return fail(SharedMemoryError::kFailed);
    const std::string ns = current_namespace();
    ObjectName object;
    if (!ObjectName::make(ns, name, &object)) return fail(SharedMemoryError::kFailed);

    OpenCloseLock guard(ns);
    if (!guard.held()) return fail(guard.error());

    bool untrusted = false;
    int fd = open_private(object, &untrusted);
    if (untrusted) return fail(SharedMemoryError::kUntrusted);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        object.unlink();  // abandoned
        ::close(fd);
        fd = -1;
    }
    bool made = false;
    if (fd < 0) {
        if (!create) return fail(SharedMemoryError::kMissing);
        fd = object.open(O_RDWR | O_CREAT | O_EXCL);
        // Another user's object that appeared after the removal above.
        if (fd < 0) return fail(errno == EEXIST ? SharedMemoryError::kUntrusted : SharedMemoryError::kFailed);
        if (!is_private_file(fd) || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
            object.unlink();
            ::close(fd);
            return fail(SharedMemoryError::kFailed);
        }
        made = true;
    }

    struct stat st{};
    void* view = MAP_FAILED;
    // The shared lock is taken without waiting: only an exclusive lock,
    // held for a moment under the open-close lock, can be in its way.
    if (lock_with_timeout(fd, false, kLockTimeoutMs) && ::fstat(fd, &st) == 0 && st.st_size > 0 &&
        (!create || static_cast<std::size_t>(st.st_size) >= size)) {
        view = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ | PROT_WRITE,
                      MAP_SHARED, fd, 0);
    }
    if (view == MAP_FAILED) {
        if (made) object.unlink();
        ::close(fd);
        return fail(SharedMemoryError::kFailed);
    }

    object_name_ = object.name;
    in_runtime_dir_ = object.in_runtime_dir;
    namespace_ = ns;
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
        OpenCloseLock guard(namespace_);
        if (guard.held() && ::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            // Last holder.
            if (in_runtime_dir_) {
                ::unlink(object_name_.c_str());
            } else {
                ::shm_unlink(object_name_.c_str());
            }
        }
    }
    ::close(fd_);
    fd_ = -1;
    data_ = nullptr;
    size_ = 0;
    object_name_.clear();
    namespace_.clear();
}

}  // namespace zbx::platform
