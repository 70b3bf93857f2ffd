// The analog, filter and gray registry groups as a session uses them: read
// into its values at initialization and device switches, written at release
// and before device switches, and the analog values programmed into the
// sensor after a read.
#pragma once

namespace zbx::session {

class CZorbex;

// Reads the filter, gray and analog groups of `device_number` into the
// session (defaults for a group that is missing).  Needs the sensor model
// for the analog defaults; without one the analog block is left alone.
void load_dialog_groups(CZorbex& session, int device_number);
// Writes the analog, filter and gray groups of `device_number`; registry
// failures go unreported.
void save_dialog_groups(CZorbex& session, int device_number);
// Programs global gain, exposure lines, vertical and horizontal mirror, in
// that order.  Nothing without a sensor model.
void program_analog_values(CZorbex& session);

}  // namespace zbx::session
