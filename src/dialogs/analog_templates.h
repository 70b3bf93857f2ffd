// Templates and control identifiers of the analog settings dialog.
#pragma once

#include "platform/dialog.h"

namespace zbx::dialogs {

namespace analog_ids {
inline constexpr int kFrameJapanese = 104;
inline constexpr int kFrameEnglish = 111;
inline constexpr int kPageJapanese = 105;
inline constexpr int kPageEnglish = 110;

inline constexpr int kTab = 1001;
inline constexpr int kDefault = 3;

inline constexpr int kGainSlider = 1013;
inline constexpr int kGainEdit = 1015;
inline constexpr int kGainUpDown = 1038;
inline constexpr int kGreen1Slider = 1018;
inline constexpr int kGreen1Edit = 1019;
inline constexpr int kGreen1UpDown = 1039;
inline constexpr int kRedSlider = 1020;
inline constexpr int kRedEdit = 1021;
inline constexpr int kRedUpDown = 1040;
inline constexpr int kBlueSlider = 1022;
inline constexpr int kBlueEdit = 1023;
inline constexpr int kBlueUpDown = 1041;
inline constexpr int kGreen2Slider = 1024;
inline constexpr int kGreen2Edit = 1025;
inline constexpr int kGreen2UpDown = 1042;
inline constexpr int kExposureSlider = 1026;
inline constexpr int kExposureEdit = 1027;
inline constexpr int kExposureUpDown = 1043;

inline constexpr int kMirrorV = 1028;
inline constexpr int kMirrorH = 1029;
inline constexpr int kAutoIrisGain = 1036;
inline constexpr int kAutoIrisExposure = 1037;
inline constexpr int kExposureTime = 1049;
}  // namespace analog_ids

inline constexpr const char* kAnalogTabLabel = "Analog Gain";

platform::DialogTemplate analog_frame_template(bool japanese);
platform::DialogTemplate analog_page_template(bool japanese);

}  // namespace zbx::dialogs
