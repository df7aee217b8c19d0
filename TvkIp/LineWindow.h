// Window of the last scan lines that a line filter looks at. The window holds
// pointers into the caller's band; at a band's end the lines still needed are
// copied into a ring of its own, so the caller may reuse the band memory and
// the next band continues exactly where this one stopped.
#pragma once

#include "TvkTypes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

class CLineWindow {
public:
    CLineWindow() = default;
    ~CLineWindow() { release(); }
    CLineWindow(const CLineWindow&) = delete;
    CLineWindow& operator=(const CLineWindow&) = delete;

    // capacity lines of lineBytes bytes (the span a filter reads from a line
    // pointer). 0, kIpErrBadArgument or kIpErrOutOfMemory.
    uint32_t init(int32_t capacity, size_t lineBytes) {
        release();
        if (capacity < 1 || lineBytes == 0) return kIpErrBadArgument;
        m_cap = capacity;
        m_bytes = lineBytes;
        m_lines = new (std::nothrow) const uint8_t*[capacity]();
        m_ring = new (std::nothrow) uint8_t[lineBytes * static_cast<size_t>(capacity)];
        if (!m_lines || !m_ring) {
            release();
            return kIpErrOutOfMemory;
        }
        return 0;
    }

    // Adds the newest line; the window must not be full.
    void push(const uint8_t* line) {
        m_lines[slot(m_count)] = line;
        ++m_count;
    }
    // Drops the oldest line.
    void pop() {
        m_head = m_head + 1 == m_cap ? 0 : m_head + 1;
        --m_count;
        ++m_dropped;
    }
    int32_t count() const { return m_count; }
    bool full() const { return m_count == m_cap; }
    int32_t capacity() const { return m_cap; }
    // Lines dropped so far: the line number of the oldest line held.
    int32_t dropped() const { return m_dropped; }
    // Line i of the window, 0 the oldest.
    const uint8_t* at(int32_t i) const { return m_lines[slot(i)]; }

    // Copies the lines held into the ring. The lines that are already copies
    // sit, oldest first, in the slots assigned last; at most capacity - 1
    // lines are held at a band's end, so copying them in order onto the next
    // slots never overwrites a line still to be copied.
    void keep() {
        for (int32_t i = 0; i < m_count; ++i) {
            uint8_t* dst = m_ring + static_cast<size_t>(m_next) * m_bytes;
            m_next = m_next + 1 == m_cap ? 0 : m_next + 1;
            const int32_t s = slot(i);
            if (m_lines[s] != dst) std::memmove(dst, m_lines[s], m_bytes);
            m_lines[s] = dst;
        }
    }

private:
    int32_t slot(int32_t i) const {
        const int32_t s = m_head + i;
        return s >= m_cap ? s - m_cap : s;
    }
    void release() {
        delete[] m_lines;
        delete[] m_ring;
        m_lines = nullptr;
        m_ring = nullptr;
        m_cap = m_head = m_count = m_next = m_dropped = 0;
    }

    const uint8_t** m_lines = nullptr; // circular list of line pointers
    uint8_t* m_ring = nullptr;         // m_cap copies of m_bytes
    size_t m_bytes = 0;
    int32_t m_cap = 0, m_head = 0, m_count = 0, m_next = 0, m_dropped = 0;
};

// True when each of n samples (Step bytes apart) of two lines differs from
// its partner by at most `quiet`: the line engines settle such stretches of
// columns at once. Written so that the compiler can vectorise it.
template <int Step>
inline bool LinesAgree(const uint8_t* f, const uint8_t* b, int32_t n, int32_t quiet) {
    int32_t most = 0;
    for (int32_t j = 0; j < n; ++j) {
        const int32_t d = f[static_cast<size_t>(j) * Step] - b[static_cast<size_t>(j) * Step];
        most = std::max(most, d < 0 ? -d : d);
    }
    return most <= quiet;
}
