#include "api/registry.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "platform/clock.h"
#include "session/dialog_hosts.h"

namespace zbx::api {
namespace {

// Set while a registry is being torn down at unload: the sessions it still
// holds are then not destroyed (the rest of the library may be gone).
std::atomic<bool> g_unloading{false};

struct SessionDeleter {
    void operator()(session::CZorbex* session) const {
        if (!g_unloading.load()) delete session;
    }
};

}  // namespace

CSdkChain::~CSdkChain() {
    g_unloading = true;
    while (remove_current()) {
    }
    g_unloading = false;
}

std::uint32_t CSdkChain::add_session(std::unique_ptr<session::CZorbex> session,
                                     std::uint32_t seed) {
    SessionRef shared(session.release(), SessionDeleter{});
    std::lock_guard lock(this->lock());
    std::uint32_t handle = seed + count();
    // Two open sessions must never share a handle, and 0 means failure.
    while (handle == 0 || contains(handle)) ++handle;
    if (!Add(CSDKDATA{handle, std::move(shared)})) return 0;
    return handle;
}

SessionRef CSdkChain::find_session(std::uint32_t handle) {
    std::lock_guard lock(this->lock());
    return find(handle) ? current()->session : nullptr;
}

int CSdkChain::release(std::uint32_t handle) {
    SessionRef session;
    {
        std::lock_guard lock(this->lock());
        if (!find(handle) || current()->session == nullptr) return 0;
        // From here on every export with this handle fails.
        session = std::move(current()->session);
    }
    // An open property dialog of the session ends as Cancel (its values
    // restored) and its export returns before the session can go.
    session::close_session_dialogs(*session);
    // Destroys the session unless an export still holds it; that may stop
    // threads, so never under the registry's lock.
    session.reset();
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
