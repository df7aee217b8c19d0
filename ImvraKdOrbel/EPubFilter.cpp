#include "EPubFilter.h"

#include "CBinFilter.h"

namespace Tvk::Imvra {

int CEPubFilter::setInfo(CImg& img, void* info) {
    const auto* p = static_cast<const tagEPUBFILTERINFO*>(info);
    if (p == nullptr || p->ulSize != kEPubFilterInfoSize) return RTN_PAR;
    m_info = *p;
    return RTN_OK;
}

int CEPubFilter::EPubFilter(CImg& img) {
    if (img.isNull()) return RTN_OK; // a page whose bands were all empty
    if (img.info().lBps != 1) return RTN_PAR;
    // The first and only call of a filter: the level filter at the level asked.
    tagBINFILTERINFO request{kBinFilterInfoSize, m_info.ulLevel | kBinFilterLevelMode, 0, nullptr,
                             nullptr};
    tagIMAGEINFO* page = img;
    return BinFilter(page, page, &request) == 0 ? RTN_OK : RTN_PAR;
}

} // namespace Tvk::Imvra
