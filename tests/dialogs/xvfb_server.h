// The private X server of the dialog tests: one per process, started on
// first use and kept to the end, so that it outlives the library's GUI
// thread (statics end in reverse order).  DISPLAY points at it.
#pragma once

#include <cstdlib>

#include "support/x11_display.h"

namespace zbx::test {

class XvfbServer {
public:
    // The process's server; null when Xvfb is missing or did not come up.
    static XvfbServer* instance() {
        static XvfbServer server;
        return server.up_ ? &server : nullptr;
    }

private:
    XvfbServer() : up_(server_.start()) {
        if (up_) ::unsetenv("WAYLAND_DISPLAY");
    }

    PrivateXServer server_;
    bool up_;
};

}  // namespace zbx::test
