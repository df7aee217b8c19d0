// Registry of the worker objects that callers' records may name, so that a
// call can tell a live object from a stale or foreign value before using it.
// One registry per object type, shared by all threads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

template <typename T> class LiveObjects {
public:
    // False when memory runs out; the object is then not registered.
    static bool Add(T* obj) noexcept {
        try {
            std::lock_guard<std::mutex> lock(Lock());
            List().push_back(obj);
            return true;
        } catch (...) {
            return false;
        }
    }
    // True when the object was registered (it no longer is).
    static bool Remove(const T* obj) {
        std::lock_guard<std::mutex> lock(Lock());
        auto& list = List();
        const auto end = std::remove(list.begin(), list.end(), obj);
        const bool found = end != list.end();
        list.erase(end, list.end());
        return found;
    }
    // The registered object at this address, or null.
    static T* Find(uintptr_t address) {
        std::lock_guard<std::mutex> lock(Lock());
        for (T* obj : List())
            if (reinterpret_cast<uintptr_t>(obj) == address) return obj;
        return nullptr;
    }

private:
    static std::mutex& Lock() {
        static std::mutex m;
        return m;
    }
    static std::vector<T*>& List() {
        static std::vector<T*> objects;
        return objects;
    }
};
