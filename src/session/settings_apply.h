// The settings apply that every acquisition start runs: it checks that the
// camera may be used, sizes the image buffers for the colour mode and
// brings the sensor into line with the stored settings.
#pragma once

namespace zbx::session {

class CZorbex;

// 1 when everything is in place.  Failures report 2 (device absent or
// streaming for another session), 7 (geometry) or 5 (a buffer), and leave
// what was done so far as it is.  Application thread; does not take the
// frame lock, so no acquisition may run.
int apply_settings(CZorbex& session);

}  // namespace zbx::session
