// Byte-value histogram with its two main peaks, and the exported counter of
// an 8-bit image's values.
#pragma once

#include "CImgInf.h"

#include <cstddef>

inline constexpr int kHistBins = 256;

// Request of GetHistogram. The caller zeroes the counts; the call adds to them.
struct tagHISTOGRAMINFO {
    uint32_t size;            // record size in bytes (not examined)
    uint32_t count;           // on return: the sum of all counts
    uint32_t hist[kHistBins]; // counts of the values 0 to 255
};
inline constexpr uint32_t kHistogramInfoSize = sizeof(tagHISTOGRAMINFO);

class CHist {
public:
    // With counts null the histogram owns a zeroed array of its own (null if
    // it could not be allocated: then only the total is kept); otherwise the
    // caller's array is used as it is.
    explicit CHist(uint32_t* counts = nullptr, uint32_t total = 0);
    CHist(const CHist&) = delete;
    CHist& operator=(const CHist&) = delete;
    virtual ~CHist();

    // Zeroes an owned array (a caller's array is left alone).
    void Init();
    void Add(const uint8_t* bytes, size_t n);
    // width bytes of each of lines lines, step bytes apart.
    void Add(const uint8_t* bytes, int32_t width, int32_t lines, int32_t step);
    // lWidth bytes of each of the lHeight lines.
    void Add(const tagTVKIMAGEINFO* image);

    // Number of values that occur at least once.
    int GetColorNum() const;
    // The most frequent value below split = (int)mean + 1 and the most
    // frequent value from split up; the first value wins a tie.
    void GetPeek(int32_t* peek1, int32_t* peek2);
    int32_t Peek1();
    int32_t Peek2();

    const uint32_t* Counts() const { return m_pdwHist; }
    uint32_t Total() const { return m_dwTotal; }

protected:
    void ComputePeeks();

    bool m_bPeekDone = false;
    int32_t m_lPeek1 = 0;
    int32_t m_lPeek2 = 0;
    bool m_bOwnBuffer = false;
    uint32_t* m_pdwHist = nullptr;
    uint32_t m_dwTotal = 0;
};

extern "C" {
// Adds the counts of the image's byte values (8 bits a sample, all samples
// together) to info->hist, stores the sum of all counts in info->count and
// returns it.
IMVRA_EXPORT uint32_t GetHistogram(tagTVKIMAGEINFO* image, tagHISTOGRAMINFO* info);
}
