#include "support/fifo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace zbx::test {

Fifo::Fifo() : path_((dir_ / "pipe").string()) {
    if (::mkfifo(path_.c_str(), 0600) != 0) std::abort();
    // A call released by the peer may write after the reader left.
    std::signal(SIGPIPE, SIG_IGN);
}

int Fifo::run(const std::function<int()>& call, bool* stuck) const {
    std::atomic<bool> done{false};
    int result = 0;
    std::thread caller([&] {
        result = call();
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    *stuck = !done;
    while (!done) {
        const int reader = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int writer = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0) ::close(writer);
        char sink[65536];
        for (int i = 0; i < 20 && !done; ++i) {
            if (reader >= 0) (void)!::read(reader, sink, sizeof sink);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (reader >= 0) ::close(reader);
    }
    caller.join();
    return result;
}

}  // namespace zbx::test
