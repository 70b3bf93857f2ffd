// The camera format dialog: colour mode, output size (a stored size or a
// custom one) and wait time, kept in the settings store under the camera's
// key.  It works on its own copy of the values: it reads them when it opens
// and writes them on Apply and OK.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "dialogs/dialog_host.h"
#include "platform/dialog.h"

namespace zbx::dialogs {

// One stored size, as the settings store holds it.
struct SizeEntry {
    std::uint32_t total_width = 1280;   // "TH"
    std::uint32_t total_height = 720;   // "TV"
    std::uint32_t width = 1280;         // "EH"
    std::uint32_t height = 720;         // "EV"
    std::uint32_t h_start = 0;          // "EHS"
    std::uint32_t v_start = 0;          // "EVS"
    std::uint32_t buffer = 4;           // "Buf"
    friend bool operator==(const SizeEntry&, const SizeEntry&) = default;
};

// Dialog's thread only.
class CameraFormatDialog : public platform::DialogProcedure {
public:
    static constexpr std::size_t kSizeTableSize = 100;

    explicit CameraFormatDialog(std::int32_t device_number);

    // Runs the dialog modally; the result as run_modal_dialog gives it.
    std::intptr_t run(ZbxWindow owner);

    // The settings store: read fills the state (missing keys or values
    // keep the defaults); write stores every size below the count, then
    // the five format values.  False when a key cannot be created.
    void read_settings();
    bool write_settings() const;

    void on_init(platform::Dialog& dialog) override;
    void on_command(platform::Dialog& dialog, int id, platform::CommandCode code) override;

    // State, for the tests.
    [[nodiscard]] std::int32_t size_count() const { return size_count_; }
    [[nodiscard]] std::int32_t size_index() const { return size_index_; }
    [[nodiscard]] const SizeEntry& size(std::size_t index) const { return sizes_.at(index); }
    [[nodiscard]] std::int32_t color_index() const { return color_index_; }
    [[nodiscard]] std::uint32_t wait_time() const { return wait_time_; }
    [[nodiscard]] std::int32_t clock_index() const { return clock_index_; }

private:
    [[nodiscard]] std::string camera_key() const;
    void show_entry(platform::Dialog& dialog, std::int32_t index);
    void take_controls(platform::Dialog& dialog);

    std::array<SizeEntry, kSizeTableSize> sizes_{};
    std::int32_t size_count_ = 0;
    std::int32_t size_index_ = 0;  // == size_count_ while "Custom" is chosen
    std::int32_t color_index_ = 2;
    std::int32_t sub_sample_ = 0;
    std::uint32_t wait_time_ = 1;
    std::int32_t clock_index_ = 2;
    std::int32_t device_number_;
    bool japanese_;
};

}  // namespace zbx::dialogs
