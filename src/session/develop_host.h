// What development needs of a session: the sensor model's gain and
// exposure, the session's analog values, the open dialogs and the defect
// list.  Used on the acquisition thread (and a snapshot's caller) with the
// frame lock held.
#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/develop.h"

namespace zbx::session {

class CZorbex;

class SessionDevelopHost final : public pipeline::DevelopHost {
public:
    explicit SessionDevelopHost(CZorbex& session) : session_(session) {}

    std::int32_t sensor_gain() override;
    void set_sensor_gain(std::int32_t gain) override;
    std::int32_t min_gain() override;
    std::int32_t max_gain() override;
    std::int32_t sensor_exposure() override;
    void set_sensor_exposure(std::int32_t lines) override;
    std::int32_t min_exposure() override;
    std::int32_t max_exposure() override;
    void store_gain(std::int32_t gain) override;
    void store_exposure(std::int32_t lines) override;
    void refresh_image_dialog() override;
    void show_analog_value(std::int32_t control_id, std::int32_t value) override;
    pipeline::DefectListView lock_defect_list() override;
    void unlock_defect_list() override;

private:
    CZorbex& session_;
    // The session's list in the pipeline's form; its capacity is kept, so
    // only a longer list than ever before allocates.
    std::vector<pipeline::DefectPosition> defects_;
};

}  // namespace zbx::session
