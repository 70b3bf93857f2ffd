// zorbex.hpp: the camera from C++20, header-only, on the C interface
// (zorbex.h, stream.h, errors.h).
//
//     zorbex::Camera cam;                                  // the camera in slot 0
//     cam.set_color_mode(zorbex::ColorMode::bgr24);
//     cam.set_exposure(std::chrono::microseconds(10000));
//     for (const zorbex::Frame& frame : cam.stream({.count = 100})) {
//         std::span<const std::byte> row = frame.row(0);  // the buffer goes back when the loop moves on
//     }
//
// Failures throw zorbex::Error with the library's code, its name and its
// sentence.  A Camera owns its session, a Stream its queue, a Frame its
// buffer; each gives it back when it goes out of scope (move-only).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>

#include "zorbex/errors.h"
#include "zorbex/stream.h"
#include "zorbex/window.h"
#include "zorbex/zorbex.h"

namespace zorbex {

class Error : public std::runtime_error {
public:
    explicit Error(int code, const std::string& what = {})
        : std::runtime_error((what.empty() ? std::string() : what + ": ") + ZbxError_Describe(code) + " (" +
                             ZbxError_Name(code) + ")"),
          code_(code) {}
    [[nodiscard]] int code() const noexcept { return code_; }
    [[nodiscard]] const char* name() const noexcept { return ZbxError_Name(code_); }
    [[nodiscard]] const char* sentence() const noexcept { return ZbxError_Describe(code_); }

private:
    int code_;
};

namespace detail {
inline void check(int code, const char* what) {
    if (code != ZBX_OK) throw Error(code, what);
}
}  // namespace detail

enum class ColorMode : int { mono8 = 8, mono16 = 16, bgr24 = 24, bgra32 = 32, bgr48 = 48, bgra64 = 64 };
enum class Delivery : std::uint32_t { all = ZBX_DELIVER_ALL, latest = ZBX_DELIVER_LATEST };
enum class Output : std::uint32_t { developed = ZBX_OUTPUT_DEVELOPED, raw = ZBX_OUTPUT_RAW };

// A frame taken from a stream; its buffer goes back to the queue when the
// Frame is destroyed (or release() is called).
class Frame {
public:
    Frame() = default;
    Frame(ZbxStream* stream, const ZbxFrame* frame) noexcept : stream_(stream), frame_(frame) {}
    Frame(Frame&& other) noexcept
        : stream_(std::exchange(other.stream_, nullptr)), frame_(std::exchange(other.frame_, nullptr)) {}
    Frame& operator=(Frame&& other) noexcept {
        if (this != &other) {
            release();
            stream_ = std::exchange(other.stream_, nullptr);
            frame_ = std::exchange(other.frame_, nullptr);
        }
        return *this;
    }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
    ~Frame() { release(); }

    void release() noexcept {
        if (frame_ != nullptr) (void)ZbxStream_Release(stream_, frame_);
        frame_ = nullptr;
    }
    [[nodiscard]] explicit operator bool() const noexcept { return frame_ != nullptr; }
    [[nodiscard]] const ZbxFrame& info() const noexcept { return *frame_; }

    [[nodiscard]] int width() const noexcept { return frame_->width; }
    [[nodiscard]] int height() const noexcept { return frame_->height; }
    [[nodiscard]] std::size_t stride() const noexcept { return static_cast<std::size_t>(frame_->stride); }
    [[nodiscard]] std::uint32_t format() const noexcept { return frame_->format; }
    [[nodiscard]] std::uint64_t sequence() const noexcept { return frame_->sequence; }
    [[nodiscard]] std::chrono::nanoseconds timestamp() const noexcept {
        return std::chrono::nanoseconds(frame_->timestamp_ns);
    }
    [[nodiscard]] std::chrono::microseconds exposure() const noexcept {
        return std::chrono::microseconds(frame_->exposure_us);
    }
    [[nodiscard]] int exposure_lines() const noexcept { return frame_->exposure_lines; }
    [[nodiscard]] int gain() const noexcept { return frame_->gain; }
    [[nodiscard]] std::uint32_t dropped() const noexcept { return frame_->dropped; }
    [[nodiscard]] bool triggered() const noexcept { return (frame_->flags & ZBX_FRAME_TRIGGERED) != 0; }

    // Every byte of the frame, rows `stride()` apart.
    [[nodiscard]] std::span<const std::byte> bytes() const noexcept {
        return {static_cast<const std::byte*>(frame_->data), frame_->size};
    }
    // Row `y`, without its padding.
    [[nodiscard]] std::span<const std::byte> row(int y) const noexcept {
        const std::size_t used = static_cast<std::size_t>(frame_->width) * bytes_per_pixel();
        return bytes().subspan(static_cast<std::size_t>(y) * stride(), used);
    }
    // The samples of row `y` as T (std::uint8_t or std::uint16_t).
    template <typename T>
    [[nodiscard]] std::span<const T> samples(int y) const noexcept {
        const std::span<const std::byte> r = row(y);
        return {reinterpret_cast<const T*>(r.data()), r.size() / sizeof(T)};
    }
    [[nodiscard]] std::size_t bytes_per_pixel() const noexcept {
        switch (frame_->format) {
            case ZBX_FORMAT_MONO8: case ZBX_FORMAT_RAW8: return 1;
            case ZBX_FORMAT_MONO16: case ZBX_FORMAT_RAW16: return 2;
            case ZBX_FORMAT_BGR24: return 3;
            case ZBX_FORMAT_BGRA32: return 4;
            case ZBX_FORMAT_BGR48: return 6;
            default: return 8;
        }
    }

private:
    ZbxStream* stream_ = nullptr;
    const ZbxFrame* frame_ = nullptr;
};

struct StreamOptions {
    std::uint32_t buffers = 4;
    Delivery delivery = Delivery::all;
    Output output = Output::developed;
    bool trigger = false;
    // Frames to deliver before the range ends; none: until stopped.
    std::optional<std::uint64_t> count{};
    // Longest wait for one frame before Error(ZBX_ERR_TIMEOUT).
    std::chrono::milliseconds timeout{5000};
};

// A frame queue on a camera, started at construction and closed (the
// camera stopped) at destruction.  A range of Frames: iteration ends after
// `count` frames, on cancel() from another thread, or when the camera stops;
// a failure throws.
class Stream {
public:
    Stream(ZbxHandle cam, const StreamOptions& options) : options_(options) {
        ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;
        config.buffer_count = options.buffers;
        config.delivery = static_cast<std::uint32_t>(options.delivery);
        config.output = static_cast<std::uint32_t>(options.output);
        config.trigger = options.trigger ? 1 : 0;
        detail::check(ZbxStream_Open(cam, &config, &stream_), "cannot open a frame stream");
        if (const int code = ZbxStream_Start(stream_); code != ZBX_OK) {
            (void)ZbxStream_Close(stream_);
            throw Error(code, "cannot start the camera");
        }
    }
    Stream(Stream&& other) noexcept
        : stream_(std::exchange(other.stream_, nullptr)), options_(other.options_), taken_(other.taken_) {}
    Stream& operator=(Stream&&) = delete;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() {
        if (stream_ != nullptr) (void)ZbxStream_Close(stream_);
    }

    // The next frame; an empty Frame when the stream has ended (count
    // reached, cancelled, camera stopped).  Throws on a failure or time-out.
    [[nodiscard]] Frame next() {
        if (options_.count && taken_ >= *options_.count) return {};
        const ZbxFrame* frame = nullptr;
        const int code = ZbxStream_Wait(stream_, static_cast<std::int32_t>(options_.timeout.count()), &frame);
        if (code == ZBX_ERR_CANCELLED || code == ZBX_ERR_ENDED) return {};
        detail::check(code, "no frame");
        ++taken_;
        return Frame(stream_, frame);
    }
    // Any thread: the waiting next() returns an empty Frame at once.
    void cancel() noexcept { (void)ZbxStream_Cancel(stream_); }
    [[nodiscard]] ZbxStreamStats stats() const {
        ZbxStreamStats s{};
        detail::check(ZbxStream_GetStats(stream_, &s), "no statistics");
        return s;
    }
    [[nodiscard]] ZbxStream* handle() const noexcept { return stream_; }

    class iterator {
    public:
        using value_type = Frame;
        using difference_type = std::ptrdiff_t;
        iterator() = default;
        explicit iterator(Stream* stream) : stream_(stream) { advance(); }
        const Frame& operator*() const noexcept { return frame_; }
        Frame& operator*() noexcept { return frame_; }
        iterator& operator++() {
            advance();
            return *this;
        }
        void operator++(int) { advance(); }
        bool operator==(std::default_sentinel_t) const noexcept { return !frame_; }

    private:
        void advance() {
            frame_.release();  // the buffer goes back before the next frame is taken
            frame_ = stream_->next();
        }
        Stream* stream_ = nullptr;
        Frame frame_;
    };
    [[nodiscard]] iterator begin() { return iterator(this); }
    [[nodiscard]] std::default_sentinel_t end() const noexcept { return {}; }

private:
    ZbxStream* stream_ = nullptr;
    StreamOptions options_;
    std::uint64_t taken_ = 0;
};

// One camera session (Zorbex_Initialize ... Zorbex_Release) on slot `slot`.
class Camera {
public:
    explicit Camera(int slot = 0) {
        handle_ = Zorbex_Initialize(nullptr);
        if (handle_ == 0) throw Error(ZBX_ERR_NOT_READY, "cannot open a camera session");
        if (Zorbex_SetDeviceNumber(handle_, slot) == 0) {
            const int code = last_error();
            (void)Zorbex_Release(handle_);
            throw Error(code, "cannot select camera " + std::to_string(slot));
        }
    }
    Camera(Camera&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
    Camera& operator=(Camera&&) = delete;
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;
    ~Camera() {
        if (handle_ != 0) (void)Zorbex_Release(handle_);
    }

    [[nodiscard]] ZbxHandle handle() const noexcept { return handle_; }

    void set_color_mode(ColorMode mode) { call(Zorbex_SetColorMode(handle_, static_cast<int>(mode)), "colour mode"); }
    [[nodiscard]] ColorMode color_mode() const { return static_cast<ColorMode>(Zorbex_GetColorMode(handle_)); }
    void set_exposure(std::chrono::microseconds exposure) {
        call(Zorbex_SetRealExposureTime(handle_, static_cast<int>(exposure.count())), "exposure");
    }
    [[nodiscard]] std::chrono::microseconds exposure() const {
        int ok = 0;
        const int us = Zorbex_GetRealExposureTime(handle_, &ok);
        call(ok, "exposure");
        return std::chrono::microseconds(us);
    }
    void set_exposure_lines(int lines) { call(Zorbex_SetExposureTime(handle_, lines), "exposure lines"); }
    void set_gain(int gain) { call(Zorbex_SetGlobalGain(handle_, gain), "gain"); }
    void set_mirror(bool horizontal, bool vertical) {
        call(Zorbex_SetMirrorH(handle_, horizontal ? 1 : 0), "mirror");
        call(Zorbex_SetMirrorV(handle_, vertical ? 1 : 0), "mirror");
    }
    // x, y, width, height on the 1280 x 720 sensor.
    void set_capture_window(int x, int y, int width, int height) {
        call(Zorbex_SetCaptureWindowEx(handle_, 1280, x, width, 720, y, height), "capture window");
    }
    [[nodiscard]] std::chrono::nanoseconds frame_period() const {
        std::uint64_t ns = 0;
        detail::check(ZbxCamera_GetFramePeriod(handle_, &ns), "frame period");
        return std::chrono::nanoseconds(ns);
    }

    [[nodiscard]] Stream stream(const StreamOptions& options = {}) { return Stream(handle_, options); }

private:
    [[nodiscard]] int last_error() const {
        const int code = Zorbex_GetLastError(handle_);
        return code != 0 ? code : ZBX_ERR_NOT_READY;
    }
    void call(int result, const char* what) const {
        if (result == 0) throw Error(last_error(), std::string("cannot set the ") + what);
    }

    ZbxHandle handle_ = 0;
};

}  // namespace zorbex
