// ZbxVcam_* shims: check the arguments, find the camera, call it, under the
// export guard (failure: ZBX_VCAM_E_FAILED, or no slots).
#include <memory>

#include "api/guard.h"
#include "vcam/registry.h"
#include "zorbex/vcam.h"

using zbx::api::guarded;
using zbx::vcam::Camera;
using zbx::vcam::Registry;

namespace {

std::shared_ptr<Camera> find(int slot) { return Registry::instance().camera(slot); }

bool is_flag(int value) { return value == 0 || value == 1; }

// Runs `action` on the slot's camera after the argument check.
template <typename Action>
int with_camera(int slot, bool arguments_ok, Action&& action) noexcept {
    return guarded(ZBX_VCAM_E_FAILED, [&]() -> int {
        std::shared_ptr<Camera> camera = find(slot);
        if (!camera) return ZBX_VCAM_E_SLOT;
        if (!arguments_ok) return ZBX_VCAM_E_ARG;
        action(*camera);
        return ZBX_VCAM_OK;
    });
}

}  // namespace

extern "C" {

int ZbxVcam_Reset(void) {
    return guarded(ZBX_VCAM_E_FAILED, [] {
        Registry::instance().reset();
        return ZBX_VCAM_OK;
    });
}

uint32_t ZbxVcam_GetSlots(void) {
    return guarded(uint32_t{0}, [] { return Registry::instance().slots(); });
}

int ZbxVcam_SetSlots(uint32_t mask) {
    return guarded(ZBX_VCAM_E_FAILED, [&] {
        Registry::instance().set_slots(mask);
        return ZBX_VCAM_OK;
    });
}

int ZbxVcam_SetPacing(int slot, int pacing) {
    return with_camera(slot, pacing == ZBX_VCAM_PACED || pacing == ZBX_VCAM_UNPACED,
                       [&](Camera& c) { c.set_pacing(pacing); });
}

int ZbxVcam_SetScene(int slot, const ZbxVcamScene* scene) {
    const bool ok = scene != nullptr &&
                    (scene->kind == ZBX_VCAM_SCENE_CHART || scene->kind == ZBX_VCAM_SCENE_FLAT) &&
                    is_flag(scene->moving) && scene->noise >= 0 && scene->noise <= 512 &&
                    scene->flat_red <= 4095 && scene->flat_green <= 4095 && scene->flat_blue <= 4095;
    return with_camera(slot, ok, [&](Camera& c) { c.set_scene(*scene); });
}

int ZbxVcam_GetScene(int slot, ZbxVcamScene* scene) {
    return with_camera(slot, scene != nullptr, [&](Camera& c) { *scene = c.scene(); });
}

int ZbxVcam_SetDefects(int slot, const ZbxVcamDefect* defects, int count) {
    bool ok = count >= 0 && count <= ZBX_VCAM_MAX_DEFECTS && (count == 0 || defects != nullptr);
    for (int i = 0; ok && i < count; ++i)
        ok = defects[i].x >= 0 && defects[i].x < 1280 && defects[i].y >= 0 && defects[i].y < 720 &&
             defects[i].value <= 4095;
    return with_camera(slot, ok, [&](Camera& c) {
        c.set_defects(std::span<const ZbxVcamDefect>(defects, static_cast<std::size_t>(count)));
    });
}

int ZbxVcam_SetRomByte(int slot, uint32_t address, uint8_t value) {
    return with_camera(slot, address <= 0xFFFF,
                       [&](Camera& c) { c.set_rom(static_cast<uint16_t>(address), value); });
}

int ZbxVcam_GetRomByte(int slot, uint32_t address, uint8_t* value) {
    return with_camera(slot, address <= 0xFFFF && value != nullptr,
                       [&](Camera& c) { *value = c.rom(static_cast<uint16_t>(address)); });
}

int ZbxVcam_GetSensorRegister(int slot, uint32_t address, uint16_t* value) {
    return with_camera(slot, address <= 0xFFFF && value != nullptr,
                       [&](Camera& c) { *value = c.sensor_register(static_cast<uint16_t>(address)); });
}

int ZbxVcam_SetSensorRegister(int slot, uint32_t address, uint16_t value) {
    return with_camera(slot, address <= 0xFFFF,
                       [&](Camera& c) { c.set_sensor_register(static_cast<uint16_t>(address), value); });
}

int ZbxVcam_GetControllerRegister(int slot, uint32_t number, uint8_t* value) {
    return with_camera(slot, number <= 0xFF && value != nullptr,
                       [&](Camera& c) { *value = c.controller_register(static_cast<uint8_t>(number)); });
}

int ZbxVcam_SetControllerRegister(int slot, uint32_t number, uint8_t value) {
    return with_camera(slot, number <= 0xFF,
                       [&](Camera& c) { c.set_controller_register(static_cast<uint8_t>(number), value); });
}

int ZbxVcam_FireTrigger(int slot) {
    return with_camera(slot, true, [](Camera& c) { c.fire_trigger(); });
}

int ZbxVcam_Unplug(int slot) {
    return with_camera(slot, true, [](Camera& c) { c.unplug(); });
}

int ZbxVcam_Replug(int slot) {
    return with_camera(slot, true, [](Camera& c) { c.replug(); });
}

int ZbxVcam_FailFrameReads(int slot, int n) {
    return with_camera(slot, n >= 0, [&](Camera& c) { c.fail_frame_reads(n); });
}

int ZbxVcam_ShortFrameReads(int slot, int n) {
    return with_camera(slot, n >= 0, [&](Camera& c) { c.short_frame_reads(n); });
}

int ZbxVcam_SetRegisterFaults(int slot, int fail_reads, int fail_writes) {
    return with_camera(slot, is_flag(fail_reads) && is_flag(fail_writes),
                       [&](Camera& c) { c.set_register_faults(fail_reads == 1, fail_writes == 1); });
}

int ZbxVcam_StopFrames(int slot, int stop) {
    return with_camera(slot, is_flag(stop), [&](Camera& c) { c.stop_frames(stop == 1); });
}

int ZbxVcam_GetLogCount(int slot, uint32_t* count) {
    return with_camera(slot, count != nullptr, [&](Camera& c) { *count = c.log_count(); });
}

int ZbxVcam_GetLogEntry(int slot, uint32_t index, ZbxVcamRequest* entry) {
    return guarded(ZBX_VCAM_E_FAILED, [&]() -> int {
        std::shared_ptr<Camera> camera = find(slot);
        if (!camera) return ZBX_VCAM_E_SLOT;
        if (entry == nullptr || !camera->log_entry(index, entry)) return ZBX_VCAM_E_ARG;
        return ZBX_VCAM_OK;
    });
}

int ZbxVcam_ClearLog(int slot) {
    return with_camera(slot, true, [](Camera& c) { c.clear_log(); });
}

int ZbxVcam_GetStats(int slot, ZbxVcamStats* stats) {
    return with_camera(slot, stats != nullptr, [&](Camera& c) { *stats = c.stats(); });
}

}  // extern "C"
