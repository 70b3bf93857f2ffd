/*
 * The camera's values: every image adjustment value and camera setting with
 * its id, name, accepted range, unit and default, as the library itself
 * checks them.  Tools, language bindings and user interfaces read the list
 * from here instead of keeping their own copy.
 *
 * Image adjustment values (ids 1 to 28, ZBX_ID_* in zorbex.h) are read and
 * written with Zorbex_GetFilterValue and Zorbex_SetFilterValue.  Camera
 * settings (ZBX_SETTING_*) have their own exports, Zorbex_Set<name> and
 * Zorbex_Get<name> (for example Zorbex_SetMirrorH).  None of these calls
 * needs a session; the text they return is static, NUL-terminated UTF-8 that
 * stays valid for the life of the process.
 */
#ifndef ZORBEX_VALUES_H
#define ZORBEX_VALUES_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ZBX_VALUES_API __attribute__((visibility("default")))
#else
#define ZBX_VALUES_API
#endif

/* Camera settings that have their own exports rather than a filter value id. */
#define ZBX_SETTING_MIRROR_H 101
#define ZBX_SETTING_MIRROR_V 102
#define ZBX_SETTING_AUTO_IRIS 103
#define ZBX_SETTING_DEFECT_CORRECTION 104

/* ZbxValueInfo.flags */
#define ZBX_VALUE_PACKED 0x01    /* three 8-bit parts, red | green << 8 | blue << 16; any value accepted */
#define ZBX_VALUE_SWITCH 0x02    /* any value accepted, stored as 1 when not 0, else 0 */
#define ZBX_VALUE_DERIVED 0x04   /* follows other values (not restored to a default on its own) */
#define ZBX_VALUE_AUTOMATIC 0x08 /* an automatic control that may change other values while on */
#define ZBX_VALUE_SENSOR 0x10    /* read back from the sensor, not from what was stored */

typedef struct ZbxValueInfo {
    int id;               /* ZBX_ID_* (1 to 28) or ZBX_SETTING_* */
    const char* name;     /* e.g. "Brightness": the name of its exports, where it has them */
    int min;              /* the range the setter accepts, both ends included */
    int max;
    int default_value;    /* what the camera starts with when nothing was saved */
    int flags;            /* ZBX_VALUE_* */
    const char* unit;     /* short unit of the number ("lines", "percent"), or "" */
    const char* meaning;  /* what the number means, one phrase */
} ZbxValueInfo;

/* The number of entries: the image adjustment values in id order, then the
 * camera settings. */
ZBX_VALUES_API int ZbxValues_Count(void);

/* Fills *info with entry `index` (0 to ZbxValues_Count() - 1); 1, or 0 for
 * an index outside the table or a null info (then nothing is written). */
ZBX_VALUES_API int ZbxValues_At(int index, ZbxValueInfo* info);

/* The index of the entry named `name`, compared without regard to letter
 * case, '_' and '-' ("BayerGainRGB", "bayer_gain_rgb" and "bayer-gain-rgb"
 * name the same entry); -1 when there is none or name is null. */
ZBX_VALUES_API int ZbxValues_Find(const char* name);

/* The index of the entry with id `id`; -1 when there is none. */
ZBX_VALUES_API int ZbxValues_FindId(int id);

#ifdef __cplusplus
}
#endif

#endif /* ZORBEX_VALUES_H */
