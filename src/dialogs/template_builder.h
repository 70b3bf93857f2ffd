// Small helpers for writing dialog templates as code.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/dialog.h"

namespace zbx::dialogs {

inline constexpr const char* kDialogFont = "MS Shell Dlg";
inline constexpr int kDialogFontSize = 8;

inline platform::ControlTemplate control(int id, platform::ControlKind kind, std::string text,
                                         int x, int y, int width, int height,
                                         std::uint32_t flags = 0, int group = 0) {
    platform::ControlTemplate c;
    c.id = id;
    c.kind = kind;
    c.text = std::move(text);
    c.x = x;
    c.y = y;
    c.width = width;
    c.height = height;
    c.flags = flags;
    c.group = group;
    return c;
}

inline platform::ControlTemplate label(std::string text, int x, int y, int width, int height = 8) {
    return control(platform::kStaticId, platform::ControlKind::kLabel, std::move(text), x, y, width,
                   height);
}

inline platform::ControlTemplate group_box(std::string text, int x, int y, int width, int height) {
    return control(platform::kStaticId, platform::ControlKind::kGroupBox, std::move(text), x, y,
                   width, height);
}

inline platform::DialogTemplate dialog_template(int resource_id, std::string title, int width,
                                                int height, bool child) {
    platform::DialogTemplate t;
    t.resource_id = resource_id;
    t.title = std::move(title);
    t.width = width;
    t.height = height;
    t.font_name = kDialogFont;
    t.font_size = kDialogFontSize;
    t.child = child;
    return t;
}

// A labelled slider with its buddy edit (digits only) and up-down control,
// in one row.
inline void add_slider_row(platform::DialogTemplate& t, std::string text, int slider, int edit,
                           int updown, int x, int y, int label_width, int slider_width) {
    using platform::ControlKind;
    t.controls.push_back(label(std::move(text), x, y + 3, label_width));
    const int slider_x = x + label_width + 2;
    t.controls.push_back(control(slider, ControlKind::kTrackbar, "", slider_x, y, slider_width, 14));
    const int edit_x = slider_x + slider_width + 2;
    t.controls.push_back(
        control(edit, ControlKind::kEdit, "", edit_x, y, 34, 13, platform::kControlNumber));
    t.controls.push_back(control(updown, ControlKind::kUpDown, "", edit_x + 34, y, 10, 13));
}

// The frame of a tabbed property dialog: owner-drawn tab control 1001 and
// the buttons OK, Cancel and (when given) Default along the bottom.
inline void add_frame_controls(platform::DialogTemplate& t, int tab, const std::string& cancel,
                               const std::string& default_text) {
    using platform::ControlKind;
    t.controls.push_back(control(tab, ControlKind::kTab, "", 7, 7, t.width - 14, t.height - 34,
                                 platform::kControlOwnerDraw));
    const int y = t.height - 21;
    int x = t.width - 7 - 50;
    if (!default_text.empty()) {
        t.controls.push_back(control(3, ControlKind::kPushButton, default_text, x, y, 50, 14));
        x -= 54;
    }
    t.controls.push_back(control(platform::kIdCancel, ControlKind::kPushButton, cancel, x, y, 50, 14));
    x -= 54;
    t.controls.push_back(control(platform::kIdOk, ControlKind::kPushButton, "OK", x, y, 50, 14,
                                 platform::kControlDefault));
}

}  // namespace zbx::dialogs
