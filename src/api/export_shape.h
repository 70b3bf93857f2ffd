// The shape every export that takes a handle shares: look the session up,
// fail at once for an unknown handle or a record being released (no
// message, no history entry, no output written), else run the operation.
// No exception crosses the C interface (api/guard.h).
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>

#include "api/guard.h"
#include "api/registry.h"
#include "session/error_codes.h"
#include "session/zorbex.h"

namespace zbx::api {

// Failure values of an unknown handle.
inline constexpr int kFailed = 0;
inline constexpr int kFailedMinusOne = -1;  // GetColorMode, GetSubSample, GetWaitTime

// Runs `operation(session)` for `handle` and returns its result, or
// `failure` when there is no session.  The export holds the session for the
// whole operation, so a Release meanwhile (from another thread, or from
// inside the operation) leaves its destruction to this export's return.
// An exception escaping the operation becomes `failure` (a failed
// allocation is also recorded as a memory error).
template <typename Result, typename Operation>
Result with_session(std::uint32_t handle, Result failure, Operation&& operation) noexcept {
    static_assert(std::is_invocable_r_v<Result, Operation, session::CZorbex&>);
    return guarded(failure, [&]() -> Result {
        const SessionRef session = registry().find_session(handle);
        if (session == nullptr) return failure;
        try {
            return operation(*session);
        } catch (const std::bad_alloc&) {
            session->report(session::ERR_MEMORY);
            return failure;
        }
    });
}

}  // namespace zbx::api
