// The "Image Filter" page of the image dialog: brightness, contrast, hue,
// saturation, sharpness, white-balance gains, gamma, the automatic white
// balance and the Bayer mode, written into the session's block at once.
#pragma once

#include <array>
#include <cstdint>

#include "dialogs/dialog_host.h"
#include "dialogs/slider_group.h"
#include "platform/dialog.h"

namespace zbx::dialogs {

// Which controls the colour mode allows.
struct ImageFilterFlags {
    bool tone = false;       // brightness, contrast, sharpness, gamma
    bool color = false;      // hue, saturation, gains, white balance, Bayer mode
    bool gray_page = false;  // the "Gray Filter" page exists
};
[[nodiscard]] ImageFilterFlags image_filter_flags(std::int32_t color_mode);

// Dialog's thread only.
class ImageFilterPage : public platform::DialogProcedure {
public:
    ImageFilterPage(ImageHost& host, ImageFilterFlags flags);

    void on_init(platform::Dialog& dialog) override;
    void on_command(platform::Dialog& dialog, int id, platform::CommandCode code) override;
    void on_scroll(platform::Dialog& dialog, int id, int position) override;

    // Edits and the Bayer Mode buttons into the block (OK).
    void take_values();
    // The block into sliders, edits and Bayer Mode buttons.
    void show_values();
    // The page's default values into the block, then shown (Default).
    void apply_defaults();

private:
    static constexpr std::size_t kGroupCount = 9;
    static const std::array<SliderGroup, kGroupCount> kGroups;
    static const std::array<AdjustmentSlot, kGroupCount> kSlots;

    [[nodiscard]] bool group_enabled(std::size_t index) const;

    ImageHost& host_;
    const ImageFilterFlags flags_;
    platform::Dialog* dialog_ = nullptr;
    bool acting_ = false;  // edit changes are ignored while filling the page
};

}  // namespace zbx::dialogs
