#include "dialogs/camera_format_dialog.h"

#include <cstdio>

#include "dialogs/camera_format_templates.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace zbx::dialogs {

using platform::CommandCode;
using platform::Dialog;
namespace ids = camera_format_ids;

namespace {

constexpr const char* kRootKey = "Software\\Tevrun\\Zorbex530RDNQTSdk";
constexpr int kSizeEditCount = 6;
// The one sub-sample value offered, as item "1/1".
constexpr std::int32_t kSubSampleValue = 0;

std::string numbered(const char* pattern, int number) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, pattern, number);
    return buffer;
}

std::string size_text(const SizeEntry& entry) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%d x %d", static_cast<std::int32_t>(entry.width),
                  static_cast<std::int32_t>(entry.height));
    return buffer;
}

std::uint32_t* entry_field(SizeEntry& entry, int index) {
    std::uint32_t* fields[] = {&entry.total_width, &entry.total_height, &entry.width,
                               &entry.height,      &entry.h_start,      &entry.v_start,
                               &entry.buffer};
    return fields[index];
}

constexpr const char* kEntryNames[] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};

// Reads a 4-byte value; a missing one (or one of another size) leaves *out.
template <typename T>
void read_value(const platform::SettingsKey& key, const char* name, T* out) {
    std::uint32_t value = 0;
    if (key.read_dword(name, &value) == platform::SettingsStatus::kOk) *out = static_cast<T>(value);
}

}  // namespace

CameraFormatDialog::CameraFormatDialog(std::int32_t device_number)
    : device_number_(device_number),
      japanese_(platform::system_default_language() == platform::kLanguageJapanese) {}

std::string CameraFormatDialog::camera_key() const {
    return numbered("Camera_%02d", device_number_);
}

std::intptr_t CameraFormatDialog::run(ZbxWindow owner) {
    return platform::run_modal_dialog(camera_format_template(japanese_), owner, *this);
}

void CameraFormatDialog::read_settings() {
    platform::SettingsKey root;
    platform::SettingsKey camera;
    if (!root.open(kRootKey) || !camera.open(root, camera_key())) return;
    std::int32_t found = 0;
    for (; found < static_cast<std::int32_t>(kSizeTableSize); ++found) {
        platform::SettingsKey size;
        if (!size.open(camera, numbered("Size_%02d", found))) break;
        SizeEntry& entry = sizes_[static_cast<std::size_t>(found)];
        for (int f = 0; f < 7; ++f) read_value(size, kEntryNames[f], entry_field(entry, f));
    }
    size_count_ = found;
    read_value(camera, "Size", &size_index_);
    read_value(camera, "Color", &color_index_);
    read_value(camera, "SubSample", &sub_sample_);
    read_value(camera, "WaitTime", &wait_time_);
    read_value(camera, "Clock", &clock_index_);
}

bool CameraFormatDialog::write_settings() const {
    platform::SettingsKey camera;
    if (!camera.create(std::string(kRootKey) + "\\" + camera_key())) return false;
    for (std::int32_t i = 0; i < size_count_; ++i) {
        platform::SettingsKey size;
        if (!size.create(camera, numbered("Size_%02d", i))) break;
        SizeEntry entry = sizes_[static_cast<std::size_t>(i)];
        const platform::NamedDword values[] = {
            {"TH", entry.total_width}, {"TV", entry.total_height}, {"EH", entry.width},
            {"EV", entry.height},      {"EHS", entry.h_start},     {"EVS", entry.v_start},
            {"Buf", entry.buffer}};
        if (!size.write_dwords(values)) break;
    }
    const platform::NamedDword values[] = {
        {"Size", static_cast<std::uint32_t>(size_index_)},
        {"Color", static_cast<std::uint32_t>(color_index_)},
        {"SubSample", static_cast<std::uint32_t>(sub_sample_)},
        {"WaitTime", wait_time_},
        {"Clock", static_cast<std::uint32_t>(clock_index_)}};
    return camera.write_dwords(values);
}

void CameraFormatDialog::show_entry(Dialog& dialog, std::int32_t index) {
    // An index past the table (a stored "Size" naming nothing) shows the defaults.
    SizeEntry entry;
    if (index >= 0 && index < static_cast<std::int32_t>(kSizeTableSize))
        entry = sizes_[static_cast<std::size_t>(index)];
    for (int f = 0; f < kSizeEditCount; ++f)
        dialog.set_int(ids::kFirstSizeEdit + f, *entry_field(entry, f), false);
}

void CameraFormatDialog::on_init(Dialog& dialog) {
    read_settings();
    dialog.insert_item(ids::kTab, 0, stream_format_tab_label(japanese_));
    dialog.set_selection(ids::kTab, 0);

    for (const std::string& item : color_list_items(japanese_)) dialog.insert_item(ids::kColorList, -1, item);
    dialog.set_selection(ids::kColorList, color_index_);

    dialog.insert_item(ids::kSubSampleList, -1, "1/1");
    dialog.set_selection(ids::kSubSampleList, 0);  // the one item, whatever value was stored
    dialog.enable(ids::kSubSampleList, false);

    for (const std::string& item : clock_list_items(japanese_)) dialog.insert_item(ids::kClockList, -1, item);
    dialog.set_selection(ids::kClockList, clock_index_);
    dialog.enable(ids::kClockList, false);

    for (std::int32_t i = 0; i < size_count_; ++i)
        dialog.insert_item(ids::kSizeList, -1, size_text(sizes_[static_cast<std::size_t>(i)]));
    dialog.insert_item(ids::kSizeList, -1, custom_size_item(japanese_));
    dialog.set_selection(ids::kSizeList, size_index_);  // none when it names no item
    show_entry(dialog, size_index_);
    dialog.set_int(ids::kWaitTimeEdit, wait_time_, false);

    dialog.enable(ids::kApply, false);
}

void CameraFormatDialog::on_command(Dialog& dialog, int id, CommandCode code) {
    if (code == CommandCode::kEditChange || code == CommandCode::kSelChange) {
        dialog.enable(ids::kApply, true);
        if (id == ids::kSizeList && code == CommandCode::kSelChange) {
            size_index_ = dialog.selection(ids::kSizeList);
            if (size_index_ >= 0 && size_index_ < size_count_) show_entry(dialog, size_index_);
        }
        return;
    }
    if (code != CommandCode::kClicked) return;
    switch (id) {
    case ids::kApply:
        take_controls(dialog);
        (void)write_settings();  // failures end the write quietly
        break;
    case platform::kIdOk:
        take_controls(dialog);
        (void)write_settings();
        dialog.end(platform::kIdOk);
        break;
    case platform::kIdCancel:
        dialog.end(platform::kIdCancel);
        break;
    default:
        break;
    }
}

void CameraFormatDialog::take_controls(Dialog& dialog) {
    // A list without a selection keeps the value it was opened with.
    if (const int color = dialog.selection(ids::kColorList); color >= 0) color_index_ = color;
    if (const int clock = dialog.selection(ids::kClockList); clock >= 0) clock_index_ = clock;
    sub_sample_ = kSubSampleValue;
    if (const auto wait = dialog.get_int(ids::kWaitTimeEdit, false))
        wait_time_ = static_cast<std::uint32_t>(*wait);

    size_index_ = dialog.selection(ids::kSizeList);
    const bool stored = size_index_ >= 0 && size_index_ < size_count_;
    const auto table_size = static_cast<std::int32_t>(kSizeTableSize);
    // "Custom", or no selection at all: the edits become a new size.  With
    // the table full, they replace its last size instead.
    std::int32_t target = size_index_;
    bool append = false;
    if (!stored) {
        append = size_count_ < table_size;
        target = append ? size_count_ : table_size - 1;
    }
    SizeEntry& entry = sizes_[static_cast<std::size_t>(target)];
    for (int f = 0; f < kSizeEditCount; ++f) {
        // Text that is no number keeps the field's value.
        if (const auto value = dialog.get_int(ids::kFirstSizeEdit + f, false))
            *entry_field(entry, f) = static_cast<std::uint32_t>(*value);
    }
    if (append) {
        dialog.insert_item(ids::kSizeList, target, size_text(entry));
        ++size_count_;
    } else {
        dialog.delete_item(ids::kSizeList, target);
        dialog.insert_item(ids::kSizeList, target, size_text(entry));
    }
    dialog.set_selection(ids::kSizeList, target);
    size_index_ = target;
    dialog.enable(ids::kApply, false);
}

std::intptr_t run_camera_format_dialog(CameraFormatHost& host, ZbxWindow owner) {
    host.suspend_acquisition();
    std::intptr_t result;
    {
        CameraFormatDialog dialog(host.device_number());
        result = dialog.run(owner);
    }
    if (result == platform::kIdOk) host.reload_format_settings();
    host.resume_acquisition();
    return result;
}

}  // namespace zbx::dialogs
