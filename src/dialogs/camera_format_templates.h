// Template, control identifiers and list texts of the camera format dialog.
#pragma once

#include <string>
#include <vector>

#include "platform/dialog.h"

namespace zbx::dialogs {

namespace camera_format_ids {
inline constexpr int kJapanese = 101;
inline constexpr int kEnglish = 106;

inline constexpr int kTab = 1001;
inline constexpr int kApply = 1002;
inline constexpr int kColorList = 1009;
inline constexpr int kSizeList = 1010;
inline constexpr int kSubSampleList = 1012;
inline constexpr int kClockList = 1014;
// Edits of TH, TV, EH, EV, EHS, EVS in this order (TH and TV read-only).
inline constexpr int kFirstSizeEdit = 1039;
inline constexpr int kWaitTimeEdit = 1045;
}  // namespace camera_format_ids

platform::DialogTemplate camera_format_template(bool japanese);

// List texts in the dialog's language.
std::string stream_format_tab_label(bool japanese);
std::vector<std::string> color_list_items(bool japanese);
std::vector<std::string> clock_list_items(bool japanese);
std::string custom_size_item(bool japanese);

}  // namespace zbx::dialogs
