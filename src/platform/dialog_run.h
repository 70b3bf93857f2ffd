// One modal dialog while it runs: its tree of dialogs, its end state and
// the queue of messages posted to it from other threads.  Private to the
// dialog stand-in (dialog.cpp, dialog_automation.cpp).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/dialog.h"

namespace zbx::platform {

// Messages for the dialogs of one modal run; shared with the handle
// registry, so posts after the run has closed fail harmlessly.
struct PostedMessage {
    DialogHandle target;
    std::uint32_t message;
    std::uintptr_t wparam;
    std::intptr_t lparam;
};

class PostQueue {
public:
    // False when closed or full.
    bool push(const PostedMessage& message);
    // Waits up to timeout_ms for a message; false on time-out, when closed
    // and when a cancel request is waiting.
    bool pop(PostedMessage* message, std::uint32_t timeout_ms);
    void close();

    // Any thread: asks the run to end as Cancel.  The run's thread takes
    // the request (once) when it next processes its messages.
    void request_cancel();
    [[nodiscard]] bool take_cancel_request();
    // The thread that runs the dialog's events, and a wait for the run to
    // close (any other thread).
    void set_runner(std::thread::id runner);
    [[nodiscard]] std::thread::id runner();
    void wait_closed();
    // As wait_closed, up to timeout_ms; true once closed.
    bool wait_closed_for(std::uint32_t timeout_ms);

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<PostedMessage> messages_;
    bool closed_ = false;
    bool cancel_ = false;
    std::thread::id runner_;
};

class ModalRun {
public:
    ModalRun();
    ~ModalRun();
    ModalRun(const ModalRun&) = delete;
    ModalRun& operator=(const ModalRun&) = delete;

    // Makes a dialog of this run (the root when parent is null).
    std::unique_ptr<Dialog> make_dialog(const DialogTemplate& source, Dialog* parent,
                                        DialogProcedure& procedure);
    Dialog* find(DialogHandle handle) const;

    void set_root(Dialog* root) { root_ = root; }
    [[nodiscard]] Dialog* root() const { return root_; }
    [[nodiscard]] bool ended() const { return ended_; }
    [[nodiscard]] std::intptr_t result() const { return result_; }
    void end(std::intptr_t result) {
        ended_ = true;
        result_ = result;
    }

    // Delivers every queued message, waiting up to timeout_ms for the
    // first one; stops early when the dialog ends.  A cancel request ends
    // the dialog as its close box would.  Returns how many ran.
    int process_messages(std::uint32_t timeout_ms);

    [[nodiscard]] const std::shared_ptr<PostQueue>& queue() const { return queue_; }

private:
    std::shared_ptr<PostQueue> queue_;
    Dialog* root_ = nullptr;
    bool ended_ = false;
    std::intptr_t result_ = 0;
};

}  // namespace zbx::platform
