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
#include <string>
#include <vector>

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

// The folder that holds this user's blocks, chosen from the user id and
// what exists on the system, never from the environment: a desktop program
// (with XDG_RUNTIME_DIR) and a service or cron job of the same user (without
// it) must meet in one camera table.
//
// First choice: "zbx-<uid>" in /dev/shm (memory-backed, shared by every
// process of the machine), created 0700.  /dev/shm is sticky, so once the
// folder is ours nobody else can remove, rename or enter it.  Another user
// may have taken the name before us: then an alternate "zbx-<uid>-1" to
// "-7" of ours that exists already (made under an earlier squat, kept so
// that a squatter who lets the name go later does not split the user's
// processes), else /run/user/<uid> when the system made one for us, else
// the first alternate that can be made.  The user's processes can still
// part when a squat begins between two of their starts, or when the system
// makes /run/user/<uid> at a login while a squat keeps them from the first
// choice.
constexpr int kAlternateFolders = 7;

std::string folder_base() {
    struct stat st{};
    return ::lstat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
}

bool is_our_folder(const std::string& dir) {
    struct stat st{};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// Makes `dir` when it is missing; true when it is then a folder of ours
// that nobody else may enter (one of ours left open is closed first).
bool claim_folder(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (!is_our_folder(dir)) return false;
    struct stat st{};
    if (::lstat(dir.c_str(), &st) != 0 || ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0))
        return false;
    return is_private_directory(dir, true);
}

// Empty when every candidate belongs to someone else.
std::string block_folder() {
    const std::string uid = std::to_string(::geteuid());
    const std::string first = folder_base() + "/zbx-" + uid;
    std::vector<std::string> alternates;
    for (int i = 1; i <= kAlternateFolders; ++i) alternates.push_back(first + "-" + std::to_string(i));
    if (is_our_folder(first)) return claim_folder(first) ? first : std::string{};
    for (const std::string& dir : alternates)
        if (is_our_folder(dir)) return claim_folder(dir) ? dir : std::string{};
    if (claim_folder(first)) return first;
    const std::string run_user = "/run/user/" + uid;
    if (is_private_directory(run_user, true)) return run_user;
    for (const std::string& dir : alternates)
        if (claim_folder(dir)) return dir;
    return {};
}

// One object of a namespace: a file in the user's block folder.
struct ObjectName {
    std::string name;  // the full path

    static SharedMemoryError make(const std::string& ns, const char* leaf, ObjectName* out) {
        std::string object = ns + "." + leaf;
        // The object is one path component.
        for (char& c : object)
            if (c == '/') c = '_';
        if (object.size() + 1 > NAME_MAX) return SharedMemoryError::kFailed;
        const std::string folder = block_folder();
        if (folder.empty()) return SharedMemoryError::kUntrusted;
        out->name = folder + "/" + object;
        return SharedMemoryError::kNone;
    }

    // Never through a symbolic link; never inherited.
    [[nodiscard]] int open(int flags, mode_t mode = 0600) const {
        int fd;
        do fd = ::open(name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
        while (fd < 0 && errno == EINTR);
        return fd;
    }
    int unlink() const { return ::unlink(name.c_str()); }
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
        error_ = ObjectName::make(ns, "lock", &object);
        if (error_ != SharedMemoryError::kNone) return;
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

std::string shared_memory_folder() { return block_folder(); }

void remove_shared_memory_lock() {
    ObjectName object;
    if (ObjectName::make(current_namespace(), "lock", &object) == SharedMemoryError::kNone) object.unlink();
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
    if (const SharedMemoryError error = ObjectName::make(ns, name, &object); error != SharedMemoryError::kNone)
        return fail(error);

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
            ::unlink(object_name_.c_str());  // last holder
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
