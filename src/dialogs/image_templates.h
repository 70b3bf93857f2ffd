// Templates and control identifiers of the image dialog: its frame, the
// image filter page and the gray page.
#pragma once

#include "platform/dialog.h"

namespace zbx::dialogs {

namespace image_ids {
inline constexpr int kFrameJapanese = 102;
inline constexpr int kFrameEnglish = 108;
inline constexpr int kPageJapanese = 103;
inline constexpr int kPageEnglish = 107;

inline constexpr int kTab = 1001;
inline constexpr int kDefault = 3;

inline constexpr int kBrightnessSlider = 2001;
inline constexpr int kBrightnessEdit = 2002;
inline constexpr int kBrightnessUpDown = 2004;
inline constexpr int kContrastSlider = 2011;
inline constexpr int kContrastEdit = 2012;
inline constexpr int kContrastUpDown = 2014;
inline constexpr int kHueSlider = 2021;
inline constexpr int kHueEdit = 2022;
inline constexpr int kHueUpDown = 2024;
inline constexpr int kSaturationSlider = 2031;
inline constexpr int kSaturationEdit = 2032;
inline constexpr int kSaturationUpDown = 2034;
inline constexpr int kSharpnessSlider = 2041;
inline constexpr int kSharpnessEdit = 2042;
inline constexpr int kSharpnessUpDown = 2044;
inline constexpr int kRedGainSlider = 2051;
inline constexpr int kRedGainEdit = 2052;
inline constexpr int kRedGainUpDown = 2054;
inline constexpr int kGreenGainSlider = 2061;
inline constexpr int kGreenGainEdit = 2062;
inline constexpr int kGreenGainUpDown = 2063;
inline constexpr int kBlueGainSlider = 2071;
inline constexpr int kBlueGainEdit = 2072;
inline constexpr int kBlueGainUpDown = 2073;
inline constexpr int kGammaSlider = 2081;
inline constexpr int kGammaEdit = 2082;
inline constexpr int kGammaUpDown = 2084;

// Shared by both pages.
inline constexpr int kOnce = 2074;
inline constexpr int kAllFrames = 1035;
inline constexpr int kBayerMode0 = 1030;  // to 1033 for Bayer modes 0 to 3
}  // namespace image_ids

namespace gray_ids {
inline constexpr int kPageJapanese = 113;
inline constexpr int kPageEnglish = 112;

// Sliders of GrayGainR, G1, G2, B, GrayOffsetR, G1, G2, B: slider, edit and
// up-down are kFirstSlider + 3 i, + 1, + 2.
inline constexpr int kFirstSlider = 2100;
inline constexpr int kFilterModeBayer = 1046;  // to 1048 for gray modes 0 to 2
}  // namespace gray_ids

inline constexpr const char* kImageFilterTabLabel = "Image Filter";
inline constexpr const char* kGrayFilterTabLabel = "Gray Filter";

platform::DialogTemplate image_frame_template(bool japanese);
platform::DialogTemplate image_filter_page_template(bool japanese);
platform::DialogTemplate gray_page_template(bool japanese);

}  // namespace zbx::dialogs
