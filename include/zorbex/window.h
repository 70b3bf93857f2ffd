/*
 * Windows and messages for applications of the Zorbex SDK on Linux.
 *
 * The library announces errors and frames by posting messages to windows
 * (Zorbex_Initialize's notification window, the callback window of the
 * acquisition calls) and paints its live preview into a window.  Windows
 * here are headless objects: each has a message queue and a client-area
 * pixel surface that an application can read back.  A message posted with
 * no window goes to the posting thread's own queue, read with a null window.
 */
#ifndef ZORBEX_WINDOW_H
#define ZORBEX_WINDOW_H

#include <stdint.h>

#ifdef __cplusplus
#include <cstddef>
extern "C" {
#else
#include <stddef.h>
#include <uchar.h>
#endif

#if defined(__GNUC__)
#define ZBXWIN_API __attribute__((visibility("default")))
#else
#define ZBXWIN_API
#endif

#define ZBXWIN_INFINITE 0xFFFFFFFFu
#define ZBXWIN_QUEUE_LIMIT 10000

/* Opaque, pointer-sized window handle; NULL is "no window". */
typedef struct ZbxWindowObject* ZbxWindow;

typedef struct ZbxMessage {
    ZbxWindow window;  /* the window it was posted to; NULL for a thread message */
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
} ZbxMessage;

/* A hidden window that only receives messages. */
ZBXWIN_API ZbxWindow ZbxWin_CreateMessageWindow(void);
/* A window of the given client size, for hosting the library's child
 * preview window; parent may be NULL.  visible: non-zero to show it. */
ZBXWIN_API ZbxWindow ZbxWin_CreateWindow(ZbxWindow parent, int x, int y, int width, int height,
                                         int visible);
/* Destroys the window, its children and any messages still queued. 1 or 0. */
ZBXWIN_API int ZbxWin_DestroyWindow(ZbxWindow window);
ZBXWIN_API int ZbxWin_IsWindow(ZbxWindow window);

/* Takes (remove != 0) or looks at the oldest message of the window's queue,
 * or of the calling thread's queue when window is NULL.  1 when there was one. */
ZBXWIN_API int ZbxWin_PeekMessage(ZbxWindow window, ZbxMessage* message, int remove);
/* Waits up to timeout_ms (ZBXWIN_INFINITE: no limit) for a message and
 * takes it.  1, or 0 on time-out or when the window is destroyed. */
ZBXWIN_API int ZbxWin_WaitMessage(ZbxWindow window, ZbxMessage* message, uint32_t timeout_ms);
/* Posts a message as the library does; 1, or 0 for an unknown window or a
 * full queue (ZBXWIN_QUEUE_LIMIT messages). */
ZBXWIN_API int ZbxWin_PostMessage(ZbxWindow window, uint32_t message, uintptr_t wparam,
                                  intptr_t lparam);

/* Placement and state, for windows made by the application or the library.
 * GetWindowRect: position relative to the parent's client area (the screen
 * for a top-level window) and outer size, frame included.  Any output
 * pointer may be NULL. */
ZBXWIN_API int ZbxWin_GetWindowRect(ZbxWindow window, int* x, int* y, int* width, int* height);
ZBXWIN_API int ZbxWin_GetClientSize(ZbxWindow window, int* width, int* height);
ZBXWIN_API int ZbxWin_IsVisible(ZbxWindow window);
ZBXWIN_API int ZbxWin_GetParent(ZbxWindow window, ZbxWindow* parent);
/* The window's title in UTF-8; 1, or 0 when it does not fit. */
ZBXWIN_API int ZbxWin_GetTitle(ZbxWindow window, char* buffer, int size);
/* The window's class name in UTF-8; 1, or 0 when it does not fit. */
ZBXWIN_API int ZbxWin_GetClassName(ZbxWindow window, char* buffer, int size);
/* The window's style bits (0x10000000 visible, 0x40000000 child ...). */
ZBXWIN_API int ZbxWin_GetStyle(ZbxWindow window, uint32_t* style);
/* The first child window of a window (NULL when none), e.g. the preview;
 * the next child of the same parent, or top-level window, after a window. */
ZBXWIN_API ZbxWindow ZbxWin_GetFirstChild(ZbxWindow window);
ZBXWIN_API ZbxWindow ZbxWin_GetNextSibling(ZbxWindow window);
/* Stores up to capacity top-level windows (oldest first; message windows
 * are not listed) and returns how many there are in all. */
ZBXWIN_API int ZbxWin_GetTopLevelWindows(ZbxWindow* windows, int capacity);
/* Size of the virtual screen that top-level windows are centred on. */
ZBXWIN_API int ZbxWin_GetScreenSize(int* width, int* height);
/* The client area's pixels, top row first, 3 bytes per pixel in
 * blue-green-red order, rows stride bytes apart.  1 or 0. */
ZBXWIN_API int ZbxWin_ReadClientPixels(ZbxWindow window, uint8_t* pixels, int stride);

/* ---- On screen (X11) ------------------------------------------------------
 * When DISPLAY names a reachable X server, the library's windows (the
 * preview's "Active Window" and "ActiveMovie Window", and windows made with
 * ZbxWin_CreateWindow) also appear there, with the same placement, size,
 * title and visibility, and every paint of the preview is shown.  Without a
 * display everything above works headless, unchanged; a display that goes
 * away while running turns this off and the library goes on headless.
 * Closing a top-level window with the window manager destroys it as
 * ZbxWin_DestroyWindow does (the preview then shows nothing while streaming
 * goes on; ZbxWin_IsWindow tells the application); resizing it makes the
 * preview scale its picture into the new client size.
 *
 * Embedding: pass the X window id of a widget of your application
 * (GTK: gdk_x11_window_get_xid, Qt: QWidget::winId, SDL: SDL_SysWMinfo
 * info.x11.window, Xlib: the Window) and give the result to
 * Zorbex_SetPreviewWindow as the parent; the child preview is then created
 * inside that widget.  The id must belong to the display named by DISPLAY.
 * Returns NULL when no display is reachable or no such window exists.  The
 * application's window is never destroyed by the library; if the
 * application destroys it while the preview runs, the preview goes on
 * headless.  Release the wrapper with ZbxWin_DestroyWindow. */
ZBXWIN_API ZbxWindow ZbxWin_WrapX11Window(unsigned long xid);
/* The X window that shows a window on screen; 0 when headless. */
ZBXWIN_API unsigned long ZbxWin_GetX11Window(ZbxWindow window);
/* Sets a window's title (UTF-8), on screen too.  1 or 0. */
ZBXWIN_API int ZbxWin_SetTitle(ZbxWindow window, const char* title);

#ifdef __cplusplus
}
#endif

#endif /* ZORBEX_WINDOW_H */
