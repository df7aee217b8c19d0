// The exported interface of the image-processing library: plain functions
// through which the data source filters every band of a scan and runs every
// light calibration. The records they take are declared beside them in
// ImvraRecords.h, the image in CImg.h.
//
// One engine or many
// ------------------
// The functions without an engine handle all work on one engine that the
// library builds when it is loaded and destroys at process exit; only one
// caller at a time may use them. That engine's stages hold the band state of
// the page in progress: a whole-image call made between two bands of another
// page (NormalFilterSimplex, NormalFilterFolio, the single filters,
// PutImageOnSide) restarts the stages that page is using, so its later bands
// come out wrong. Finish a page before such a call, or give the calls of a
// page their own engine: createImvra makes engines independent of each other
// and of the built-in one, used through the handle forms.
//
// Results
// -------
// Every filtering and calibration call answers with a tagRTN: 0 success, 2 a
// missing or mis-sized record (record sizes are kFilterSimplexInfoSize and
// kFilterDuplexInfoSize), 3 no memory, 4 a step out of order, 5 settings that
// do not fit together. On success the output image takes over the input's
// buffer (for a duplex call the back output takes the back side); a band may
// come out empty while a stage holds the page's bands until its last band.
// On failure the output images are left as they were.
#pragma once

#include "CImg.h"
#include "ImvraRecords.h"

namespace Tvk::Imvra::KD730 {

// Colour mode of the gamma call.
enum IMVRA_EXPORT ColorMode : int { ColorModeBinary = 0, ColorModeGray = 1, ColorModeColor = 2 };

// Transport offset: getOffset gives resolution x offset / 25400 pixels
// (truncated toward zero) of the stored offset in micrometres (-7946 until
// setOffset replaces it).
IMVRA_EXPORT long getOffset(long resolution);
IMVRA_EXPORT void setOffset(long offset);
// Dummy pixels of a sensor row at a resolution (600, else the 300 table).
// Both rows of a table hold the same sum, so any row answers that sum.
IMVRA_EXPORT long getDummyPixelCount(long resolution, int row);
// Folder of the text-orientation data: -1 for null or a folder longer than
// 1023 characters (the previous one kept), else 0.
IMVRA_EXPORT int setOcrPath(const char* folder);

// A whole one-sided page, or its first, middle and last band.
IMVRA_EXPORT tagRTN FilterSimplex(CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterSimplexFirst(CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterSimplexMiddle(CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterSimplexLast(CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info);
// A whole two-sided sheet from one raw image, or its bands.
IMVRA_EXPORT tagRTN FilterDuplex(CImg& outFront, CImg& outBack, CImg& in,
                                 tagFILTERDUPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterDuplexFirst(CImg& outFront, CImg& outBack, CImg& in,
                                      tagFILTERDUPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterDuplexMiddle(CImg& outFront, CImg& outBack, CImg& in,
                                       tagFILTERDUPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterDuplexLast(CImg& outFront, CImg& outBack, CImg& in,
                                     tagFILTERDUPLEXINFO* info);

// The same on an engine from createImvra (null handle: 2).
IMVRA_EXPORT tagRTN FilterSimplex(void* engine, CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterSimplexFirst(void* engine, CImg& out, CImg& in,
                                       tagFILTERSIMPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterSimplexMiddle(void* engine, CImg& out, CImg& in,
                                        tagFILTERSIMPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterSimplexLast(void* engine, CImg& out, CImg& in,
                                      tagFILTERSIMPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterDuplex(void* engine, CImg& outFront, CImg& outBack, CImg& in,
                                 tagFILTERDUPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterDuplexFirst(void* engine, CImg& outFront, CImg& outBack, CImg& in,
                                      tagFILTERDUPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterDuplexMiddle(void* engine, CImg& outFront, CImg& outBack, CImg& in,
                                       tagFILTERDUPLEXINFO* info);
IMVRA_EXPORT tagRTN FilterDuplexLast(void* engine, CImg& outFront, CImg& outBack, CImg& in,
                                     tagFILTERDUPLEXINFO* info);

// Only the generic page filters on a whole image (see "One engine or many"):
// front true applies the front settings, false the back ones; a one-sided
// record serves both sides, a two-sided one is accepted too.
IMVRA_EXPORT tagRTN NormalFilterSimplex(CImg& out, CImg& in, tagFILTERSIMPLEXINFO* info, bool front);
// The generic filters of the side-by-side form on one whole image.
IMVRA_EXPORT tagRTN NormalFilterFolio(CImg& out, CImg& in, tagFILTERDUPLEXINFO* info);

// Single filters on a whole image with the front side's stages (see "One
// engine or many").
IMVRA_EXPORT tagRTN DropOutColor(CImg& img, tagDROPOUTCOLORINFO* info);
IMVRA_EXPORT tagRTN EmphasisColor(CImg& img, tagEMPHASISCOLORINFO* info);
IMVRA_EXPORT tagRTN EraseBackPage(CImg& img, tagERASEBACKPAGEINFO* info);
IMVRA_EXPORT tagRTN ColorToGray(CImg& img);
// bw: the gamma step's black-and-white flag.
IMVRA_EXPORT tagRTN GRC(CImg& img, tagGRCINFO* info, ColorMode mode, bool bw);
IMVRA_EXPORT tagRTN EmphasisEdge(CImg& img, tagEMPHASISEDGEINFO* info);
IMVRA_EXPORT tagRTN GrayToBinary(CImg& img, tagGRAYTOBINARYINFO* info);
IMVRA_EXPORT tagRTN Inverse(CImg& img);
IMVRA_EXPORT tagRTN TextImageDirection(CImg& img, tagTEXTIMAGEDIRECTIONINFO* info);
IMVRA_EXPORT tagRTN Rotate90x(CImg& img, tagROTATE90XINFO* info);
IMVRA_EXPORT tagRTN IsBlankPage(CImg& img, tagBLANKPAGEINFO* info);
// Joins two whole images side by side; on success out holds both.
IMVRA_EXPORT tagRTN PutImageOnSide(CImg& out, CImg& left, CImg& right);

// Light calibration (see ImvraRecords.h for the record): AdjustLightFirst
// starts it (mode 3 selects the second sensor layout for the library's
// life), AdjustLightNext takes each reference scan and writes the next
// register values, AdjustLightLast reduces a final reference to one averaged
// line per side, AdjustLightFix makes one side's shading data from a white
// and a black line (the white corrected by the light-curve block when
// curveSize is not 0).
IMVRA_EXPORT void AdjustLightFirst(tagADJUSTINFO* info, long mode);
IMVRA_EXPORT tagRTN AdjustLightNext(CImg& raw, tagADJUSTINFO* info);
IMVRA_EXPORT tagRTN AdjustLightLast(CImg& front, CImg& back, CImg& raw, tagADJUSTINFO* info);
IMVRA_EXPORT tagRTN AdjustLightFix(CImg& white, CImg& black, tagADJUSTINFO* info, tagSIDE side,
                                   unsigned char* curve, unsigned long curveSize);
IMVRA_EXPORT tagRTN AdjustLightFix(void* engine, CImg& white, CImg& black, tagADJUSTINFO* info,
                                   tagSIDE side, unsigned char* curve, unsigned long curveSize);

// Releases every stage of the built-in engine (the shading data stay), and
// the page and band buffers kept for reuse when no engine made by
// createImvra is alive: a host calls it when a batch ends.
IMVRA_EXPORT void Clear();
// A new independent engine, or null when it cannot be built.
IMVRA_EXPORT void* createImvra();
// Deletes an engine from createImvra; null is ignored.
IMVRA_EXPORT void deleteImvra(void* engine);

} // namespace Tvk::Imvra::KD730
