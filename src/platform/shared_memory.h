// Named shared memory: a block of bytes that every process of the same user
// can open by name and map whole.
//
// Blocks live in a per-user namespace, so two users never see each other's
// blocks, and a test process can select a private namespace of its own.
// They are files in a folder of the user's own that nobody else may enter
// (see shared_memory_folder), chosen without regard to the environment so
// that every process of the user finds the same blocks.  Only objects that
// the calling user owns and nobody else may open are used: anything else
// under a block's name is removed when the system allows it and refused
// otherwise, and the lock that serialises opening and closing is never
// waited on without a time-out.
// A block lives as long as some holder (in any process) has it open: the
// last close, or the death of the last process holding it, removes it, so
// a fresh start never inherits a table left by processes that are gone.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace zbx::platform {

// Selects the namespace for blocks opened from now on in this process
// (empty restores the default, "zbx-<uid>").  Tests use it so that test
// processes running in parallel never share a block.  Thread-safe.
void set_shared_memory_namespace(std::string ns);
std::string shared_memory_namespace();
// The folder the blocks live in, made 0700 when missing: /dev/shm/zbx-<uid>
// normally; when another user has taken that name, an alternate of ours
// (/dev/shm/zbx-<uid>-1 to -7) that exists, else /run/user/<uid> if the
// system made it, else the first alternate that can be made.  Empty when
// none is ours: opening then fails as untrusted.
std::string shared_memory_folder();
// Removes the lock object of the current namespace (every namespace has one
// that outlives its blocks).  Only for a private namespace that no process
// uses any more, as a test process's at its end.
void remove_shared_memory_lock();

// Why the last open failed.
enum class SharedMemoryError {
    kNone,
    kMissing,      // open: there is no such block
    kUntrusted,    // a folder, block or lock of another user, or open to others, is in the way
    kLockTimeout,  // the lock was held longer than the time-out
    kFailed,       // anything else (bad arguments, no memory, system errors)
};

// One holder of a mapped block.  Not thread-safe itself; the mapped bytes
// are shared with no lock, as their users expect.
class SharedMemory {
public:
    SharedMemory() = default;
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Opens an existing block and maps it whole.  False when there is no
    // such block (or `name` is null or empty).  Closes what was held first.
    [[nodiscard]] bool open(const char* name);
    // Opens the block or, when there is none, creates it with `size` bytes
    // (zero-filled).  *created (optional) says which happened.  False when
    // neither works, or when an existing block is smaller than `size`.
    [[nodiscard]] bool open_or_create(const char* name, std::size_t size, bool* created);
    // Unmaps and releases the block; removes it when this was the last
    // holder.  Safe to call when nothing is open.
    void close();

    [[nodiscard]] bool is_open() const { return data_ != nullptr; }
    [[nodiscard]] std::uint8_t* data() { return data_; }
    [[nodiscard]] const std::uint8_t* data() const { return data_; }
    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] SharedMemoryError last_error() const { return error_; }

private:
    bool attach(const char* name, bool create, std::size_t size, bool* created);
    bool fail(SharedMemoryError error);

    std::string object_name_;
    std::string namespace_;
    SharedMemoryError error_ = SharedMemoryError::kNone;
    int fd_ = -1;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    pid_t owner_pid_ = 0;
};

}  // namespace zbx::platform
