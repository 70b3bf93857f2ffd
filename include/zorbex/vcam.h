/*
 * Virtual camera control API.
 *
 * The virtual camera stands in for the camera driver and the cameras behind
 * it.  The library reaches it only through its driver requests; tests, tools
 * and benchmarks use this API to decide which cameras are attached and to
 * drive their inputs (trigger, scene, defects, serial ROM) and faults.
 *
 * Slots.  Up to 32 cameras, one per slot 0 to 31; slot n opens as
 * "\\.\Zbrx530RDNQT-<c>" with c character n of
 * "0123456789ABCDEFGHIJKLNMOPQRSTUVWXYZ" (N before M).  Default: one camera
 * in slot 0.
 *
 * Environment.  ZBX_VCAM_SLOTS, read by the virtual camera (never by the
 * library) at its first use and again by ZbxVcam_Reset, chooses the slots
 * that hold a camera: a list of slot numbers separated by commas, for
 * example ZBX_VCAM_SLOTS=0,3.  An empty value or "none" attaches no camera;
 * entries that are not numbers 0 to 31 are ignored.  Unset: slot 0.
 *
 * Coordinates.  Sensor positions (defective pixels) are full-sensor
 * columns x 0..1279 and rows y 0..719 as read out unmirrored: row 0 is the
 * first row of an unmirrored frame.  The library's defect-list file counts
 * rows from the bottom: its y is 719 - y here.  The colour-filter mosaic is
 * "G R / B G" at the sensor's (0, 0): even rows G R G R ..., odd rows
 * B G B G ...
 *
 * Brightness.  A scene value v (12-bit scale) is delivered as
 * v * exposure / 637 * gain, clamped to 4095 (16-bit samples) or divided by
 * 16 (8-bit samples); exposure is sensor register 15 in lines, gain comes
 * from the colour gain codes in registers 35 (high byte green on red rows,
 * low byte red) and 36 (high byte blue, low byte green on blue rows), code
 * 0x02 being 1.0.  So at exposure 637 and gain code 0x02 a flat scene of
 * value v reads v in 16-bit mode and v / 16 in 8-bit mode.
 *
 * Timing.  Frame time = max(register 15, register 5 + 32) lines, a line
 * being register 46 + 6 clocks at the clock of controller register 15
 * (2 = 100 MHz, 1 = 12 MHz, other values 24 MHz).  Power-on state: full
 * 1280 x 720 window, exposure 637, clock 2: about 45 frames per second.
 *
 * Driver behaviour, as the library sees it through its driver port:
 * - Transfers (0x22204E, 0x222051 and their large-frame twins 0x2220A6,
 *   0x2220A9, all alike at any size) take exactly 4 input bytes, the pipe
 *   index, and a non-empty data buffer; the pipe sets the direction.
 *   Pipe 0 takes exactly 64-byte command packets, pipe 1 gives exactly
 *   64-byte answers: after a read command the first pipe-1 read returns
 *   the previous answer and the second the new one.  Unknown commands, the
 *   serial-ROM packets without their constant bytes, ROM writes below
 *   0x1800 and sample-width bytes other than 0 or 1 fail.
 * - Pipe 2: each start-frame command (0x02) allows one frame read; a read
 *   without one waits like any other and fails at the time-out.  The read
 *   delivers min(buffer length, frame bytes) and reports that count; frame
 *   bytes = controller registers 0..3 (also set by command 0x09) times 2
 *   when controller register 14 is 5 (command 0x0A sets 14 to 5 or 4).
 *   Rows are register 7 samples wide and register 5 rows high, read from
 *   sensor row register 4 - 64 and column register 6 - 132; the samples
 *   past the window are 0.  16-bit samples are little-endian 12-bit values.
 * - The settings request 0x2220A0 takes a 44-byte record whose first word
 *   is 1 and no output; it sets the camera's transfer time-out (3000 ms at
 *   power-on), which every later frame read on any handle uses.
 * - Camera initialise (0x06) returns the sensor registers to power-on.
 * - A failed request reports 0 bytes and changes nothing.
 * - Each process has its own virtual cameras: state is not shared between
 *   processes, only the slot choice through ZBX_VCAM_SLOTS.
 *
 * All functions return ZBX_VCAM_OK (0) or a negative ZBX_VCAM_E_* code and
 * are safe to call from any thread.
 */
#ifndef ZORBEX_VCAM_H
#define ZORBEX_VCAM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ZBX_VCAM_API __attribute__((visibility("default")))
#else
#define ZBX_VCAM_API
#endif

#define ZBX_VCAM_OK 0
#define ZBX_VCAM_E_SLOT (-1) /* slot outside 0 to 31, or no camera in it */
#define ZBX_VCAM_E_ARG (-2)  /* null pointer or value out of range */
#define ZBX_VCAM_E_FAILED (-3) /* the operation failed inside (out of memory) */

#define ZBX_VCAM_MAX_SLOTS 32

/* Pacing. */
#define ZBX_VCAM_PACED 0   /* frames at the sensor's rate (default) */
#define ZBX_VCAM_UNPACED 1 /* a frame as soon as it is read, for benchmarks */

/* Scene kinds. */
#define ZBX_VCAM_SCENE_CHART 0 /* colour patches, grey ramp, moving square */
#define ZBX_VCAM_SCENE_FLAT 1  /* one colour everywhere (flat_red/green/blue) */

typedef struct ZbxVcamScene {
    int32_t kind;          /* ZBX_VCAM_SCENE_* */
    int32_t moving;        /* 1: a bright square crosses the chart, moving every frame (default 1) */
    int32_t noise;         /* standard deviation of added noise, 12-bit scale, 0 to 512 (default 0) */
    uint16_t flat_red;     /* flat scene values, 12-bit scale, 0 to 4095 */
    uint16_t flat_green;
    uint16_t flat_blue;
    uint16_t reserved;
} ZbxVcamScene;

/* A stuck pixel: it always delivers `value` (12-bit; 8-bit samples get value / 16). */
typedef struct ZbxVcamDefect {
    int32_t x;      /* sensor column 0..1279 */
    int32_t y;      /* sensor row 0..719, unmirrored read-out order */
    uint16_t value; /* 0 to 4095 */
    uint16_t reserved;
} ZbxVcamDefect;
#define ZBX_VCAM_MAX_DEFECTS 4096

/* One request as the driver received it. */
#define ZBX_VCAM_NO_PIPE 0xFFFFFFFFu
typedef struct ZbxVcamRequest {
    uint32_t code;      /* control code */
    uint32_t pipe;      /* pipe index, ZBX_VCAM_NO_PIPE for the settings request or a bad input buffer */
    uint32_t length;    /* data buffer length (the 44-byte record's length for settings) */
    uint32_t returned;  /* byte count reported back */
    int32_t ok;         /* 1 when the request succeeded */
    uint32_t data_size; /* valid bytes in data */
    uint8_t data[64];   /* pipe 0: the packet sent; pipe 1: the answer returned;
                           settings: the record's first 44 bytes; pipe 2: none */
} ZbxVcamRequest;
#define ZBX_VCAM_LOG_CAPACITY 16384 /* older entries are dropped beyond this */

typedef struct ZbxVcamStats {
    uint64_t frames_delivered; /* frame reads that succeeded (short ones included) */
    uint64_t frames_failed;    /* frame reads that failed */
    uint32_t open_handles;     /* handles open on the camera now */
    uint32_t pending_triggers;
    uint32_t transfer_timeout_ms;
    uint32_t frame_period_us;  /* frame time for the registers as they are now */
    uint64_t log_dropped;      /* log entries dropped because the log was full */
} ZbxVcamStats;

/* Restores the defaults: every camera removed (open handles stop working,
 * waiting reads fail), then cameras in the default slots in power-on state
 * with default options, no faults, an empty log. */
ZBX_VCAM_API int ZbxVcam_Reset(void);

/* Which slots hold a camera: bit n for slot n. */
ZBX_VCAM_API uint32_t ZbxVcam_GetSlots(void);
/* Attaches fresh cameras to the slots newly set in mask, removes the cameras
 * of slots cleared in it (as ZbxVcam_Reset does), keeps the others. */
ZBX_VCAM_API int ZbxVcam_SetSlots(uint32_t mask);

/* Per camera options. */
ZBX_VCAM_API int ZbxVcam_SetPacing(int slot, int pacing);
ZBX_VCAM_API int ZbxVcam_SetScene(int slot, const ZbxVcamScene* scene);
ZBX_VCAM_API int ZbxVcam_GetScene(int slot, ZbxVcamScene* scene);
/* Replaces the defect list (count 0 clears it). */
ZBX_VCAM_API int ZbxVcam_SetDefects(int slot, const ZbxVcamDefect* defects, int count);

/* Serial ROM, addresses 0 to 0xFFFF.  Identifier bytes start at 0x1800; the
 * configuration byte is 0x1EB0 (default 1).  Unwritten bytes read 0xFF. */
ZBX_VCAM_API int ZbxVcam_SetRomByte(int slot, uint32_t address, uint8_t value);
ZBX_VCAM_API int ZbxVcam_GetRomByte(int slot, uint32_t address, uint8_t* value);

/* Registers as the camera holds them now (setters: as if written by the host). */
ZBX_VCAM_API int ZbxVcam_GetSensorRegister(int slot, uint32_t address, uint16_t* value);
ZBX_VCAM_API int ZbxVcam_SetSensorRegister(int slot, uint32_t address, uint16_t value);
ZBX_VCAM_API int ZbxVcam_GetControllerRegister(int slot, uint32_t number, uint8_t* value);
ZBX_VCAM_API int ZbxVcam_SetControllerRegister(int slot, uint32_t number, uint8_t value);

/* Trigger input.  In trigger mode (controller register 11 = 1) each trigger
 * makes one frame, ready one frame time later (at once when unpaced); up to
 * 64 triggers wait for their reads.  Outside trigger mode triggers are
 * ignored, and switching trigger mode on discards old ones. */
ZBX_VCAM_API int ZbxVcam_FireTrigger(int slot);

/* Faults. */
/* Unplug: opens fail, requests on open handles fail, waiting reads fail.
 * Replug: the camera comes back in power-on state (registers, time-out);
 * its options, ROM, defects, faults and log are kept.  Handles opened
 * before the unplug stay dead. */
ZBX_VCAM_API int ZbxVcam_Unplug(int slot);
ZBX_VCAM_API int ZbxVcam_Replug(int slot);
/* The next n frame reads fail at once (n = 0 cancels). */
ZBX_VCAM_API int ZbxVcam_FailFrameReads(int slot, int n);
/* The next n frame reads deliver half the bytes they would and report that. */
ZBX_VCAM_API int ZbxVcam_ShortFrameReads(int slot, int n);
/* While set, read commands (sensor, controller, serial ROM) or write
 * commands fail: the command packet's request fails and nothing changes. */
ZBX_VCAM_API int ZbxVcam_SetRegisterFaults(int slot, int fail_reads, int fail_writes);
/* While set, no frame is delivered: frame reads wait for the transfer
 * time-out and fail. */
ZBX_VCAM_API int ZbxVcam_StopFrames(int slot, int stop);

/* Request log of one camera, oldest first. */
ZBX_VCAM_API int ZbxVcam_GetLogCount(int slot, uint32_t* count);
ZBX_VCAM_API int ZbxVcam_GetLogEntry(int slot, uint32_t index, ZbxVcamRequest* entry);
ZBX_VCAM_API int ZbxVcam_ClearLog(int slot);

ZBX_VCAM_API int ZbxVcam_GetStats(int slot, ZbxVcamStats* stats);

#ifdef __cplusplus
}
#endif

#endif /* ZORBEX_VCAM_H */
