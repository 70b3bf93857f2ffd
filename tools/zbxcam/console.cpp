#include "console.h"

#include <algorithm>
#include <vector>

namespace zbxcam {

namespace {

std::string prefix(std::string_view command) {
    return command.empty() ? std::string("zbxcam") : "zbxcam " + std::string(command);
}

}  // namespace

int print_failure(Io& io, std::string_view command, std::string_view action,
                  std::span<const int> codes_oldest_first, const ErrorContext& context) {
    io.err << prefix(command) << ": " << action << ": ";
    const std::optional<int> cause = root_cause(codes_oldest_first);
    io.err << describe_error(cause.value_or(0), context) << "\n";
    std::vector<int> others;
    bool skipped_cause = false;
    for (int code : codes_oldest_first) {
        if (code == 0) continue;
        if (!skipped_cause && cause && code == *cause) {
            skipped_cause = true;
            continue;
        }
        if (std::find(others.begin(), others.end(), code) == others.end()) others.push_back(code);
    }
    if (!others.empty()) {
        io.err << "  the library also reported:";
        for (std::size_t i = 0; i < others.size(); ++i)
            io.err << (i ? ", " : " ") << error_name(others[i]) << " (" << others[i] << ")";
        io.err << "\n";
    }
    return kExitFailure;
}

int print_usage_error(Io& io, std::string_view command, std::string_view message) {
    io.err << prefix(command) << ": " << message << "\n"
           << "see '" << prefix(command) << " --help'\n";
    return kExitUsage;
}

}  // namespace zbxcam
