// A private X server for tests that need a display: Xvfb on a display
// number of its own, waited for by its socket, ended by its pid.  DISPLAY
// points at it while it lives.  One per process, made before the first
// dialog opens, so it outlives the library's GUI thread (statics end in
// reverse order).
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

extern char** environ;

namespace zbx::test {

class XvfbServer {
public:
    // The process's server, started on first use; null when Xvfb is missing
    // or did not come up.
    static XvfbServer* instance() {
        static XvfbServer server;
        return server.pid_ > 0 ? &server : nullptr;
    }
    [[nodiscard]] int display() const { return display_; }

    ~XvfbServer() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

private:
    XvfbServer() {
        if (::access("/usr/bin/Xvfb", X_OK) != 0) return;
        // A number from the pid, past any that is taken.
        for (int n = 200 + static_cast<int>(::getpid() % 5000); pid_ <= 0 && n < 6000; n += 7) {
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            if (::access(socket.c_str(), F_OK) == 0 || ::access(lock.c_str(), F_OK) == 0) continue;
            const std::string name = ":" + std::to_string(n);
            const char* argv[] = {"Xvfb", name.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                  "-noreset", nullptr};
            pid_t pid = 0;
            if (::posix_spawn(&pid, "/usr/bin/Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
                return;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            bool up = false;
            while (!up && std::chrono::steady_clock::now() < deadline) {
                up = ::access(socket.c_str(), F_OK) == 0;
                int status = 0;
                if (!up && ::waitpid(pid, &status, WNOHANG) == pid) break;  // lost the race for n
                if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (!up) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
                continue;
            }
            pid_ = pid;
            display_ = n;
            ::setenv("DISPLAY", name.c_str(), 1);
            ::unsetenv("WAYLAND_DISPLAY");
        }
    }

    pid_t pid_ = 0;
    int display_ = -1;
};

}  // namespace zbx::test
