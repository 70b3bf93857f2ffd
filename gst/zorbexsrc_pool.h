// The buffer pool of zorbexsrc: its buffers are the frame queue's buffers.
//
// Each buffer's memory is lent to the queue (ZbxStream_AddBuffer) once.
// Acquiring a buffer waits for the queue's next filled frame and gives the
// buffer that holds it; when downstream lets the buffer go, the pool gives
// the frame back to the queue (ZbxStream_Release), which fills it again.
// No frame is ever copied between the library and GStreamer.
#pragma once

#include <gst/gst.h>

#include "zorbex/stream.h"

namespace zbx::gst {

// A pool over `stream` (opened by the element, closed by queue_pool_close_stream) with
// buffers of `size` bytes.  Configure it with gst_buffer_pool_config_set_params:
// `min` buffers are lent when it starts, and more, up to `max` (0: a limit of
// the pool's own), while downstream keeps nearly all of them.
GstBufferPool* queue_pool_new(ZbxStream* stream, gsize size);

// The frame in the buffer the last acquire gave.  Valid until that buffer
// goes back to the pool.  The acquiring thread.
const ZbxFrame* queue_pool_last_frame(GstBufferPool* pool);

// The library's code that made the last acquire fail with GST_FLOW_ERROR.
int queue_pool_error(GstBufferPool* pool);

// Closes the stream (once; stops the camera); the memory is freed once
// every buffer is back.  Not while a thread acquires.
void queue_pool_close_stream(GstBufferPool* pool);

// Buffers lent to the queue so far.
guint queue_pool_buffers(GstBufferPool* pool);

}  // namespace zbx::gst
