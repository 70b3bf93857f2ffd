#include "pipeline/simd_targets.h"

#include <atomic>

#include <hwy/highway.h>
#include <hwy/targets.h>

namespace zbx::pipeline::simd {

namespace {
std::atomic<std::int64_t> g_pinned{0};
}

std::vector<std::int64_t> runnable_targets() {
    // Lifts a pin for the question, so that a test can walk every target.
    const std::int64_t pinned = g_pinned.load();
    if (pinned != 0) hwy::SetSupportedTargetsForTest(0);
    std::vector<std::int64_t> targets = hwy::SupportedAndGeneratedTargets();
    if (pinned != 0) hwy::SetSupportedTargetsForTest(pinned);
    return targets;
}

void force_target(std::int64_t target) {
    g_pinned.store(target);
    // Also makes the next dispatched call choose its target again.
    hwy::SetSupportedTargetsForTest(target);
}

std::int64_t current_target() {
    const std::int64_t pinned = g_pinned.load();
    if (pinned != 0) return pinned;
    const std::vector<std::int64_t> best = hwy::SupportedAndGeneratedTargets();
    return best.empty() ? 0 : best.front();
}

std::string target_name(std::int64_t target) { return hwy::TargetName(target); }

}  // namespace zbx::pipeline::simd
