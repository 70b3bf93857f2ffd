// Threads: an owned thread that is always joined, and the priority raise the
// transfer thread asks for.
#pragma once

#include <functional>
#include <thread>

namespace zbx::platform {

// One thread of execution owned by this object.  The destructor joins it,
// so a Thread must not outlive what its body uses.  Not thread-safe itself:
// start, join and destruction belong to the owning thread.
class Thread {
public:
    Thread() = default;
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Runs `body` on a new thread, named `name` (at most 15 characters) for
    // tools that list threads (top -H, gdb, perf).  False when this object
    // already holds a thread, `body` is empty, or the system cannot create a
    // thread.
    [[nodiscard]] bool start(std::function<void()> body, const char* name = nullptr);
    // Waits for the body to return.  No-op when nothing runs; from the
    // thread itself it detaches instead of deadlocking.
    void join();
    [[nodiscard]] bool joinable() const { return thread_.joinable(); }
    // Identifier of the running thread (default-constructed id when none).
    [[nodiscard]] std::thread::id id() const { return thread_.get_id(); }

private:
    std::thread thread_;
};

// Raises the calling thread to the highest priority an unprivileged process
// may request (a lower nice value for this thread).  Best effort: returns
// false when the system refuses, and the thread simply runs on as before.
bool raise_current_thread_priority();

}  // namespace zbx::platform
