// Image adjustment values: the id forms, their named fixed-id forms (one
// table below), the defect correction switch, the automatic iris mode and
// the real exposure time.
#include "api/export_shape.h"
#include "session/adjustment_values.h"
#include "session/value_table.h"
#include "zorbex/zorbex.h"

using zbx::api::kFailed;
using zbx::api::with_session;
using zbx::session::CZorbex;
namespace ss = zbx::session;

extern "C" int Zorbex_SetFilterValue(ZbxHandle h, int id, int value) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_filter_value(s, id, value); });
}

extern "C" int Zorbex_GetFilterValue(ZbxHandle h, int id, int* ok) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::get_filter_value(s, id, ok); });
}

// Each named form is the id form with its id, one pair per named entry of
// the value table.
#define ZBX_NAMED_FILTER_VALUE(id, name, ...)                                                        \
    extern "C" int Zorbex_Get##name(ZbxHandle h, int* ok) { return Zorbex_GetFilterValue(h, id, ok); } \
    extern "C" int Zorbex_Set##name(ZbxHandle h, int value) { return Zorbex_SetFilterValue(h, id, value); }
#define ZBX_NO_NAMED_EXPORTS(...)

ZBX_VALUE_TABLE(ZBX_NAMED_FILTER_VALUE, ZBX_NO_NAMED_EXPORTS)

#undef ZBX_NO_NAMED_EXPORTS
#undef ZBX_NAMED_FILTER_VALUE

extern "C" int Zorbex_SetConfigFilter(ZbxHandle h, int flag) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_config_filter(s, flag); });
}

extern "C" int Zorbex_GetConfigFilter(ZbxHandle h) {
    return with_session(h, kFailed, [](CZorbex& s) { return ss::get_config_filter(s); });
}

extern "C" int Zorbex_SetAutoIris(ZbxHandle h, int mode) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_auto_iris(s, mode); });
}

extern "C" int Zorbex_GetAutoIris(ZbxHandle h, int* ok) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::get_auto_iris(s, ok); });
}

extern "C" int Zorbex_SetRealExposureTime(ZbxHandle h, int microseconds) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::set_real_exposure_time(s, microseconds); });
}

extern "C" int Zorbex_GetRealExposureTime(ZbxHandle h, int* ok) {
    return with_session(h, kFailed, [&](CZorbex& s) { return ss::get_real_exposure_time(s, ok); });
}
