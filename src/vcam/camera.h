// One virtual camera as its driver presents it: the three pipes, the command
// packets, the register file, the serial ROM, the frame timing and the
// faults a test can inject.  Every member locks the camera's own mutex;
// frame reads wait on its condition variable without holding it.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/driver_port.h"
#include "vcam/frame_source.h"
#include "vcam/request_log.h"
#include "vcam/scene.h"
#include "zorbex/vcam.h"

namespace zbx::vcam {

class Camera {
public:
    using Clock = std::chrono::steady_clock;

    explicit Camera(int slot);
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Handles.  An open records the plug generation; a handle works while
    // the camera stays plugged in that generation.
    [[nodiscard]] bool open(std::uint64_t* generation);
    void close();
    // Called from any request thread; blocks for frame reads.  `handle`
    // names the request for cancel().
    [[nodiscard]] bool request(platform::DriverHandle handle, std::uint64_t generation, std::uint32_t code,
                               std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                               std::uint32_t* returned);
    // Fails the frame reads waiting on `handle` now; true when one was.
    bool cancel(platform::DriverHandle handle);
    // Unpaced and free running: a frame is made when it is read.
    [[nodiscard]] bool frames_on_demand() const;

    // Attachment.
    void remove();
    void unplug();
    void replug();

    // Control API.
    void set_pacing(int pacing);
    void set_scene(const ZbxVcamScene& scene);
    ZbxVcamScene scene() const;
    void set_defects(std::span<const ZbxVcamDefect> defects);
    void set_rom(std::uint16_t address, std::uint8_t value);
    std::uint8_t rom(std::uint16_t address) const;
    std::uint16_t sensor_register(std::uint16_t address) const;
    void set_sensor_register(std::uint16_t address, std::uint16_t value);
    std::uint8_t controller_register(std::uint8_t number) const;
    void set_controller_register(std::uint8_t number, std::uint8_t value);
    void fire_trigger();
    void fail_frame_reads(int n);
    void short_frame_reads(int n);
    void set_register_faults(bool fail_reads, bool fail_writes);
    void stop_frames(bool stop);
    std::uint32_t log_count() const;
    bool log_entry(std::uint32_t index, ZbxVcamRequest* entry) const;
    void clear_log();
    ZbxVcamStats stats() const;

private:
    static constexpr std::size_t kMaxTriggers = 64;
    using Lock = std::unique_lock<std::mutex>;

    // All below: camera mutex held.
    void power_on();
    void reset_sensor();
    bool alive(std::uint64_t generation) const { return plugged_ && generation == generation_; }
    bool write_packet(std::span<const std::uint8_t> packet, ZbxVcamRequest& entry);
    bool read_answer(std::span<std::uint8_t> out, ZbxVcamRequest& entry);
    bool read_frame(Lock& lock, platform::DriverHandle handle, std::uint64_t generation,
                    std::span<std::uint8_t> out, std::uint32_t* moved);
    void write_controller(std::uint8_t number, std::uint8_t value);
    void set_answer(std::initializer_list<std::uint8_t> bytes);
    std::optional<Clock::time_point> frame_due(Clock::time_point read_start) const;
    Clock::duration frame_period() const;
    bool trigger_mode() const { return controller_[11] == 1; }
    bool sixteen_bit() const { return controller_[14] == 5; }
    std::uint64_t frame_bytes() const;
    Readout readout() const;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Attachment.
    bool plugged_ = true;
    std::uint64_t generation_ = 1;
    std::uint32_t open_handles_ = 0;
    // Frame reads waiting now, by handle; cancel() marks them.
    struct WaitingRead {
        platform::DriverHandle handle;
        bool cancelled;
    };
    std::vector<WaitingRead*> waiting_reads_;

    // Camera state, reset at power-on.
    std::vector<std::uint16_t> sensor_;
    std::array<std::uint8_t, 256> controller_{};
    std::uint32_t timeout_ms_ = 3000;
    std::array<std::uint8_t, 64> answer_{};
    std::array<std::uint8_t, 64> stale_answer_{};
    int answer_reads_left_ = 0;
    bool frame_armed_ = false;
    Clock::time_point last_frame_{};
    std::uint64_t frame_sequence_ = 0;
    std::array<Clock::time_point, kMaxTriggers> triggers_{};
    std::size_t trigger_first_ = 0;
    std::size_t trigger_count_ = 0;

    // Virtual-camera options, kept across replugs.
    std::vector<std::uint8_t> rom_;
    int pacing_ = ZBX_VCAM_PACED;
    Scene scene_;
    std::uint64_t scene_version_ = 0;
    FrameSource source_;
    std::vector<ZbxVcamDefect> defects_;
    int fail_frames_ = 0;
    int short_frames_ = 0;
    bool fail_register_reads_ = false;
    bool fail_register_writes_ = false;
    bool stop_frames_ = false;
    RequestLog log_;
    std::uint64_t frames_delivered_ = 0;
    std::uint64_t frames_failed_ = 0;
};

}  // namespace zbx::vcam
