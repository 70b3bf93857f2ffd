/*
 * Error names and sentences for the library's error codes.
 *
 * Zorbex_GetLastError, Zorbex_GetErrorHistory and the ZBX_MSG_ERROR message
 * report numbers (ZBX_ERR_* in zorbex.h).  These two calls turn a number
 * into the words the command-line tool prints, so that applications and
 * language bindings say the same thing.  Both return static, NUL-terminated
 * UTF-8 text that stays valid for the life of the process; neither fails.
 */
#ifndef ZORBEX_ERRORS_H
#define ZORBEX_ERRORS_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ZBX_ERRORS_API __attribute__((visibility("default")))
#else
#define ZBX_ERRORS_API
#endif

/* The code's constant name without the ZBX_ prefix, e.g. "ERR_DEVICE_UNAVAILABLE"
 * for 2 and "ERR_NONE" for 0; "ERR_UNKNOWN" for numbers the library never
 * reports (negative numbers, 14 to 19, 27 and above); 20 to 26 are the
 * frame queue's results (zorbex/stream.h). */
ZBX_ERRORS_API const char* ZbxError_Name(int code);

/* A plain sentence about what went wrong, without a trailing full stop, e.g.
 * "the camera is not attached, or it is in use by another process" for 2. */
ZBX_ERRORS_API const char* ZbxError_Describe(int code);

#ifdef __cplusplus
}
#endif

#endif /* ZORBEX_ERRORS_H */
