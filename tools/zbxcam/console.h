// Where a command writes, its exit statuses, and the one way failures are
// printed.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "error_text.h"

namespace zbxcam {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the camera or the library failed
inline constexpr int kExitUsage = 2;    // the command line was wrong

struct Io {
    std::ostream& out;
    std::ostream& err;
    bool live = false;  // out is a terminal: redraw the status line in place
};

// "zbxcam snap: could not take a frame: ERR_...: sentence", plus the other
// codes the library reported with it.  Returns kExitFailure.
int print_failure(Io& io, std::string_view command, std::string_view action,
                  std::span<const int> codes_oldest_first, const ErrorContext& context);

// "zbxcam snap: <message>" and "see 'zbxcam snap --help'".  Returns kExitUsage.
int print_usage_error(Io& io, std::string_view command, std::string_view message);

}  // namespace zbxcam
