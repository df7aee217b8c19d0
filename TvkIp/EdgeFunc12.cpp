// The older edge filter of the short request record. It needs no object: its
// state lives in process-wide variables, so one such image at a time.
#include "EdgeFuncImpl.h"
#include "ImageCheck.h"
#include "TvkIpError.h"

#include <array>
#include <cstring>
#include <new>

namespace {

constexpr int32_t kEdfLinesPerPlane = 6;
constexpr int32_t kEdfLines = 3 * kEdfLinesPerPlane;

// Rotating lines of one plane: the line above the one due, the line due, and
// a scratch line for the next source line (copied first, so that a band
// filtered in place still sees its own unfiltered neighbours).
struct EdfPlane {
    uint8_t* up = nullptr;
    uint8_t* centre = nullptr;
    uint8_t* next = nullptr;
};

int32_t edf_width = 0;
uint8_t* edf_heap = nullptr;
EdfPlane edf_info[3];
int32_t edf_line = 0;
int32_t edf_planes = 1;
bool edf_firstPlaneOnly = false;
uint32_t edf_number = 0;

// Responses -1024..1023 (origin at index 1024).
std::array<int32_t, 2048> ExIntToByteTable{};
const int32_t* const ExIntToByte = ExIntToByteTable.data() + 1024;

inline uint8_t IntToByte(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

void MakeIntToByteTable(uint32_t number) {
    // 2 copies lines and needs no table.
    for (int32_t l = -1024; l < 1024; ++l)
        ExIntToByteTable[static_cast<size_t>(l + 1024)] =
            number == 2 ? 0 : EdgeLevel::ByNumber(number, l);
}

// One output line from the line above (u), the line (c) and the line below (d).
void edf_oneline(uint8_t* out, const uint8_t* u, const uint8_t* c, const uint8_t* d, int32_t w) {
    if (edf_number == 2 || w < 3) {
        std::memmove(out, c, static_cast<size_t>(w));
        return;
    }
    out[0] = c[0];
    if (edf_number == 1) {
        for (int32_t x = 1; x < w - 1; ++x) {
            const int32_t l = u[x - 1] + u[x + 1] + d[x - 1] + d[x + 1] - 4 * c[x];
            out[x] = IntToByte(c[x] + ExIntToByte[l]);
        }
    } else {
        for (int32_t x = 1; x < w - 1; ++x) {
            const int32_t l = 4 * c[x] - c[x - 1] - c[x + 1] - u[x] - d[x];
            out[x] = IntToByte(c[x] + ExIntToByte[l]);
        }
    }
    out[w - 1] = c[w - 1];
}

// Plane `plane` of line `line` from lXpos (the record accepted below).
uint8_t* PlaneLine(const tagTVKIMAGEINFO* img, int32_t line, int32_t plane) {
    return EdgeLinePtr(*img, line) + static_cast<int64_t>(plane) * img->lSync + img->lXpos;
}

// 8-bit gray or line-sequential colour with pixels, whose lines hold `width`
// bytes from lXpos.
bool Accepted(const tagTVKIMAGEINFO* img, int32_t width) {
    if (img->lpImage == nullptr || img->lHeight < 0) return false;
    if (img->lBps != 8 || (img->lSpp != 1 && img->lSpp != 3)) return false;
    if (img->lSpp == 3 && img->ulRGBOrder == 0) return false;
    if (img->lXpos < 0 || img->lYpos < 0 || width < 1) return false;
    // Orders 2 and 3 are planes too (only the first one filtered).
    tagTVKIMAGEINFO planes = *img;
    if (planes.lSpp == 3) planes.ulRGBOrder = 1;
    return static_cast<int64_t>(img->lXpos) + width <= img->lSync &&
           TvkImageFits(&planes, kTvkGray8 | kTvkRgb24Planar | kTvkFromXpos | kTvkFromYpos);
}

// A destination without pixels (nothing is written), or one of the source's
// form. Its line count is an output: the caller gives room for the band.
bool DstAccepted(const tagTVKIMAGEINFO* dst, const tagTVKIMAGEINFO* src) {
    return dst->lpImage == nullptr || (dst->lSpp == src->lSpp && Accepted(dst, edf_width));
}

void FreeState() {
    delete[] edf_heap;
    edf_heap = nullptr;
    for (auto& p : edf_info) p = EdfPlane{};
}

void Rotate(EdfPlane& p) {
    uint8_t* t = p.up;
    p.up = p.centre;
    p.centre = p.next;
    p.next = t;
}

// Copies the first plane's line into the other two planes of a colour line.
void CopyFirstPlane(const tagTVKIMAGEINFO* dst, int32_t line) {
    if (!edf_firstPlaneOnly || dst->lpImage == nullptr) return;
    const uint8_t* first = PlaneLine(dst, line, 0);
    std::memmove(PlaneLine(dst, line, 1), first, static_cast<size_t>(edf_width));
    std::memmove(PlaneLine(dst, line, 2), first, static_cast<size_t>(edf_width));
}

int32_t FilteredPlanes() {
    return edf_firstPlaneOnly ? 1 : edf_planes;
}

} // namespace

bool EdgeFuncOldInProgress() {
    return edf_heap != nullptr;
}

int32_t EdgeFuncStart(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, uint32_t number) {
    if (dst == nullptr || src == nullptr || !Accepted(src, src->lWidth)) return -1;
    // Numbers outside 1..5 have no response table and no defined output.
    if (number < 1 || number > 5) return -1;
    const int32_t h = src->lHeight;
    if (h <= 1) return -1;
    FreeState();
    edf_width = src->lWidth;
    if (!DstAccepted(dst, src)) return -1;
    const size_t w = static_cast<size_t>(edf_width);
    edf_heap = new (std::nothrow) uint8_t[w * kEdfLines]();
    if (edf_heap == nullptr) {
        IpSetLastError(kIpErrNoMemory);
        return -1;
    }
    edf_planes = src->lSpp == 3 ? 3 : 1;
    edf_firstPlaneOnly = src->lSpp == 3 && (src->ulRGBOrder & 2u) != 0;
    edf_number = number;
    edf_line = h;
    MakeIntToByteTable(number);

    for (int32_t p = 0; p < FilteredPlanes(); ++p) {
        uint8_t* base = edf_heap + w * static_cast<size_t>(p * kEdfLinesPerPlane);
        EdfPlane& pl = edf_info[p];
        pl.up = base;
        pl.centre = base + w;
        pl.next = base + 2 * w;
        std::memcpy(pl.up, PlaneLine(src, 0, p), w);
        std::memcpy(pl.centre, PlaneLine(src, 1, p), w);
        if (dst->lpImage != nullptr) std::memmove(PlaneLine(dst, 0, p), pl.up, w);
        for (int32_t y = 1; y < h - 1; ++y) {
            std::memcpy(pl.next, PlaneLine(src, y + 1, p), w);
            if (dst->lpImage != nullptr)
                edf_oneline(PlaneLine(dst, y, p), pl.up, pl.centre, pl.next, edf_width);
            Rotate(pl);
        }
    }
    for (int32_t y = 0; y < h - 1; ++y) CopyFirstPlane(dst, y);
    return 0;
}

int32_t EdgeFuncCont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, uint32_t number) {
    if (edf_heap == nullptr || dst == nullptr || src == nullptr) return -1;
    if (!Accepted(src, src->lWidth) || src->lWidth != edf_width) return -1;
    if ((src->lSpp == 3 ? 3 : 1) != edf_planes || !DstAccepted(dst, src)) return -1;
    const int32_t h = src->lHeight;
    if (h < 1) return 0;
    const size_t w = static_cast<size_t>(edf_width);
    for (int32_t p = 0; p < FilteredPlanes(); ++p) {
        EdfPlane& pl = edf_info[p];
        for (int32_t i = 0; i < h; ++i) {
            std::memcpy(pl.next, PlaneLine(src, i, p), w);
            if (dst->lpImage != nullptr)
                edf_oneline(PlaneLine(dst, i, p), pl.up, pl.centre, pl.next, edf_width);
            Rotate(pl);
        }
    }
    for (int32_t i = 0; i < h; ++i) CopyFirstPlane(dst, i);
    edf_line += h;
    return 0;
}

int32_t EdgeFuncFinish(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
    if (edf_heap == nullptr) return -1;
    if (src != nullptr && src->lHeight > 0 && !Accepted(src, src->lWidth)) {
        FreeState();
        return -1;
    }
    if (dst != nullptr && dst->lpImage != nullptr) {
        if (dst->lSpp != (edf_planes == 3 ? 3 : 1) || !Accepted(dst, edf_width)) {
            FreeState();
            return -1;
        }
        for (int32_t p = 0; p < FilteredPlanes(); ++p)
            std::memmove(PlaneLine(dst, 0, p), edf_info[p].centre, static_cast<size_t>(edf_width));
        CopyFirstPlane(dst, 0);
    }
    FreeState();
    return 0;
}
