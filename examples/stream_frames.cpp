// Takes frames from the camera in slot 0 with the C++ layer: settings with
// units, a range of frames that give their buffers back, named errors.
//
//     stream_frames_cpp [count]      (default 20)
//
// Build: c++ -std=c++20 stream_frames.cpp $(pkg-config --cflags --libs zorbex-sdk)
#include <zorbex/zorbex.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>

int main(int argc, char** argv) {
    const std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20;
    try {
        zorbex::Camera cam(0);
        cam.set_color_mode(zorbex::ColorMode::bgr24);
        cam.set_exposure(std::chrono::microseconds(10000));
        std::printf("frame period %.3f ms\n", std::chrono::duration<double, std::milli>(cam.frame_period()).count());
        std::uint64_t taken = 0;
        for (const zorbex::Frame& frame : cam.stream({.count = count})) {
            std::uint64_t sum = 0;
            for (int y = 0; y < frame.height(); ++y) {
                const auto row = frame.samples<std::uint8_t>(y);
                sum = std::accumulate(row.begin(), row.end(), sum);
            }
            std::printf("frame %llu  exposure %lld us  dropped %u  mean %.2f\n",
                        static_cast<unsigned long long>(frame.sequence()),
                        static_cast<long long>(frame.exposure().count()), frame.dropped(),
                        static_cast<double>(sum) / (3.0 * frame.width() * frame.height()));
            ++taken;
        }
        if (taken < count) {
            std::fprintf(stderr, "stream_frames_cpp: the stream ended after %llu frames\n",
                         static_cast<unsigned long long>(taken));
            return 1;
        }
    } catch (const zorbex::Error& e) {
        std::fprintf(stderr, "stream_frames_cpp: %s\n", e.what());
        return 1;
    }
    return 0;
}
