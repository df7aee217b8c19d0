// Frames shared by the page stages: stages that take their settings the same
// way on every band, and stages that work only on whole pages.
#pragma once

#include "IPBase.h"

namespace Tvk::Imvra {

// The three band forms of the settings call are the whole-image one.
template <class Base = CIPBase>
class CSettingsOnEveryBand : public Base {
public:
    int setInfoFirst(CImg& img, void* info) override { return this->setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return this->setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return this->setInfo(img, info); }
};

// A stage without a band form: the band calls leave the band and give 1.
class CWholePageStage : public CSettingsOnEveryBand<CIPBase> {
public:
    int IPFirst(CImg&) override { return RTN_UNSUPPORTED; }
    int IPMiddle(CImg&) override { return RTN_UNSUPPORTED; }
    int IPLast(CImg&) override { return RTN_UNSUPPORTED; }
};

} // namespace Tvk::Imvra
