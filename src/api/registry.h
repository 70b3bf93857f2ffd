// The instance registry: the one process-wide table from session handles
// to sessions.
#pragma once

#include <cstdint>
#include <memory>

#include "api/ring.h"
#include "session/zorbex.h"

namespace zbx::api {

// One open session.  `session` is null only while Release destroys it.
struct CSDKDATA {
    std::uint32_t handle = 0;
    session::CZorbex* session = nullptr;
};

class CSdkChain : public CTRing<CSDKDATA> {
public:
    // Adds `session` under a handle made from `seed` (tick count plus a
    // random number) plus the number of open sessions, stepped past 0 and
    // past every handle in the ring, so no two records share a handle.
    // Returns the handle, or 0 (and destroys the session) when no node can
    // be allocated.
    [[nodiscard]] std::uint32_t add_session(std::unique_ptr<session::CZorbex> session,
                                            std::uint32_t seed);
    // The session for `handle`, or null for an unknown handle or a record
    // being released.  The caller uses it outside the registry's lock.
    [[nodiscard]] session::CZorbex* find_session(std::uint32_t handle);
    // Destroys the session (outside the lock) and removes its record.
    // 1, or 0 for an unknown handle or a record already being released.
    int release(std::uint32_t handle);
};

// The registry of this library.
CSdkChain& registry();

// Tick count plus the runtime's random number, never seeded.
std::uint32_t make_handle_seed();

}  // namespace zbx::api
