#include "vcam/camera.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "platform/driver_port.h"
#include "vcam/power_on.h"

namespace zbx::vcam {
namespace {

constexpr std::size_t kPacketSize = 64;
constexpr std::size_t kSettingsSize = 44;
constexpr std::uint32_t kPipeCommand = 0;
constexpr std::uint32_t kPipeAnswer = 1;
constexpr std::uint32_t kPipeFrame = 2;

constexpr std::uint8_t kCmdPrepareFrame = 0x01;
constexpr std::uint8_t kCmdStartFrame = 0x02;
constexpr std::uint8_t kCmdSensorWrite = 0x04;
constexpr std::uint8_t kCmdInitialise = 0x06;
constexpr std::uint8_t kCmdFrameSize = 0x09;
constexpr std::uint8_t kCmdSampleWidth = 0x0A;
constexpr std::uint8_t kCmdSensorRead = 0x0C;
constexpr std::uint8_t kCmdControllerWrite = 0x25;
constexpr std::uint8_t kCmdControllerRead = 0x26;
constexpr std::uint8_t kCmdRomWrite = 0x40;
constexpr std::uint8_t kCmdRomRead = 0x41;

constexpr std::uint16_t kRomIdentifier = 0x1800;
constexpr std::uint16_t kRomConfiguration = 0x1EB0;
constexpr int kRowOffset = 64;
constexpr int kColumnOffset = 132;
constexpr int kBlankingLines = 32;
constexpr double kReferenceExposure = 637.0;

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Analog gain of a colour gain code: the low nibble in half steps, each of
// the two coarse bits adding a quarter.  Code 0x02 is unity.
double gain_of(std::uint8_t code) {
    const int fine = std::max(code & 0x0F, 1);
    const int coarse = std::popcount(static_cast<unsigned>((code >> 4) & 3));
    return fine / 2.0 * (1.0 + coarse / 4.0);
}

std::int64_t clock_hz(std::uint8_t setting) {
    switch (setting) {
        case 2: return 100'000'000;
        case 1: return 12'000'000;
        default: return 24'000'000;
    }
}

}  // namespace

Camera::Camera(int slot) : sensor_(65536), rom_(65536, 0xFF) {
    char identifier[32];
    std::snprintf(identifier, sizeof identifier, "ZBX530RDNQT%04d", 1000 + slot);
    std::memcpy(rom_.data() + kRomIdentifier, identifier, std::strlen(identifier) + 1);
    rom_[kRomConfiguration] = 1;
    power_on();
}

void Camera::reset_sensor() {
    std::fill(sensor_.begin(), sensor_.end(), std::uint16_t{0});
    for (const RegisterValue& r : sensor_power_on()) sensor_[r.address] = r.value;
}

void Camera::power_on() {
    reset_sensor();
    controller_.fill(0);
    const std::uint32_t samples = kSensorWidth * kSensorHeight;
    for (int i = 0; i < 4; ++i) controller_[i] = static_cast<std::uint8_t>(samples >> (8 * i));
    controller_[14] = 4;
    controller_[15] = 2;
    timeout_ms_ = 3000;
    answer_.fill(0);
    stale_answer_.fill(0);
    answer_reads_left_ = 0;
    frame_armed_ = false;
    last_frame_ = Clock::now();
    trigger_first_ = trigger_count_ = 0;
}

bool Camera::open(std::uint64_t* generation) {
    std::lock_guard lock(mutex_);
    if (!plugged_) return false;
    *generation = generation_;
    ++open_handles_;
    return true;
}

void Camera::close() {
    std::lock_guard lock(mutex_);
    if (open_handles_ > 0) --open_handles_;
}

bool Camera::cancel(platform::DriverHandle handle) {
    std::lock_guard lock(mutex_);
    bool found = false;
    for (WaitingRead* read : waiting_reads_) {
        if (read->handle != handle) continue;
        read->cancelled = true;
        found = true;
    }
    if (found) changed_.notify_all();
    return found;
}

bool Camera::frames_on_demand() const {
    std::lock_guard lock(mutex_);
    return pacing_ == ZBX_VCAM_UNPACED && !trigger_mode();
}

void Camera::remove() { unplug(); }

void Camera::unplug() {
    std::lock_guard lock(mutex_);
    plugged_ = false;
    ++generation_;
    changed_.notify_all();
}

void Camera::replug() {
    std::lock_guard lock(mutex_);
    if (plugged_) return;
    plugged_ = true;
    power_on();
    changed_.notify_all();
}

bool Camera::request(platform::DriverHandle handle, std::uint64_t generation, std::uint32_t code,
                     std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                     std::uint32_t* returned) {
    Lock lock(mutex_);
    ZbxVcamRequest entry{};
    entry.code = code;
    entry.pipe = ZBX_VCAM_NO_PIPE;
    entry.length = static_cast<std::uint32_t>(output.size());
    std::uint32_t moved = 0;
    bool ok = false;

    if (code == platform::kIoctlDriverSettings) {
        entry.length = static_cast<std::uint32_t>(input.size());
        entry.data_size = static_cast<std::uint32_t>(std::min(input.size(), kPacketSize));
        if (entry.data_size) std::memcpy(entry.data, input.data(), entry.data_size);
        // The record's first word names the setting; only 1 (time-out) exists.
        if (alive(generation) && input.size() == kSettingsSize && output.empty() && le32(input.data()) == 1) {
            timeout_ms_ = le32(input.data() + 4);
            changed_.notify_all();
            ok = true;
        }
    } else if (code == platform::kIoctlPipeTransferA || code == platform::kIoctlPipeTransferB ||
               code == platform::kIoctlLargePipeTransferA || code == platform::kIoctlLargePipeTransferB) {
        if (input.size() == 4) entry.pipe = le32(input.data());
        // The direction follows the pipe, whatever the transfer form.
        if (alive(generation) && input.size() == 4 && !output.empty() && output.data() != nullptr) {
            if (entry.pipe == kPipeCommand) {
                ok = write_packet(output, entry);
                if (ok) moved = kPacketSize;
            } else if (entry.pipe == kPipeAnswer) {
                ok = read_answer(output, entry);
                if (ok) moved = kPacketSize;
            } else if (entry.pipe == kPipeFrame) {
                ok = read_frame(lock, handle, generation, output, &moved);
            }
        }
    }

    entry.ok = ok ? 1 : 0;
    entry.returned = moved;
    log_.add(entry);
    if (returned) *returned = moved;
    return ok;
}

bool Camera::write_packet(std::span<const std::uint8_t> packet, ZbxVcamRequest& entry) {
    entry.data_size = static_cast<std::uint32_t>(std::min(packet.size(), kPacketSize));
    std::memcpy(entry.data, packet.data(), entry.data_size);
    if (packet.size() != kPacketSize) return false;
    const std::uint8_t* p = packet.data();
    switch (p[0]) {
        case kCmdPrepareFrame:
            return true;
        case kCmdStartFrame:
            frame_armed_ = true;
            changed_.notify_all();
            return true;
        case kCmdSensorWrite:
            if (fail_register_writes_) return false;
            sensor_[static_cast<std::uint16_t>(p[1] << 8 | p[2])] = static_cast<std::uint16_t>(p[3] << 8 | p[4]);
            changed_.notify_all();
            return true;
        case kCmdInitialise:
            // Restarts the sensor: its registers return to their power-on values.
            reset_sensor();
            changed_.notify_all();
            return true;
        case kCmdFrameSize:
            for (int i = 0; i < 4; ++i) controller_[i] = p[1 + i];
            return true;
        case kCmdSampleWidth:
            if (p[1] > 1) return false;
            write_controller(14, p[1] == 1 ? 5 : 4);
            return true;
        case kCmdSensorRead: {
            if (fail_register_reads_) return false;
            const std::uint16_t v = sensor_[static_cast<std::uint16_t>(p[1] << 8 | p[2])];
            set_answer({static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v & 0xFF)});
            return true;
        }
        case kCmdControllerWrite:
            if (fail_register_writes_) return false;
            write_controller(p[1], p[2]);
            return true;
        case kCmdControllerRead:
            if (fail_register_reads_) return false;
            set_answer({controller_[p[1]]});
            return true;
        case kCmdRomWrite: {
            if (p[1] != 0x51 || p[2] != 0x03) return false;
            const auto address = static_cast<std::uint16_t>(p[3] << 8 | p[4]);
            if (address < kRomIdentifier || fail_register_writes_) return false;
            rom_[address] = p[5];
            return true;
        }
        case kCmdRomRead:
            if (p[1] != 0x51 || p[2] != 0x02 || p[3] != 0x01) return false;
            if (fail_register_reads_) return false;
            set_answer({rom_[static_cast<std::uint16_t>(p[4] << 8 | p[5])]});
            return true;
        default:
            return false;
    }
}

void Camera::set_answer(std::initializer_list<std::uint8_t> bytes) {
    // The answer travels behind one packet already queued on pipe 1, so the
    // first read after a read command sees the previous answer.
    stale_answer_ = answer_;
    answer_.fill(0);
    std::copy(bytes.begin(), bytes.end(), answer_.begin());
    answer_reads_left_ = 2;
}

bool Camera::read_answer(std::span<std::uint8_t> out, ZbxVcamRequest& entry) {
    if (out.size() != kPacketSize) return false;
    if (answer_reads_left_ == 2) {
        std::memcpy(out.data(), stale_answer_.data(), kPacketSize);
        answer_reads_left_ = 1;
    } else {
        std::memcpy(out.data(), answer_.data(), kPacketSize);
        answer_reads_left_ = 0;
    }
    entry.data_size = kPacketSize;
    std::memcpy(entry.data, out.data(), kPacketSize);
    return true;
}

void Camera::write_controller(std::uint8_t number, std::uint8_t value) {
    const bool was_trigger = trigger_mode();
    controller_[number] = value;
    if (trigger_mode() && !was_trigger) trigger_first_ = trigger_count_ = 0;
    changed_.notify_all();
}

Camera::Clock::duration Camera::frame_period() const {
    const std::int64_t lines = std::max<std::int64_t>(sensor_[15], std::int64_t{sensor_[5]} + kBlankingLines);
    const std::int64_t clocks = std::int64_t{sensor_[46]} + 6;
    return std::chrono::nanoseconds(lines * clocks * 1'000'000'000 / clock_hz(controller_[15]));
}

std::uint64_t Camera::frame_bytes() const {
    return std::uint64_t{le32(controller_.data())} * (sixteen_bit() ? 2 : 1);
}

Readout Camera::readout() const {
    Readout r;
    r.x0 = static_cast<int>(sensor_[6]) - kColumnOffset;
    r.y0 = static_cast<int>(sensor_[4]) - kRowOffset;
    r.width = std::min<int>(sensor_[7], kMaxReadoutWidth);
    r.height = std::min<int>(sensor_[5], kMaxReadoutHeight);
    // A cleared bit switches mirroring on.
    r.mirror_h = (sensor_[2] & 2) == 0;
    r.mirror_v = (sensor_[2] & 1) == 0;
    r.sixteen_bit = sixteen_bit();
    const std::uint8_t codes[4] = {static_cast<std::uint8_t>(sensor_[35] >> 8),
                                   static_cast<std::uint8_t>(sensor_[35] & 0xFF),
                                   static_cast<std::uint8_t>(sensor_[36] >> 8),
                                   static_cast<std::uint8_t>(sensor_[36] & 0xFF)};
    for (int cell = 0; cell < 4; ++cell)
        r.scale[cell] = static_cast<std::uint64_t>(sensor_[15] * gain_of(codes[cell]) / kReferenceExposure * 65536.0 + 0.5);
    r.scene_version = scene_version_;
    return r;
}

std::optional<Camera::Clock::time_point> Camera::frame_due(Clock::time_point read_start) const {
    if (!frame_armed_ || stop_frames_) return std::nullopt;
    const bool paced = pacing_ == ZBX_VCAM_PACED;
    if (trigger_mode()) {
        if (trigger_count_ == 0) return std::nullopt;
        const Clock::time_point fired = triggers_[trigger_first_];
        return paced ? fired + frame_period() : fired;
    }
    if (!paced) return read_start;
    // Free run: the first frame boundary after the read began.
    const Clock::duration period = frame_period();
    const auto periods = read_start > last_frame_ ? (read_start - last_frame_) / period + 1 : 1;
    return last_frame_ + periods * period;
}

bool Camera::read_frame(Lock& lock, platform::DriverHandle handle, std::uint64_t generation,
                        std::span<std::uint8_t> out, std::uint32_t* moved) {
    if (fail_frames_ > 0) {
        --fail_frames_;
        frame_armed_ = false;
        ++frames_failed_;
        return false;
    }
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(timeout_ms_);
    Clock::time_point due;
    // Listed while it waits, so cancel() can find it.
    WaitingRead waiting{handle, false};
    waiting_reads_.push_back(&waiting);
    struct Unlist {
        std::vector<WaitingRead*>& list;
        WaitingRead* entry;
        ~Unlist() { std::erase(list, entry); }
    } unlist{waiting_reads_, &waiting};
    for (;;) {
        if (!alive(generation)) {
            ++frames_failed_;
            return false;
        }
        if (waiting.cancelled) {
            // Only this transfer is aborted: a start-frame command stays
            // armed for a read on another handle.
            ++frames_failed_;
            return false;
        }
        const Clock::time_point now = Clock::now();
        const std::optional<Clock::time_point> next = frame_due(start);
        if (next && *next <= now) {
            due = *next;
            break;
        }
        if (now >= deadline) {
            frame_armed_ = false;
            ++frames_failed_;
            return false;
        }
        changed_.wait_until(lock, next ? std::min(*next, deadline) : deadline);
    }

    frame_armed_ = false;
    if (trigger_mode()) {
        trigger_first_ = (trigger_first_ + 1) % kMaxTriggers;
        --trigger_count_;
        ++frame_sequence_;
    } else if (pacing_ == ZBX_VCAM_PACED) {
        frame_sequence_ += static_cast<std::uint64_t>(std::max<Clock::rep>(1, (due - last_frame_) / frame_period()));
    } else {
        ++frame_sequence_;
    }
    last_frame_ = due;

    std::uint64_t n = std::min<std::uint64_t>(out.size(), frame_bytes());
    if (short_frames_ > 0) {
        --short_frames_;
        n /= 2;
    }
    source_.render(out.first(static_cast<std::size_t>(n)), readout(), scene_, defects_, frame_sequence_);
    *moved = static_cast<std::uint32_t>(n);
    ++frames_delivered_;
    return true;
}

// ---- Control API ----------------------------------------------------------

void Camera::set_pacing(int pacing) {
    std::lock_guard lock(mutex_);
    pacing_ = pacing;
    last_frame_ = Clock::now();
    changed_.notify_all();
}

void Camera::set_scene(const ZbxVcamScene& scene) {
    std::lock_guard lock(mutex_);
    scene_.build(scene);
    source_.set_noise(scene.noise);
    ++scene_version_;
}

ZbxVcamScene Camera::scene() const {
    std::lock_guard lock(mutex_);
    return scene_.options();
}

void Camera::set_defects(std::span<const ZbxVcamDefect> defects) {
    std::lock_guard lock(mutex_);
    defects_.assign(defects.begin(), defects.end());
}

void Camera::set_rom(std::uint16_t address, std::uint8_t value) {
    std::lock_guard lock(mutex_);
    rom_[address] = value;
}

std::uint8_t Camera::rom(std::uint16_t address) const {
    std::lock_guard lock(mutex_);
    return rom_[address];
}

std::uint16_t Camera::sensor_register(std::uint16_t address) const {
    std::lock_guard lock(mutex_);
    return sensor_[address];
}

void Camera::set_sensor_register(std::uint16_t address, std::uint16_t value) {
    std::lock_guard lock(mutex_);
    sensor_[address] = value;
    changed_.notify_all();
}

std::uint8_t Camera::controller_register(std::uint8_t number) const {
    std::lock_guard lock(mutex_);
    return controller_[number];
}

void Camera::set_controller_register(std::uint8_t number, std::uint8_t value) {
    std::lock_guard lock(mutex_);
    write_controller(number, value);
}

void Camera::fire_trigger() {
    std::lock_guard lock(mutex_);
    if (!plugged_ || !trigger_mode() || trigger_count_ == kMaxTriggers) return;
    triggers_[(trigger_first_ + trigger_count_) % kMaxTriggers] = Clock::now();
    ++trigger_count_;
    changed_.notify_all();
}

void Camera::fail_frame_reads(int n) {
    std::lock_guard lock(mutex_);
    fail_frames_ = n;
}

void Camera::short_frame_reads(int n) {
    std::lock_guard lock(mutex_);
    short_frames_ = n;
}

void Camera::set_register_faults(bool fail_reads, bool fail_writes) {
    std::lock_guard lock(mutex_);
    fail_register_reads_ = fail_reads;
    fail_register_writes_ = fail_writes;
}

void Camera::stop_frames(bool stop) {
    std::lock_guard lock(mutex_);
    stop_frames_ = stop;
    changed_.notify_all();
}

std::uint32_t Camera::log_count() const {
    std::lock_guard lock(mutex_);
    return log_.count();
}

bool Camera::log_entry(std::uint32_t index, ZbxVcamRequest* entry) const {
    std::lock_guard lock(mutex_);
    if (index >= log_.count()) return false;
    *entry = log_.at(index);
    return true;
}

void Camera::clear_log() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

ZbxVcamStats Camera::stats() const {
    std::lock_guard lock(mutex_);
    ZbxVcamStats s{};
    s.frames_delivered = frames_delivered_;
    s.frames_failed = frames_failed_;
    s.open_handles = open_handles_;
    s.pending_triggers = static_cast<std::uint32_t>(trigger_count_);
    s.transfer_timeout_ms = timeout_ms_;
    s.frame_period_us = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(frame_period()).count());
    s.log_dropped = log_.dropped();
    return s;
}

}  // namespace zbx::vcam
