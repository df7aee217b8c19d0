#include "CapHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Saturating conversion of a pixel count computed in floating point.
TW_INT32 ToPixels(double value) {
    if (std::isnan(value)) return 0;
    value = std::clamp(value, static_cast<double>(INT32_MIN), static_cast<double>(INT32_MAX));
    return static_cast<TW_INT32>(value); // truncates toward zero
}

template <typename T> T Get(CCapPool* pool, TW_UINT16 id) {
    CCapability* cap = pool ? pool->GetCapability(id) : nullptr;
    T value{};
    if (!cap || !cap->ReadValue(&value)) return T{};
    return value;
}

template <typename T> int Set(CCapPool* pool, TW_UINT16 id, T value) {
    CCapability* cap = pool ? pool->GetCapability(id) : nullptr;
    return cap && cap->WriteValue(value) ? 1 : 0;
}

CCapability* StringCap(CCapPool* pool, TW_UINT16 id) {
    CCapability* cap = pool ? pool->GetCapability(id) : nullptr;
    return cap && CCapability::IsStringType(cap->ItemType()) ? cap : nullptr;
}

} // namespace

TW_UINT32 GetCapUIntValue(CCapPool* pool, TW_UINT16 id) { return Get<TW_UINT32>(pool, id); }
int SetCapUIntValue(CCapPool* pool, TW_UINT16 id, TW_UINT32 value) { return Set(pool, id, value); }
TW_INT32 GetCapSIntValue(CCapPool* pool, TW_UINT16 id) { return Get<TW_INT32>(pool, id); }
int SetCapSIntValue(CCapPool* pool, TW_UINT16 id, TW_INT32 value) { return Set(pool, id, value); }
float GetCapFloatValue(CCapPool* pool, TW_UINT16 id) { return Get<float>(pool, id); }
int SetCapFloatValue(CCapPool* pool, TW_UINT16 id, float value) { return Set(pool, id, value); }

float GetCapStepSize(CCapPool* pool, TW_UINT16 id) {
    CCapability* cap = pool ? pool->GetCapability(id) : nullptr;
    float step = 0;
    if (!cap || cap->GetContainerType() != TWON_RANGE || !cap->ReadValue(&step, kCapStep)) return 0;
    return step;
}

char* GetCapStrValue(CCapPool* pool, TW_UINT16 id, char* buffer) {
    CCapability* cap = StringCap(pool, id);
    if (cap && buffer) {
        // Read into a scratch item first so a failed read leaves the buffer.
        char item[sizeof(TW_STR255)];
        if (cap->GetValue(item, kCapCurrent)) std::memcpy(buffer, item, cap->ItemSize());
    }
    return buffer;
}

int SetCapStrValue(CCapPool* pool, TW_UINT16 id, const char* buffer) {
    CCapability* cap = StringCap(pool, id);
    return cap && buffer && cap->SetValue(buffer, kCapCurrent) ? 1 : 0;
}

int ResetCapValue(CCapPool* pool, TW_UINT16 id) {
    CCapability* cap = pool ? pool->GetCapability(id) : nullptr;
    if (!cap) return 0;
    cap->Reset();
    return 1;
}

int FlatteningCaps(CCapPool* pool, TW_INT32* version, kdf::Bytes* data) {
    if (!pool) return 0;
    TW_INT32 made = 0;
    std::optional<kdf::Bytes> record = pool->Flatten(&made);
    if (!record) return 0;
    if (version) *version = made;
    if (data) *data = std::move(*record);
    return 1;
}

void UnflatteningCaps(CCapPool* pool, const kdf::Bytes* data, TW_INT32 version) {
    if (pool && data) pool->Unflatten(*data, version);
}

TW_UINT32 FloatToFix32(float x) { return FloatToFix32Word(x); }
float Fix32ToFloat(TW_UINT32 fix) { return Fix32WordToFloat(fix); }

TW_UINT32 PixelToInch(TW_UINT32 pixels, TW_UINT32 dpi) {
    if (dpi == 0) return 0;
    return FloatToFix32(static_cast<float>(pixels) / static_cast<float>(dpi));
}

TW_UINT32 PixelToCm(TW_UINT32 pixels, TW_UINT32 dpi) {
    if (dpi == 0) return 0;
    return FloatToFix32(static_cast<float>(pixels) / static_cast<float>(dpi) * 2.54f);
}

TW_INT32 InchToPixel(TW_UINT32 inches, TW_UINT32 dpi) {
    return ToPixels(static_cast<double>(static_cast<float>(dpi) * Fix32ToFloat(inches)));
}

TW_INT32 CmToPixel(TW_UINT32 cm, TW_UINT32 dpi) {
    return ToPixels(static_cast<double>(static_cast<float>(dpi) * (Fix32ToFloat(cm) / 2.54f)));
}

void MakeGammaTable(float gamma, unsigned char* table) {
    if (!table) return;
    if (!(gamma > 0) || !std::isfinite(gamma)) {
        MakeLinearTable(table);
        return;
    }
    const float exponent = 1.0f / gamma;
    for (int i = 0; i < 256; ++i) {
        const float v = 255.0f * std::pow(static_cast<float>(i) / 255.0f, exponent);
        table[i] = static_cast<unsigned char>(std::clamp(v, 0.0f, 255.0f));
    }
}

void MakeLinearTable(unsigned char* table) {
    if (!table) return;
    for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(i);
}
