// The analog settings dialog: global gain, exposure, mirrors and the
// automatic iris mode, each sent to the camera as soon as it changes.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "dialogs/dialog_host.h"
#include "dialogs/slider_group.h"
#include "platform/dialog.h"

namespace zbx::dialogs {

class AnalogDialog {
public:
    explicit AnalogDialog(AnalogHost& host);
    AnalogDialog(const AnalogDialog&) = delete;
    AnalogDialog& operator=(const AnalogDialog&) = delete;

    // Runs the frame modally; the result as run_modal_dialog gives it.
    // Changes the host's block and sensor live; restoring is the caller's.
    std::intptr_t run(ZbxWindow owner);

    // Any thread (automatic exposure on the acquisition thread): shows a
    // new global gain or exposure in its edit, which then acts as if the
    // user had typed it.  False when the dialog is not open.
    bool show_global_gain(std::int32_t gain);
    bool show_exposure(std::int32_t lines);

private:
    class Frame : public platform::DialogProcedure {
    public:
        explicit Frame(AnalogDialog& owner) : owner_(owner) {}
        void on_init(platform::Dialog& dialog) override;
        void on_command(platform::Dialog& dialog, int id, platform::CommandCode code) override;
        void on_notify(platform::Dialog& dialog, int id, platform::NotifyCode code) override;

    private:
        AnalogDialog& owner_;
    };

    class Page : public platform::DialogProcedure {
    public:
        explicit Page(AnalogDialog& owner) : owner_(owner) {}
        void on_init(platform::Dialog& dialog) override;
        void on_command(platform::Dialog& dialog, int id, platform::CommandCode code) override;
        void on_scroll(platform::Dialog& dialog, int id, int position) override;
        void on_message(platform::Dialog& dialog, std::uint32_t message, std::uintptr_t wparam,
                        std::intptr_t lparam) override;

    private:
        void edit_changed(platform::Dialog& dialog, int id);
        AnalogDialog& owner_;
        bool acting_ = false;  // edit changes are ignored while filling the page
    };

    static constexpr std::size_t kGroupCount = 6;
    // The block slot each slider group edits, in page order.
    static constexpr std::array<AnalogSlot, kGroupCount> kGroupSlots{
        AnalogSlot::kGlobalGain, AnalogSlot::kColorGainGreen1, AnalogSlot::kColorGainRed,
        AnalogSlot::kColorGainBlue, AnalogSlot::kColorGainGreen2, AnalogSlot::kExposure};

    void show_exposure_time(platform::Dialog& page);
    void show_all(platform::Dialog& page);
    bool post_to_page(std::uint32_t message, std::int32_t value);

    AnalogHost& host_;
    const SensorLimits limits_;
    const bool japanese_;
    std::array<SliderGroup, kGroupCount> groups_;
    Frame frame_;
    Page page_;
    platform::Dialog* page_dialog_ = nullptr;           // the dialog's thread only
    std::atomic<platform::DialogHandle> page_handle_{0};  // 0 while not open
};

}  // namespace zbx::dialogs
