// Colour edge emphasis: line-sequential colour through one gray plane filter
// per plane. (The interleaved kernels live beside the gray window in
// EdgeFuncV3.cpp, their level tables in EdgeFuncTable.cpp.)
#include "EdgeFuncImpl.h"

#include <algorithm>
#include <cstring>
#include <new>

void TVKIMAGEINFO_Color2Gray(const tagTVKIMAGEINFO* color, tagTVKIMAGEINFO* r, tagTVKIMAGEINFO* g,
                             tagTVKIMAGEINFO* b) {
    tagTVKIMAGEINFO* planes[3] = {r, g, b};
    for (int i = 0; i < 3; ++i) {
        tagTVKIMAGEINFO* p = planes[i];
        if (p == nullptr) continue;
        if (color == nullptr) {
            *p = tagTVKIMAGEINFO{};
            p->lHeight = 0;
            continue;
        }
        *p = *color;
        p->lSync = color->lSync * 3;
        p->lSpp = 1;
        if (p->lpImage != nullptr) p->lpImage += static_cast<int64_t>(color->lSync) * i;
    }
}

namespace {

// Plane filter for a filter number and a plane (0 red, 1 green, 2 blue); null
// for numbers outside 1..5 or when memory ran out.
CEdgeFuncGray* NewPlaneFilter(uint32_t number, int plane) {
    switch (number * 3 + static_cast<uint32_t>(plane)) {
    case 3:
        return new (std::nothrow) CEdgeFuncR1;
    case 4:
        return new (std::nothrow) CEdgeFuncG1;
    case 5:
        return new (std::nothrow) CEdgeFuncB1;
    case 6:
        return new (std::nothrow) CEdgeFuncR2;
    case 7:
        return new (std::nothrow) CEdgeFuncG2;
    case 8:
        return new (std::nothrow) CEdgeFuncB2;
    case 9:
        return new (std::nothrow) CEdgeFuncR3;
    case 10:
        return new (std::nothrow) CEdgeFuncG3;
    case 11:
        return new (std::nothrow) CEdgeFuncB3;
    case 12:
        return new (std::nothrow) CEdgeFuncR4;
    case 13:
        return new (std::nothrow) CEdgeFuncG4;
    case 14:
        return new (std::nothrow) CEdgeFuncB4;
    case 15:
        return new (std::nothrow) CEdgeFuncR5;
    case 16:
        return new (std::nothrow) CEdgeFuncG5;
    case 17:
        return new (std::nothrow) CEdgeFuncB5;
    default:
        return nullptr;
    }
}

// The colour record must hold line-sequential planes wide enough for its width.
bool IsPlanarColor(const tagTVKIMAGEINFO* img) {
    return img->lBps == 8 && img->lSpp == 3 && img->ulRGBOrder != 0 && img->lWidth >= 1 &&
           img->lSync >= img->lWidth;
}

// Runs one step on the three planes, each with its own copy of the record;
// the colour record takes the last plane's line count and lines. 0 when a
// plane refused.
template <typename PlaneStep>
int EachPlane(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info, PlaneStep step) {
    tagTVKIMAGEINFO dstPlane[3];
    tagTVKIMAGEINFO srcPlane[3];
    TVKIMAGEINFO_Color2Gray(dst, &dstPlane[0], &dstPlane[1], &dstPlane[2]);
    TVKIMAGEINFO_Color2Gray(src, &srcPlane[0], &srcPlane[1], &srcPlane[2]);
    tagEDGEINFO local{};
    for (int i = 0; i < 3; ++i) {
        local = EdgeInfoCopy(info);
        if (step(i, &dstPlane[i], &srcPlane[i], &local) == 0) return 0;
    }
    info->lLineCount = local.lLineCount;
    dst->lHeight = dstPlane[2].lHeight;
    return 1;
}

} // namespace

CEdgeFuncColor::~CEdgeFuncColor() {
    DeletePlanes();
}

void CEdgeFuncColor::DeletePlanes() {
    for (auto*& p : m_pPlane) {
        delete p;
        p = nullptr;
    }
}

int CEdgeFuncColor::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    if (dst == nullptr || src == nullptr || info == nullptr) return 0;
    if (src->lHeight > 0 && (!IsPlanarColor(src) || !IsPlanarColor(dst))) return 0;
    if (info->ulFilterNo < 1 || info->ulFilterNo > 5) return 0;
    DeletePlanes();
    m_Info = EdgeInfoCopy(info);
    const uint32_t number = info->ulFilterNo;
    return EachPlane(dst, src, info,
                     [&](int i, tagTVKIMAGEINFO* d, tagTVKIMAGEINFO* s, tagEDGEINFO* local) {
                         m_pPlane[i] = NewPlaneFilter(number, i);
                         if (m_pPlane[i] == nullptr) throw kEdgeFuncNoMemory;
                         return m_pPlane[i]->Start(d, s, local);
                     });
}

int CEdgeFuncColor::Cont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    return Run(Step::Cont, dst, src, info);
}

int CEdgeFuncColor::Finish(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    return Run(Step::Finish, dst, src, info);
}

int CEdgeFuncColor::Run(Step step, tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    // Without plane filters (refused or never started) there is nothing to run.
    if (m_pPlane[0] == nullptr || m_pPlane[1] == nullptr || m_pPlane[2] == nullptr) return 0;
    if (dst == nullptr || info == nullptr) return 0;
    if (step == Step::Cont && src == nullptr) return 0;
    if (!IsPlanarColor(dst)) return 0;
    if (src != nullptr && src->lHeight > 0 && !IsPlanarColor(src)) return 0;
    return EachPlane(dst, src, info,
                     [&](int i, tagTVKIMAGEINFO* d, tagTVKIMAGEINFO* s, tagEDGEINFO* local) {
                         return step == Step::Cont ? m_pPlane[i]->Cont(d, s, local)
                                                   : m_pPlane[i]->Finish(d, s, local);
                     });
}
