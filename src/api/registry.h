// The instance registry: the one process-wide table from session handles
// to sessions.
#pragma once

#include <cstdint>
#include <memory>

#include "api/ring.h"
#include "session/zorbex.h"

namespace zbx::api {

// A running export's hold on its session: the session lives at least
// until the last hold is dropped, even when the handle is released
// meanwhile.  Taken for the length of one export only.
using SessionRef = std::shared_ptr<session::CZorbex>;

// One open session.  `session` is the registry's own hold; it is null from
// the moment Release takes it until the record is removed.
struct CSDKDATA {
    std::uint32_t handle = 0;
    SessionRef session;
};

class CSdkChain : public CTRing<CSDKDATA> {
public:
    CSdkChain() = default;
    // Frees the records; sessions never released are left as they are
    // (their threads and windows may still run while the process ends).
    ~CSdkChain();

    // Adds `session` under a handle made from `seed` (tick count plus a
    // random number) plus the number of open sessions, stepped past 0 and
    // past every handle in the ring, so no two records share a handle.
    // Returns the handle, or 0 (and destroys the session) when no node can
    // be allocated.
    [[nodiscard]] std::uint32_t add_session(std::unique_ptr<session::CZorbex> session,
                                            std::uint32_t seed);
    // A hold on the session for `handle`, or null for an unknown handle or
    // a released one.  The caller uses it outside the registry's lock and
    // drops it when its export returns.
    [[nodiscard]] SessionRef find_session(std::uint32_t handle);
    // Makes `handle` stop resolving at once and removes its record.  The
    // session is destroyed here when no export holds it; otherwise the last
    // export to return destroys it.  Release never waits for an export: it
    // may be called from inside one on the same session (a dialog's user),
    // or from a thread that the running export waits for.
    // 1, or 0 for an unknown handle or a record already being released.
    int release(std::uint32_t handle);
};

// The registry of this library.
CSdkChain& registry();

// Tick count plus the runtime's random number, never seeded.
std::uint32_t make_handle_seed();

}  // namespace zbx::api
