#include "platform/threads.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

namespace zbx::platform {
namespace {

// Two nice steps above the current value, as the "highest" priority of the
// normal class is two steps above normal.
constexpr int kPriorityBoost = 2;

}  // namespace

Thread::~Thread() { join(); }

bool Thread::start(std::function<void()> body, const char* name) {
    if (thread_.joinable() || !body) return false;
    try {
        thread_ = std::thread(std::move(body));
    } catch (const std::exception&) {  // no thread, or no memory for its state
        return false;
    }
    // A name too long is refused and the thread keeps the process's name.
    if (name != nullptr) (void)::pthread_setname_np(thread_.native_handle(), name);
    return true;
}

void Thread::join() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
        return;
    }
    thread_.join();
}

bool raise_current_thread_priority() {
    // On Linux a nice value set through the thread id applies to that thread
    // only.  Lowering it needs CAP_SYS_NICE or an RLIMIT_NICE allowance;
    // without either the call fails with EACCES/EPERM and nothing changes.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) return false;
    return ::setpriority(PRIO_PROCESS, tid, current - kPriorityBoost) == 0;
}

}  // namespace zbx::platform
