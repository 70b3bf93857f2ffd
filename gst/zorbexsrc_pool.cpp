#include "zorbexsrc_pool.h"

#include <algorithm>

#include "gstzorbexsrc_private.h"

#define GST_CAT_DEFAULT gst_zorbex_src_debug

namespace {

// Buffers a pool lends at most when its configuration sets no maximum:
// enough for a queue element and an encoder downstream to hold a third of
// a second of frames without the camera losing one.
constexpr guint kDefaultMaxBuffers = 16;

struct Slot {
    GstBuffer* buffer;
    GstMemory* memory;  // our own reference: the queue writes it until the stream is closed
    const ZbxFrame* frame;  // while the buffer is out of the pool
};

GQuark slot_quark() {
    static const GQuark quark = g_quark_from_static_string("zorbexsrc-queue-slot");
    return quark;
}

}  // namespace

struct ZbxQueuePool {
    GstBufferPool parent;
    ZbxStream* stream;
    gsize size;
    // Under the object lock.
    Slot* slots;  // room for `capacity`; `lent` of them in the queue
    guint capacity;
    guint lent;
    gboolean closed;   // the element closed the stream
    gboolean stopped;  // every buffer is back and the pool was stopped
    gint last_error;
    const ZbxFrame* last_frame;  // of the last acquire; streaming thread
    gint out;  // buffers out of the pool (atomic)
};

struct ZbxQueuePoolClass {
    GstBufferPoolClass parent_class;
};

G_DEFINE_TYPE(ZbxQueuePool, zbx_queue_pool, GST_TYPE_BUFFER_POOL)

namespace {

ZbxQueuePool* queue_pool(GstBufferPool* pool) { return reinterpret_cast<ZbxQueuePool*>(pool); }

// Allocates one buffer and lends its memory to the queue.  Streaming
// thread (start and acquire).
bool lend_one(ZbxQueuePool* self) {
    GST_OBJECT_LOCK(self);
    const bool room = !self->closed && self->lent < self->capacity;
    Slot* slot = room ? &self->slots[self->lent] : nullptr;
    GST_OBJECT_UNLOCK(self);
    if (slot == nullptr) return false;
    GstAllocationParams params;
    gst_allocation_params_init(&params);
    params.align = 63;  // as the queue's own buffers: whole cache lines for the developing loops
    GstMemory* memory = gst_allocator_alloc(nullptr, self->size, &params);
    if (memory == nullptr) return false;
    GstMapInfo map;
    if (!gst_memory_map(memory, &map, GST_MAP_WRITE)) {
        gst_memory_unref(memory);
        return false;
    }
    // System memory keeps its address for its whole life.
    void* data = map.data;
    gst_memory_unmap(memory, &map);
    slot->memory = memory;
    slot->frame = nullptr;
    slot->buffer = gst_buffer_new();
    gst_buffer_append_memory(slot->buffer, gst_memory_ref(memory));
    GST_BUFFER_FLAG_UNSET(slot->buffer, GST_BUFFER_FLAG_TAG_MEMORY);
    gst_mini_object_set_qdata(GST_MINI_OBJECT_CAST(slot->buffer), slot_quark(), slot, nullptr);
    const int code = ZbxStream_AddBuffer(self->stream, data, self->size, slot);
    if (code != ZBX_OK) {
        GST_WARNING_OBJECT(self, "the frame queue refused a buffer: %d", code);
        self->last_error = code;
        gst_buffer_unref(slot->buffer);
        gst_memory_unref(memory);
        *slot = Slot{};
        return false;
    }
    GST_OBJECT_LOCK(self);
    ++self->lent;
    GST_OBJECT_UNLOCK(self);
    return true;
}

// Frees every buffer once the stream is closed and all are back.
void free_slots_if_done(ZbxQueuePool* self) {
    GST_OBJECT_LOCK(self);
    const bool done = self->closed && self->stopped;
    Slot* slots = done ? self->slots : nullptr;
    const guint lent = self->lent;
    if (done) {
        self->slots = nullptr;
        self->lent = 0;
    }
    GST_OBJECT_UNLOCK(self);
    if (slots == nullptr) return;
    for (guint i = 0; i < lent; ++i) {
        gst_buffer_unref(slots[i].buffer);
        gst_memory_unref(slots[i].memory);
    }
    g_free(slots);
}

gboolean pool_start(GstBufferPool* pool) {
    ZbxQueuePool* self = queue_pool(pool);
    GstStructure* config = gst_buffer_pool_get_config(pool);
    guint min = 0;
    guint max = 0;
    (void)gst_buffer_pool_config_get_params(config, nullptr, nullptr, &min, &max);
    gst_structure_free(config);
    min = std::max(min, 2u);
    GST_OBJECT_LOCK(self);
    self->capacity = std::max(min, max != 0 ? max : kDefaultMaxBuffers);
    self->slots = g_new0(Slot, self->capacity);
    self->stopped = FALSE;
    GST_OBJECT_UNLOCK(self);
    for (guint i = 0; i < min; ++i)
        if (!lend_one(self)) return FALSE;
    GST_DEBUG_OBJECT(self, "%u buffers of %" G_GSIZE_FORMAT " bytes lent to the frame queue", min, self->size);
    return TRUE;
}

gboolean pool_stop(GstBufferPool* pool) {
    ZbxQueuePool* self = queue_pool(pool);
    GST_OBJECT_LOCK(self);
    self->stopped = TRUE;
    GST_OBJECT_UNLOCK(self);
    free_slots_if_done(self);
    return TRUE;
}

// Lends one more buffer when downstream holds all but one: the queue
// would soon drop frames for want of a free buffer.  Streaming thread.
void grow_if_short(ZbxQueuePool* self) {
    GST_OBJECT_LOCK(self);
    const guint lent = self->lent;
    GST_OBJECT_UNLOCK(self);
    const guint out = static_cast<guint>(g_atomic_int_get(&self->out));
    if (lent > out + 1) return;
    if (lend_one(self)) GST_DEBUG_OBJECT(self, "downstream keeps %u frames: one more buffer lent", out);
}

GstFlowReturn pool_acquire(GstBufferPool* pool, GstBuffer** buffer, GstBufferPoolAcquireParams*) {
    ZbxQueuePool* self = queue_pool(pool);
    if (GST_BUFFER_POOL_IS_FLUSHING(pool)) return GST_FLOW_FLUSHING;
    const ZbxFrame* frame = nullptr;
    const int code = ZbxStream_Wait(self->stream, -1, &frame);
    if (code == ZBX_ERR_CANCELLED) return GST_FLOW_FLUSHING;
    if (code != ZBX_OK) {
        self->last_error = code;
        return GST_FLOW_ERROR;
    }
    Slot* slot = static_cast<Slot*>(frame->user);
    slot->frame = frame;
    self->last_frame = frame;
    *buffer = slot->buffer;
    g_atomic_int_inc(&self->out);
    grow_if_short(self);
    return GST_FLOW_OK;
}

// Downstream let the buffer go: its frame goes back to the queue.  Any
// thread.  Memory that downstream replaced or resized is put back first.
void pool_release(GstBufferPool* pool, GstBuffer* buffer) {
    ZbxQueuePool* self = queue_pool(pool);
    auto* slot = static_cast<Slot*>(gst_mini_object_get_qdata(GST_MINI_OBJECT_CAST(buffer), slot_quark()));
    if (slot == nullptr) return;
    if (gst_buffer_n_memory(buffer) != 1 || gst_buffer_peek_memory(buffer, 0) != slot->memory) {
        gst_buffer_remove_all_memory(buffer);
        gst_buffer_append_memory(buffer, gst_memory_ref(slot->memory));
    }
    gsize offset = 0;
    const gsize size = gst_buffer_get_sizes(buffer, &offset, nullptr);
    if (offset != 0 || size != self->size) gst_buffer_resize(buffer, -static_cast<gssize>(offset), static_cast<gssize>(self->size));
    GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_TAG_MEMORY);
    const ZbxFrame* frame = slot->frame;
    slot->frame = nullptr;
    if (frame != nullptr) {
        (void)ZbxStream_Release(self->stream, frame);
        (void)g_atomic_int_dec_and_test(&self->out);
    }
}

// Wakes the streaming thread waiting in acquire (unlock, flushing seek).
void pool_flush_start(GstBufferPool* pool) {
    ZbxQueuePool* self = queue_pool(pool);
    GST_OBJECT_LOCK(self);
    if (!self->closed) (void)ZbxStream_Cancel(self->stream);
    GST_OBJECT_UNLOCK(self);
}

void pool_flush_stop(GstBufferPool* pool) {
    ZbxQueuePool* self = queue_pool(pool);
    GST_OBJECT_LOCK(self);
    if (!self->closed) (void)ZbxStream_Resume(self->stream);
    GST_OBJECT_UNLOCK(self);
}

void pool_finalize(GObject* object) {
    ZbxQueuePool* self = reinterpret_cast<ZbxQueuePool*>(object);
    if (self->slots != nullptr) {
        // Still lent to an open stream: the library may write it, so it is
        // left allocated rather than freed under the library.
        GST_ERROR_OBJECT(self, "pool finalized before its frame queue was closed");
    }
    G_OBJECT_CLASS(zbx_queue_pool_parent_class)->finalize(object);
}

}  // namespace

static void zbx_queue_pool_class_init(ZbxQueuePoolClass* klass) {
    GstBufferPoolClass* pool_class = GST_BUFFER_POOL_CLASS(klass);
    G_OBJECT_CLASS(klass)->finalize = pool_finalize;
    pool_class->start = pool_start;
    pool_class->stop = pool_stop;
    pool_class->acquire_buffer = pool_acquire;
    pool_class->release_buffer = pool_release;
    pool_class->flush_start = pool_flush_start;
    pool_class->flush_stop = pool_flush_stop;
}

static void zbx_queue_pool_init(ZbxQueuePool*) {}

namespace zbx::gst {

GstBufferPool* queue_pool_new(ZbxStream* stream, gsize size) {
    auto* self = static_cast<ZbxQueuePool*>(g_object_new(zbx_queue_pool_get_type(), nullptr));
    gst_object_ref_sink(self);
    self->stream = stream;
    self->size = size;
    return GST_BUFFER_POOL(self);
}

const ZbxFrame* queue_pool_last_frame(GstBufferPool* pool) { return queue_pool(pool)->last_frame; }

int queue_pool_error(GstBufferPool* pool) { return queue_pool(pool)->last_error; }

void queue_pool_close_stream(GstBufferPool* pool) {
    ZbxQueuePool* self = queue_pool(pool);
    GST_OBJECT_LOCK(self);
    const bool was_closed = self->closed;
    self->closed = TRUE;
    GST_OBJECT_UNLOCK(self);
    if (!was_closed) (void)ZbxStream_Close(self->stream);
    free_slots_if_done(self);
}

guint queue_pool_buffers(GstBufferPool* pool) {
    ZbxQueuePool* self = queue_pool(pool);
    GST_OBJECT_LOCK(self);
    const guint lent = self->lent;
    GST_OBJECT_UNLOCK(self);
    return lent;
}

}  // namespace zbx::gst
