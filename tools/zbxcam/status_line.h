// The live status line of a stream and its summary.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zbxcam {

struct StreamStats {
    std::uint64_t frames = 0;
    std::uint64_t dropped = 0;  // frames the camera sent that the stream did not take
    std::map<int, std::uint64_t> failures;  // error code -> how often
    int rate_tenths = 0;                    // the library's frame rate, tenths of frames per second
    double elapsed_s = 0;
    double duration_s = 0;  // 0: until stopped
    int width = 0;
    int height = 0;
    int bits = 0;

    [[nodiscard]] std::uint64_t failure_count() const;
};

// "frames 123 | 45.0 fps | failures 0 | 2.7 s of 5 s"
std::string format_status(const StreamStats& stats);
// "streamed 5.0 s: 225 frames of 1280 x 720 at 24 bits per pixel, 45.0 fps
// on average, no failures" (failures listed by code name).
std::string format_summary(const StreamStats& stats);

}  // namespace zbxcam
