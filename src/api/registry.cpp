#include "api/registry.h"

#include <cstdlib>
#include <mutex>

#include "platform/clock.h"

namespace zbx::api {

std::uint32_t CSdkChain::add_session(std::unique_ptr<session::CZorbex> session,
                                     std::uint32_t seed) {
    std::lock_guard lock(this->lock());
    std::uint32_t handle = seed + count();
    // Two open sessions must never share a handle, and 0 means failure.
    while (handle == 0 || contains(handle)) ++handle;
    if (!Add(CSDKDATA{handle, session.get()})) return 0;
    session.release();  // the record owns it now
    return handle;
}

session::CZorbex* CSdkChain::find_session(std::uint32_t handle) {
    std::lock_guard lock(this->lock());
    return find(handle) ? current()->session : nullptr;
}

int CSdkChain::release(std::uint32_t handle) {
    std::unique_ptr<session::CZorbex> session;
    {
        std::lock_guard lock(this->lock());
        if (!find(handle) || current()->session == nullptr) return 0;
        session.reset(current()->session);
        // From here on every export with this handle fails.
        current()->session = nullptr;
    }
    session.reset();  // may stop threads: never under the registry's lock
    std::lock_guard lock(this->lock());
    if (find(handle)) remove_current();
    return 1;
}

CSdkChain& registry() {
    // Built on first use (no export runs before the library is loaded);
    // frees its nodes, not the sessions, at unload.
    static CSdkChain chain;
    return chain;
}

std::uint32_t make_handle_seed() {
    return platform::tick_count() + static_cast<std::uint32_t>(std::rand());
}

}  // namespace zbx::api
