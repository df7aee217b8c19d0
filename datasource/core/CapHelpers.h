// The data source's exported helper functions: capability accessors for its
// own code and its settings window, unit conversions and tone tables.
// C linkage, visible from the data source module.
#pragma once

#include "CapPool.h"

#define KD_DS_EXPORT extern "C" __attribute__((visibility("default")))

// A capability the pool does not hold is never an error: getters answer 0,
// 0.0 or leave the buffer unchanged, setters change nothing and answer 0.
// Setters answer non-zero when the container accepted the value.
KD_DS_EXPORT TW_UINT32 GetCapUIntValue(CCapPool* pool, TW_UINT16 id);
KD_DS_EXPORT int SetCapUIntValue(CCapPool* pool, TW_UINT16 id, TW_UINT32 value);
KD_DS_EXPORT TW_INT32 GetCapSIntValue(CCapPool* pool, TW_UINT16 id);
KD_DS_EXPORT int SetCapSIntValue(CCapPool* pool, TW_UINT16 id, TW_INT32 value);
KD_DS_EXPORT float GetCapFloatValue(CCapPool* pool, TW_UINT16 id);
KD_DS_EXPORT int SetCapFloatValue(CCapPool* pool, TW_UINT16 id, float value);
// The step of a range capability; 0.0 for other containers.
KD_DS_EXPORT float GetCapStepSize(CCapPool* pool, TW_UINT16 id);
// Strings (TWTY_STR32 to TWTY_STR255) in the counted form: one length byte,
// then the characters; the data source's own string ids hold raw bytes. The
// buffer holds a whole item (34, 66, 130 or 256 bytes): the getter writes,
// the setter reads that many.
KD_DS_EXPORT char* GetCapStrValue(CCapPool* pool, TW_UINT16 id, char* buffer);
KD_DS_EXPORT int SetCapStrValue(CCapPool* pool, TW_UINT16 id, const char* buffer);
// Current value back to the default.
KD_DS_EXPORT int ResetCapValue(CCapPool* pool, TW_UINT16 id);
// The settings record through the pool's hooks. FlatteningCaps answers 0
// (and leaves *data alone) when the pool has no flatten hook.
KD_DS_EXPORT int FlatteningCaps(CCapPool* pool, TW_INT32* version, kdf::Bytes* data);
KD_DS_EXPORT void UnflatteningCaps(CCapPool* pool, const kdf::Bytes* data, TW_INT32 version);

// TW_FIX32 passed as one 32-bit word: low 16 bits the signed whole part,
// high 16 bits the fraction. FloatToFix32 rounds to the nearest 1/65536
// (floor(x * 65536 + 0.5), as the host does); NaN gives 0, values beyond the
// format saturate.
KD_DS_EXPORT TW_UINT32 FloatToFix32(float x);
KD_DS_EXPORT float Fix32ToFloat(TW_UINT32 fix);
// Pixels to inches or centimetres as TW_FIX32 and back; 0 dpi gives 0.
KD_DS_EXPORT TW_UINT32 PixelToInch(TW_UINT32 pixels, TW_UINT32 dpi);
KD_DS_EXPORT TW_UINT32 PixelToCm(TW_UINT32 pixels, TW_UINT32 dpi);
KD_DS_EXPORT TW_INT32 InchToPixel(TW_UINT32 inches, TW_UINT32 dpi);
KD_DS_EXPORT TW_INT32 CmToPixel(TW_UINT32 cm, TW_UINT32 dpi);

// 256-entry tone tables. A gamma that is not positive and finite gives the
// identity.
KD_DS_EXPORT void MakeGammaTable(float gamma, unsigned char* table);
KD_DS_EXPORT void MakeLinearTable(unsigned char* table);
