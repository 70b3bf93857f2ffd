// Image adjustment values addressed by filter value ids 1 to 28, the
// automatic iris mode, the defect correction switch and the real exposure
// time.  Each id's home and range come from the value table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "session/session_state.h"
#include "session/value_table.h"

namespace zbx::session {

class CZorbex;

// Stores `value` for `id`: error 1 without a camera, 9 for an unknown id or
// a value out of range (nothing changes).  1 or 0.
int set_filter_value(CZorbex& session, int id, int value);
// The value of `id`; ids 13 and 18 ask the sensor.  *ok (optional) 1 or 0.
int get_filter_value(CZorbex& session, int id, int* ok);

// Defect correction switch: 0 or 1, else error 9.  No camera needed.
int set_config_filter(CZorbex& session, int flag);
int get_config_filter(CZorbex& session);

// Automatic iris mode 0 to 2; another value posts error 9 unrecorded.
int set_auto_iris(CZorbex& session, int mode);
int get_auto_iris(CZorbex& session, int* ok);

// Real exposure time in microseconds from the exposure lines and the line
// length the sensor reports, both ways.
int get_real_exposure_time(CZorbex& session, int* ok);
int set_real_exposure_time(CZorbex& session, int microseconds);
// The computation of the getter, stored in the exposure model; needs the
// sensor model.
std::int32_t update_real_exposure_time(CZorbex& session);

}  // namespace zbx::session
