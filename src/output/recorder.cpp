#include "output/recorder.h"

#include <limits>
#include <span>

#include "pipeline/conversions.h"
#include "platform/clock.h"

namespace zbx::output {

std::uint32_t RecordSource::now_ms() { return platform::multimedia_time(); }
void RecordSource::pause_ms(std::uint32_t ms) { platform::sleep_ms(ms); }

namespace {

// Grey samples through a colour table into blue, green, red, same rows.
int gray8_to_24(std::uint8_t* dst, const std::uint8_t* src, const pipeline::Rect* r,
                std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bpp,
                std::uint16_t src_bpp, std::int32_t dst_stride, std::int32_t src_stride,
                void* params) {
    const auto* table = static_cast<const pipeline::RgbQuad*>(params);
    const std::int32_t w = r->width();
    const std::int32_t h = r->height();
    for (std::int32_t i = 0; i < h; ++i) {
        const std::int32_t row = r->top + i;
        const std::uint8_t* s = src + static_cast<std::ptrdiff_t>(row) * src_stride +
                                static_cast<std::ptrdiff_t>(r->left) * src_bpp;
        std::uint8_t* d = dst + static_cast<std::ptrdiff_t>(dst_y + i) * dst_stride +
                          static_cast<std::ptrdiff_t>(dst_x) * dst_bpp;
        for (std::int32_t x = 0; x < w; ++x, s += src_bpp, d += dst_bpp) {
            if (table != nullptr) {
                const pipeline::RgbQuad& q = table[*s];
                d[0] = q.rgbBlue;
                d[1] = q.rgbGreen;
                d[2] = q.rgbRed;
            } else {
                d[0] = d[1] = d[2] = *s;
            }
        }
    }
    return 1;
}

// Grey to colour: the platform's block copy when both buffers have device
// contexts (it honours the source's colour table), else the same mapping
// by hand, so a heap-backed buffer never records a stale picture.
void expand_grey(pipeline::CImageBuffer& dst, pipeline::CImageBuffer& src) {
    if (src.device_context() != nullptr && dst.device_context() != nullptr &&
        dst.DrawFrom(src, nullptr, 0, 0) != 0)
        return;
    (void)pipeline::TransferRect(dst, &Gray8To24, src, nullptr, 0, 0,
                                 const_cast<pipeline::RgbQuad*>(src.color_table()), nullptr);
}

// The writer has taken the frames so far: finish the file with the rate
// they were really taken at, and end the recording.
void finish_recording(CAviWriter& writer, RecordFlags flags, std::uint32_t elapsed_ms) {
    writer.set_rate(MeasuredRate(writer.frame_count(), elapsed_ms));
    if (flags.rate != nullptr) flags.rate->store(MeasuredRate(writer.frame_count(), elapsed_ms));
    (void)writer.Finish();
    writer.Close();  // rate and frame count back to 0
    flags.recording.store(0);
    flags.start_ms.store(0);
    flags.end_ms.store(0);
}

}  // namespace

int Gray8To24(std::uint8_t* dst, const std::uint8_t* src, const pipeline::Rect* src_rect,
              std::int32_t dst_x, std::int32_t dst_y, std::uint16_t dst_bytes_pp,
              std::uint16_t src_bytes_pp, std::int32_t dst_stride, std::int32_t src_stride,
              void* params, void*) {
    return gray8_to_24(dst, src, src_rect, dst_x, dst_y, dst_bytes_pp, src_bytes_pp,
                              dst_stride, src_stride, params);
}

bool RecordConverter::Prepare(std::int32_t width, std::int32_t height) {
    if (first_.Create(width, height, 24) && second_.Create(width, height, 24) &&
        grey_.Create(width, height, 8))
        return true;
    Release();
    return false;
}

void RecordConverter::Release() {
    first_.Release();
    second_.Release();
    grey_.Release();
}

const pipeline::CImageBuffer* RecordConverter::Convert(pipeline::CImageBuffer& output) {
    // A buffer of another size (the format changed under the recording)
    // would be read out of bounds: such frames are skipped.
    if (output.empty() || first_.empty() || output.width() != first_.width() ||
        output.height() != first_.height())
        return nullptr;
    using pipeline::TransferRect;
    switch (output.bits_per_pixel()) {
    case 8:
        expand_grey(second_, output);
        TransferRect(first_, &pipeline::Color24CopyFlipped, second_, nullptr, 0, 0, nullptr, nullptr);
        return &first_;
    case 16:
        TransferRect(grey_, &pipeline::Gray16To8By4Flipped, output, nullptr, 0, 0, nullptr, nullptr);
        expand_grey(first_, grey_);
        return &first_;
    case 48:
    case 64:
        TransferRect(second_, &pipeline::Color48To24By4Flipped, output, nullptr, 0, 0, nullptr,
                     nullptr);
        return &second_;
    case 24:
    case 32:
        TransferRect(first_, &pipeline::Color24CopyFlipped, output, nullptr, 0, 0, nullptr, nullptr);
        return &first_;
    default:
        return nullptr;
    }
}

std::uint32_t MeasuredRate(std::uint32_t frames, std::uint32_t elapsed_ms) {
    if (elapsed_ms == 0) return kAviOpenRate * 100;
    // 64 bits: frames x 100000 passes 32 bits after 42949 frames.
    const std::uint64_t rate = std::uint64_t{frames} * 100000 / elapsed_ms;
    if (rate == 0) return 1;
    return rate > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                          : static_cast<std::uint32_t>(rate);
}

int BeginRecording(CAviWriter& writer, RecordSource& source, RecordFlags flags,
                   const char* name, std::uint32_t duration_ms) {
    {
        std::lock_guard lock(source.frame_lock());
        const pipeline::CImageBuffer* output = source.output_buffer();
        if (output == nullptr || output->empty()) return 0;
        writer.set_size(output->width(), output->height());
    }
    if (writer.Open(name) == 0) return 0;
    // Set before the thread exists: its loop ends as soon as it sees 0.
    if (flags.written != nullptr) flags.written->store(0);
    if (flags.rate != nullptr) flags.rate->store(0);
    flags.recording.store(1);
    flags.start_ms.store(0);
    flags.end_ms.store(duration_ms);
    flags.new_frame.store(0);
    return 1;
}

RecordEnd RunRecordThread(CAviWriter& writer, RecordFlags flags, RecordSource& source) {
    RecordConverter converter;
    bool prepared = false;
    {
        std::lock_guard lock(source.frame_lock());
        const pipeline::CImageBuffer* output = source.output_buffer();
        if (output != nullptr && !output->empty())
            prepared = converter.Prepare(output->width(), output->height());
    }
    if (!prepared) {
        finish_recording(writer, flags, 0);
        return RecordEnd::kNoBuffers;
    }

    // A separate "started" mark: a tick of 0 is a valid time after a wrap.
    bool started = false;
    std::uint32_t start = 0;
    std::uint32_t duration = 0;
    std::uint32_t last_written = 0;
    std::uint32_t last_rate = 0;
    RecordEnd end = RecordEnd::kStopped;
    while (flags.recording.load() != 0) {
        source.pause_ms(kRecordPollMs);
        if (flags.recording.load() == 0) break;
        // An application that never calls Stop (or exits) still gets a
        // finished file when the stream dies under the recording.
        if (source.stream_ended()) {
            end = RecordEnd::kStreamEnded;
            break;
        }
        if (flags.new_frame.exchange(0, std::memory_order_acq_rel) == 0) continue;

        const std::uint32_t t = source.now_ms();
        if (!started) {
            started = true;
            start = t;
            last_rate = t;
            duration = flags.end_ms.load();
            flags.start_ms.store(t);
            flags.end_ms.store(duration + t);
        }

        bool converted = false;
        AviStatus status = AviStatus::kOk;
        {
            std::lock_guard lock(source.frame_lock());
            pipeline::CImageBuffer* output = source.output_buffer();
            const pipeline::CImageBuffer* picture =
                output != nullptr ? converter.Convert(*output) : nullptr;
            if (picture != nullptr) {
                converted = true;
                status = writer.AddFrame(std::span(picture->pixels(), picture->store_size()));
            }
        }
        if (status != AviStatus::kOk) {
            end = status == AviStatus::kFull ? RecordEnd::kFileFull : RecordEnd::kWriteFailed;
            break;
        }
        if (converted) {
            last_written = t;
            if (flags.written != nullptr) flags.written->store(writer.frame_count());
            // The rate so far goes into the file with the next frame, so a
            // recording that never finishes still plays at about its speed.
            if (platform::ticks_between(last_rate, t) >= kRecordRateUpdateMs) {
                last_rate = t;
                writer.set_rate(MeasuredRate(writer.frame_count(), platform::ticks_between(start, t)));
            }
        }
        // Elapsed times by unsigned difference stay right across a wrap.
        if (platform::ticks_between(start, t) > duration) {
            end = RecordEnd::kDuration;
            break;
        }
    }
    finish_recording(writer, flags, started ? platform::ticks_between(start, last_written) : 0);
    return end;
}

Recorder::StartResult Recorder::Start(const char* name, std::uint32_t duration_ms) {
    std::lock_guard lock(control_);
    // A second recording never shares the writer with a running thread.
    recording_.store(0);
    thread_.join();
    if (BeginRecording(writer_, source_, flags(), name, duration_ms) == 0)
        return StartResult::kOpenFailed;
    const bool started = thread_.start([this] {
        const RecordEnd end = RunRecordThread(writer_, flags(), source_);
        last_end_.store(end);
        source_.recording_ended(end);
    }, "zbx-record");
    if (!started) {
        finish_recording(writer_, flags(), 0);
        return StartResult::kThreadFailed;
    }
    return StartResult::kStarted;
}

void Recorder::Stop() {
    std::lock_guard lock(control_);
    recording_.store(0);
    thread_.join();
}

}  // namespace zbx::output
