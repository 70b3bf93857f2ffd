// The frame queue's C interface (zorbex/stream.h): handles, their table,
// and the session calls behind them.  No exception crosses it.
#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

#include "api/guard.h"
#include "api/registry.h"
#include "device/camera_table.h"
#include "device/device_directory.h"
#include "device/zorbex_530_sdk.h"
#include "session/acquisition.h"
#include "session/frame_queue.h"
#include "session/recording.h"
#include "session/zorbex.h"
#include "zorbex/stream.h"

using zbx::session::CZorbex;
using zbx::session::FrameQueue;

struct ZbxStream {
    std::shared_ptr<FrameQueue> queue;
    ZbxHandle cam = 0;
    // Guards `started` and the start/stop/close sequence of this handle.
    std::mutex control;
    bool started = false;
    bool trigger = false;  // Start runs trigger mode
};

namespace {

using StreamRef = std::shared_ptr<ZbxStream>;

// Every handle from Open until Close (and, after Close, until its last
// held frame is released).
class StreamTable {
public:
    void add(const StreamRef& stream) {
        std::lock_guard lock(lock_);
        streams_[stream.get()] = stream;
    }
    // The handle while it is open; `closed_too` also finds a closed one
    // that still has frames out.
    StreamRef find(ZbxStream* handle, bool closed_too = false) {
        std::lock_guard lock(lock_);
        const auto it = streams_.find(handle);
        if (it == streams_.end()) return nullptr;
        if (!closed_too && it->second->queue->closed()) return nullptr;
        return it->second;
    }
    // Forgets a closed handle once no frame of it is held.
    void forget_if_done(ZbxStream* handle) {
        std::lock_guard lock(lock_);
        const auto it = streams_.find(handle);
        if (it != streams_.end() && it->second->queue->closed() && it->second->queue->held() == 0)
            streams_.erase(it);
    }

private:
    std::mutex lock_;
    std::unordered_map<ZbxStream*, StreamRef> streams_;
};

StreamTable& streams() {
    static auto* table = new StreamTable;  // outlives every static destructor that may close a stream
    return *table;
}

// The export guard with this family's codes.
template <typename Body>
int guarded(Body&& body) noexcept {
    return zbx::api::guarded(int{ZBX_ERR_MEMORY}, int{ZBX_ERR_NOT_READY}, std::forward<Body>(body));
}

// Runs `body(stream, session)` for an open queue whose session still exists.
template <typename Body>
int with_stream_session(ZbxStream* handle, Body&& body) {
    return guarded([&] {
        const StreamRef s = streams().find(handle);
        if (s == nullptr) return ZBX_ERR_INVALID_HANDLE;
        const zbx::api::SessionRef session = zbx::api::registry().find_session(s->cam);
        if (session == nullptr) return ZBX_ERR_INVALID_HANDLE;
        return body(*s, *session);
    });
}

// Why a session call failed: the first code it recorded (a failed start
// records its cause, then "not ready"), found by comparing the history with
// the one from before the call.
int session_failure(CZorbex& s, const zbx::session::ErrorHistory::Codes& before) {
    const zbx::session::ErrorHistory::Codes after = s.error_history().snapshot();
    constexpr std::size_t kDepth = zbx::session::ErrorHistory::kDepth;
    for (std::size_t added = 1; added <= 3 && added < kDepth; ++added) {
        if (std::equal(after.begin() + static_cast<std::ptrdiff_t>(added), after.end(), before.begin()))
            return after[added - 1] != 0 ? after[added - 1] : ZBX_ERR_NOT_READY;
    }
    return after[0] != 0 ? after[0] : ZBX_ERR_NOT_READY;
}

}  // namespace

extern "C" int ZbxStream_Open(ZbxHandle cam, const ZbxStreamConfig* config, ZbxStream** stream) {
    return guarded([&] {
        if (config == nullptr || stream == nullptr) return ZBX_ERR_PARAMETER;
        *stream = nullptr;
        if (config->struct_size != sizeof(ZbxStreamConfig) || config->buffer_count > zbx::session::kMaxQueueBuffers ||
            config->delivery > ZBX_DELIVER_LATEST || config->output > ZBX_OUTPUT_RAW || config->trigger > 1)
            return ZBX_ERR_PARAMETER;
        const zbx::api::SessionRef session = zbx::api::registry().find_session(cam);
        if (session == nullptr) return ZBX_ERR_INVALID_HANDLE;
        if (!session->has_camera()) return ZBX_ERR_NOT_READY;
        auto handle = std::make_shared<ZbxStream>();
        handle->queue = std::make_shared<FrameQueue>(config->delivery, config->output);
        handle->cam = cam;
        if (const int code = handle->queue->add_own(config->buffer_count); code != ZBX_OK) return code;
        handle->trigger = config->trigger != 0;
        if (const int code = session->acquisition_control().attach_queue(handle->queue); code != ZBX_OK) return code;
        streams().add(handle);
        *stream = handle.get();
        return ZBX_OK;
    });
}

extern "C" int ZbxStream_AddBuffer(ZbxStream* stream, void* memory, size_t size, void* user) {
    return with_stream_session(stream, [&](ZbxStream& s, CZorbex& session) {
        const ZbxFrameFormat format = session.acquisition_control().frame_format(s.queue->output());
        return s.queue->lend(memory, size, user, format.size);
    });
}

extern "C" int ZbxStream_GetFormat(ZbxStream* stream, ZbxFrameFormat* format) {
    if (format == nullptr) return ZBX_ERR_PARAMETER;
    return with_stream_session(stream, [&](ZbxStream& s, CZorbex& session) {
        *format = session.acquisition_control().frame_format(s.queue->output());
        return ZBX_OK;
    });
}

extern "C" int ZbxStream_Start(ZbxStream* stream) {
    return with_stream_session(stream, [&](ZbxStream& s, CZorbex& session) {
        std::lock_guard control(s.control);
        zbx::session::Acquisition& acquisition = session.acquisition_control();
        if (const int code = s.queue->check(acquisition.frame_format(s.queue->output())); code != ZBX_OK)
            return code;
        s.queue->resume();
        const auto before = session.error_history().snapshot();
        const int started = s.trigger ? acquisition.trigger(nullptr, nullptr, 0, 0) : acquisition.start();
        if (started == 0) return session_failure(session, before);
        s.started = true;
        return ZBX_OK;
    });
}

extern "C" int ZbxStream_Stop(ZbxStream* stream) {
    return with_stream_session(stream, [&](ZbxStream& s, CZorbex& session) {
        std::lock_guard control(s.control);
        s.started = false;
        const auto before = session.error_history().snapshot();
        return session.acquisition_control().stop() != 0 ? ZBX_OK : session_failure(session, before);
    });
}

extern "C" int ZbxStream_Wait(ZbxStream* stream, int32_t timeout_ms, const ZbxFrame** frame) {
    return guarded([&] {
        if (frame != nullptr) *frame = nullptr;
        const StreamRef s = streams().find(stream);
        if (s == nullptr) return ZBX_ERR_INVALID_HANDLE;
        return s->queue->wait(timeout_ms, frame);
    });
}

extern "C" int ZbxStream_Release(ZbxStream* stream, const ZbxFrame* frame) {
    return guarded([&] {
        const StreamRef s = streams().find(stream, true);
        if (s == nullptr) return ZBX_ERR_INVALID_HANDLE;
        const int code = s->queue->release(frame);
        streams().forget_if_done(stream);
        return code;
    });
}

extern "C" int ZbxStream_Cancel(ZbxStream* stream) {
    return guarded([&] {
        const StreamRef s = streams().find(stream);
        if (s == nullptr) return ZBX_ERR_INVALID_HANDLE;
        s->queue->cancel();
        return ZBX_OK;
    });
}

extern "C" int ZbxStream_Resume(ZbxStream* stream) {
    return guarded([&] {
        const StreamRef s = streams().find(stream);
        if (s == nullptr) return ZBX_ERR_INVALID_HANDLE;
        s->queue->resume();
        return ZBX_OK;
    });
}

extern "C" int ZbxStream_GetStats(ZbxStream* stream, ZbxStreamStats* stats) {
    return guarded([&] {
        if (stats == nullptr) return ZBX_ERR_PARAMETER;
        const StreamRef s = streams().find(stream, true);
        if (s == nullptr) return ZBX_ERR_INVALID_HANDLE;
        *stats = s->queue->stats();
        return ZBX_OK;
    });
}

extern "C" int ZbxStream_Close(ZbxStream* stream) {
    return guarded([&] {
        const StreamRef s = streams().find(stream);
        if (s == nullptr) return ZBX_ERR_INVALID_HANDLE;
        {
            std::lock_guard control(s->control);
            if (const zbx::api::SessionRef session = zbx::api::registry().find_session(s->cam)) {
                zbx::session::Acquisition& acquisition = session->acquisition_control();
                if (s->started) (void)acquisition.stop();
                acquisition.detach_queue(s->queue.get());
            }
            s->started = false;
            s->queue->close();
        }
        streams().forget_if_done(stream);
        return ZBX_OK;
    });
}

extern "C" int ZbxCamera_GetFramePeriod(ZbxHandle cam, uint64_t* period_ns) {
    return guarded([&] {
        if (period_ns == nullptr) return ZBX_ERR_PARAMETER;
        *period_ns = 0;
        const zbx::api::SessionRef session = zbx::api::registry().find_session(cam);
        if (session == nullptr) return ZBX_ERR_INVALID_HANDLE;
        zbx::device::CZorbex530SRXNQTSdk* sensor = session->sensor_model();
        if (sensor == nullptr) return ZBX_ERR_NOT_READY;
        const zbx::session::AcquisitionState& a = session->acquisition();
        if (a.mode.load() == zbx::session::kModeTrigger) return ZBX_OK;
        // While the camera runs its registers are the truth; otherwise the
        // settings its next start will program.
        const bool running = a.mode.load() == zbx::session::kModeStreaming;
        *period_ns = running ? sensor->frame_period_ns()
                             : sensor->frame_period_ns(session->geometry().height.load(),
                                                       session->analog().exposure_lines.load(),
                                                       static_cast<std::uint8_t>(a.clock.load() & 0xFF));
        return *period_ns != 0 ? ZBX_OK : ZBX_ERR_DEVICE_IO;
    });
}

extern "C" int ZbxCamera_GetRecording(ZbxHandle cam, ZbxRecordingStatus* status) {
    return guarded([&] {
        if (status == nullptr) return ZBX_ERR_PARAMETER;
        *status = ZbxRecordingStatus{};
        const zbx::api::SessionRef session = zbx::api::registry().find_session(cam);
        if (session == nullptr) return ZBX_ERR_INVALID_HANDLE;
        zbx::session::Recording& recorder = session->recorder();
        status->running = recorder.recording() ? 1 : 0;
        status->frames = recorder.frames_written();
        status->rate_centi = recorder.measured_rate();
        status->end_code = status->running != 0 ? ZBX_OK : recorder.end_code();
        return ZBX_OK;
    });
}

extern "C" int ZbxCamera_Survey(uint32_t* present, uint32_t* in_use) {
    return guarded([&] {
        if (present != nullptr) *present = 0;
        if (in_use != nullptr) *in_use = 0;
        if (present != nullptr) {
            // Opening a device name and closing it again is all a probe does.
            zbx::device::DeviceDirectory directory;
            directory.set_stem(zbx::device::kDeviceStem);
            directory.probe();
            for (int n = 0; n < zbx::device::DeviceDirectory::count(); ++n)
                if (directory.is_present(n)) *present |= 1u << n;
        }
        if (in_use != nullptr) {
            // No table yet: no session of this user ever streamed.
            zbx::device::SharedCameraTable table;
            if (table.open(zbx::device::kSharedBlockName))
                for (int n = 0; n < zbx::device::kCameraTableEntries; ++n)
                    if (table.in_use(n)) *in_use |= 1u << n;
        }
        return ZBX_OK;
    });
}
