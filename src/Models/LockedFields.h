// Fields that other threads read and write (pages set by the transfer and
// file-writing threads, data values replaced while the main thread reads):
// each access takes the model's own small lock.
#pragma once

#include <mutex>
#include <utility>

class LockedFields {
protected:
    template <class T> T get(const T& field) const {
        std::lock_guard lock(lock_);
        return field;
    }
    template <class T> void put(T& field, T v) {
        std::lock_guard lock(lock_);
        field = std::move(v);
    }

private:
    mutable std::mutex lock_;
};
