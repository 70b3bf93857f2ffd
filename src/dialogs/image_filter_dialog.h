// The image dialog: a frame with the "Image Filter" page and, in the
// monochrome colour modes, the "Gray Filter" page.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "dialogs/dialog_host.h"
#include "dialogs/gray_page.h"
#include "dialogs/image_filter_page.h"
#include "platform/dialog.h"

namespace zbx::dialogs {

class ImageFilterDialog {
public:
    explicit ImageFilterDialog(ImageHost& host);
    ImageFilterDialog(const ImageFilterDialog&) = delete;
    ImageFilterDialog& operator=(const ImageFilterDialog&) = delete;

    // Runs the frame modally; the result as run_modal_dialog gives it.
    // Changes the host's block live; restoring it is the caller's.
    std::intptr_t run(ZbxWindow owner);

    // Any thread (development, after an automatic balance measurement):
    // shows the block's values on both pages.  False when not open.
    bool refresh();

    [[nodiscard]] const ImageFilterFlags& flags() const { return flags_; }

private:
    class Frame : public platform::DialogProcedure {
    public:
        explicit Frame(ImageFilterDialog& owner) : owner_(owner) {}
        void on_init(platform::Dialog& dialog) override;
        void on_command(platform::Dialog& dialog, int id, platform::CommandCode code) override;
        void on_notify(platform::Dialog& dialog, int id, platform::NotifyCode code) override;
        void on_message(platform::Dialog& dialog, std::uint32_t message, std::uintptr_t wparam,
                        std::intptr_t lparam) override;

    private:
        ImageFilterDialog& owner_;
    };

    ImageHost& host_;
    const ImageFilterFlags flags_;
    const bool japanese_;
    Frame frame_;
    ImageFilterPage filter_page_;
    std::optional<GrayPage> gray_page_;
    platform::Dialog* filter_dialog_ = nullptr;  // the dialog's thread only
    platform::Dialog* gray_dialog_ = nullptr;
    std::atomic<platform::DialogHandle> frame_handle_{0};  // 0 while not open
};

}  // namespace zbx::dialogs
