// The binary noise-filter stage: hands the whole page to the lower layer's
// binary filter, which works in place.
#pragma once

#include "IPBase.h"

namespace Tvk::Imvra {

class CEPubFilter : public CIPSameOnEveryBand {
public:
    const char* getName() const override { return "EPubFilter"; }
    // Takes a tagEPUBFILTERINFO of size kEPubFilterInfoSize.
    int setInfo(CImg& img, void* info) override;
    int setInfoFirst(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoMiddle(CImg& img, void* info) override { return setInfo(img, info); }
    int setInfoLast(CImg& img, void* info) override { return setInfo(img, info); }

    const tagEPUBFILTERINFO& settings() const { return m_info; }

protected:
    int process(CImg& img) override { return EPubFilter(img); }

private:
    // RTN_PAR for a page that is not 1-bit or a refusal of the filter.
    int EPubFilter(CImg& img);
    tagEPUBFILTERINFO m_info{kEPubFilterInfoSize, 0};
};

} // namespace Tvk::Imvra
