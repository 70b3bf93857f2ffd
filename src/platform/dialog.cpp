#include "platform/dialog.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/dialog_automation.h"
#include "platform/dialog_display.h"
#include "platform/dialog_run.h"
#include "platform/window.h"

namespace zbx::platform {
namespace {

// A queue nobody processes refuses posts beyond this, as window queues do.
constexpr std::size_t kPostQueueLimit = 10000;

// Open dialogs by handle, so that other threads can post to them without
// holding a pointer that may dangle.
struct OpenRun {
    const void* owner;
    std::shared_ptr<PostQueue> queue;
};

struct HandleRegistry {
    std::mutex mutex;
    std::unordered_map<DialogHandle, std::weak_ptr<PostQueue>> queues;
    std::vector<OpenRun> runs;  // open modal runs with an owner
    DialogHandle next = 1;
};

thread_local const void* current_owner = nullptr;

HandleRegistry& registry() {
    static HandleRegistry instance;
    return instance;
}

DialogHandle register_dialog(const std::shared_ptr<PostQueue>& queue) {
    HandleRegistry& reg = registry();
    std::lock_guard lock(reg.mutex);
    const DialogHandle handle = reg.next++;
    reg.queues.emplace(handle, queue);
    return handle;
}

void unregister_dialog(DialogHandle handle) {
    HandleRegistry& reg = registry();
    std::lock_guard lock(reg.mutex);
    reg.queues.erase(handle);
}

bool is_position_control(ControlKind kind) {
    return kind == ControlKind::kTrackbar || kind == ControlKind::kUpDown;
}

bool is_list_control(ControlKind kind) {
    return kind == ControlKind::kComboBox || kind == ControlKind::kTab;
}

bool is_checkable(ControlKind kind) {
    return kind == ControlKind::kCheckBox || kind == ControlKind::kRadioButton;
}

}  // namespace

// ---- PostQueue ------------------------------------------------------------

bool PostQueue::push(const PostedMessage& message) {
    {
        std::lock_guard lock(mutex_);
        if (closed_ || messages_.size() >= kPostQueueLimit) return false;
        messages_.push_back(message);
    }
    cond_.notify_one();
    return true;
}

bool PostQueue::pop(PostedMessage* message, std::uint32_t timeout_ms) {
    std::unique_lock lock(mutex_);
    auto ready = [this] { return closed_ || cancel_ || !messages_.empty(); };
    if (timeout_ms == kInfinite) {
        cond_.wait(lock, ready);
    } else {
        cond_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
    }
    if (cancel_ || messages_.empty()) return false;
    *message = messages_.front();
    messages_.pop_front();
    return true;
}

void PostQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        messages_.clear();
    }
    cond_.notify_all();
}

void PostQueue::request_cancel() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        cancel_ = true;
    }
    cond_.notify_all();
}

bool PostQueue::take_cancel_request() {
    std::lock_guard lock(mutex_);
    return std::exchange(cancel_, false);
}

void PostQueue::set_runner(std::thread::id runner) {
    std::lock_guard lock(mutex_);
    runner_ = runner;
}

std::thread::id PostQueue::runner() {
    std::lock_guard lock(mutex_);
    return runner_;
}

void PostQueue::wait_closed() {
    std::unique_lock lock(mutex_);
    cond_.wait(lock, [this] { return closed_; });
}

bool PostQueue::wait_closed_for(std::uint32_t timeout_ms) {
    std::unique_lock lock(mutex_);
    return cond_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return closed_; });
}

// ---- ModalRun -------------------------------------------------------------

ModalRun::ModalRun() : queue_(std::make_shared<PostQueue>()) {}

ModalRun::~ModalRun() { queue_->close(); }

std::unique_ptr<Dialog> ModalRun::make_dialog(const DialogTemplate& source, Dialog* parent,
                                              DialogProcedure& procedure) {
    return std::unique_ptr<Dialog>(new Dialog(source, parent, *this, procedure));
}

namespace {
Dialog* find_in(Dialog* dialog, DialogHandle handle) {
    if (dialog == nullptr) return nullptr;
    if (dialog->handle() == handle) return dialog;
    for (const auto& page : dialog->pages()) {
        if (Dialog* found = find_in(page.get(), handle)) return found;
    }
    return nullptr;
}
}  // namespace

Dialog* ModalRun::find(DialogHandle handle) const { return find_in(root_, handle); }

int ModalRun::process_messages(std::uint32_t timeout_ms) {
    int count = 0;
    PostedMessage message{};
    std::uint32_t wait = timeout_ms;
    auto cancel = [this] {
        // As the close box: the procedure hears Cancel; one that ignores it
        // is ended anyway, since its owner is going away.
        root_->procedure().on_command(*root_, kIdCancel, CommandCode::kClicked);
        if (!ended_) end(kIdCancel);
    };
    while (!ended_) {
        if (queue_->take_cancel_request()) {
            cancel();
            ++count;
            break;
        }
        if (!queue_->pop(&message, wait)) {
            if (queue_->take_cancel_request()) {  // woken by a cancel
                cancel();
                ++count;
            }
            break;
        }
        wait = 0;  // only the first message is waited for
        if (Dialog* target = find(message.target)) {
            target->procedure().on_message(*target, message.message, message.wparam,
                                           message.lparam);
            ++count;
        }
    }
    return count;
}

// ---- Dialog ---------------------------------------------------------------

Dialog::Dialog(const DialogTemplate& source, Dialog* parent, ModalRun& run,
               DialogProcedure& procedure)
    : handle_(register_dialog(run.queue())),
      template_id_(source.resource_id),
      title_(source.title),
      width_(source.width),
      height_(source.height),
      font_size_(source.font_size),
      parent_(parent),
      run_(&run),
      procedure_(&procedure),
      visible_(!source.child) {
    controls_.reserve(source.controls.size());
    for (const ControlTemplate& t : source.controls) {
        ControlState c;
        c.id = t.id;
        c.kind = t.kind;
        c.flags = t.flags;
        c.group = t.group;
        c.x = t.x;
        c.y = t.y;
        c.width = t.width;
        c.height = t.height;
        c.enabled = (t.flags & kControlDisabled) == 0;
        c.visible = (t.flags & kControlHidden) == 0;
        if (c.kind != ControlKind::kComboBox && c.kind != ControlKind::kTab) c.text = t.text;
        controls_.push_back(std::move(c));
    }
}

Dialog::~Dialog() {
    pages_.clear();  // pages go first, as children of this dialog
    unregister_dialog(handle_);
}

ControlState* Dialog::find(int id) {
    if (id == kStaticId) return nullptr;
    for (ControlState& c : controls_) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

const ControlState* Dialog::control(int id) const { return const_cast<Dialog*>(this)->find(id); }

bool Dialog::enable(int id, bool enabled) {
    ControlState* c = find(id);
    if (c == nullptr) return false;
    c->enabled = enabled;
    return true;
}

bool Dialog::is_enabled(int id) const {
    const ControlState* c = control(id);
    return c != nullptr && c->enabled;
}

bool Dialog::show(int id, bool visible) {
    ControlState* c = find(id);
    if (c == nullptr) return false;
    c->visible = visible;
    return true;
}

bool Dialog::is_visible(int id) const {
    const ControlState* c = control(id);
    return c != nullptr && c->visible;
}

void Dialog::report_edit_change(const ControlState& control) {
    if (control.kind == ControlKind::kEdit)
        procedure_->on_command(*this, control.id, CommandCode::kEditChange);
}

bool Dialog::set_text(int id, std::string_view text) {
    ControlState* c = find(id);
    if (c == nullptr || is_list_control(c->kind) || is_position_control(c->kind)) return false;
    c->text.assign(text);
    report_edit_change(*c);  // the handler may run re-entrantly; controls_ never resizes
    return true;
}

std::string Dialog::text(int id) const {
    const ControlState* c = control(id);
    return c != nullptr ? c->text : std::string();
}

bool Dialog::set_int(int id, std::int64_t value, bool is_signed) {
    // Both branches widened on their own: a conditional expression would
    // turn the signed one unsigned.
    const std::int64_t shown = is_signed ? std::int64_t{static_cast<std::int32_t>(value)}
                                         : std::int64_t{static_cast<std::uint32_t>(value)};
    return set_text(id, std::to_string(shown));
}

std::optional<std::int64_t> Dialog::get_int(int id, bool is_signed) const {
    const ControlState* c = control(id);
    if (c == nullptr) return std::nullopt;
    std::string_view s = c->text;
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    bool negative = false;
    if (is_signed && !s.empty() && s.front() == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    if (s.empty() || s.front() < '0' || s.front() > '9') return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), magnitude);
    if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
    if (is_signed) {
        const std::uint64_t limit =
            negative ? std::uint64_t{1} << 31 : std::uint64_t{std::numeric_limits<std::int32_t>::max()};
        if (magnitude > limit) return std::nullopt;
        return negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

bool Dialog::set_check(int id, bool checked) {
    ControlState* c = find(id);
    if (c == nullptr || !is_checkable(c->kind)) return false;
    c->checked = checked;
    return true;
}

bool Dialog::is_checked(int id) const {
    const ControlState* c = control(id);
    return c != nullptr && c->checked;
}

bool Dialog::set_range(int id, int minimum, int maximum) {
    ControlState* c = find(id);
    if (c == nullptr || !is_position_control(c->kind)) return false;
    c->range_min = minimum;
    c->range_max = maximum;
    const int low = std::min(minimum, maximum);
    const int high = std::max(minimum, maximum);
    c->position = std::clamp(c->position, low, high);
    return true;
}

bool Dialog::set_position(int id, int position) {
    ControlState* c = find(id);
    if (c == nullptr || !is_position_control(c->kind)) return false;
    const int low = std::min(c->range_min, c->range_max);
    const int high = std::max(c->range_min, c->range_max);
    c->position = std::clamp(position, low, high);
    if (c->kind == ControlKind::kUpDown && c->buddy != 0) {
        const int buddy = c->buddy;
        const int shown = c->position;
        set_int(buddy, shown, true);
    }
    return true;
}

int Dialog::position(int id) const {
    const ControlState* c = control(id);
    return c != nullptr ? c->position : 0;
}

bool Dialog::set_tick_frequency(int id, int frequency) {
    ControlState* c = find(id);
    if (c == nullptr || c->kind != ControlKind::kTrackbar) return false;
    c->tick_frequency = frequency;
    return true;
}

bool Dialog::set_buddy(int updown_id, int edit_id) {
    ControlState* c = find(updown_id);
    const ControlState* edit = control(edit_id);
    if (c == nullptr || c->kind != ControlKind::kUpDown || edit == nullptr ||
        edit->kind != ControlKind::kEdit)
        return false;
    c->buddy = edit_id;
    return true;
}

bool Dialog::reset_items(int id) {
    ControlState* c = find(id);
    if (c == nullptr || !is_list_control(c->kind)) return false;
    c->items.clear();
    c->selection = -1;
    return true;
}

int Dialog::insert_item(int id, int index, std::string_view text) {
    ControlState* c = find(id);
    if (c == nullptr || !is_list_control(c->kind)) return -1;
    const int count = static_cast<int>(c->items.size());
    if (index < 0 || index > count) index = count;
    c->items.insert(c->items.begin() + index, std::string(text));
    if (c->selection >= index) ++c->selection;
    return index;
}

bool Dialog::delete_item(int id, int index) {
    ControlState* c = find(id);
    if (c == nullptr || !is_list_control(c->kind)) return false;
    if (index < 0 || index >= static_cast<int>(c->items.size())) return false;
    c->items.erase(c->items.begin() + index);
    if (c->selection == index) {
        c->selection = -1;
    } else if (c->selection > index) {
        --c->selection;
    }
    return true;
}

int Dialog::item_count(int id) const {
    const ControlState* c = control(id);
    return c != nullptr ? static_cast<int>(c->items.size()) : 0;
}

std::string Dialog::item_text(int id, int index) const {
    const ControlState* c = control(id);
    if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return {};
    return c->items[static_cast<std::size_t>(index)];
}

bool Dialog::set_selection(int id, int index) {
    ControlState* c = find(id);
    if (c == nullptr || !is_list_control(c->kind)) return false;
    if (index < -1 || index >= static_cast<int>(c->items.size())) return false;
    c->selection = index;
    return true;
}

int Dialog::selection(int id) const {
    const ControlState* c = control(id);
    return c != nullptr ? c->selection : -1;
}

Dialog* Dialog::create_page(const DialogTemplate& page, int host_control,
                            DialogProcedure& procedure) {
    if (!page.child || control(host_control) == nullptr) return nullptr;
    pages_.push_back(run_->make_dialog(page, this, procedure));
    Dialog* created = pages_.back().get();
    created->host_control_ = host_control;
    created->procedure_->on_init(*created);
    return created;
}

void Dialog::place(int x, int y) {
    x_ = x;
    y_ = y;
}

void Dialog::show_dialog(bool visible) { visible_ = visible; }

bool Dialog::shown() const {
    for (const Dialog* d = this; d != nullptr; d = d->parent_) {
        if (!d->visible_) return false;
    }
    return true;
}

bool Dialog::end(std::intptr_t result) {
    if (parent_ != nullptr || run_->ended()) return false;
    run_->end(result);
    return true;
}

bool Dialog::ended() const { return run_->ended(); }

// ---- Running --------------------------------------------------------------

std::intptr_t run_modal_dialog(const DialogTemplate& source, ZbxWindow owner,
                               DialogProcedure& procedure) {
    if (source.child) return kDialogFailed;
    if (owner != nullptr && !is_window(owner)) return kDialogFailed;
    ModalRun run;
    std::unique_ptr<Dialog> root = run.make_dialog(source, nullptr, procedure);
    run.set_root(root.get());
    const void* owner_tag = current_owner;
    if (owner_tag != nullptr) {
        HandleRegistry& reg = registry();
        std::lock_guard lock(reg.mutex);
        reg.runs.push_back(OpenRun{owner_tag, run.queue()});
    }
    // An installed hook is the user: tests drive dialogs headless even
    // where a display is reachable.
    if (!dialog_automation_hook_installed() && run_on_display(run, *root)) {
        if (!run.ended()) run.end(kIdCancel);  // the display went away
    } else {
        run.queue()->set_runner(std::this_thread::get_id());
        procedure.on_init(*root);
        if (!run.ended()) {
            DialogAutomation automation(*root);
            run_dialog_automation_hook(automation);
        }
        // The user has gone: close the dialog as its close box would, and
        // end it outright when the procedure ignores that, so a headless
        // run never hangs.
        if (!run.ended()) procedure.on_command(*root, kIdCancel, CommandCode::kClicked);
        if (!run.ended()) run.end(kIdCancel);
    }
    const std::intptr_t result = run.result();
    root.reset();
    if (owner_tag != nullptr) {
        HandleRegistry& reg = registry();
        std::lock_guard lock(reg.mutex);
        std::erase_if(reg.runs, [&](const OpenRun& r) { return r.queue == run.queue(); });
    }
    run.queue()->close();  // wakes cancel_modal_dialogs waiting for this run
    return result;
}

ScopedDialogOwner::ScopedDialogOwner(const void* owner) : previous_(current_owner) {
    current_owner = owner;
}

ScopedDialogOwner::~ScopedDialogOwner() { current_owner = previous_; }

int cancel_modal_dialogs(const void* owner) {
    std::vector<std::shared_ptr<PostQueue>> queues;
    {
        HandleRegistry& reg = registry();
        std::lock_guard lock(reg.mutex);
        for (const OpenRun& r : reg.runs)
            if (r.owner == owner) queues.push_back(r.queue);
    }
    for (const auto& queue : queues) queue->request_cancel();
    for (const auto& queue : queues) {
        if (queue->runner() == std::this_thread::get_id()) continue;
        // The dialog may be run by the loop this thread runs (an
        // application's main loop that called in): keep that loop going.
        while (!queue->wait_closed_for(10)) let_displayed_dialogs_run();
    }
    return static_cast<int>(queues.size());
}

bool post_dialog_message(DialogHandle dialog, std::uint32_t message, std::uintptr_t wparam,
                         std::intptr_t lparam) {
    std::shared_ptr<PostQueue> queue;
    {
        HandleRegistry& reg = registry();
        std::lock_guard lock(reg.mutex);
        const auto it = reg.queues.find(dialog);
        if (it == reg.queues.end()) return false;
        queue = it->second.lock();
    }
    return queue != nullptr && queue->push(PostedMessage{dialog, message, wparam, lparam});
}

}  // namespace zbx::platform
