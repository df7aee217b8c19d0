#include "FG_Zoom.h"
#include "FG_ZoomBilinear.h"

#include <cstdlib>
#include <new>

int FG_Zoom_SamplePerPixel(int bitsPerPixel) {
    switch (bitsPerPixel) {
    case 1:
    case 8:
    case 16:
        return 1;
    case 24:
    case 48:
        return 3;
    case 32:
    case 64:
        return 4;
    default:
        return 0;
    }
}

int FG_Zoom_BitsPerSample(int bitsPerPixel) {
    switch (bitsPerPixel) {
    case 1:
        return 1;
    case 8:
    case 24:
    case 32:
        return 8;
    case 16:
    case 48:
    case 64:
        return 16;
    default:
        return 0;
    }
}

int FG_Zoom_MemAlloc(void* block, std::size_t size) {
    if (block == nullptr) return 1;
    // Zero-filled: a buffer that is read with weight 0 (the second line of a
    // one-line source) must still hold defined values.
    void* p = std::calloc(size == 0 ? 1 : size, 1);
    *static_cast<void**>(block) = p;
    return p == nullptr ? 1 : 0;
}

void FG_Zoom_MemFree(void* block) {
    if (block == nullptr) return;
    void** slot = static_cast<void**>(block);
    std::free(*slot);
    *slot = nullptr;
}

FG_Zoom::FG_Zoom() {
    ClearMembers();
}

FG_Zoom::~FG_Zoom() {
    FG_Zoom::Close();
}

void FG_Zoom::ClearMembers() {
    m_pEngine = nullptr;
    m_readyLines = 0;
    m_mode = 0;
    m_dstWidth = 0;
    m_dstHeight = 0;
    m_srcWidth = 0;
    m_srcHeight = 0;
    m_bitsPerPixel = 0;
}

int FG_Zoom::Open(int dstWidth, int dstHeight, int srcWidth, int srcHeight, int bitsPerPixel,
                  int mode) {
    if (m_pEngine != nullptr) return kNotNow;

    // Reductions, very small sources and 1-bit images always take the
    // bilinear/area-averaging engine.
    int forced = mode;
    if (dstWidth < srcWidth || dstHeight < srcHeight) {
        forced = 2;
    } else if ((srcWidth <= 5 || srcHeight <= 5) && mode != 1) {
        forced = 2;
    } else if (bitsPerPixel == 1) {
        forced = 2;
    } else if (mode != 2 && mode != 0) {
        return kBadParameter; // no engine exists for this mode
    }

    m_pEngine = new (std::nothrow) FG_ZoomBilinear;
    if (m_pEngine == nullptr) return kNoMemory;
    m_mode = forced;
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_bitsPerPixel = bitsPerPixel;
    // A failed engine Open leaves the engine bound: the caller closes before
    // opening again.
    return m_pEngine->Open(dstWidth, dstHeight, srcWidth, srcHeight, bitsPerPixel, forced);
}

void FG_Zoom::Close() {
    if (m_pEngine != nullptr) {
        m_pEngine->Close();
        delete m_pEngine;
    }
    ClearMembers();
}

int FG_Zoom::Send(const void* srcLine) {
    if (m_pEngine == nullptr) return kNotNow;
    return m_pEngine->Send(srcLine);
}

int FG_Zoom::Read(void* dstLine) {
    if (m_pEngine == nullptr) return kNotNow;
    return m_pEngine->Read(dstLine);
}

int FG_Zoom::ReadyLines() const {
    if (m_pEngine != nullptr) return m_pEngine->m_readyLines;
    return m_readyLines;
}
