// Settings persistence of a session: the geometry and format values of its
// camera key, the first-run defaults, and the defect list file.  The
// analog, filter and gray groups are read and written by their own
// routines (dialogs/*_group.h); the session runs them (session_groups.h).
#pragma once

#include <cstdint>

namespace zbx::session {

class CZorbex;

// Reads the geometry preset in use ("Size", "Size_%02d") into the session;
// 1 when values were read.  With no settings key at all it creates the
// first-run tree (preset Size_00 of the full sensor and the format values)
// and returns 0: the session's defaults already equal that preset.
int load_geometry(CZorbex& session);

// Reads "Color", "SubSample", "WaitTime" and "Clock" as stored, without
// range checks (the settings apply catches bad ones); 1 when the camera key
// was there.
int load_format_values(CZorbex& session);

// Replaces the defect list with the (x, y) records of the file, under the
// defect-list lock; 1, or 0 (list unchanged, nothing reported) when the
// file cannot be read.
int load_config_file(CZorbex& session, const char* file_name);
// The same with a UTF-16 name; error 12 when it cannot be converted or is
// too long.
int load_config_file(CZorbex& session, const char16_t* file_name);

}  // namespace zbx::session
