// Ctrl-C (and SIGTERM) as a request to stop: the commands poll it, finish
// what they write and release the camera, instead of dying with a camera
// still marked in use or a file without its index.
#pragma once

#include <signal.h>

namespace zbxcam {

// Catches SIGINT and SIGTERM while it lives, restoring the previous
// handlers after.  Nested catchers share one request; only the outermost
// clears it when it starts.  Main thread.
class InterruptCatcher {
public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

private:
    struct sigaction old_int_ {};
    struct sigaction old_term_ {};
};

// True once Ctrl-C came while a catcher lives.
[[nodiscard]] bool interrupt_requested();

// Sleeps up to `seconds`, waking early on a stop request; false when
// interrupted.
bool sleep_unless_interrupted(double seconds);

}  // namespace zbxcam
