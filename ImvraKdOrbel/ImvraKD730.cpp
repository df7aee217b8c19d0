// The exported functions: each one call of the built-in engine or of an
// engine made by createImvra.
#include "ImvraKD730.h"

#include "SpecialFilter.h"

#include <new>

namespace Tvk::Imvra::KD730 {

namespace {

constexpr int64_t kMicrometresPerInch = 25400;

// The engine of the calls without a handle: built when the library is
// loaded, destroyed at process exit.
CSpecialFilter SpecialFilter;

tagRTN Rtn(int r) { return static_cast<tagRTN>(r); }

// Nothing thrown inside the library reaches the data source: a failure that
// escapes a stage (memory) is answered with 3.
template <class F> tagRTN Guarded(F&& f) {
    try {
        return f();
    } catch (...) {
        return RTN_MEM;
    }
}

CSpecialFilter* Engine(void* handle) { return static_cast<CSpecialFilter*>(handle); }

using BandCall = int (CIPBase::*)(CImg&, void*);

tagRTN Simplex(CSpecialFilter* engine, BandCall call, CImg& out, CImg& in,
               tagFILTERSIMPLEXINFO* info) {
    if (engine == nullptr || info == nullptr) return RTN_PAR;
    const int r = Guarded([&] { return Rtn((engine->*call)(in, info)); });
    if (r != RTN_OK) return Rtn(r);
    out.attachImg(in);
    return RTN_OK;
}

tagRTN Duplex(CSpecialFilter* engine, BandCall call, CImg& outFront, CImg& outBack, CImg& in,
              tagFILTERDUPLEXINFO* info) {
    if (engine == nullptr || info == nullptr) return RTN_PAR;
    CImg none;
    engine->setBackImage(none);
    const int r = Guarded([&] { return Rtn((engine->*call)(in, info)); });
    if (r != RTN_OK) return Rtn(r);
    outFront.attachImg(in);
    engine->getBackImage(outBack);
    return RTN_OK;
}

} // namespace

long getOffset(long resolution) {
    return static_cast<long>(int64_t{resolution} * SpecialFilter.getOffset() / kMicrometresPerInch);
}
void setOffset(long offset) { SpecialFilter.setOffset(static_cast<int32_t>(offset)); }
long getDummyPixelCount(long resolution, int row) { return getDummyPixelSum(resolution, row); }
int setOcrPath(const char* folder) { return SpecialFilter.setOcrPath(folder); }

tagRTN FilterSimplex(CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info) {
    return Simplex(&SpecialFilter, &CIPBase::IPInterface, out, in, info);
}
tagRTN FilterSimplexFirst(CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info) {
    return Simplex(&SpecialFilter, &CIPBase::IPFirstInterface, out, in, info);
}
tagRTN FilterSimplexMiddle(CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info) {
    return Simplex(&SpecialFilter, &CIPBase::IPMiddleInterface, out, in, info);
}
tagRTN FilterSimplexLast(CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info) {
    return Simplex(&SpecialFilter, &CIPBase::IPLastInterface, out, in, info);
}
tagRTN FilterDuplex(CImg& outFront, CImg& outBack, CImg& in, tagFILTERDUPLEXINFO* info) {
    return Duplex(&SpecialFilter, &CIPBase::IPInterface, outFront, outBack, in, info);
}
tagRTN FilterDuplexFirst(CImg& outFront, CImg& outBack, CImg& in, tagFILTERDUPLEXINFO* info) {
    return Duplex(&SpecialFilter, &CIPBase::IPFirstInterface, outFront, outBack, in, info);
}
tagRTN FilterDuplexMiddle(CImg& outFront, CImg& outBack, CImg& in, tagFILTERDUPLEXINFO* info) {
    return Duplex(&SpecialFilter, &CIPBase::IPMiddleInterface, outFront, outBack, in, info);
}
tagRTN FilterDuplexLast(CImg& outFront, CImg& outBack, CImg& in, tagFILTERDUPLEXINFO* info) {
    return Duplex(&SpecialFilter, &CIPBase::IPLastInterface, outFront, outBack, in, info);
}

tagRTN FilterSimplex(void* engine, CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info) {
    return Simplex(Engine(engine), &CIPBase::IPInterface, out, in, info);
}
tagRTN FilterSimplexFirst(void* engine, CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info) {
    return Simplex(Engine(engine), &CIPBase::IPFirstInterface, out, in, info);
}
tagRTN FilterSimplexMiddle(void* engine, CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info) {
    return Simplex(Engine(engine), &CIPBase::IPMiddleInterface, out, in, info);
}
tagRTN FilterSimplexLast(void* engine, CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info) {
    return Simplex(Engine(engine), &CIPBase::IPLastInterface, out, in, info);
}
tagRTN FilterDuplex(void* engine, CImg& outFront, CImg& outBack, CImg& in,
                    tagFILTERDUPLEXINFO* info) {
    return Duplex(Engine(engine), &CIPBase::IPInterface, outFront, outBack, in, info);
}
tagRTN FilterDuplexFirst(void* engine, CImg& outFront, CImg& outBack, CImg& in,
                         tagFILTERDUPLEXINFO* info) {
    return Duplex(Engine(engine), &CIPBase::IPFirstInterface, outFront, outBack, in, info);
}
tagRTN FilterDuplexMiddle(void* engine, CImg& outFront, CImg& outBack, CImg& in,
                          tagFILTERDUPLEXINFO* info) {
    return Duplex(Engine(engine), &CIPBase::IPMiddleInterface, outFront, outBack, in, info);
}
tagRTN FilterDuplexLast(void* engine, CImg& outFront, CImg& outBack, CImg& in,
                        tagFILTERDUPLEXINFO* info) {
    return Duplex(Engine(engine), &CIPBase::IPLastInterface, outFront, outBack, in, info);
}

tagRTN NormalFilterSimplex(CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info, bool front) {
    if (info == nullptr) return RTN_PAR;
    const int r = Guarded([&] { return Rtn(SpecialFilter.NormalFilterSimplex(in, info, front)); });
    if (r != RTN_OK) return Rtn(r);
    out.attachImg(in);
    return RTN_OK;
}
tagRTN NormalFilterFolio(CImg& out, CImg& in, tagFILTERDUPLEXINFO* info) {
    if (info == nullptr) return RTN_PAR;
    const int r = Guarded([&] { return Rtn(SpecialFilter.NormalFilterFolio(in, info)); });
    if (r != RTN_OK) return Rtn(r);
    out.attachImg(in);
    return RTN_OK;
}

tagRTN DropOutColor(CImg& img, tagDROPOUTCOLORINFO* info) {
    return Rtn(SpecialFilter.DropOutColor(img, info));
}
tagRTN EmphasisColor(CImg& img, tagEMPHASISCOLORINFO* info) {
    return Rtn(SpecialFilter.EmphasisColor(img, info));
}
tagRTN EraseBackPage(CImg& img, tagERASEBACKPAGEINFO* info) {
    return Rtn(SpecialFilter.EraseBackPage(img, info));
}
tagRTN ColorToGray(CImg& img) { return Rtn(SpecialFilter.ColorToGray(img)); }
tagRTN GRC(CImg& img, tagGRCINFO* info, ColorMode mode, bool bw) {
    return Rtn(SpecialFilter.GRC(img, info, static_cast<CGRC::ColorMode>(mode), bw, false));
}
tagRTN EmphasisEdge(CImg& img, tagEMPHASISEDGEINFO* info) {
    return Rtn(SpecialFilter.EmphasisEdge(img, info));
}
tagRTN GrayToBinary(CImg& img, tagGRAYTOBINARYINFO* info) {
    return Rtn(SpecialFilter.GrayToBinary(img, info));
}
tagRTN Inverse(CImg& img) { return Rtn(SpecialFilter.Inverse(img)); }
tagRTN TextImageDirection(CImg& img, tagTEXTIMAGEDIRECTIONINFO* info) {
    return Rtn(SpecialFilter.TextImageDirection(img, info));
}
tagRTN Rotate90x(CImg& img, tagROTATE90XINFO* info) {
    return Rtn(SpecialFilter.Rotate90x(img, info));
}
tagRTN IsBlankPage(CImg& img, tagBLANKPAGEINFO* info) {
    return Rtn(SpecialFilter.IsBlankPage(img, info));
}
tagRTN PutImageOnSide(CImg& out, CImg& left, CImg& right) {
    return Rtn(SpecialFilter.PutImageOnSide(out, left, right));
}

void AdjustLightFirst(tagADJUSTINFO* info, long mode) {
    if (info == nullptr) return;
    SpecialFilter.AdjustLightFirst(info, mode);
}
tagRTN AdjustLightNext(CImg& raw, tagADJUSTINFO* info) {
    return Guarded([&] { return Rtn(SpecialFilter.AdjustLightNext(raw, info)); });
}
tagRTN AdjustLightLast(CImg& front, CImg& back, CImg& raw, tagADJUSTINFO* info) {
    return Guarded([&] { return Rtn(SpecialFilter.AdjustLightLast(front, back, raw, info)); });
}
tagRTN AdjustLightFix(CImg& white, CImg& black, tagADJUSTINFO* info, tagSIDE side,
                      unsigned char* curve, unsigned long curveSize) {
    return Rtn(SpecialFilter.makeShadingData(white, black, info, side, curve, curveSize));
}
tagRTN AdjustLightFix(void* engine, CImg& white, CImg& black, tagADJUSTINFO* info, tagSIDE side,
                      unsigned char* curve, unsigned long curveSize) {
    if (engine == nullptr) return RTN_PAR;
    return Rtn(Engine(engine)->makeShadingData(white, black, info, side, curve, curveSize));
}

void Clear() {
    SpecialFilter.clear();
    CImg::trimBufferStore();
}

void* createImvra() {
    try {
        void* engine = new CSpecialFilter;
        CImg::holdBufferStore();
        return engine;
    } catch (...) {
        return nullptr;
    }
}
void deleteImvra(void* engine) {
    if (engine == nullptr) return;
    delete Engine(engine);
    CImg::releaseBufferStore();
}

} // namespace Tvk::Imvra::KD730
