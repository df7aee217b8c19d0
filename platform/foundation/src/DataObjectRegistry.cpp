#include "foundation/DataObjectRegistry.h"

#include <map>
#include <mutex>
#include <new>

namespace kdf::DataObjectRegistry {

namespace {

struct Registry {
    std::mutex mutex;
    std::map<DataObjectHandle, std::shared_ptr<const Bytes>> objects;
    DataObjectHandle last = kNoDataObject;
};

Registry& shared() {
    // Never destroyed: a data source may release a handle from a static
    // destructor after this library's own have run.
    static Registry* registry = new Registry;
    return *registry;
}

} // namespace

DataObjectHandle add(Bytes bytes) {
    std::shared_ptr<const Bytes> object;
    try {
        object = std::make_shared<const Bytes>(std::move(bytes));
    } catch (const std::bad_alloc&) {
        return kNoDataObject;
    }
    Registry& r = shared();
    std::lock_guard lock(r.mutex);
    // Handles count up and are not reused until the counter wraps, so a
    // stale handle does not name a newer object by accident.
    for (std::uint64_t tries = 0; tries <= UINT32_MAX; ++tries) {
        ++r.last;
        if (r.last == kNoDataObject) continue;
        if (r.objects.count(r.last)) continue;
        try {
            r.objects.emplace(r.last, std::move(object));
        } catch (const std::bad_alloc&) {
            return kNoDataObject;
        }
        return r.last;
    }
    return kNoDataObject;
}

std::shared_ptr<const Bytes> lookup(DataObjectHandle handle) {
    Registry& r = shared();
    std::lock_guard lock(r.mutex);
    const auto it = r.objects.find(handle);
    return it == r.objects.end() ? nullptr : it->second;
}

std::optional<Bytes> adopt(DataObjectHandle handle) {
    std::shared_ptr<const Bytes> object;
    {
        Registry& r = shared();
        std::lock_guard lock(r.mutex);
        const auto it = r.objects.find(handle);
        if (it == r.objects.end()) return std::nullopt;
        object = std::move(it->second);
        r.objects.erase(it);
    }
    return Bytes(*object); // a reader may still hold the shared copy
}

bool release(DataObjectHandle handle) {
    std::shared_ptr<const Bytes> object; // freed outside the lock
    Registry& r = shared();
    std::lock_guard lock(r.mutex);
    const auto it = r.objects.find(handle);
    if (it == r.objects.end()) return false;
    object = std::move(it->second);
    r.objects.erase(it);
    return true;
}

std::size_t count() {
    Registry& r = shared();
    std::lock_guard lock(r.mutex);
    return r.objects.size();
}

} // namespace kdf::DataObjectRegistry
