#include "Capability.h"

#include "twain/fix32.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

template <typename T> T load(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename T> void store(std::uint8_t* p, T v) { std::memcpy(p, &v, sizeof v); }

// The manager's memory functions, copied at DAT_ENTRYPOINT.
struct NativeMemory {
    DSM_MEMALLOCATE allocate = nullptr;
    DSM_MEMFREE free = nullptr;
    DSM_MEMLOCK lock = nullptr;
    DSM_MEMUNLOCK unlock = nullptr;
};
NativeMemory gMemory;

constexpr std::size_t kMaxItemSize = 256;

} // namespace

// ---- FIX32 -------------------------------------------------------------------------

TW_UINT32 FloatToFix32Word(float x) {
    // The host converts the same way, so values read back and written again
    // stay put.
    return TwFix32Word(TwFix32FromFloat(x));
}

float Fix32WordToFloat(TW_UINT32 word) {
    const auto whole = static_cast<std::int16_t>(word & 0xFFFF);
    const auto frac = static_cast<std::uint16_t>(word >> 16);
    return static_cast<float>(whole) + static_cast<float>(frac) / 65536.0f;
}

// ---- Native memory -----------------------------------------------------------------

void SetNativeMemoryEntryPoints(const TW_ENTRYPOINT* entry) {
    gMemory = NativeMemory{};
    if (entry && entry->DSM_MemAllocate && entry->DSM_MemFree) {
        gMemory.allocate = entry->DSM_MemAllocate;
        gMemory.free = entry->DSM_MemFree;
        gMemory.lock = entry->DSM_MemLock;
        gMemory.unlock = entry->DSM_MemUnlock;
    }
}

TW_HANDLE NativeMemoryAllocate(std::size_t size) {
    if (size == 0 || size > UINT32_MAX) return nullptr;
    if (!gMemory.allocate) return std::calloc(size, 1);
    TW_HANDLE handle = gMemory.allocate(static_cast<TW_UINT32>(size));
    if (!handle) return nullptr;
    // Zero-fill whatever the manager gave, so records compare byte for byte.
    if (void* p = NativeMemoryLock(handle)) {
        std::memset(p, 0, size);
        NativeMemoryUnlock(handle);
    }
    return handle;
}

void NativeMemoryFree(TW_HANDLE handle) {
    if (!handle) return;
    if (gMemory.free)
        gMemory.free(handle);
    else
        std::free(handle);
}

void* NativeMemoryLock(TW_HANDLE handle) {
    if (!handle) return nullptr;
    return gMemory.lock ? gMemory.lock(handle) : handle;
}

void NativeMemoryUnlock(TW_HANDLE handle) {
    if (handle && gMemory.unlock) gMemory.unlock(handle);
}

std::size_t NativeOneValueSize(std::size_t itemSize) {
    return kTwOneValueItemOffset + std::max<std::size_t>(itemSize, sizeof(TW_UINT32));
}

// ---- CCapability -------------------------------------------------------------------

std::size_t CCapability::GetItemSize(TW_UINT16 itemType) {
    switch (itemType) {
    case TWTY_INT8:
    case TWTY_UINT8: return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL: return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
    case TWTY_FLOAT32: return 4;
    case TWTY_FRAME: return sizeof(TW_FRAME);
    case TWTY_STR32: return sizeof(TW_STR32);
    case TWTY_STR64: return sizeof(TW_STR64);
    case TWTY_STR128: return sizeof(TW_STR128);
    case TWTY_STR255: return sizeof(TW_STR255);
    default: return 0;
    }
}

TW_HANDLE CCapability::CreateNativeContainer() const {
    CapBytes record;
    try {
        if (!BuildNativeRecord(record)) return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    TW_HANDLE handle = NativeMemoryAllocate(record.size());
    if (!handle) return nullptr;
    void* p = NativeMemoryLock(handle);
    if (!p) {
        NativeMemoryFree(handle);
        return nullptr;
    }
    std::memcpy(p, record.data(), record.size());
    NativeMemoryUnlock(handle);
    return handle;
}

void CCapability::EncodeHostItem(const std::uint8_t* item, std::uint8_t* out) const {
    if (itemType_ == TWTY_FLOAT32) {
        store(out, FloatToFix32Word(load<float>(item)));
    } else if (IsStringType(itemType_) && hostStringsTerminated_) {
        const std::size_t size = ItemSize();
        const std::size_t length = std::min<std::size_t>(item[0], size - 1);
        std::memcpy(out, item + 1, length); // the rest stays zero: the terminator
    } else {
        std::memcpy(out, item, ItemSize());
    }
}

TW_UINT16 CCapability::AcceptsNativeContainer(TW_UINT16 containerType, TW_HANDLE handle) {
    if (readOnly_) return TWCC_CAPBADOPERATION;
    if (!handle) return TWCC_BADVALUE;
    const void* record = NativeMemoryLock(handle);
    const TW_UINT16 cc = AcceptsNativeRecord(containerType, record, SIZE_MAX);
    NativeMemoryUnlock(handle);
    return cc;
}

TW_UINT16 CCapability::AcceptsNativeRecord(TW_UINT16 containerType, const void* recordPtr, std::size_t size) {
    if (readOnly_) return TWCC_CAPBADOPERATION;
    const auto* record = static_cast<const std::uint8_t*>(recordPtr);
    if (!record || size < sizeof(TW_UINT16)) return TWCC_BADVALUE;
    const auto recordType = load<TW_UINT16>(record);
    const bool typeFits = recordType == itemType_ || (itemType_ == TWTY_FLOAT32 && recordType == TWTY_FIX32);
    if (!typeFits) return TWCC_BADVALUE;
    const std::size_t hostSize = GetItemSize(recordType);
    if (hostSize == 0) return TWCC_BADVALUE;

    std::size_t at = 0;
    switch (containerType) {
    case TWON_ONEVALUE: at = kTwOneValueItemOffset; break;
    case TWON_ENUMERATION: {
        if (size < kTwEnumerationItemListOffset) return TWCC_BADVALUE;
        const auto count = load<TW_UINT32>(record + kNativeEnumCountOffset);
        const auto index = load<TW_UINT32>(record + kNativeEnumCurrentOffset);
        const auto defaultIndex = load<TW_UINT32>(record + kNativeEnumDefaultOffset);
        // The host's count and indexes decide where the item is read: a
        // count no real list reaches, or an index outside the list, is a
        // lie about the record, and nothing of it is read.
        if (count == 0 || count > kMaxNativeListItems || index >= count || defaultIndex >= count)
            return TWCC_BADVALUE;
        at = kTwEnumerationItemListOffset + std::size_t(index) * hostSize;
        break;
    }
    case TWON_RANGE:
        if (hostSize > sizeof(TW_UINT32) || size < kNativeRangeSize || !RangeRecordConsistent(record, recordType))
            return TWCC_BADVALUE;
        at = kNativeRangeCurrentOffset;
        break;
    default: return TWCC_BADVALUE;
    }
    if (at > size || size - at < hostSize) return TWCC_BADVALUE;
    const std::uint8_t* hostItem = record + at;

    if (itemType_ == TWTY_FLOAT32 && recordType == TWTY_FIX32)
        return WriteValue(Fix32WordToFloat(load<TW_UINT32>(hostItem))) ? TWCC_SUCCESS : TWCC_BADVALUE;

    std::uint8_t item[kMaxItemSize] = {};
    if (IsStringType(itemType_) && hostStringsTerminated_) {
        // Accept our own host's counted form (first byte below the item
        // size) as well as the standard terminated text.
        if (hostItem[0] < hostSize) {
            item[0] = hostItem[0];
            std::memcpy(item + 1, hostItem + 1, hostItem[0]);
        } else {
            const auto* end = static_cast<const std::uint8_t*>(std::memchr(hostItem, 0, hostSize));
            if (!end) return TWCC_BADVALUE; // unterminated
            const auto length = static_cast<std::size_t>(end - hostItem);
            item[0] = static_cast<std::uint8_t>(length);
            std::memcpy(item + 1, hostItem, length);
        }
    } else {
        std::memcpy(item, hostItem, hostSize);
    }
    return SetValue(item, kCapCurrent) ? TWCC_SUCCESS : TWCC_BADVALUE;
}

namespace {

// A numeric item of the type read as a number: integers exactly, FIX32 and
// float as doubles. False for frames, strings and unknown types.
bool LoadNumber(TW_UINT16 type, const std::uint8_t* item, bool* isInteger, std::int64_t* integer, double* real) {
    *isInteger = true;
    switch (type) {
    case TWTY_INT8: *integer = load<std::int8_t>(item); return true;
    case TWTY_INT16: *integer = load<std::int16_t>(item); return true;
    case TWTY_INT32: *integer = load<std::int32_t>(item); return true;
    case TWTY_UINT8: *integer = load<std::uint8_t>(item); return true;
    case TWTY_UINT16:
    case TWTY_BOOL: *integer = load<std::uint16_t>(item); return true;
    case TWTY_UINT32: *integer = load<std::uint32_t>(item); return true;
    case TWTY_FIX32:
        *isInteger = false;
        *real = Fix32WordToFloat(load<TW_UINT32>(item));
        return true;
    case TWTY_FLOAT32:
        *isInteger = false;
        *real = load<float>(item);
        return true;
    default: return false;
    }
}

} // namespace

bool CCapability::RangeRecordConsistent(const std::uint8_t* record, TW_UINT16 recordType) {
    // Each field is one 32-bit slot holding an item of the record's type.
    auto field = [&](std::size_t offset, double* out) {
        bool isInteger = false;
        std::int64_t integer = 0;
        double real = 0;
        if (recordType == TWTY_FLOAT32 || !LoadNumber(recordType, record + offset, &isInteger, &integer, &real))
            return false;
        *out = isInteger ? static_cast<double>(integer) : real;
        return true;
    };
    double minimum = 0, maximum = 0, step = 0, current = 0;
    if (!field(offsetof(TW_RANGE, MinValue), &minimum) || !field(offsetof(TW_RANGE, MaxValue), &maximum) ||
        !field(offsetof(TW_RANGE, StepSize), &step) || !field(offsetof(TW_RANGE, CurrentValue), &current))
        return false;
    return minimum <= maximum && step > 0 && minimum <= current && current <= maximum;
}

bool CCapability::ItemAsNumber(const std::uint8_t* item, bool* isInteger, std::int64_t* integer,
                               double* real) const {
    return LoadNumber(itemType_, item, isInteger, integer, real);
}

bool CCapability::ReadNumber(ECapProperty property, bool* isInteger, std::int64_t* integer, double* real) const {
    const std::size_t size = ItemSize();
    if (size == 0 || size > sizeof(TW_UINT32)) return false;
    std::uint8_t item[sizeof(TW_UINT32)] = {};
    if (!GetValue(item, property)) return false;
    return ItemAsNumber(item, isInteger, integer, real);
}

bool CCapability::WriteInteger(std::int64_t value, ECapProperty property) {
    std::uint8_t item[sizeof(TW_UINT32)] = {};
    switch (itemType_) {
    case TWTY_INT8:
    case TWTY_UINT8: store(item, static_cast<std::uint8_t>(value)); break;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL: store(item, static_cast<std::uint16_t>(value)); break;
    case TWTY_INT32:
    case TWTY_UINT32: store(item, static_cast<std::uint32_t>(value)); break;
    case TWTY_FIX32: store(item, FloatToFix32Word(static_cast<float>(value))); break;
    case TWTY_FLOAT32: store(item, static_cast<float>(value)); break;
    default: return false;
    }
    return SetValue(item, property);
}

bool CCapability::WriteReal(double value, ECapProperty property) {
    using kdcap_detail::SaturateReal;
    if (std::isnan(value)) return false;
    if (std::isfinite(value)) value = std::clamp(value, -double(FLT_MAX), double(FLT_MAX));
    std::uint8_t item[sizeof(TW_UINT32)] = {};
    switch (itemType_) {
    case TWTY_INT8: store(item, SaturateReal<std::int8_t>(value)); break;
    case TWTY_UINT8: store(item, SaturateReal<std::uint8_t>(value)); break;
    case TWTY_INT16: store(item, SaturateReal<std::int16_t>(value)); break;
    case TWTY_UINT16:
    case TWTY_BOOL: store(item, SaturateReal<std::uint16_t>(value)); break;
    case TWTY_INT32: store(item, SaturateReal<std::int32_t>(value)); break;
    case TWTY_UINT32: store(item, SaturateReal<std::uint32_t>(value)); break;
    case TWTY_FIX32: store(item, FloatToFix32Word(static_cast<float>(value))); break;
    case TWTY_FLOAT32: store(item, static_cast<float>(value)); break;
    default: return false;
    }
    return SetValue(item, property);
}

// ---- CCapOneValue ------------------------------------------------------------------

CCapOneValue::CCapOneValue(TW_UINT16 itemType, bool readOnly, const void* current, const void* defaultValue)
    : CCapability(itemType, readOnly), values_(2 * ItemSize()) {
    const std::size_t size = ItemSize();
    if (current && size) std::memcpy(values_.data(), current, size);
    if (defaultValue && size) std::memcpy(values_.data() + size, defaultValue, size);
}

CCapOneValue::CCapOneValue(TW_UINT16 itemType, bool readOnly, const void* values, int count)
    : CCapability(itemType, readOnly), values_(std::size_t(count) * ItemSize()) {
    if (values && !values_.empty()) std::memcpy(values_.data(), values, values_.size());
}

CCapability* CCapOneValue::Duplicate() const { return new (std::nothrow) CCapOneValue(*this); }

std::uint8_t* CCapOneValue::Slot(ECapProperty property) {
    if (ItemSize() == 0 || property < 0 || property >= SlotCount()) return nullptr;
    return values_.data() + std::size_t(property) * ItemSize();
}

const std::uint8_t* CCapOneValue::Slot(ECapProperty property) const {
    return const_cast<CCapOneValue*>(this)->Slot(property);
}

bool CCapOneValue::GetValue(void* item, ECapProperty property) const {
    const std::uint8_t* slot = Slot(property);
    if (!slot || !item) return false;
    std::memcpy(item, slot, ItemSize());
    return true;
}

bool CCapOneValue::SetValue(const void* item, ECapProperty property) {
    std::uint8_t* slot = Slot(property);
    if (!slot || !item) return false;
    std::memcpy(slot, item, ItemSize());
    return true;
}

void CCapOneValue::Reset() {
    if (SlotCount() >= 2) std::memcpy(Slot(kCapCurrent), Slot(kCapDefault), ItemSize());
}

bool CCapOneValue::BuildNativeRecord(CapBytes& record) const {
    const std::size_t hostSize = HostItemSize();
    if (hostSize == 0) return false;
    record.assign(NativeOneValueSize(hostSize), 0);
    store(record.data(), HostItemType());
    EncodeHostItem(Slot(kCapCurrent), record.data() + kTwOneValueItemOffset);
    return true;
}

// ---- CCapRange ---------------------------------------------------------------------

CCapRange::CCapRange(TW_UINT16 itemType, bool readOnly, const void* values)
    : CCapOneValue(itemType, readOnly, values, 5) {}

CCapability* CCapRange::Duplicate() const { return new (std::nothrow) CCapRange(*this); }

bool CCapRange::SetValue(const void* item, ECapProperty property) {
    if (!item) return false;
    bool isInteger = false;
    std::int64_t integer = 0;
    double real = 0;
    auto number = [&](const std::uint8_t* p, double* out) {
        if (!ItemAsNumber(p, &isInteger, &integer, &real)) return false;
        *out = isInteger ? static_cast<double>(integer) : real;
        return true;
    };
    double value = 0, maximum = 0, minimum = 0;
    if (!number(static_cast<const std::uint8_t*>(item), &value) || !number(Slot(kCapMaximum), &maximum) ||
        !number(Slot(kCapMinimum), &minimum))
        return false;
    if (!(minimum <= value && value <= maximum)) return false; // NaN fails too
    return CCapOneValue::SetValue(item, property);
}

bool CCapRange::BuildNativeRecord(CapBytes& record) const {
    const std::size_t hostSize = HostItemSize();
    if (hostSize == 0 || hostSize > sizeof(TW_UINT32)) return false;
    record.assign(kNativeRangeSize, 0);
    store(record.data(), HostItemType());
    const std::pair<ECapProperty, std::size_t> fields[] = {
        {kCapMinimum, offsetof(TW_RANGE, MinValue)},   {kCapMaximum, offsetof(TW_RANGE, MaxValue)},
        {kCapStep, offsetof(TW_RANGE, StepSize)},      {kCapDefault, offsetof(TW_RANGE, DefaultValue)},
        {kCapCurrent, offsetof(TW_RANGE, CurrentValue)},
    };
    for (const auto& [property, offset] : fields) EncodeHostItem(Slot(property), record.data() + offset);
    return true;
}

// ---- CCapArray ---------------------------------------------------------------------

CCapArray::CCapArray(TW_UINT16 itemType, bool readOnly, const void* items, std::size_t count)
    : CCapability(itemType, readOnly), items_(count * ItemSize()) {
    if (items && !items_.empty()) std::memcpy(items_.data(), items, items_.size());
}

CCapability* CCapArray::Duplicate() const { return new (std::nothrow) CCapArray(*this); }

std::size_t CCapArray::GetValueCount() const { return ItemSize() ? items_.size() / ItemSize() : 0; }

bool CCapArray::GetValueAtIndex(std::size_t index, void* item) const {
    if (!item || index >= GetValueCount()) return false;
    std::memcpy(item, ItemAt(index), ItemSize());
    return true;
}

bool CCapArray::GetValue(void*, ECapProperty) const { return false; }

bool CCapArray::SetValue(const void* item, ECapProperty) {
    const std::size_t size = ItemSize();
    if (!item || size == 0) return false;
    for (std::size_t i = 0; i < GetValueCount(); ++i)
        if (std::memcmp(ItemAt(i), item, size) == 0) return true;
    const auto* bytes = static_cast<const std::uint8_t*>(item);
    items_.insert(items_.end(), bytes, bytes + size);
    return true;
}

bool CCapArray::BuildItems(CapBytes& record, std::size_t offset) const {
    const std::size_t hostSize = HostItemSize();
    const std::size_t count = GetValueCount();
    if (hostSize == 0 || count > UINT32_MAX) return false;
    record.assign(offset + count * hostSize, 0);
    store(record.data(), HostItemType());
    store(record.data() + kNativeArrayCountOffset, static_cast<TW_UINT32>(count));
    for (std::size_t i = 0; i < count; ++i) EncodeHostItem(ItemAt(i), record.data() + offset + i * hostSize);
    return true;
}

bool CCapArray::BuildNativeRecord(CapBytes& record) const { return BuildItems(record, kTwArrayItemListOffset); }

// ---- CCapEnum ----------------------------------------------------------------------

CCapEnum::CCapEnum(TW_UINT16 itemType, bool readOnly, const void* items, std::size_t count,
                   std::size_t currentIndex, std::size_t defaultIndex)
    : CCapArray(itemType, readOnly, items, count), current_(currentIndex), default_(defaultIndex) {}

CCapability* CCapEnum::Duplicate() const { return new (std::nothrow) CCapEnum(*this); }

bool CCapEnum::SetCurrentIndex(std::size_t index) {
    if (index >= GetValueCount()) return false;
    current_ = index;
    return true;
}

bool CCapEnum::GetValue(void* item, ECapProperty property) const {
    if (property != kCapCurrent && property != kCapDefault) return false;
    return GetValueAtIndex(property == kCapDefault ? default_ : current_, item);
}

bool CCapEnum::Matches(const std::uint8_t* listed, const std::uint8_t* item) const {
    const std::size_t size = ItemSize();
    if (IsStringType(ItemType()))
        return listed[0] == item[0] && item[0] < size && std::memcmp(listed + 1, item + 1, item[0]) == 0;
    return std::memcmp(listed, item, size) == 0;
}

bool CCapEnum::SetValue(const void* item, ECapProperty property) {
    if (!item || (property != kCapCurrent && property != kCapDefault)) return false;
    for (std::size_t i = 0; i < GetValueCount(); ++i) {
        if (Matches(ItemAt(i), static_cast<const std::uint8_t*>(item))) {
            (property == kCapDefault ? default_ : current_) = i;
            return true;
        }
    }
    return false;
}

bool CCapEnum::BuildNativeRecord(CapBytes& record) const {
    if (!BuildItems(record, kTwEnumerationItemListOffset)) return false;
    store(record.data() + kNativeEnumCurrentOffset, static_cast<TW_UINT32>(current_));
    store(record.data() + kNativeEnumDefaultOffset, static_cast<TW_UINT32>(default_));
    return true;
}
