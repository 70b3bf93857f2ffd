// The portable vector layer's run-time dispatch, as tests and benchmarks see
// it: which instruction-set targets this processor runs, and a way to pin the
// dispatch to one of them so that every path is compared on one machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zbx::pipeline::simd {

// Targets compiled into the library that this processor can run, best first.
[[nodiscard]] std::vector<std::int64_t> runnable_targets();

// From now on every dispatched kernel runs `target` (one of
// runnable_targets()); 0 gives the dispatch back to the processor's best.
// Not for use while frames are being developed on other threads.
void force_target(std::int64_t target);

// The name of `target` ("AVX3", "AVX2", "SSE4", "NEON", ...).
[[nodiscard]] std::string target_name(std::int64_t target);

// The target the dispatch picks now (forced or best).
[[nodiscard]] std::int64_t current_target();

}  // namespace zbx::pipeline::simd
