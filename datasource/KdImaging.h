// The image library as the scanner object uses it: the calls of its exported
// interface on the one static engine, behind a small interface so that the
// scan pipeline's tests can put a plain stand-in in its place. Nothing in
// the device layer calls the library except through this, and every call
// runs under ImagingLock(): the static engine takes one caller at a time.
#pragma once

#include "CImg.h"
#include "ImvraRecords.h"

#include <mutex>

class IKdImaging {
public:
    using CImg = Tvk::Imvra::CImg;
    using RTN = Tvk::Imvra::tagRTN;
    using State = Tvk::Imvra::tagIMAGESTATE;

    virtual ~IKdImaging() = default;
    virtual void setOffset(long offset) = 0;
    virtual long getOffset(long resolution) = 0;
    virtual long getDummyPixelCount(long resolution, int row) = 0;
    virtual int setOcrPath(const char* folder) = 0;
    // One band of a one-sided or two-sided page, by its position in the page.
    virtual RTN filterSimplex(State state, CImg& out, CImg& in,
                              Tvk::Imvra::tagFILTERSIMPLEXINFO* info) = 0;
    virtual RTN filterDuplex(State state, CImg& outFront, CImg& outBack, CImg& in,
                             Tvk::Imvra::tagFILTERDUPLEXINFO* info) = 0;
    virtual RTN normalFilterSimplex(CImg& out, CImg& in, Tvk::Imvra::tagFILTERSIMPLEXINFO* info,
                                    bool front) = 0;
    virtual void adjustLightFirst(Tvk::Imvra::tagADJUSTINFO* info, long mode) = 0;
    virtual RTN adjustLightNext(CImg& raw, Tvk::Imvra::tagADJUSTINFO* info) = 0;
    virtual RTN adjustLightLast(CImg& front, CImg& back, CImg& raw,
                                Tvk::Imvra::tagADJUSTINFO* info) = 0;
    virtual RTN adjustLightFix(CImg& white, CImg& black, Tvk::Imvra::tagADJUSTINFO* info,
                               Tvk::Imvra::tagSIDE side, unsigned char* curve,
                               unsigned long curveSize) = 0;
    // The batch has ended: the engine may give back what it kept for the
    // next band or page (its stages and reused page buffers; the shading
    // data stay), so a host does not hold a batch's memory between scans.
    virtual void endBatch() {}
};

// The library's static engine.
IKdImaging& LibraryImaging();
// The lock every caller of an IKdImaging holds around its calls.
std::recursive_mutex& ImagingLock();
