// Steps of the scanner's chain whose stages are not part of the library yet:
// corner detection (one side and duplex), turned-page correction, page
// assembly (start and finished page), colour-gap correction, cut-out and
// automatic size. Until a stage is connected here, its step leaves the page
// as it is and answers 0, so the rest of the chain runs; every skipped step
// with settings that asked for it is written to the library log. The values
// these stages take are ready in the engine: turnedPage and carrierSheet for
// the corner steps, feedingRecord for the turned-page step (a back side
// without its own record reads the front's), offsetLines for the lines of
// the transport offset, usableWidth for the raw width.
#include "SpecialFilter.h"

#include "TvkLogger.h"

namespace Tvk::Imvra::KD730 {

namespace {
int NotConnected(const char* step, bool asked) {
    if (asked) TvkLogger::writeLog("CSpecialFilter::%s is not connected: page unchanged", step);
    return RTN_OK;
}
} // namespace

int CSpecialFilter::execDetect4Points(CImg&, tagSIDE side, tagIMAGESTATE) {
    return NotConnected("execDetect4Points", special(side).pDetect4PointsInfo != nullptr);
}

int CSpecialFilter::execDetect4PointsDuplex(CImg&, CImg&, tagIMAGESTATE) {
    return NotConnected("execDetect4PointsDuplex",
                        m_info.specialFront.pDetect4PointsInfo != nullptr &&
                            m_info.specialBack.pDetect4PointsInfo != nullptr);
}

int CSpecialFilter::execCorrectUnusualScanningDirection(CImg&, tagSIDE, tagIMAGESTATE) {
    return NotConnected("execCorrectUnusualScanningDirection",
                        m_info.specialFront.pFeedingDirectionInfo != nullptr);
}

int CSpecialFilter::execMakePage(CImg&, tagSIDE, tagIMAGESTATE) {
    return NotConnected("execMakePage", false);
}

int CSpecialFilter::execColorGapCorrect(CImg& img, tagSIDE side, tagIMAGESTATE) {
    return NotConnected("execColorGapCorrect", special(side).bColorGapCorrect != 0 &&
                                                   img.info().lSpp == 3 &&
                                                   img.info().lYResolution < 400);
}

int CSpecialFilter::execCutOut(CImg&, tagSIDE side, tagIMAGESTATE) {
    const tagNORMALFILTERINFO& n = sideInfo(side);
    return NotConnected("execCutOut", n.bAutoSize == 0 && n.bSkewCorrection == 0);
}

int CSpecialFilter::execFixPage(CImg&, tagSIDE, tagIMAGESTATE) {
    return NotConnected("execFixPage", false);
}

int CSpecialFilter::runAutoSize(CImg&, tagSIDE, tagIMAGESTATE, const tagDETECT4POINTSINFO&) {
    return NotConnected("execAutoSize", true);
}

} // namespace Tvk::Imvra::KD730
