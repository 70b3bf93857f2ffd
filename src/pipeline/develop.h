// Frame development: turns the raw frame in the raw buffer into the picture
// of the current colour mode (defect correction, automatic exposure, gray
// processing or demosaic with white balance, adjustments).  Free of sessions
// and devices: it reads the values handed in and talks back through
// DevelopHost.
#pragma once

#include <array>
#include <cstdint>

#include "pipeline/adjustment_block.h"
#include "pipeline/develop_steps.h"

namespace zbx::pipeline {

class CImageBuffer;

// What development needs of the session around it: the sensor model's gain
// and exposure, the session's analog values, the open dialogs and the
// defect list.  Sensor results are ignored, as in the design.
class DevelopHost {
public:
    virtual ~DevelopHost() = default;

    virtual std::int32_t sensor_gain() = 0;
    virtual void set_sensor_gain(std::int32_t gain) = 0;
    virtual std::int32_t min_gain() = 0;
    virtual std::int32_t max_gain() = 0;
    virtual std::int32_t sensor_exposure() = 0;
    virtual void set_sensor_exposure(std::int32_t lines) = 0;
    virtual std::int32_t min_exposure() = 0;
    virtual std::int32_t max_exposure() = 0;

    // Stores the gain as the session's global gain and as all four colour
    // gains.
    virtual void store_gain(std::int32_t gain) = 0;
    virtual void store_exposure(std::int32_t lines) = 0;

    // The image dialog's filter and gray pages re-read their values; nothing
    // when the dialog is not open.
    virtual void refresh_image_dialog() = 0;
    // SetDlgItemInt (signed) on the analog settings dialog; nothing when it
    // is not open.
    virtual void show_analog_value(std::int32_t control_id, std::int32_t value) = 0;

    // Takes the session's defect-list lock and lends the list until
    // unlock_defect_list().
    virtual DefectListView lock_defect_list() = 0;
    virtual void unlock_defect_list() = 0;
};

// Analog dialog controls that show the values the automatic exposure sets.
inline constexpr std::int32_t kGainEditControl = 1015;
inline constexpr std::int32_t kExposureEditControl = 1027;

struct DevelopInput {
    AdjustmentArray* adjust = nullptr;   // read and written back
    std::int32_t color_mode = 0;         // 0 Mono8 ... 5 Color64
    std::int32_t auto_iris_mode = 0;     // 0 off, 1 exposure, 2 gain
    bool defect_correction = false;
    bool mirror_h = false;
    bool mirror_v = false;
    // Capture region on the sensor, for the defect positions.
    std::int32_t x_start = 0;
    std::int32_t y_start = 0;
    std::int32_t width = 1280;
    std::int32_t height = 720;
    // The session's slots 0 to 6, sized for the current mode; none null.
    std::array<CImageBuffer*, 7> slots{};
    DevelopHost* host = nullptr;
};

// BayerMode adjusted for read-out mirroring: MirrorV flips the row parity,
// MirrorH the column parity.
[[nodiscard]] std::int32_t EffectivePhase(std::int32_t bayer_mode, bool mirror_v, bool mirror_h);

// Filter phase (as in BayerRecord) of the raw window's first sample: the
// Bayer mode with the mirroring and the window's position on the sensor.
[[nodiscard]] std::int32_t WindowPhase(const DevelopInput& in);

// Demosaic of the session: white balance first when BayerGainAuto is on
// (gains written back, capped at 400; the once markers switch it off again),
// then the interior and border passes with the current gains.  Returns 1.
int Demosaic(CImageBuffer& dst, CImageBuffer& raw, const DevelopInput& in);

// One frame, on the acquisition thread with the frame lock held.
void DevelopFrame(const DevelopInput& in);

}  // namespace zbx::pipeline
