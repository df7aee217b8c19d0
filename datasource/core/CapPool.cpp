#include "CapPool.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

CCapability* MakeContainer(const SMakeCapDesc& row) {
    const bool readOnly = row.readOnly != 0;
    switch (row.container) {
    case TWON_ONEVALUE: return new CCapOneValue(row.itemType, readOnly, row.defaultData, row.defaultData);
    case TWON_RANGE: return new CCapRange(row.itemType, readOnly, row.defaultData);
    case TWON_ARRAY: {
        const auto* list = static_cast<const SMakeCapList*>(row.defaultData);
        return new CCapArray(row.itemType, readOnly, list ? list->items : nullptr, list ? list->count : 0);
    }
    case TWON_ENUMERATION: {
        const auto* list = static_cast<const SMakeCapEnum*>(row.defaultData);
        if (!list) return new CCapEnum(row.itemType, readOnly, nullptr, 0, 0, 0);
        return new CCapEnum(row.itemType, readOnly, list->items, list->count, list->currentIndex,
                            list->defaultIndex);
    }
    default: return nullptr;
    }
}

} // namespace

bool CCapPool::MakeCapabilities(const SMakeCapDesc* rows, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        try {
            CCapability* cap = MakeContainer(rows[i]);
            if (!cap) continue;
            // Standard string capabilities reach hosts as terminated text.
            cap->SetHostStringsTerminated(rows[i].cap < CAP_CUSTOMBASE);
            AppendCapability(rows[i].cap, cap);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return true;
}

void CCapPool::AppendCapability(TW_UINT16 cap, CCapability* capability) {
    if (!capability) return;
    std::unique_ptr<CCapability> owned(capability);
    caps_[cap] = std::move(owned); // deletes a container already stored under the id
}

bool CCapPool::Merge(const CCapPool* other) {
    if (!other || other == this) return true;
    for (const auto& [id, cap] : other->caps_) {
        CCapability* copy = cap->Duplicate();
        if (!copy) return false;
        try {
            AppendCapability(id, copy);
        } catch (const std::bad_alloc&) {
            return false; // AppendCapability owned and freed the copy
        }
    }
    return true;
}

CCapability* CCapPool::GetCapability(TW_UINT16 cap) const {
    const auto it = caps_.find(cap);
    return it == caps_.end() ? nullptr : it->second.get();
}

bool CCapPool::EqualCapability(const Map::value_type& a, const Map::value_type& b, const TW_UINT16* excludedIds,
                               int count) {
    if (a.first != b.first) return false;
    if (excludedIds && count > 0 && std::find(excludedIds, excludedIds + count, a.first) != excludedIds + count)
        return true;
    CapBytes recordA, recordB;
    try {
        if (!a.second->BuildNativeRecord(recordA) || !b.second->BuildNativeRecord(recordB)) return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return recordA == recordB;
}

bool CCapPool::IsEqualToCapValues(const CCapPool* other, const TW_UINT16* excludedIds, int count) const {
    if (!other) return false;
    if (other->caps_.size() != caps_.size()) return false;
    for (auto a = caps_.begin(), b = other->caps_.begin(); a != caps_.end(); ++a, ++b)
        if (!EqualCapability(*a, *b, excludedIds, count)) return false;
    return true;
}

std::optional<kdf::Bytes> CCapPool::Flatten(TW_INT32* version) {
    if (!flatten_) return std::nullopt;
    return flatten_(this, version);
}

void CCapPool::Unflatten(const kdf::Bytes& data, TW_INT32 version) {
    if (unflatten_) unflatten_(this, data, version);
}
