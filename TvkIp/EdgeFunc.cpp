// Exported interface of the edge-emphasis family: the factory, the band calls,
// the whole-image call and the release.
#include "EdgeFuncImpl.h"
#include "LiveObjects.h"
#include "TvkIpError.h"

#include <algorithm>
#include <new>

namespace {

bool IsKind(uintptr_t word) {
    return word == kEdgeKindGray0 || word == kEdgeKindGray || word == kEdgeKindColorPlanes ||
           word == kEdgeKindColorRGB;
}

bool WantsParameters(const tagEDGEINFO* info) {
    return info != nullptr && info->ulSize >= kEdgeInfoSizeParam && info->bParam != 0;
}

CEdgeFunc* NewGray(uint32_t n, const tagEDGEINFO* info) {
    if (WantsParameters(info)) return new (std::nothrow) CEdgeFuncV3(info);
    switch (n) {
    case 1:
        return new (std::nothrow) CEdgeFunc1;
    case 2:
        return new (std::nothrow) CEdgeFunc2;
    case 3:
        return new (std::nothrow) CEdgeFunc3;
    case 4:
        return new (std::nothrow) CEdgeFunc4;
    case 5:
        return new (std::nothrow) CEdgeFunc5;
    case 6:
        return new (std::nothrow) CEdgeFunc6;
    case 7:
        return new (std::nothrow) CEdgeFunc7;
    case 8:
        return new (std::nothrow) CEdgeFunc8;
    case 9:
        return new (std::nothrow) CEdgeFunc9;
    case 10:
        return new (std::nothrow) CEdgeFuncA;
    case 0x401:
        return new (std::nothrow) CEdgeFuncMS1;
    case 0x402:
        return new (std::nothrow) CEdgeFuncMS2;
    case 0x403:
        return new (std::nothrow) CEdgeFuncMS3;
    case 0x404:
        return new (std::nothrow) CEdgeFuncMS4;
    case 0x405:
        return new (std::nothrow) CEdgeFuncMS5;
    case 0xC01:
        return new (std::nothrow) CEdgeFuncMSforGray1;
    case 0xC02:
        return new (std::nothrow) CEdgeFuncMSforGray2;
    case 0xC03:
        return new (std::nothrow) CEdgeFuncMSforGray3;
    case 0xC04:
        return new (std::nothrow) CEdgeFuncMSforGray4;
    case 0xC05:
        return new (std::nothrow) CEdgeFuncMSforGray5;
    default:
        return nullptr;
    }
}

CEdgeFunc* NewInterleaved(uint32_t n, const tagEDGEINFO* info) {
    if (WantsParameters(info)) return new (std::nothrow) CEdgeFuncColorV3RGB(info);
    switch (n) {
    case 1:
        return new (std::nothrow) CEdgeFuncColorRGB1;
    case 2:
        return new (std::nothrow) CEdgeFuncColorRGB2;
    case 3:
        return new (std::nothrow) CEdgeFuncColorRGB3;
    case 4:
        return new (std::nothrow) CEdgeFuncColorRGB4;
    case 5:
        return new (std::nothrow) CEdgeFuncColorRGB5;
    case 0x201:
        return new (std::nothrow) CEdgeFuncColorV2RGB1;
    case 0x202:
        return new (std::nothrow) CEdgeFuncColorV2RGB2;
    case 0x203:
        return new (std::nothrow) CEdgeFuncColorV2RGB3;
    case 0x204:
        return new (std::nothrow) CEdgeFuncColorV2RGB4;
    case 0x205:
        return new (std::nothrow) CEdgeFuncColorV2RGB5;
    default:
        return nullptr;
    }
}

// Deletes the record's live object (if any) and clears the word; leaves the
// last error alone.
void ReleaseObject(tagEDGEINFO* info) {
    if (CEdgeFunc* obj = EdgeFuncLiveObject(info->hEdge)) {
        EdgeFuncUnregister(obj);
        delete obj;
    }
    info->hEdge = 0;
}

// --- Object form -----------------------------------------------------------

// Runs a band step of a member into `result`. False when the step threw (a
// first band lacking memory): the exception is stored as the last error.
template <typename Step> bool Guarded(Step step, int& result) {
    try {
        result = step();
        return true;
    } catch (int code) {
        IpSetLastError(code == kEdgeFuncNoMemory ? kIpErrNoMemory : static_cast<uint32_t>(code));
    } catch (...) {
        IpSetLastError(kIpErrNoMemory);
    }
    return false;
}

int32_t ObjStart(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    if (dst == nullptr || src == nullptr) return -1;
    bool made = false;
    if (info->hEdge == 0) {
        info->hEdge = static_cast<uintptr_t>(static_cast<uint32_t>(src->lSpp));
        CreateEdgeFuncHandle(info);
        made = true;
    }
    CEdgeFunc* obj = EdgeFuncLiveObject(info->hEdge);
    if (obj == nullptr) {
        // A kind without a member (or a stale word) is not an object.
        if (made) info->hEdge = 0;
        return -1;
    }
    int started = 0;
    if (!Guarded([&] { return obj->Start(dst, src, info); }, started)) {
        ReleaseObject(info);
        return -1;
    }
    if (started != 0) return 0;
    // Refused: an object this call made for itself is not left behind.
    if (made) ReleaseObject(info);
    return -1;
}

int32_t ObjCont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    CEdgeFunc* obj = EdgeFuncLiveObject(info->hEdge);
    if (obj == nullptr || dst == nullptr || src == nullptr) return -1;
    int done = 0;
    if (!Guarded([&] { return obj->Cont(dst, src, info); }, done)) {
        ReleaseObject(info);
        return -1;
    }
    return done != 0 ? 0 : -1;
}

int32_t ObjFinish(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    CEdgeFunc* obj = EdgeFuncLiveObject(info->hEdge);
    if (obj == nullptr) return -1;
    int done = 0;
    const bool ran = Guarded([&] { return obj->Finish(dst, src, info); }, done);
    ReleaseObject(info);
    return ran && done != 0 ? 0 : -1;
}

int32_t ObjWhole(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    // The destination must hold every line of the image.
    if (dst == nullptr || src == nullptr || src->lHeight < 0 || dst->lHeight < src->lHeight)
        return -1;
    tagTVKIMAGEINFO d = *dst;
    if (ObjStart(&d, src, info) != 0) {
        ReleaseObject(info);
        return -1;
    }
    int32_t result = 0;
    const int32_t produced = d.lHeight;
    if (produced < src->lHeight) {
        tagTVKIMAGEINFO band = EdgeBand(*dst, produced, src->lHeight - produced);
        result = ObjFinish(&band, nullptr, info);
    }
    // The copying members produce every line at once and never reach the
    // finish; their object is released here all the same.
    ReleaseObject(info);
    if (result != 0) return -1;
    dst->lHeight = src->lHeight;
    return 0;
}

// --- Short record: the older object-less filter ---------------------------

int32_t OldStart(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    if (dst == nullptr || src == nullptr) return -1;
    if (EdgeFuncStart(dst, src, info->ulFilterNo) != 0) return -1;
    dst->lHeight = src->lHeight - 1;
    info->lLineCount = src->lHeight - 1;
    return 0;
}

int32_t OldCont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    if (dst == nullptr || src == nullptr) return -1;
    if (EdgeFuncCont(dst, src, info->ulFilterNo) != 0) return -1;
    const int32_t h = std::max(src->lHeight, 0);
    info->lLineCount += h;
    dst->lHeight = h;
    return 0;
}

int32_t OldFinish(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    if (dst == nullptr || !EdgeFuncOldInProgress()) return -1;
    tagTVKIMAGEINFO d = *dst;
    int32_t h = 0;
    if (src != nullptr && src->lHeight > 0) {
        tagTVKIMAGEINFO s = *src;
        if (EdgeFuncCont(&d, &s, info->ulFilterNo) != 0) {
            EdgeFuncFinish(nullptr, nullptr); // frees the state
            return -1;
        }
        h = src->lHeight;
        info->lLineCount += h;
        d.lHeight = h;
    }
    if (d.lpImage != nullptr) d.lpImage += h * EdgeLineStep(d);
    d.lHeight = 1;
    if (EdgeFuncFinish(&d, src) != 0) return -1;
    info->lLineCount += 1;
    dst->lHeight = h + 1;
    return 0;
}

int32_t OldWhole(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    if (dst == nullptr && src == nullptr) {
        info->ulFilterNo = 1;
        info->lLineCount = 0;
        return 0;
    }
    if (dst == nullptr || src == nullptr) return -1;
    if (EdgeFuncStart(dst, src, info->ulFilterNo) != 0) return -1;
    const int32_t h = src->lHeight;
    tagTVKIMAGEINFO d = *dst;
    if (d.lpImage != nullptr) d.lpImage += (h - int64_t{1}) * EdgeLineStep(d);
    d.lHeight = 1;
    if (EdgeFuncFinish(&d, src) != 0) return -1;
    dst->lHeight = h;
    info->lLineCount = h;
    return 0;
}

enum class Form { Old, Object, Invalid };
Form FormOf(const tagEDGEINFO* info) {
    if (info == nullptr) return Form::Invalid;
    if (info->ulSize == kEdgeInfoSizeOld) return Form::Old;
    if (info->ulSize >= kEdgeInfoSizeHandle) return Form::Object;
    return Form::Invalid;
}

using BandCall = int32_t (*)(tagTVKIMAGEINFO*, tagTVKIMAGEINFO*, tagEDGEINFO*);

// An export's body: clears the last error and runs the call of the record's
// form; -1 for a record of neither form.
int32_t ByForm(BandCall old, BandCall object, tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src,
               tagEDGEINFO* info) {
    IpSetLastError(0);
    switch (FormOf(info)) {
    case Form::Old:
        return old(dst, src, info);
    case Form::Object:
        return object(dst, src, info);
    default:
        return -1;
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Registry

bool EdgeFuncRegister(CEdgeFunc* obj) {
    return LiveObjects<CEdgeFunc>::Add(obj);
}

void EdgeFuncUnregister(CEdgeFunc* obj) {
    LiveObjects<CEdgeFunc>::Remove(obj);
}

CEdgeFunc* EdgeFuncLiveObject(uintptr_t handle) {
    if (handle == 0 || IsKind(handle)) return nullptr;
    return LiveObjects<CEdgeFunc>::Find(handle);
}

CEdgeFunc* NewEdgeFuncObject(uintptr_t kind, const tagEDGEINFO* info) {
    const uint32_t n = info != nullptr ? info->ulFilterNo : 0;
    switch (kind) {
    case kEdgeKindGray0:
    case kEdgeKindGray:
        return NewGray(n, info);
    case kEdgeKindColorPlanes:
        return new (std::nothrow) CEdgeFuncColor;
    case kEdgeKindColorRGB:
        return NewInterleaved(n, info);
    default:
        return nullptr;
    }
}

// ---------------------------------------------------------------------------
// Exports

uintptr_t CreateEdgeFuncHandle(tagEDGEINFO* info) {
    if (info == nullptr || info->ulSize < kEdgeInfoSizeHandle) return 0;
    const uintptr_t word = info->hEdge;
    // Neither a kind nor 0: an existing object (or a value that names no
    // kind) is handed back untouched.
    if (!IsKind(word)) return word;
    CEdgeFunc* obj = NewEdgeFuncObject(word, info);
    if (obj != nullptr && !EdgeFuncRegister(obj)) {
        delete obj;
        obj = nullptr;
    }
    info->hEdge = reinterpret_cast<uintptr_t>(obj);
    return info->hEdge;
}

int32_t EdgeFuncStartEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    return ByForm(OldStart, ObjStart, dst, src, info);
}

int32_t EdgeFuncContEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    return ByForm(OldCont, ObjCont, dst, src, info);
}

int32_t EdgeFuncFinishEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    return ByForm(OldFinish, ObjFinish, dst, src, info);
}

int32_t EdgeFuncEx(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagEDGEINFO* info) {
    return ByForm(OldWhole, ObjWhole, dst, src, info);
}

void ReleaseEdgeFuncHandle(tagEDGEINFO* info) {
    IpSetLastError(0);
    if (FormOf(info) != Form::Object) return;
    ReleaseObject(info);
}

bool UseParameter(tagEDGEINFO* info) {
    return WantsParameters(info);
}
