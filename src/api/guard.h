// The one guard every export runs under: no exception crosses the C
// interface; each family returns its own failure value instead.
#pragma once

#include <new>
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

// The same, for families that tell a failed allocation apart: `out_of_memory`
// for std::bad_alloc, `failure` for any other exception.
template <typename Result, typename Body>
Result guarded(Result out_of_memory, Result failure, Body&& body) noexcept {
    static_assert(std::is_invocable_r_v<Result, Body>);
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return out_of_memory;
    } catch (...) {
        return failure;
    }
}

}  // namespace zbx::api
