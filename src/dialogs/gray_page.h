// The "Gray Filter" page of the image dialog (monochrome colour modes):
// gray mode, the gain and offset of each cell of the 2 x 2 mosaic, the
// automatic gray balance and the Bayer mode, written into the block at once.
#pragma once

#include <array>

#include "dialogs/dialog_host.h"
#include "dialogs/slider_group.h"
#include "platform/dialog.h"

namespace zbx::dialogs {

// Dialog's thread only.
class GrayPage : public platform::DialogProcedure {
public:
    explicit GrayPage(ImageHost& host) : host_(host) {}

    void on_init(platform::Dialog& dialog) override;
    void on_command(platform::Dialog& dialog, int id, platform::CommandCode code) override;
    void on_scroll(platform::Dialog& dialog, int id, int position) override;

    // The eight edits into the block (OK); the buttons have set the modes.
    void take_values();
    // The block into the sliders and edits; the buttons stay.
    void show_values();
    // Gains 128 and offsets 0 into the block, then shown (Default).
    void apply_defaults();

private:
    static constexpr std::size_t kGroupCount = 8;
    static const std::array<AdjustmentSlot, kGroupCount> kSlots;
    static SliderGroup group(std::size_t index);

    ImageHost& host_;
    platform::Dialog* dialog_ = nullptr;
    bool acting_ = false;
};

}  // namespace zbx::dialogs
