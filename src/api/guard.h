// The one guard every export runs under: no exception crosses the C
// interface; each family returns its own failure value instead.
#pragma once

#include <type_traits>

namespace zbx::api {

// Runs `body()` and returns its result, or `failure` if it throws.
template <typename Result, typename Body>
Result guarded(Result failure, Body&& body) noexcept {
    static_assert(std::is_invocable_r_v<Result, Body>);
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

}  // namespace zbx::api
