// Format, geometry and mirrors; direct register, I/O-port and serial-ROM
// access.
#include <cstdint>

#include "api/export_shape.h"
#include "session/format_settings.h"
#include "zorbex/zorbex.h"

using zbx::api::kFailed;
using zbx::api::kFailedMinusOne;
using zbx::api::with_session;
using zbx::session::CZorbex;
namespace ss = zbx::session;

extern "C" int Zorbex_SetColorMode(ZbxHandle h, int bits) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_color_mode(s, bits); });
}

extern "C" int Zorbex_GetColorMode(ZbxHandle h) {
    return with_session(h, kFailedMinusOne, [](CZorbex& s) { return ss::get_color_mode(s); });
}

extern "C" int Zorbex_SetSubSample(ZbxHandle h, int mode) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_sub_sample(s, mode); });
}

extern "C" int Zorbex_GetSubSample(ZbxHandle h) {
    return with_session(h, kFailedMinusOne, [](CZorbex& s) { return ss::get_sub_sample(s); });
}

extern "C" int Zorbex_SetWaitTime(ZbxHandle h, int milliseconds) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_wait_time(s, milliseconds); });
}

extern "C" int Zorbex_GetWaitTime(ZbxHandle h) {
    return with_session(h, kFailedMinusOne, [](CZorbex& s) { return ss::get_wait_time(s); });
}

extern "C" int Zorbex_Width(ZbxHandle h) {
    return with_session(h, kFailed, [](CZorbex& s) { return ss::width(s); });
}

extern "C" int Zorbex_Height(ZbxHandle h) {
    return with_session(h, kFailed, [](CZorbex& s) { return ss::height(s); });
}

// Zorbex_GetVideoFormat and Zorbex_GetSamplingRate are one entry point.
extern "C" {
int zbx_get_video_format(ZbxHandle h, int* value) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::get_video_format(s, value); });
}
__attribute__((alias("zbx_get_video_format"), visibility("default"))) int Zorbex_GetVideoFormat(ZbxHandle h,
                                                                                             int* format);
__attribute__((alias("zbx_get_video_format"), visibility("default"))) int Zorbex_GetSamplingRate(ZbxHandle h,
                                                                                              int* rate);
}

extern "C" int Zorbex_SetMirrorH(ZbxHandle h, int flag) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_mirror_h(s, flag); });
}

extern "C" int Zorbex_SetMirrorV(ZbxHandle h, int flag) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_mirror_v(s, flag); });
}

extern "C" int Zorbex_GetMirrorH(ZbxHandle h) {
    return with_session(h, kFailed, [](CZorbex& s) { return ss::get_mirror_h(s); });
}

extern "C" int Zorbex_GetMirrorV(ZbxHandle h) {
    return with_session(h, kFailed, [](CZorbex& s) { return ss::get_mirror_v(s); });
}

extern "C" int Zorbex_ReadRegister(ZbxHandle h, int address, int* ok) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::read_register(s, address, ok, false); });
}

extern "C" int Zorbex_ReadRegisterEx(ZbxHandle h, int address, int* ok) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::read_register(s, address, ok, true); });
}

extern "C" int Zorbex_WriteRegister(ZbxHandle h, int address, int value) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::write_register(s, address, value, false); });
}

extern "C" int Zorbex_WriteRegisterEx(ZbxHandle h, int address, int value) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::write_register(s, address, value, true); });
}

extern "C" int Zorbex_ReadSromID(ZbxHandle h, int index, int* ok) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::read_srom_id(s, index, ok); });
}

extern "C" int Zorbex_WriteSromID(ZbxHandle h, int index, int value) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::write_srom_id(s, index, value); });
}

extern "C" int Zorbex_GetIOPort(ZbxHandle h, unsigned char* value, void* /*reserved1*/, int /*reserved2*/) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::get_io_port(s, value); });
}

extern "C" int Zorbex_SetIOPort(ZbxHandle h, int value) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_io_port(s, value); });
}
