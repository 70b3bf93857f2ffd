// Runs a piece of a test in a forked child process, for behaviour that
// spans processes (shared memory, the settings file).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>

namespace zbx::test {

// A child started by fork that runs `body` and leaves with its result as
// exit status, without running any destructor or atexit handler of the
// parent's image.  Wait for it with wait(); the destructor waits too.
class ChildProcess {
public:
    explicit ChildProcess(std::function<int()> body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Exit status of the body, or -1 when the fork failed or the child was
    // killed by a signal.
    int wait();

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// Like run_in_child, but a child still running after `limit` is killed and
// -2 is returned: a hang becomes a failure instead of a stuck test.
int run_in_child_bounded(const std::function<int()>& body,
                         std::chrono::seconds limit = std::chrono::seconds(20));

// Convenience: start, wait, return the status.
inline int run_in_child(std::function<int()> body) { return ChildProcess(std::move(body)).wait(); }

}  // namespace zbx::test
