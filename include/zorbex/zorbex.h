/*
 * Zorbex 530RD-NQT camera SDK: the library's exported C interface.
 *
 * Every function but Zorbex_Initialize and Zorbex_GetDllVersion takes the
 * session handle returned by Zorbex_Initialize.  An unknown handle makes a
 * function return 0 (-1 for Zorbex_GetColorMode, Zorbex_GetSubSample and
 * Zorbex_GetWaitTime) without touching any output argument.  Failures are
 * reported by the result; the reason is kept in the session's error history
 * (Zorbex_GetLastError) and posted as message ZBX_MSG_ERROR to the window
 * given to Zorbex_Initialize.
 *
 * Wide text is UTF-16 (char16_t); narrow text is UTF-8.
 */
#ifndef ZORBEX_ZORBEX_H
#define ZORBEX_ZORBEX_H

#include <stdint.h>

#include "zorbex/window.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ZBX_API __attribute__((visibility("default")))
#else
#define ZBX_API
#endif

/* Session handle made by Zorbex_Initialize; 0 is never a valid handle. */
typedef uint32_t ZbxHandle;

/* Messages the library posts.
 * ZBX_MSG_FRAME goes to the callback window of the acquisition calls: per
 * frame with wParam = address of a ZbxFrameRecord and lParam = 0; on a
 * failed frame with wParam = 0 and lParam = the error code (5, 8 or 13).
 * ZBX_MSG_ERROR goes to the notification window: wParam 0, lParam = code. */
#define ZBX_MSG_FRAME 0x8002u
#define ZBX_MSG_ERROR 0x8003u

/* Frame record of ZBX_MSG_FRAME (32 bytes).  It lives in the session and is
 * overwritten by the next frame. */
typedef struct ZbxFrameRecord {
    uint32_t size;           /* 32 */
    int32_t width;           /* of the raw frame */
    int32_t height;
    int32_t bits_per_pixel;  /* 8, 16, 24, 32, 48 or 64 */
    int32_t frame_rate;      /* tenths of frames per second; 0 in trigger mode */
    int32_t reserved;
    void* buffer;            /* the caller buffer given to the acquisition call */
} ZbxFrameRecord;

/* Error codes returned by Zorbex_GetLastError and posted with ZBX_MSG_ERROR. */
#define ZBX_ERR_NONE 0
#define ZBX_ERR_NOT_READY 1
#define ZBX_ERR_DEVICE_UNAVAILABLE 2
#define ZBX_ERR_THREAD_START 3
#define ZBX_ERR_WINDOW 4
#define ZBX_ERR_MEMORY 5
#define ZBX_ERR_DEVICE_IO 6
#define ZBX_ERR_GEOMETRY 7
#define ZBX_ERR_TRANSFER 8
#define ZBX_ERR_PARAMETER 9
/* Initialization refused the shared camera table because an object it
 * cannot trust (another user's, or one open to others) holds its place. */
#define ZBX_ERR_UNTRUSTED 10
#define ZBX_ERR_UNSUPPORTED 11
#define ZBX_ERR_FILE 12
#define ZBX_ERR_FRAME_TIMEOUT 13

/* Still-image format numbers of Zorbex_SaveImage. */
#define ZBX_FILE_BMP 0
#define ZBX_FILE_RAW 1
#define ZBX_FILE_JPEG_HIGH 2
#define ZBX_FILE_JPEG_NORMAL 3
#define ZBX_FILE_JPEG_LOW 4
#define ZBX_FILE_PNG 5
#define ZBX_FILE_TIFF 6

/* Camera information filled by Zorbex_GetCameraInfo (36 bytes). */
typedef struct ZbxCameraInfo {
    uint32_t size; /* set by the caller to sizeof(ZbxCameraInfo) */
    int32_t sensor_width;
    int32_t sensor_height;
    int32_t min_gain;
    int32_t max_gain;
    int32_t reserved1;
    int32_t reserved2;
    int32_t min_exposure;
    int32_t max_exposure;
} ZbxCameraInfo;

/* Library and session. */
ZBX_API int Zorbex_GetDllVersion(void);
ZBX_API ZbxHandle Zorbex_Initialize(ZbxWindow notify_window);
ZBX_API int Zorbex_Release(ZbxHandle h);
ZBX_API int Zorbex_GetLastError(ZbxHandle h);
ZBX_API int Zorbex_GetStatus(ZbxHandle h, int reserved);

/* Devices: numbers 0 to ZBX_MAX_DEVICES - 1 (Zorbex_SetDeviceNumber, the
 * slot of Zorbex_GetDeviceName); Zorbex_EnumDevice fills ZBX_MAX_DEVICES names. */
#define ZBX_MAX_DEVICES 32
ZBX_API int Zorbex_EnumDevice(ZbxHandle h, char (*names)[256]);
ZBX_API int Zorbex_EnumDeviceW(ZbxHandle h, char16_t (*names)[256]);
ZBX_API int Zorbex_GetDeviceName(ZbxHandle h, int slot, char* buffer, int size);
ZBX_API int Zorbex_GetDeviceNameW(ZbxHandle h, int slot, char16_t* buffer, int size);
ZBX_API int Zorbex_SetDeviceNumber(ZbxHandle h, int number);
ZBX_API int Zorbex_GetCameraInfo(ZbxHandle h, ZbxCameraInfo* info);

/* Format, geometry and mirrors. */
ZBX_API int Zorbex_SetColorMode(ZbxHandle h, int bits);
ZBX_API int Zorbex_GetColorMode(ZbxHandle h);
ZBX_API int Zorbex_SetSubSample(ZbxHandle h, int mode);
ZBX_API int Zorbex_GetSubSample(ZbxHandle h);
ZBX_API int Zorbex_SetWaitTime(ZbxHandle h, int milliseconds);
ZBX_API int Zorbex_GetWaitTime(ZbxHandle h);
ZBX_API int Zorbex_Width(ZbxHandle h);
ZBX_API int Zorbex_Height(ZbxHandle h);
ZBX_API int Zorbex_GetVideoFormat(ZbxHandle h, int* format);
ZBX_API int Zorbex_GetSamplingRate(ZbxHandle h, int* rate);
ZBX_API int Zorbex_SetCaptureWindow(ZbxHandle h, int width, int height);
ZBX_API int Zorbex_SetCaptureWindowEx(ZbxHandle h, int total_width, int h_start, int width,
                                      int total_height, int v_start, int height);
ZBX_API int Zorbex_GetCaptureWindowEx(ZbxHandle h, int* total_width, int* h_start, int* width,
                                      int* total_height, int* v_start, int* height);
ZBX_API int Zorbex_SetMirrorH(ZbxHandle h, int flag);
ZBX_API int Zorbex_SetMirrorV(ZbxHandle h, int flag);
ZBX_API int Zorbex_GetMirrorH(ZbxHandle h);
ZBX_API int Zorbex_GetMirrorV(ZbxHandle h);

/* Direct device access. */
ZBX_API int Zorbex_ReadRegister(ZbxHandle h, int address, int* ok);
ZBX_API int Zorbex_ReadRegisterEx(ZbxHandle h, int address, int* ok);
ZBX_API int Zorbex_WriteRegister(ZbxHandle h, int address, int value);
ZBX_API int Zorbex_WriteRegisterEx(ZbxHandle h, int address, int value);
ZBX_API int Zorbex_ReadSromID(ZbxHandle h, int index, int* ok);
ZBX_API int Zorbex_WriteSromID(ZbxHandle h, int index, int value);
ZBX_API int Zorbex_GetIOPort(ZbxHandle h, unsigned char* value, void* reserved1, int reserved2);
ZBX_API int Zorbex_SetIOPort(ZbxHandle h, int value);

/* Acquisition, preview and images.  The copy flag selects the row order of
 * copies into the caller's buffer: non-zero top row first, 0 bottom row first. */
ZBX_API int Zorbex_Capture(ZbxHandle h);
ZBX_API int Zorbex_SnapShot(ZbxHandle h, void* buffer, int length, int copy_flag);
ZBX_API int Zorbex_Trigger(ZbxHandle h, ZbxWindow callback_window, void* buffer, int length,
                           int copy_flag);
ZBX_API int Zorbex_Preview(ZbxHandle h);
/* Called again while streaming, Zorbex_CallBackPreview gives the next frames
 * a new buffer: it waits at most for a copy into the previous buffer under
 * way, and once it returns the previous buffer is the application's again
 * (never written afterwards), holding the last frame copied into it. */
ZBX_API int Zorbex_CallBackPreview(ZbxHandle h, ZbxWindow callback_window, void* buffer,
                                   int length, int copy_flag);
ZBX_API int Zorbex_StartPreview(ZbxHandle h);
ZBX_API int Zorbex_StopPreview(ZbxHandle h);
ZBX_API int Zorbex_Close(ZbxHandle h);
ZBX_API int Zorbex_SetPreviewWindow(ZbxHandle h, ZbxWindow parent, int x, int y, int width,
                                    int height);
ZBX_API int Zorbex_GetImage(ZbxHandle h, void* buffer, int length, int copy_flag);

/* Files. */
ZBX_API int Zorbex_SaveImage(ZbxHandle h, const char* file_name, int format);
ZBX_API int Zorbex_SaveImageW(ZbxHandle h, const char16_t* file_name, int format);
ZBX_API int Zorbex_Record(ZbxHandle h, const char* file_name, int duration_ms, int show);
ZBX_API int Zorbex_RecordW(ZbxHandle h, const char16_t* file_name, int duration_ms, int show);
ZBX_API int Zorbex_LoadConfigFileA(ZbxHandle h, const char* file_name);
ZBX_API int Zorbex_LoadConfigFileW(ZbxHandle h, const char16_t* file_name);

/* Dialogs.  Each runs a modal property dialog and returns once it has
 * closed: 1 however it ended, 0 when the session has no camera.  With a
 * display reachable (DISPLAY or WAYLAND_DISPLAY, and the library built with
 * GTK 3) the dialog is a real window in the session's language.  Any thread
 * may call: from the thread that runs GLib's default main loop (a GTK
 * application's button handler) the dialog runs in a nested loop there;
 * from another thread the call waits while that loop, or the library's own
 * GUI thread when the application runs none, shows the dialog.  The preview
 * keeps streaming while the analog and image dialogs are open; the camera
 * format dialog stops acquisition while it is open and resumes it when it
 * closes.  Without a display nothing is shown: the dialog ends at once as if
 * Cancel had been pressed, so nothing changes.  Zorbex_Release of the session
 * from another thread ends an open dialog as Cancel first. */
ZBX_API int Zorbex_SetAnalogDlg(ZbxHandle h, ZbxWindow owner);
ZBX_API int Zorbex_SetImageDlg(ZbxHandle h, ZbxWindow owner);
ZBX_API int Zorbex_SetCameraDlg(ZbxHandle h, ZbxWindow owner);

/* Image adjustment values: ids 1 to 28 (names, ranges, units and defaults:
 * zorbex/values.h). */
#define ZBX_ID_BRIGHTNESS 1
#define ZBX_ID_CONTRAST 2
#define ZBX_ID_HUE 3
#define ZBX_ID_SATURATION 4
#define ZBX_ID_SHARPNESS 5
#define ZBX_ID_BAYER_GAIN_RGB 6
#define ZBX_ID_BAYER_GAIN_RED 7
#define ZBX_ID_BAYER_GAIN_GREEN 8
#define ZBX_ID_BAYER_GAIN_BLUE 9
#define ZBX_ID_BAYER_GAIN_AUTO 10
#define ZBX_ID_GAMMA 11
#define ZBX_ID_BAYER_MODE 12
#define ZBX_ID_GLOBAL_GAIN 13
#define ZBX_ID_COLOR_GAIN_RED 14
#define ZBX_ID_COLOR_GAIN_GREEN1 15
#define ZBX_ID_COLOR_GAIN_GREEN2 16
#define ZBX_ID_COLOR_GAIN_BLUE 17
#define ZBX_ID_EXPOSURE_TIME 18
#define ZBX_ID_GRAY_MODE 19
#define ZBX_ID_GRAY_GAIN_R 20
#define ZBX_ID_GRAY_GAIN_G1 21
#define ZBX_ID_GRAY_GAIN_G2 22
#define ZBX_ID_GRAY_GAIN_B 23
#define ZBX_ID_GRAY_OFFSET_R 24
#define ZBX_ID_GRAY_OFFSET_G1 25
#define ZBX_ID_GRAY_OFFSET_G2 26
#define ZBX_ID_GRAY_OFFSET_B 27
#define ZBX_ID_GRAY_AUTO_BALANCE 28 /* one monochrome balance measurement when 1; no named form */

ZBX_API int Zorbex_GetFilterValue(ZbxHandle h, int id, int* ok);
ZBX_API int Zorbex_SetFilterValue(ZbxHandle h, int id, int value);

/* Named forms: Zorbex_Get<Name>(h, ok) is Zorbex_GetFilterValue(h, id, ok) and
 * Zorbex_Set<Name>(h, v) is Zorbex_SetFilterValue(h, id, v) for the ids above. */
ZBX_API int Zorbex_GetBrightness(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetBrightness(ZbxHandle h, int value);
ZBX_API int Zorbex_GetContrast(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetContrast(ZbxHandle h, int value);
ZBX_API int Zorbex_GetHue(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetHue(ZbxHandle h, int value);
ZBX_API int Zorbex_GetSaturation(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetSaturation(ZbxHandle h, int value);
ZBX_API int Zorbex_GetSharpness(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetSharpness(ZbxHandle h, int value);
ZBX_API int Zorbex_GetBayerGainRGB(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetBayerGainRGB(ZbxHandle h, int value);
ZBX_API int Zorbex_GetBayerGainRed(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetBayerGainRed(ZbxHandle h, int value);
ZBX_API int Zorbex_GetBayerGainGreen(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetBayerGainGreen(ZbxHandle h, int value);
ZBX_API int Zorbex_GetBayerGainBlue(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetBayerGainBlue(ZbxHandle h, int value);
ZBX_API int Zorbex_GetBayerGainAuto(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetBayerGainAuto(ZbxHandle h, int value);
ZBX_API int Zorbex_GetGamma(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetGamma(ZbxHandle h, int value);
ZBX_API int Zorbex_GetBayerMode(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetBayerMode(ZbxHandle h, int value);
ZBX_API int Zorbex_GetGlobalGain(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetGlobalGain(ZbxHandle h, int value);
ZBX_API int Zorbex_GetColorGainRed(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetColorGainRed(ZbxHandle h, int value);
ZBX_API int Zorbex_GetColorGainGreen1(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetColorGainGreen1(ZbxHandle h, int value);
ZBX_API int Zorbex_GetColorGainGreen2(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetColorGainGreen2(ZbxHandle h, int value);
ZBX_API int Zorbex_GetColorGainBlue(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetColorGainBlue(ZbxHandle h, int value);
ZBX_API int Zorbex_GetExposureTime(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetExposureTime(ZbxHandle h, int value);
ZBX_API int Zorbex_GetGrayMode(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetGrayMode(ZbxHandle h, int value);
ZBX_API int Zorbex_GetGrayGainR(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetGrayGainR(ZbxHandle h, int value);
ZBX_API int Zorbex_GetGrayGainG1(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetGrayGainG1(ZbxHandle h, int value);
ZBX_API int Zorbex_GetGrayGainG2(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetGrayGainG2(ZbxHandle h, int value);
ZBX_API int Zorbex_GetGrayGainB(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetGrayGainB(ZbxHandle h, int value);
ZBX_API int Zorbex_GetGrayOffsetR(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetGrayOffsetR(ZbxHandle h, int value);
ZBX_API int Zorbex_GetGrayOffsetG1(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetGrayOffsetG1(ZbxHandle h, int value);
ZBX_API int Zorbex_GetGrayOffsetG2(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetGrayOffsetG2(ZbxHandle h, int value);
ZBX_API int Zorbex_GetGrayOffsetB(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetGrayOffsetB(ZbxHandle h, int value);

ZBX_API int Zorbex_SetConfigFilter(ZbxHandle h, int flag);
ZBX_API int Zorbex_GetConfigFilter(ZbxHandle h);
ZBX_API int Zorbex_SetAutoIris(ZbxHandle h, int mode);
ZBX_API int Zorbex_GetAutoIris(ZbxHandle h, int* ok);
ZBX_API int Zorbex_SetRealExposureTime(ZbxHandle h, int microseconds);
ZBX_API int Zorbex_GetRealExposureTime(ZbxHandle h, int* ok);

/* Operations this camera model does not support: they return 0 and post
 * ZBX_ERR_UNSUPPORTED for a known handle. */
ZBX_API int Zorbex_Fpga_ReadRegister(ZbxHandle h, int address, int* ok);
ZBX_API int Zorbex_Fpga_WriteRegister(ZbxHandle h, int address, int value);
ZBX_API int Zorbex_Fps(ZbxHandle h);
ZBX_API int Zorbex_GetHalfClock(ZbxHandle h);
ZBX_API int Zorbex_SetHalfClock(ZbxHandle h, int flag);
ZBX_API int Zorbex_SetCrossbar(ZbxHandle h, int input, int output);
ZBX_API int Zorbex_SetSamplingRate(ZbxHandle h, int rate);

#ifdef __cplusplus
}
#endif

#endif /* ZORBEX_ZORBEX_H */
