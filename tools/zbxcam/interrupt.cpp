#include "interrupt.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

namespace zbxcam {

namespace {

volatile std::sig_atomic_t g_requested = 0;
int g_depth = 0;

void request_stop(int) { g_requested = 1; }

}  // namespace

InterruptCatcher::InterruptCatcher() {
    if (g_depth == 0) g_requested = 0;
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &old_int_);
    ::sigaction(SIGTERM, &action, &old_term_);
    ++g_depth;
}

InterruptCatcher::~InterruptCatcher() {
    --g_depth;
    ::sigaction(SIGINT, &old_int_, nullptr);
    ::sigaction(SIGTERM, &old_term_, nullptr);
}

bool interrupt_requested() { return g_requested != 0; }

bool sleep_unless_interrupted(double seconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds));
    while (!interrupt_requested()) {
        const Clock::time_point now = Clock::now();
        if (now >= end) return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(20)));
    }
    return false;
}

}  // namespace zbxcam
