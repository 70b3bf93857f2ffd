// A named pipe for tests of calls that must refuse it: run() catches a call
// that opens the pipe and waits for a peer, releases it, and says so,
// instead of letting the test hang.
#pragma once

#include <functional>
#include <string>

#include "support/temp_dir.h"

namespace zbx::test {

class Fifo {
public:
    Fifo();
    [[nodiscard]] const char* path() const { return path_.c_str(); }

    // Runs call() on a thread and returns its result.  When it has not
    // returned within 5 s, a peer opens the other end (a reader that drains
    // it and a writer that closes at once) until the call ends; *stuck then
    // says that the call waited on the pipe.
    int run(const std::function<int()>& call, bool* stuck) const;

private:
    TempDir dir_{"zbxtest-fifo-"};
    std::string path_;
};

}  // namespace zbx::test
