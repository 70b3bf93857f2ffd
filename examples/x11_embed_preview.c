/*
 * Shows the camera's live preview inside a plain Xlib window of the
 * application: the window is wrapped with ZbxWin_WrapX11Window and given
 * to Zorbex_SetPreviewWindow as the parent of the library's child preview.
 *
 *   x11_embed_preview [seconds]     (default: until the window is closed)
 */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "zorbex/window.h"
#include "zorbex/zorbex.h"

int main(int argc, char** argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 0.0;
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "cannot open the X display (is DISPLAY set?)\n");
        return 1;
    }
    /* The application's own window: a frame of 680 x 400 with a grey margin. */
    int screen = DefaultScreen(display);
    Window frame = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 680, 400, 0,
                                       BlackPixel(display, screen), 0x404040);
    XStoreName(display, frame, "Embedded Zorbex preview");
    Atom wm_delete = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, frame, &wm_delete, 1);
    XSelectInput(display, frame, StructureNotifyMask);
    XMapWindow(display, frame);
    XSync(display, False);

    ZbxWindow parent = ZbxWin_WrapX11Window(frame);
    if (parent == NULL) {
        fprintf(stderr, "the library cannot reach this window's display\n");
        return 1;
    }
    ZbxHandle camera = Zorbex_Initialize(NULL);
    /* The child preview: 640 x 360 at 20, 20 inside the frame. */
    if (camera == 0 || !Zorbex_SetPreviewWindow(camera, parent, 20, 20, 640, 360) || !Zorbex_Preview(camera)) {
        fprintf(stderr, "no preview (is a camera connected?)\n");
        if (camera != 0) Zorbex_Release(camera);
        ZbxWin_DestroyWindow(parent);
        return 1;
    }

    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (int running = 1; running;) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ClientMessage && (Atom)event.xclient.data.l[0] == wm_delete) running = 0;
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        double elapsed = (double)(now.tv_sec - start.tv_sec) + (double)(now.tv_nsec - start.tv_nsec) / 1e9;
        if (seconds > 0 && elapsed >= seconds) running = 0;
        struct timespec pause = {0, 20 * 1000 * 1000};
        nanosleep(&pause, NULL);
    }

    Zorbex_Close(camera);
    Zorbex_Release(camera);
    ZbxWin_DestroyWindow(parent);
    XDestroyWindow(display, frame);
    XCloseDisplay(display);
    return 0;
}
