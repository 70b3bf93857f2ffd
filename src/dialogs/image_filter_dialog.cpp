#include "dialogs/image_filter_dialog.h"

#include "dialogs/image_templates.h"
#include "platform/text.h"

namespace zbx::dialogs {

using platform::CommandCode;
using platform::Dialog;
namespace ids = image_ids;

namespace {

constexpr std::uint32_t kRefreshMessage = platform::kDialogUserMessage + 1;
// Where the pages sit inside the tab control, in pixels.
constexpr int kPageX = 30;
constexpr int kPageY = 25;

}  // namespace

ImageFilterDialog::ImageFilterDialog(ImageHost& host)
    : host_(host),
      flags_(image_filter_flags(host.color_mode())),
      japanese_(platform::system_default_language() == platform::kLanguageJapanese),
      frame_(*this),
      filter_page_(host, flags_) {
    if (flags_.gray_page) gray_page_.emplace(host);
}

std::intptr_t ImageFilterDialog::run(ZbxWindow owner) {
    const std::intptr_t result =
        platform::run_modal_dialog(image_frame_template(japanese_), owner, frame_);
    frame_handle_ = 0;
    filter_dialog_ = nullptr;
    gray_dialog_ = nullptr;
    return result;
}

bool ImageFilterDialog::refresh() {
    const platform::DialogHandle frame = frame_handle_.load();
    return frame != 0 && platform::post_dialog_message(frame, kRefreshMessage, 0, 0);
}

void ImageFilterDialog::Frame::on_init(Dialog& dialog) {
    owner_.frame_handle_ = dialog.handle();
    dialog.insert_item(ids::kTab, 0, kImageFilterTabLabel);
    dialog.set_selection(ids::kTab, 0);
    Dialog* page = dialog.create_page(image_filter_page_template(owner_.japanese_), ids::kTab,
                                      owner_.filter_page_);
    if (page != nullptr) {
        page->place(kPageX, kPageY);
        page->show_dialog(true);
        owner_.filter_dialog_ = page;
    }
    if (owner_.gray_page_) {
        dialog.insert_item(ids::kTab, 1, kGrayFilterTabLabel);
        Dialog* gray =
            dialog.create_page(gray_page_template(owner_.japanese_), ids::kTab, *owner_.gray_page_);
        if (gray != nullptr) {
            gray->place(kPageX, kPageY);
            owner_.gray_dialog_ = gray;
        }
    }
}

void ImageFilterDialog::Frame::on_notify(Dialog& dialog, int id, platform::NotifyCode code) {
    if (id != ids::kTab || code != platform::NotifyCode::kTabSelChange) return;
    const int tab = dialog.selection(ids::kTab);
    if (tab != 0 && tab != 1) return;
    if (owner_.filter_dialog_ != nullptr) owner_.filter_dialog_->show_dialog(tab == 0);
    if (owner_.gray_dialog_ != nullptr) owner_.gray_dialog_->show_dialog(tab == 1);
}

void ImageFilterDialog::Frame::on_command(Dialog& dialog, int id, CommandCode code) {
    if (code != CommandCode::kClicked) return;
    switch (id) {
    case platform::kIdOk:
        owner_.filter_page_.take_values();
        if (owner_.gray_page_) owner_.gray_page_->take_values();
        dialog.end(platform::kIdOk);
        break;
    case platform::kIdCancel:
        dialog.end(platform::kIdCancel);
        break;
    case ids::kDefault:
        owner_.filter_page_.apply_defaults();
        if (owner_.gray_page_) owner_.gray_page_->apply_defaults();
        break;
    default:
        break;
    }
}

void ImageFilterDialog::Frame::on_message(Dialog&, std::uint32_t message, std::uintptr_t,
                                          std::intptr_t) {
    if (message != kRefreshMessage) return;
    owner_.filter_page_.show_values();
    if (owner_.gray_page_) owner_.gray_page_->show_values();
}

std::intptr_t run_image_dialog(ImageHost& host, ZbxWindow owner) {
    AdjustmentBlock saved{};
    for (std::size_t i = 0; i < kAdjustmentBlockSize; ++i)
        saved[i] = host.adjustment_value(static_cast<AdjustmentSlot>(i));
    std::intptr_t result;
    {
        ImageFilterDialog dialog(host);
        host.set_open_image_dialog(&dialog);
        result = dialog.run(owner);
        if (result != platform::kIdOk) {
            for (std::size_t i = 0; i < kAdjustmentBlockSize; ++i)
                host.set_adjustment_value(static_cast<AdjustmentSlot>(i), saved[i]);
        }
        host.set_open_image_dialog(nullptr);
    }
    return result;
}

}  // namespace zbx::dialogs
