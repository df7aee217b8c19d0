// Capability containers: one value, range, array and enumeration, holding a
// capability's values in the data source's own item representation and
// converting them to and from the host's TWAIN container records.
#pragma once

#include "twain/twain.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

// The data source's own item type: a 32-bit float that hosts see as TW_FIX32.
inline constexpr TW_UINT16 TWTY_FLOAT32 = 0x0100;

// Which value of a container an operation addresses.
enum ECapProperty : int { kCapCurrent = 0, kCapDefault = 1, kCapMaximum = 2, kCapMinimum = 3, kCapStep = 4 };

// ---- TW_FIX32 as one 32-bit word: low 16 bits the signed whole part, high 16
// bits the fraction (the in-memory order of TW_FIX32 on this platform).
TW_UINT32 FloatToFix32Word(float x);
float Fix32WordToFloat(TW_UINT32 word);

// ---- Memory handles of the native container records ------------------------------
// Handles come from the manager's DSM_MemAllocate once the data source was
// given the manager's entry points (DAT_ENTRYPOINT), else from calloc. Pass
// null to go back to calloc.
void SetNativeMemoryEntryPoints(const TW_ENTRYPOINT* entry);
TW_HANDLE NativeMemoryAllocate(std::size_t size); // zero-filled; null on failure
void NativeMemoryFree(TW_HANDLE handle);
void* NativeMemoryLock(TW_HANDLE handle);
void NativeMemoryUnlock(TW_HANDLE handle);

// Sizes of the native records in the Linux layout.
std::size_t NativeOneValueSize(std::size_t itemSize);
inline constexpr std::size_t kNativeRangeSize = sizeof(TW_RANGE);
inline constexpr std::size_t kNativeRangeCurrentOffset = offsetof(TW_RANGE, CurrentValue);
inline constexpr std::size_t kNativeEnumCountOffset = offsetof(TW_ENUMERATION, NumItems);
inline constexpr std::size_t kNativeEnumCurrentOffset = offsetof(TW_ENUMERATION, CurrentIndex);
inline constexpr std::size_t kNativeEnumDefaultOffset = offsetof(TW_ENUMERATION, DefaultIndex);
inline constexpr std::size_t kNativeArrayCountOffset = offsetof(TW_ARRAY, NumItems);
// The most items a host's list record may claim. Far above any list a
// capability offers (the longest holds a few dozen ids); a count above it
// is refused before any item is read.
inline constexpr TW_UINT32 kMaxNativeListItems = 1024;

using CapBytes = std::vector<std::uint8_t>;

class CCapability {
public:
    CCapability(TW_UINT16 itemType, bool readOnly) : itemType_(itemType), readOnly_(readOnly) {}
    virtual ~CCapability() = default;
    CCapability(const CCapability&) = default;
    CCapability& operator=(const CCapability&) = delete;

    // Item sizes in bytes; 0 for an unknown type.
    static std::size_t GetItemSize(TW_UINT16 itemType);
    static bool IsStringType(TW_UINT16 itemType) { return itemType >= TWTY_STR32 && itemType <= TWTY_STR255; }

    virtual TW_UINT16 GetContainerType() const = 0;
    // A copy with the same type, flags and values; null when memory runs out.
    virtual CCapability* Duplicate() const = 0;
    // Copy one item (GetItemSize bytes) out of / into the container.
    virtual bool GetValue(void* item, ECapProperty property) const = 0;
    virtual bool SetValue(const void* item, ECapProperty property) = 0;
    virtual void Reset() = 0;

    // A new zero-filled handle holding the host's TWAIN record; null when no
    // handle could be made. Free it with NativeMemoryFree.
    TW_HANDLE CreateNativeContainer() const;
    // The same record as bytes.
    virtual bool BuildNativeRecord(CapBytes& record) const = 0;

    // Takes the current value from a host's container record of the given
    // kind; answers a TWAIN condition code (TWCC_SUCCESS when accepted).
    // An enumeration must claim 1 to kMaxNativeListItems items with its
    // current and default indexes inside them; a range needs minimum <=
    // current <= maximum and a positive step. Anything else is TWCC_BADVALUE
    // with the value unchanged. The handle form trusts the host to have
    // allocated the record it describes; the sized form never reads past
    // size bytes.
    TW_UINT16 AcceptsNativeContainer(TW_UINT16 containerType, TW_HANDLE handle);
    TW_UINT16 AcceptsNativeRecord(TW_UINT16 containerType, const void* record, std::size_t size);

    // Typed access for the data source's code. Frames and strings cannot be
    // read or written this way. NaN is refused; other values out of the
    // target's range saturate.
    template <typename T> bool ReadValue(T* out, ECapProperty property = kCapCurrent) const;
    template <typename T> bool WriteValue(T value, ECapProperty property = kCapCurrent);

    TW_UINT16 ItemType() const { return itemType_; }
    std::size_t ItemSize() const { return GetItemSize(itemType_); }
    bool IsReadOnly() const { return readOnly_; }

    // Standard TWAIN string capabilities travel to and from hosts as
    // NUL-terminated text; the data source's own string ids carry raw bytes.
    // Inside the data source strings are always counted (length byte first).
    void SetHostStringsTerminated(bool on) { hostStringsTerminated_ = on; }
    bool HostStringsTerminated() const { return hostStringsTerminated_; }

protected:
    // Writes one stored item in the host's form at out (GetItemSize of the
    // host's item type bytes, zero-filled by the caller).
    void EncodeHostItem(const std::uint8_t* item, std::uint8_t* out) const;
    TW_UINT16 HostItemType() const { return itemType_ == TWTY_FLOAT32 ? TWTY_FIX32 : itemType_; }
    std::size_t HostItemSize() const { return GetItemSize(HostItemType()); }

private:
    // A host's range record whose minimum, maximum, step and current value
    // agree with each other.
    static bool RangeRecordConsistent(const std::uint8_t* record, TW_UINT16 recordType);
    // A numeric item read as a number: integers exactly, FIX32 and float as
    // doubles. False for frames, strings and unknown types.
    bool ItemAsNumber(const std::uint8_t* item, bool* isInteger, std::int64_t* integer, double* real) const;
    bool ReadNumber(ECapProperty property, bool* isInteger, std::int64_t* integer, double* real) const;
    bool WriteInteger(std::int64_t value, ECapProperty property);
    bool WriteReal(double value, ECapProperty property);

    TW_UINT16 itemType_;
    bool readOnly_;
    bool hostStringsTerminated_ = false;

    friend class CCapRange;
};

class CCapOneValue : public CCapability {
public:
    CCapOneValue(TW_UINT16 itemType, bool readOnly, const void* current, const void* defaultValue);
    TW_UINT16 GetContainerType() const override { return TWON_ONEVALUE; }
    CCapability* Duplicate() const override;
    bool GetValue(void* item, ECapProperty property) const override;
    bool SetValue(const void* item, ECapProperty property) override;
    void Reset() override;
    bool BuildNativeRecord(CapBytes& record) const override;

protected:
    CCapOneValue(TW_UINT16 itemType, bool readOnly, const void* values, int count);
    std::uint8_t* Slot(ECapProperty property);
    const std::uint8_t* Slot(ECapProperty property) const;
    int SlotCount() const { return static_cast<int>(values_.size() / ItemSize()); }

private:
    CapBytes values_; // current, default[, maximum, minimum, step]
};

class CCapRange : public CCapOneValue {
public:
    // values: five consecutive items, current, default, maximum, minimum, step.
    CCapRange(TW_UINT16 itemType, bool readOnly, const void* values);
    TW_UINT16 GetContainerType() const override { return TWON_RANGE; }
    CCapability* Duplicate() const override;
    bool SetValue(const void* item, ECapProperty property) override;
    bool BuildNativeRecord(CapBytes& record) const override;
};

class CCapArray : public CCapability {
public:
    CCapArray(TW_UINT16 itemType, bool readOnly, const void* items, std::size_t count);
    TW_UINT16 GetContainerType() const override { return TWON_ARRAY; }
    CCapability* Duplicate() const override;
    bool GetValueAtIndex(std::size_t index, void* item) const;
    std::size_t GetValueCount() const;
    // Appends the item unless an equal one is listed; always accepts.
    bool GetValue(void* item, ECapProperty property) const override;
    bool SetValue(const void* item, ECapProperty property) override;
    void Reset() override {}
    bool BuildNativeRecord(CapBytes& record) const override;

protected:
    const std::uint8_t* ItemAt(std::size_t index) const { return items_.data() + index * ItemSize(); }
    bool BuildItems(CapBytes& record, std::size_t offset) const;

private:
    CapBytes items_;
};

class CCapEnum : public CCapArray {
public:
    CCapEnum(TW_UINT16 itemType, bool readOnly, const void* items, std::size_t count, std::size_t currentIndex,
             std::size_t defaultIndex);
    TW_UINT16 GetContainerType() const override { return TWON_ENUMERATION; }
    CCapability* Duplicate() const override;
    std::size_t GetCurrentIndex() const { return current_; }
    std::size_t GetDefaultIndex() const { return default_; }
    // Refuses an index outside the list.
    bool SetCurrentIndex(std::size_t index);
    bool GetValue(void* item, ECapProperty property) const override;
    // Selects the listed item equal to the given one; refuses others.
    bool SetValue(const void* item, ECapProperty property) override;
    void Reset() override { current_ = default_; }
    bool BuildNativeRecord(CapBytes& record) const override;

private:
    bool Matches(const std::uint8_t* listed, const std::uint8_t* item) const;
    std::size_t current_;
    std::size_t default_;
};

// ---- Typed access ------------------------------------------------------------------

namespace kdcap_detail {
template <typename T> T SaturateReal(double v) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(v);
    } else {
        constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
        constexpr double hi = static_cast<double>(std::numeric_limits<T>::max());
        if (v <= lo) return std::numeric_limits<T>::min();
        if (v >= hi) return std::numeric_limits<T>::max();
        return static_cast<T>(v); // truncates toward zero
    }
}
} // namespace kdcap_detail

template <typename T> bool CCapability::ReadValue(T* out, ECapProperty property) const {
    static_assert(std::is_arithmetic_v<T>);
    bool isInteger = false;
    std::int64_t integer = 0;
    double real = 0;
    if (!out || !ReadNumber(property, &isInteger, &integer, &real)) return false;
    if (isInteger) {
        // Integers convert as C does: a signed value read as unsigned wraps.
        *out = static_cast<T>(integer);
        return true;
    }
    if (real != real) return false; // NaN
    if constexpr (std::is_floating_point_v<T>) {
        *out = static_cast<T>(real);
    } else if constexpr (std::is_unsigned_v<T>) {
        // A negative float reads like its signed integer would.
        if (real < 0)
            *out = static_cast<T>(kdcap_detail::SaturateReal<std::int64_t>(real));
        else
            *out = kdcap_detail::SaturateReal<T>(real);
    } else {
        *out = kdcap_detail::SaturateReal<T>(real);
    }
    return true;
}

template <typename T> bool CCapability::WriteValue(T value, ECapProperty property) {
    static_assert(std::is_arithmetic_v<T>);
    if constexpr (std::is_floating_point_v<T>)
        return WriteReal(static_cast<double>(value), property);
    else
        return WriteInteger(static_cast<std::int64_t>(value), property); // truncated to the item width
}
