#include "dialogs/camera_format_templates.h"

#include <array>
#include <cstdio>

#include "dialogs/template_builder.h"

namespace zbx::dialogs {

using platform::ControlKind;

namespace {

// Formats one integer into a template text such as "High(%dMHz)".
std::string format_int(const char* pattern, int value) {
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), pattern, value);
    return buffer.data();
}

// The clock of the fast setting, in MHz.
constexpr int kHighClockMhz = 100;
// The sample width of the 16-bit monochrome mode.
constexpr int kMonochromeWideBits = 12;

}  // namespace

platform::DialogTemplate camera_format_template(bool japanese) {
    using namespace camera_format_ids;
    platform::DialogTemplate t = japanese ? dialog_template(kJapanese, "プロパティ", 313, 229, false)
                                          : dialog_template(kEnglish, "Property", 313, 229, false);
    const auto text = [japanese](const char* english, const char* japanese_text) {
        return std::string(japanese ? japanese_text : english);
    };
    auto& c = t.controls;
    c.push_back(control(kTab, ControlKind::kTab, "", 7, 7, 299, 176, platform::kControlOwnerDraw));

    c.push_back(group_box(text("Video Format", "ビデオ形式"), 14, 26, 140, 96));
    c.push_back(label(text("Color / Compression(&C):", "色空間 / 圧縮(&C):"), 20, 38, 128));
    c.push_back(control(kColorList, ControlKind::kComboBox, "", 20, 48, 128, 60));
    c.push_back(label(text("Size(&S):", "出力サイズ(&S):"), 20, 64, 128));
    c.push_back(control(kSizeList, ControlKind::kComboBox, "", 20, 74, 128, 60));
    c.push_back(label(text("Sub Sample(&B):", "間引き転送モード(&B):"), 20, 90, 128));
    c.push_back(control(kSubSampleList, ControlKind::kComboBox, "", 20, 100, 128, 40,
                        platform::kControlDisabled));

    c.push_back(group_box(text("Camera Size", "カスタムサイズ"), 160, 26, 140, 96));
    const std::array<std::array<const char*, 2>, 6> size_labels{{
        {"H Total", "総水平画素"},
        {"V Total", "総垂直画素"},
        {"H Effective", "有効水平画素"},
        {"V Effective", "有効垂直画素"},
        {"H Start", "有効水平起点"},
        {"V Start", "有効垂直起点"},
    }};
    for (int i = 0; i < 6; ++i) {
        const int y = 38 + i * 14;
        const auto& l = size_labels[static_cast<std::size_t>(i)];
        c.push_back(label(text(l[0], l[1]), 166, y + 2, 70));
        c.push_back(control(kFirstSizeEdit + i, ControlKind::kEdit, "", 240, y, 52, 12,
                            i < 2 ? platform::kControlReadOnly : 0));
    }

    c.push_back(group_box(text("Frame Rate", "フレームレート"), 14, 126, 286, 40));
    c.push_back(label(text("Wait Time(&T):", "フレーム間待ち時間(&T):"), 20, 138, 90));
    c.push_back(control(kWaitTimeEdit, ControlKind::kEdit, "", 112, 136, 40, 12));
    c.push_back(label(text("Clock(&C):", "動作クロック(&C):"), 160, 138, 60));
    c.push_back(control(kClockList, ControlKind::kComboBox, "", 222, 136, 72, 40,
                        platform::kControlDisabled));

    c.push_back(control(platform::kIdOk, ControlKind::kPushButton, "OK", 145, 208, 50, 14,
                        platform::kControlDefault));
    c.push_back(control(platform::kIdCancel, ControlKind::kPushButton, text("Cancel", "キャンセル"),
                        200, 208, 50, 14));
    c.push_back(control(kApply, ControlKind::kPushButton, text("Apply(&A)", "適用(&A)"), 255, 208, 50, 14));
    c.push_back(label(text("* In the WORD forwarding mode, please set the clock to the half.",
                           "※WORD転送モードの際は動作クロックをハーフに設定してください"),
                      14, 188, 290));
    return t;
}

std::string stream_format_tab_label(bool japanese) {
    return japanese ? "ストリーム形式" : "Stream Format";
}

std::vector<std::string> color_list_items(bool japanese) {
    if (japanese) {
        return {"白黒 8bit", format_int("白黒 %dbit ※", kMonochromeWideBits), "カラー 24bit",
                "カラー 32bit", "カラー 48bit ※", "カラー 64bit ※"};
    }
    return {"Monochrome 8bit", "Monochrome 10bit *", "Color 24bit",
            "Color 32bit",     "Color 48bit *",      "Color 64bit *"};
}

std::vector<std::string> clock_list_items(bool japanese) {
    if (japanese) return {"標準(24MHz)", "ハーフ(12MHz)", format_int("高速(%dMHz)", kHighClockMhz)};
    return {"Nomal(24MHz)", "Half(12MHz)", format_int("High(%dMHz)", kHighClockMhz)};
}

std::string custom_size_item(bool japanese) { return japanese ? "カスタム" : "Custom"; }

}  // namespace zbx::dialogs
