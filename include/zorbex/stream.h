/*
 * Frames for programs: a queue of frame buffers per camera session.
 *
 * The library fills buffers, the program takes each filled one with
 * ZbxStream_Wait, works on it for as long as it likes and gives it back with
 * ZbxStream_Release.  Frames carry their frame number, capture time, the
 * exposure and gain they were taken with, and how many frames were lost
 * before them.  The buffers belong to the queue (ZbxStream_Open allocates
 * them) or to the program (ZbxStream_AddBuffer lends them: numpy arrays,
 * GStreamer pool memory ...).
 *
 *     ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT;   // 4 buffers, every frame in order
 *     ZbxStream* stream = NULL;
 *     if (ZbxStream_Open(cam, &config, &stream) != ZBX_OK) ...
 *     ZbxStream_Start(stream);
 *     for (;;) {
 *         const ZbxFrame* frame = NULL;
 *         int r = ZbxStream_Wait(stream, 1000, &frame);
 *         if (r != ZBX_OK) break;                 // ended, cancelled, timed out or failed
 *         use(frame->data, frame->width, frame->height, frame->stride);
 *         ZbxStream_Release(stream, frame);
 *     }
 *     ZbxStream_Close(stream);                    // stops the camera
 *
 * The queue is a consumer beside the session's own outputs (preview window,
 * caller buffer and frame message, recorder), which keep working.  While
 * none of them is in use, each frame is developed straight into its queue
 * buffer and the session's own picture (Zorbex_SaveImage, Zorbex_GetImage)
 * is not updated; with one of them in use the frame is developed once for
 * the session and copied into the queue buffer.
 *
 * Every call may be made from any thread.  Results are ZBX_OK or a code
 * named by ZbxError_Name (zorbex/errors.h).  A queue handle is valid from
 * Open to Close; a frame pointer from Wait to Release.
 */
#ifndef ZORBEX_STREAM_H
#define ZORBEX_STREAM_H

#include <stddef.h>
#include <stdint.h>

#include "zorbex/zorbex.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ZBX_STREAM_API __attribute__((visibility("default")))
#else
#define ZBX_STREAM_API
#endif

/* Results beside the ZBX_ERR_* codes of zorbex.h. */
#define ZBX_OK 0
#define ZBX_ERR_TIMEOUT 20        /* no frame came within the wait's time-out */
#define ZBX_ERR_CANCELLED 21      /* ZbxStream_Cancel woke the wait: not a failure */
#define ZBX_ERR_ENDED 22          /* the camera does not stream into the queue and no frame waits */
#define ZBX_ERR_BUSY 23           /* the session already has a queue, or the buffers are in use */
#define ZBX_ERR_BUFFER 24         /* a program buffer is null, misaligned or too small */
#define ZBX_ERR_NOT_HELD 25       /* the frame is not one the program holds from this queue */
#define ZBX_ERR_INVALID_HANDLE 26 /* no such session or queue (released, closed, or never opened) */
/* Also: ZBX_ERR_PARAMETER (a bad argument), ZBX_ERR_MEMORY (buffers could
 * not be had), ZBX_ERR_NOT_READY (no camera, or the session is busy in
 * another mode), ZBX_ERR_FRAME_TIMEOUT (the camera stopped delivering:
 * unplugged, no frames), ZBX_ERR_DEVICE_UNAVAILABLE (in use elsewhere). */

/* Which frames a queue keeps. */
#define ZBX_DELIVER_ALL 0    /* every frame in order: a frame waiting or held is never overwritten;
                                with no free buffer the newest frame is dropped and counted */
#define ZBX_DELIVER_LATEST 1 /* only the newest: a frame still waiting is replaced by a newer one */

/* What a queue's frames hold. */
#define ZBX_OUTPUT_DEVELOPED 0 /* the picture of the session's colour mode */
#define ZBX_OUTPUT_RAW 1       /* the undeveloped colour-filter mosaic */

/* Pixel formats.  0 to 5 are the colour modes (Zorbex_SetColorMode); 16-bit
 * samples hold 12-bit values (0 to 4095); rows are top row first. */
#define ZBX_FORMAT_MONO8 0  /* 1 byte per pixel */
#define ZBX_FORMAT_MONO16 1 /* 1 little-endian 16-bit word per pixel */
#define ZBX_FORMAT_BGR24 2  /* blue, green, red bytes */
#define ZBX_FORMAT_BGRA32 3 /* blue, green, red, alpha bytes */
#define ZBX_FORMAT_BGR48 4  /* blue, green, red 16-bit words */
#define ZBX_FORMAT_BGRA64 5 /* blue, green, red, alpha 16-bit words */
#define ZBX_FORMAT_RAW8 8   /* mosaic, 1 byte per sample (8-bit colour modes) */
#define ZBX_FORMAT_RAW16 9  /* mosaic, 16-bit words holding 12 bits (16-bit colour modes) */

/* Colour-filter order of a raw frame: the colours of its first two rows'
 * first two samples. */
#define ZBX_BAYER_NONE 0
#define ZBX_BAYER_RGGB 1
#define ZBX_BAYER_GRBG 2
#define ZBX_BAYER_GBRG 3
#define ZBX_BAYER_BGGR 4

/* ZbxFrame.flags */
#define ZBX_FRAME_TRIGGERED 1u /* taken on a trigger (trigger mode) */

typedef struct ZbxStream ZbxStream;

typedef struct ZbxStreamConfig {
    uint32_t struct_size;  /* sizeof(ZbxStreamConfig) */
    uint32_t buffer_count; /* buffers the queue allocates, 0 to 1024; 0 when the program lends all */
    uint32_t delivery;     /* ZBX_DELIVER_* */
    uint32_t output;       /* ZBX_OUTPUT_* */
    uint32_t trigger;      /* ZbxStream_Start: 0 streams continuously, 1 runs trigger mode */
} ZbxStreamConfig;

#define ZBX_STREAM_CONFIG_INIT {sizeof(ZbxStreamConfig), 4, ZBX_DELIVER_ALL, ZBX_OUTPUT_DEVELOPED, 0}

/* The layout of the queue's frames for the session's current settings. */
typedef struct ZbxFrameFormat {
    int32_t width;
    int32_t height;
    int32_t stride;       /* bytes from one row to the next: width x bytes per pixel, rounded up to 4 */
    uint32_t format;      /* ZBX_FORMAT_* */
    uint32_t bayer;       /* ZBX_BAYER_* of raw frames, else ZBX_BAYER_NONE */
    uint32_t sample_bits; /* significant bits of a sample: 8 or 12 */
    size_t size;          /* stride x height: the least a buffer must hold */
} ZbxFrameFormat;

typedef struct ZbxFrame {
    void* data;                /* first byte of the top row */
    size_t size;               /* stride x height */
    int32_t width;
    int32_t height;
    int32_t stride;
    uint32_t format;           /* ZBX_FORMAT_* */
    uint32_t bayer;            /* ZBX_BAYER_* (raw frames) */
    uint32_t sample_bits;      /* 8 or 12 */
    uint64_t sequence;         /* frame number since the run started, from 1; gaps are lost frames */
    uint64_t timestamp_ns;     /* CLOCK_MONOTONIC when the frame's transfer completed */
    uint64_t device_timestamp; /* the camera's own frame clock; 0: this camera's link has none */
    int32_t exposure_lines;    /* exposure the frame was taken with, in sensor lines */
    int32_t exposure_us;       /* the same in microseconds */
    int32_t gain;              /* sensor gain code the frame was taken with */
    uint32_t flags;            /* ZBX_FRAME_* */
    int32_t status;            /* ZBX_OK: a complete frame */
    uint32_t dropped;          /* frames lost between the previous frame taken from this queue and this one */
    void* user;                /* the program's pointer given with ZbxStream_AddBuffer; NULL for the queue's own */
    uint32_t buffer_index;     /* which of the queue's buffers holds it */
    uint32_t reserved;
} ZbxFrame;

typedef struct ZbxStreamStats {
    uint64_t delivered;  /* frames handed out by ZbxStream_Wait */
    uint64_t dropped;    /* frames lost: skipped by the transfer, no free buffer, or replaced (latest) */
    uint32_t queued;     /* frames waiting to be taken */
    uint32_t held;       /* frames the program holds */
    uint32_t buffers;    /* buffers in the queue */
    int32_t last_error;  /* the code that ended the last run, ZBX_OK when stopped on request */
    uint64_t no_buffer;  /* of the dropped: frames that found no free buffer (the program held them all) */
} ZbxStreamStats;

/* Opens a queue on session `cam` (one per session): ZBX_ERR_BUSY when it has
 * one; ZBX_ERR_PARAMETER for a null `config`/`stream`, an unknown struct
 * size, delivery or output, or more than 1024 buffers; ZBX_ERR_MEMORY when the
 * buffers cannot be had.  The queue's own buffers are 64-byte aligned and
 * sized for the format in force at each start. */
ZBX_STREAM_API int ZbxStream_Open(ZbxHandle cam, const ZbxStreamConfig* config, ZbxStream** stream);

/* Lends the queue `size` bytes at `memory` (8-byte aligned) until Close;
 * `user` comes back in each frame it holds.  Also while the camera streams:
 * a program that keeps frames lends more as it goes.  At most 1024 buffers
 * in all (ZBX_ERR_PARAMETER).  ZBX_ERR_BUFFER when `memory` is null or
 * misaligned, or smaller than the current format's size. */
ZBX_STREAM_API int ZbxStream_AddBuffer(ZbxStream* stream, void* memory, size_t size, void* user);

/* The frames' layout for the session's current colour mode, capture window
 * and output. */
ZBX_STREAM_API int ZbxStream_GetFormat(ZbxStream* stream, ZbxFrameFormat* format);

/* Starts the camera: continuous streaming (as Zorbex_StartPreview), or
 * trigger mode (as Zorbex_Trigger without callback window or buffer) when
 * the config asked for it.  The queue also takes the frames of a run
 * started by those exports.  ZBX_ERR_BUFFER when a lent buffer is too small
 * for the format; the session's error otherwise (ZbxError_Name). */
ZBX_STREAM_API int ZbxStream_Start(ZbxStream* stream);

/* Stops the camera (as Zorbex_StopPreview).  Frames already queued can still
 * be taken; then Wait returns ZBX_ERR_ENDED. */
ZBX_STREAM_API int ZbxStream_Stop(ZbxStream* stream);

/* Takes the oldest waiting frame (ZBX_DELIVER_ALL) or the newest
 * (ZBX_DELIVER_LATEST) into `*frame`, waiting up to `timeout_ms`
 * (-1: no limit, 0: do not wait).  ZBX_ERR_TIMEOUT, ZBX_ERR_CANCELLED,
 * ZBX_ERR_ENDED (nothing waits and the camera does not stream into the
 * queue), or the code that ended the run (ZBX_ERR_FRAME_TIMEOUT: the camera
 * stopped delivering; ZBX_ERR_INVALID_HANDLE: the session was released).
 * The frame stays the program's, unchanged, until it is released. */
ZBX_STREAM_API int ZbxStream_Wait(ZbxStream* stream, int32_t timeout_ms, const ZbxFrame** frame);

/* Gives a frame's buffer back.  ZBX_ERR_NOT_HELD for a frame not held from
 * this queue (released already, or another queue's).  Works after Close
 * for frames still held then. */
ZBX_STREAM_API int ZbxStream_Release(ZbxStream* stream, const ZbxFrame* frame);

/* Wakes every thread waiting in ZbxStream_Wait on this queue at once
 * (they return ZBX_ERR_CANCELLED), and makes waits that begin later return
 * it too until ZbxStream_Start or ZbxStream_Resume.  Frames are not lost:
 * delivery into the queue goes on. */
ZBX_STREAM_API int ZbxStream_Cancel(ZbxStream* stream);
/* Lets waits take frames again after a cancel. */
ZBX_STREAM_API int ZbxStream_Resume(ZbxStream* stream);

ZBX_STREAM_API int ZbxStream_GetStats(ZbxStream* stream, ZbxStreamStats* stats);

/* Stops the camera when the queue started it, cancels every wait, detaches
 * the queue from its session and ends the handle.  Frames still held stay
 * valid until released (the handle lives on for ZbxStream_Release only);
 * lent memory is the program's again once Close returns and the frames in
 * it are released. */
ZBX_STREAM_API int ZbxStream_Close(ZbxStream* stream);

/* Camera figures programs otherwise read out of registers or files. */

/* The time from one frame to the next in continuous streaming at the
 * current settings (capture window, exposure), in nanoseconds.  0 in
 * trigger mode, where frames come with the triggers. */
ZBX_STREAM_API int ZbxCamera_GetFramePeriod(ZbxHandle cam, uint64_t* period_ns);

/* Which of the 32 slots hold a camera (bit n of *present for slot n) and
 * which of those a session of any process streams from (*in_use), without
 * opening a session or touching any camera's settings.  Either pointer may
 * be NULL. */
ZBX_STREAM_API int ZbxCamera_Survey(uint32_t* present, uint32_t* in_use);

/* The running or last recording (Zorbex_Record). */
typedef struct ZbxRecordingStatus {
    uint32_t frames;       /* frames written so far, or by the last recording */
    int32_t running;       /* 1 while the recording goes on */
    int32_t end_code;      /* how the last one ended: ZBX_OK (its duration passed, or stopped),
                              ZBX_ERR_FILE (a write was refused, e.g. a full disk, or the file
                              reached its size limit), ZBX_ERR_FRAME_TIMEOUT (the stream ended) */
    uint32_t rate_centi;   /* its measured rate in hundredths of a frame per second once finished */
} ZbxRecordingStatus;
ZBX_STREAM_API int ZbxCamera_GetRecording(ZbxHandle cam, ZbxRecordingStatus* status);

#ifdef __cplusplus
}
#endif

#endif /* ZORBEX_STREAM_H */
