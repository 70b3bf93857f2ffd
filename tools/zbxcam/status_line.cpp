#include "status_line.h"

#include <cstdio>

#include "error_text.h"

namespace zbxcam {

namespace {

std::string fixed1(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

std::uint64_t StreamStats::failure_count() const {
    std::uint64_t total = 0;
    for (const auto& [code, count] : failures) total += count;
    return total;
}

std::string format_status(const StreamStats& stats) {
    std::string line = "frames " + std::to_string(stats.frames);
    line += " | " + fixed1(stats.rate_tenths / 10.0) + " fps";
    line += " | failures " + std::to_string(stats.failure_count());
    line += " | " + fixed1(stats.elapsed_s) + " s";
    if (stats.duration_s > 0) line += " of " + fixed1(stats.duration_s) + " s";
    return line;
}

std::string format_summary(const StreamStats& stats) {
    std::string text = "streamed " + fixed1(stats.elapsed_s) + " s: " + std::to_string(stats.frames) +
                       (stats.frames == 1 ? " frame" : " frames");
    if (stats.width > 0)
        text += " of " + std::to_string(stats.width) + " x " + std::to_string(stats.height) +
                " at " + std::to_string(stats.bits) + " bits per pixel";
    const double average = stats.elapsed_s > 0 ? static_cast<double>(stats.frames) / stats.elapsed_s : 0;
    text += ", " + fixed1(average) + " fps on average, ";
    if (stats.dropped > 0) text += std::to_string(stats.dropped) + " dropped, ";
    if (stats.failures.empty()) return text + "no failures";
    text += std::to_string(stats.failure_count()) + (stats.failure_count() == 1 ? " failure" : " failures");
    text += " (";
    bool first = true;
    for (const auto& [code, count] : stats.failures) {
        if (!first) text += ", ";
        first = false;
        text += std::to_string(count) + " x " + error_name(code);
    }
    return text + ")";
}

}  // namespace zbxcam
