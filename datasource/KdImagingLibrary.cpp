// The library's static engine behind the device layer's imaging interface.
#include "KdImaging.h"

#include "ImvraKD730.h"

namespace KD730 = Tvk::Imvra::KD730;
using namespace Tvk::Imvra;

namespace {

class LibraryEngine final : public IKdImaging {
public:
    void setOffset(long offset) override { KD730::setOffset(offset); }
    void endBatch() override { KD730::Clear(); }
    long getOffset(long resolution) override { return KD730::getOffset(resolution); }
    long getDummyPixelCount(long resolution, int row) override {
        return KD730::getDummyPixelCount(resolution, row);
    }
    int setOcrPath(const char* folder) override { return KD730::setOcrPath(folder); }
    RTN filterSimplex(State state, CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info) override {
        switch (state) {
        case IMAGE_WHOLE: return KD730::FilterSimplex(out, in, info);
        case IMAGE_FIRST: return KD730::FilterSimplexFirst(out, in, info);
        case IMAGE_MIDDLE: return KD730::FilterSimplexMiddle(out, in, info);
        default: return KD730::FilterSimplexLast(out, in, info);
        }
    }
    RTN filterDuplex(State state, CImg& outFront, CImg& outBack, CImg& in,
                     tagFILTERDUPLEXINFO* info) override {
        switch (state) {
        case IMAGE_WHOLE: return KD730::FilterDuplex(outFront, outBack, in, info);
        case IMAGE_FIRST: return KD730::FilterDuplexFirst(outFront, outBack, in, info);
        case IMAGE_MIDDLE: return KD730::FilterDuplexMiddle(outFront, outBack, in, info);
        default: return KD730::FilterDuplexLast(outFront, outBack, in, info);
        }
    }
    RTN normalFilterSimplex(CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info, bool front) override {
        return KD730::NormalFilterSimplex(out, in, info, front);
    }
    void adjustLightFirst(tagADJUSTINFO* info, long mode) override {
        KD730::AdjustLightFirst(info, mode);
    }
    RTN adjustLightNext(CImg& raw, tagADJUSTINFO* info) override {
        return KD730::AdjustLightNext(raw, info);
    }
    RTN adjustLightLast(CImg& front, CImg& back, CImg& raw, tagADJUSTINFO* info) override {
        return KD730::AdjustLightLast(front, back, raw, info);
    }
    RTN adjustLightFix(CImg& white, CImg& black, tagADJUSTINFO* info, tagSIDE side,
                       unsigned char* curve, unsigned long curveSize) override {
        return KD730::AdjustLightFix(white, black, info, side, curve, curveSize);
    }
};

}  // namespace

IKdImaging& LibraryImaging() {
    static LibraryEngine engine;
    return engine;
}

std::recursive_mutex& ImagingLock() {
    static std::recursive_mutex lock;
    return lock;
}
