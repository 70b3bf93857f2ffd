// The defect list file, the image copy, and device selection.
#include "api/export_shape.h"
#include "session/device_selection.h"
#include "session/image_copy.h"
#include "session/persistence.h"
#include "zorbex/zorbex.h"

using zbx::api::kFailed;
using zbx::api::with_session;
using zbx::session::CZorbex;
namespace ss = zbx::session;

extern "C" int Zorbex_LoadConfigFileA(ZbxHandle h, const char* file_name) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::load_config_file(s, file_name); });
}

extern "C" int Zorbex_LoadConfigFileW(ZbxHandle h, const char16_t* file_name) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::load_config_file(s, file_name); });
}

extern "C" int Zorbex_GetImage(ZbxHandle h, void* buffer, int length, int copy_flag) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::get_image(s, buffer, length, copy_flag); });
}

extern "C" int Zorbex_EnumDevice(ZbxHandle h, char (*names)[256]) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::enum_devices(s, names); });
}

extern "C" int Zorbex_EnumDeviceW(ZbxHandle h, char16_t (*names)[256]) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::enum_devices(s, names); });
}

extern "C" int Zorbex_GetDeviceName(ZbxHandle h, int slot, char* buffer, int size) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::get_device_name(s, slot, buffer, size); });
}

extern "C" int Zorbex_GetDeviceNameW(ZbxHandle h, int slot, char16_t* buffer, int size) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::get_device_name(s, slot, buffer, size); });
}

extern "C" int Zorbex_SetDeviceNumber(ZbxHandle h, int number) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_device_number(s, number); });
}

extern "C" int Zorbex_GetCameraInfo(ZbxHandle h, ZbxCameraInfo* info) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::get_camera_info(s, info); });
}
