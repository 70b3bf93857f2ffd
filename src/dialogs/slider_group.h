// A slider with its buddy edit and up-down control, as every property
// page uses them: the slider and up-down share the value's range, the edit
// shows the value as a signed number.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/dialog.h"

namespace zbx::dialogs {

struct SliderGroup {
    int slider;
    int edit;
    int updown;
    int minimum;
    int maximum;
    int tick;
};

// Range, tick spacing, buddy, position and edit text; all three enabled or
// disabled together.  The edit's change is reported as usual.
void setup_slider_group(platform::Dialog& dialog, const SliderGroup& group, int value, bool enabled);
// Moves the slider and rewrites the edit.
void show_slider_value(platform::Dialog& dialog, const SliderGroup& group, int value);
// The edit's signed number, kept inside the group's range (the slider
// cannot follow a value outside it, and nothing outside it may reach the
// session); nullopt while the text is no number, e.g. just cleared.
[[nodiscard]] std::optional<std::int32_t> read_slider_edit(const platform::Dialog& dialog,
                                                           const SliderGroup& group);

// Rows of radio buttons (Bayer Mode, filter mode): checks the button of
// `value` among `count` buttons from `first`, clears the others.
void check_one_of(platform::Dialog& dialog, int first, int count, std::int32_t value);
// Index of the checked button among `count` from `first`, or -1.
[[nodiscard]] int checked_one_of(const platform::Dialog& dialog, int first, int count);

}  // namespace zbx::dialogs
