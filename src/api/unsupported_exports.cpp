// The seven operations this camera model does not support share one entry
// point.  Their C signatures differ, so this file declares them itself
// instead of including the public header: each only reads the handle in the
// first argument, which every signature passes the same way.
#include <cstdint>

#include "api/export_shape.h"

extern "C" {

int zbx_unsupported_operation(std::uint32_t handle) {
    return zbx::api::with_session(handle, zbx::api::kFailed, [](zbx::session::CZorbex& s) {
        s.post_notification(zbx::session::ERR_UNSUPPORTED);
        return 0;
    });
}

#define ZBX_UNSUPPORTED_ALIAS(name)                                                          \
    __attribute__((alias("zbx_unsupported_operation"), visibility("default"))) int name( \
        std::uint32_t handle)

ZBX_UNSUPPORTED_ALIAS(Zorbex_Fpga_ReadRegister);
ZBX_UNSUPPORTED_ALIAS(Zorbex_Fpga_WriteRegister);
ZBX_UNSUPPORTED_ALIAS(Zorbex_Fps);
ZBX_UNSUPPORTED_ALIAS(Zorbex_GetHalfClock);
ZBX_UNSUPPORTED_ALIAS(Zorbex_SetHalfClock);
ZBX_UNSUPPORTED_ALIAS(Zorbex_SetCrossbar);
ZBX_UNSUPPORTED_ALIAS(Zorbex_SetSamplingRate);

#undef ZBX_UNSUPPORTED_ALIAS
}
