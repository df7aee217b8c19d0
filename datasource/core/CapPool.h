// The capability pool: the data source's one store of capability values, a
// map from capability id to container, built from descriptor tables.
#pragma once

#include "Capability.h"

#include "foundation/Value.h"

#include <map>
#include <memory>
#include <optional>

class CCapPool;

// The settings record hooks the data source installs (the "CapData" record
// is the data source's format, not the pool's).
using CapFlatteningFunction = std::optional<kdf::Bytes> (*)(CCapPool* pool, TW_INT32* version);
using CapUnflatteningFunction = void (*)(CCapPool* pool, const kdf::Bytes& data, TW_INT32 version);

// One row of a descriptor table.
struct SMakeCapDesc {
    TW_UINT16 cap;
    TW_UINT16 container; // TWON_ARRAY, TWON_ENUMERATION, TWON_ONEVALUE, TWON_RANGE; others skip the row
    TW_UINT16 itemType;  // a TWTY_ type or TWTY_FLOAT32
    // one value: the item; array: an SMakeCapList; enumeration: an
    // SMakeCapEnum; range: five consecutive items (current, default,
    // maximum, minimum, step).
    const void* defaultData;
    TW_UINT8 readOnly;
};
struct SMakeCapList {
    TW_UINT32 count;
    const void* items;
};
struct SMakeCapEnum {
    TW_UINT32 count;
    const void* items;
    TW_UINT32 defaultIndex;
    TW_UINT32 currentIndex;
};

class CCapPool {
public:
    using Map = std::map<TW_UINT16, std::unique_ptr<CCapability>>;

    CCapPool() = default;
    CCapPool(const CCapPool&) = delete;
    CCapPool& operator=(const CCapPool&) = delete;

    // Creates a container per row and appends it; false when memory ran out
    // (the rows before stay in the pool).
    bool MakeCapabilities(const SMakeCapDesc* rows, std::size_t count);
    // Takes ownership; a container already under the id is deleted; null
    // changes nothing.
    void AppendCapability(TW_UINT16 cap, CCapability* capability);
    // Appends a duplicate of every container of other (other's ids win);
    // false when memory ran out.
    bool Merge(const CCapPool* other);
    CCapability* GetCapability(TW_UINT16 cap) const;

    // True when both pools hold the same ids with equal native records,
    // ids in excludedIds not compared. Pools with different ids are unequal.
    bool IsEqualToCapValues(const CCapPool* other, const TW_UINT16* excludedIds, int count) const;
    static bool EqualCapability(const Map::value_type& a, const Map::value_type& b, const TW_UINT16* excludedIds,
                                int count);

    void SetFlatteningFunction(CapFlatteningFunction hook) { flatten_ = hook; }
    void SetUnflatteningFunction(CapUnflatteningFunction hook) { unflatten_ = hook; }
    // No value when no hook is set.
    std::optional<kdf::Bytes> Flatten(TW_INT32* version);
    void Unflatten(const kdf::Bytes& data, TW_INT32 version);

    const Map& Capabilities() const { return caps_; }

private:
    Map caps_;
    CapFlatteningFunction flatten_ = nullptr;
    CapUnflatteningFunction unflatten_ = nullptr;
};
