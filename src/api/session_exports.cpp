// Opening and closing sessions, and the error history.
#include <memory>
#include <new>

#include "api/export_shape.h"
#include "api/registry.h"
#include "zorbex/zorbex.h"

using zbx::api::guarded;
using zbx::api::kFailed;
using zbx::api::with_session;
using zbx::session::CZorbex;

extern "C" ZbxHandle Zorbex_Initialize(ZbxWindow notify_window) {
    const ZbxHandle handle = guarded(ZbxHandle{0}, [] {
        std::unique_ptr<CZorbex> session(new (std::nothrow) CZorbex());
        if (!session) return ZbxHandle{0};
        return zbx::api::registry().add_session(std::move(session), zbx::api::make_handle_seed());
    });
    if (handle == 0) return 0;
    // A failed initialization shows only in the history; the application
    // still owns the handle and must release it.
    (void)with_session(handle, kFailed, [&](CZorbex& s) { return s.initialize(notify_window); });
    return handle;
}

extern "C" int Zorbex_Release(ZbxHandle h) {
    return guarded(kFailed, [h] { return zbx::api::registry().release(h); });
}

extern "C" int Zorbex_GetLastError(ZbxHandle h) {
    return with_session(h, kFailed, [](CZorbex& s) { return s.pop_last_error(); });
}

extern "C" int Zorbex_GetStatus(ZbxHandle h, int /*reserved*/) {
    return with_session(h, kFailed, [](CZorbex& s) { return s.status(); });
}
