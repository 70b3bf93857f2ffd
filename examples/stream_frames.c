/*
 * Takes frames from the camera in slot 0 through a frame queue and prints
 * each frame's number, capture time, exposure, gain and mean sample value.
 *
 *     stream_frames [count]      (default 20)
 *
 * Build: cc stream_frames.c $(pkg-config --cflags --libs zorbex-sdk)
 */
#include <stdio.h>
#include <stdlib.h>

#include <zorbex/errors.h>
#include <zorbex/stream.h>
#include <zorbex/window.h>
#include <zorbex/zorbex.h>

static int fail(const char* what, int code) {
    fprintf(stderr, "stream_frames: %s: %s (%s)\n", what, ZbxError_Describe(code), ZbxError_Name(code));
    return 1;
}

int main(int argc, char** argv) {
    const long count = argc > 1 ? strtol(argv[1], NULL, 10) : 20;
    ZbxWindow window = ZbxWin_CreateMessageWindow();
    ZbxHandle cam = Zorbex_Initialize(window);
    if (cam == 0) return fail("no session", ZBX_ERR_NOT_READY);
    if (Zorbex_SetColorMode(cam, 8) == 0) return fail("colour mode", Zorbex_GetLastError(cam));

    ZbxStreamConfig config = ZBX_STREAM_CONFIG_INIT; /* 4 buffers, every frame in order */
    ZbxStream* stream = NULL;
    int code = ZbxStream_Open(cam, &config, &stream);
    if (code != ZBX_OK) return fail("open the frame queue", code);
    code = ZbxStream_Start(stream);
    if (code != ZBX_OK) return fail("start the camera", code);

    long taken = 0;
    while (taken < count) {
        const ZbxFrame* frame = NULL;
        code = ZbxStream_Wait(stream, 5000, &frame);
        if (code != ZBX_OK) break;
        unsigned long long sum = 0;
        for (int y = 0; y < frame->height; ++y) {
            const unsigned char* row = (const unsigned char*)frame->data + (size_t)y * (size_t)frame->stride;
            for (int x = 0; x < frame->width; ++x) sum += row[x];
        }
        printf("frame %llu  t=%llu ns  exposure %d us  gain %d  dropped %u  mean %.2f\n",
               (unsigned long long)frame->sequence, (unsigned long long)frame->timestamp_ns, frame->exposure_us,
               frame->gain, frame->dropped, (double)sum / ((double)frame->width * frame->height));
        ZbxStream_Release(stream, frame);
        ++taken;
    }
    ZbxStreamStats stats;
    ZbxStream_GetStats(stream, &stats);
    ZbxStream_Close(stream);
    Zorbex_Release(cam);
    ZbxWin_DestroyWindow(window);
    if (taken < count) return fail("no frame", code);
    printf("%ld frames, %llu dropped\n", taken, (unsigned long long)stats.dropped);
    return 0;
}
