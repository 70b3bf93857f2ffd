#include "dialogs/slider_group.h"

#include <algorithm>

namespace zbx::dialogs {

void setup_slider_group(platform::Dialog& dialog, const SliderGroup& group, int value, bool enabled) {
    dialog.set_range(group.slider, group.minimum, group.maximum);
    dialog.set_position(group.slider, value);
    dialog.set_tick_frequency(group.slider, group.tick);
    dialog.set_range(group.updown, group.minimum, group.maximum);
    dialog.set_buddy(group.updown, group.edit);
    dialog.set_position(group.updown, value);  // writes the edit too
    dialog.set_int(group.edit, value, true);   // the value itself, even outside the range
    dialog.enable(group.slider, enabled);
    dialog.enable(group.edit, enabled);
    dialog.enable(group.updown, enabled);
}

void show_slider_value(platform::Dialog& dialog, const SliderGroup& group, int value) {
    dialog.set_position(group.slider, value);
    dialog.set_int(group.edit, value, true);
}

std::optional<std::int32_t> read_slider_edit(const platform::Dialog& dialog, const SliderGroup& group) {
    const auto value = dialog.get_int(group.edit, true);
    if (!value) return std::nullopt;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(*value, std::min(group.minimum, group.maximum),
                                 std::max(group.minimum, group.maximum)));
}

void check_one_of(platform::Dialog& dialog, int first, int count, std::int32_t value) {
    for (int i = 0; i < count; ++i) dialog.set_check(first + i, i == value);
}

int checked_one_of(const platform::Dialog& dialog, int first, int count) {
    for (int i = 0; i < count; ++i) {
        if (dialog.is_checked(first + i)) return i;
    }
    return -1;
}

}  // namespace zbx::dialogs
