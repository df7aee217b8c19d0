#include "KdOrbelLogger.h"

#include "ImageFileFormat.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

namespace Tvk::Imvra::KD730 {

namespace {

// Label columns of the blocks: the label (with its leading point) is padded
// so that the values line up.
constexpr int kAdjustColumn = 28;
constexpr int kImageColumn = 15;
constexpr int kFilterColumn = 26;

// Indents: blocks of light calibration and images, generic and scanner
// settings, and the lines of a pointed-to record (four blanks more).
constexpr const char* kBlank = "    ";
constexpr const char* kTab = "\t";
constexpr const char* kTabNested = "\t    ";

// True when a record of size word size holds the whole field at
// [offset, offset + width).
constexpr bool Present(uint32_t size, size_t offset, size_t width) {
    return offset + width <= size;
}
#define KD_PRESENT(rec, T, F) Present((rec)->ulSize, offsetof(T, F), sizeof(T::F))

class Block {
public:
    explicit Block(TvkLogger* log) : m_log(log) {}

    void text(const char* indent, const char* s) { m_log->log("%s%s", indent, s); }
    void value(const char* indent, int column, const char* name, uint32_t v) {
        m_log->log("%s.%-*s%10u", indent, column - 1, name, v);
    }
    // Pointers in full width.
    void pointer(const char* indent, int column, const char* name, const void* p) {
        m_log->log("%s.%-*s%10llu", indent, column - 1, name,
                   static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    }
    void pair(const char* indent, int column, const char* name, int32_t a, int32_t b) {
        m_log->log("%s.%-*s%10u%10u", indent, column - 1, name, static_cast<uint32_t>(a),
                   static_cast<uint32_t>(b));
    }

    void image(const tagIMAGEINFO& r, const char* extra) {
        const std::string in = std::string(extra) + kBlank;
        text(extra, "<IMAGEINFO>");
        const struct {
            const char* name;
            uint32_t v;
        } fields[] = {{"lXpos", static_cast<uint32_t>(r.lXpos)},
                      {"lYpos", static_cast<uint32_t>(r.lYpos)},
                      {"lWidth", static_cast<uint32_t>(r.lWidth)},
                      {"lHeight", static_cast<uint32_t>(r.lHeight)},
                      {"lSync", static_cast<uint32_t>(r.lSync)},
                      {"tImageSize", r.tImageSize},
                      {"lBps", static_cast<uint32_t>(r.lBps)},
                      {"lSpp", static_cast<uint32_t>(r.lSpp)},
                      {"ulRGBOrder", r.ulRGBOrder},
                      {"lXResolution", static_cast<uint32_t>(r.lXResolution)},
                      {"lYResolution", static_cast<uint32_t>(r.lYResolution)}};
        for (const auto& f : fields) value(in.c_str(), kImageColumn, f.name, f.v);
        text(extra, "</IMAGEINFO>");
    }

    void normal(const tagNORMALFILTERINFO* r) {
        using T = tagNORMALFILTERINFO;
        text("", "<NORMALFILTERINFO>");
        value(kTab, kFilterColumn, "ulSize", r->ulSize);
        if (KD_PRESENT(r, T, bReduceMoire))
            value(kTab, kFilterColumn, "bReduceMoire", r->bReduceMoire);
        if (KD_PRESENT(r, T, pDetectColorOrGrayInfo)) {
            const auto* p = r->pDetectColorOrGrayInfo;
            pointer(kTab, kFilterColumn, "pDetectColorOrGrayInfo", p);
            if (p != nullptr) detectColorOrGray(p);
        }
        if (KD_PRESENT(r, T, pDropOutColorInfo))
            colourList("pDropOutColorInfo", r->pDropOutColorInfo);
        if (KD_PRESENT(r, T, pEmphasisColorInfo))
            colourList("pEmphasisColorInfo", r->pEmphasisColorInfo);
        if (KD_PRESENT(r, T, pEraseBackPageInfo)) {
            const auto* p = r->pEraseBackPageInfo;
            pointer(kTab, kFilterColumn, "pEraseBackPageInfo", p);
            if (p != nullptr) {
                using S = tagERASEBACKPAGEINFO;
                nested("ulSize", p->ulSize);
                if (KD_PRESENT(p, S, ulCoefficient)) nested("ulCoefficient", p->ulCoefficient);
                if (KD_PRESENT(p, S, ulThreshold)) nested("ulThreshold", p->ulThreshold);
            }
        }
        if (KD_PRESENT(r, T, pGRCInfo)) {
            const auto* p = r->pGRCInfo;
            pointer(kTab, kFilterColumn, "pGRCInfo", p);
            if (p != nullptr) {
                using S = tagGRCINFO;
                nested("ulSize", p->ulSize);
                if (KD_PRESENT(p, S, ucBrightness)) nested("ucBrightness", p->ucBrightness);
                if (KD_PRESENT(p, S, ucContrast)) nested("ucContrast", p->ucContrast);
            }
        }
        if (KD_PRESENT(r, T, pEmphasisEdgeInfo)) {
            const auto* p = r->pEmphasisEdgeInfo;
            pointer(kTab, kFilterColumn, "pEmphasisEdgeInfo", p);
            if (p != nullptr) {
                nested("ulSize", p->ulSize);
                if (KD_PRESENT(p, tagEMPHASISEDGEINFO, ulEmphasisLevel))
                    nested("ulEmphasisLevel", p->ulEmphasisLevel);
            }
        }
        if (KD_PRESENT(r, T, bAutoSize)) value(kTab, kFilterColumn, "bAutoSize", r->bAutoSize);
        if (KD_PRESENT(r, T, bSkewCorrection))
            value(kTab, kFilterColumn, "bSkewCorrection", r->bSkewCorrection);
        if (KD_PRESENT(r, T, pTextImageDirectionInfo)) {
            const auto* p = r->pTextImageDirectionInfo;
            pointer(kTab, kFilterColumn, "pTextImageDirectionInfo", p);
            if (p != nullptr) {
                using S = tagTEXTIMAGEDIRECTIONINFO;
                nested("ulSize", p->ulSize);
                if (KD_PRESENT(p, S, tidlang)) nested("tidlang", p->tidlang);
                if (KD_PRESENT(p, S, tidcodepage)) nested("tidcodepage", p->tidcodepage);
                if (KD_PRESENT(p, S, nDeg)) nested("nDeg", static_cast<uint32_t>(p->nDeg));
            }
        }
        if (KD_PRESENT(r, T, pRotate90xInfo)) {
            const auto* p = r->pRotate90xInfo;
            pointer(kTab, kFilterColumn, "pRotate90xInfo", p);
            if (p != nullptr) {
                nested("ulSize", p->ulSize);
                if (KD_PRESENT(p, tagROTATE90XINFO, lDegree))
                    nested("lDegree", static_cast<uint32_t>(p->lDegree));
            }
        }
        if (KD_PRESENT(r, T, pGrayToBinaryInfo)) {
            const auto* p = r->pGrayToBinaryInfo;
            pointer(kTab, kFilterColumn, "pGrayToBinaryInfo", p);
            if (p != nullptr) {
                using S = tagGRAYTOBINARYINFO;
                nested("ulSize", p->ulSize);
                if (KD_PRESENT(p, S, Method)) nested("Method", p->Method);
                if (KD_PRESENT(p, S, ulBrightness)) nested("ulBrightness", p->ulBrightness);
                if (KD_PRESENT(p, S, ulContrast)) nested("ulContrast", p->ulContrast);
            }
        }
        if (KD_PRESENT(r, T, bInverse)) value(kTab, kFilterColumn, "bInverse", r->bInverse);
        if (KD_PRESENT(r, T, pBlankPageInfo)) {
            const auto* p = r->pBlankPageInfo;
            m_log->log("\t.pBlankPageInfo\t\t      %10llu",
                       static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
            if (p != nullptr) {
                using S = tagBLANKPAGEINFO;
                nested("ulSize", p->ulSize);
                if (KD_PRESENT(p, S, lBlankSkipSlice))
                    nested("lBlankSkipSlice", static_cast<uint32_t>(p->lBlankSkipSlice));
                if (KD_PRESENT(p, S, bBlankPage)) nested("bBlankPage", p->bBlankPage);
            }
        }
        if (KD_PRESENT(r, T, bDetectResolution))
            value(kTab, kFilterColumn, "bDetectResolution", r->bDetectResolution);
        if (KD_PRESENT(r, T, bColorSaturation))
            value(kTab, kFilterColumn, "bColorSaturation", r->bColorSaturation);
        if (KD_PRESENT(r, T, pEPubFilterInfo)) {
            const auto* p = r->pEPubFilterInfo;
            pointer(kTab, kFilterColumn, "pEPubFilterInfo", p);
            if (p != nullptr && KD_PRESENT(p, tagEPUBFILTERINFO, ulLevel))
                nested("ulLevel", p->ulLevel);
        }
        if (KD_PRESENT(r, T, pSkewCorrectionInfo)) {
            const auto* p = r->pSkewCorrectionInfo;
            pointer(kTab, kFilterColumn, "pSkewCorrectionInfo", p);
            if (p != nullptr && KD_PRESENT(p, tagSKEWCORRECTIONINFO, type)) nested("type", p->type);
        }
        if (KD_PRESENT(r, T, pBinIPFilterInfo)) {
            const auto* p = r->pBinIPFilterInfo;
            pointer(kTab, kFilterColumn, "pBinIPFilterInfo", p);
            if (p != nullptr && KD_PRESENT(p, tagBINIPFILTERINFO, type)) nested("type", p->type);
        }
        text("", "</NORMALFILTERINFO>");
    }

    void special(const tagSPECIALFILTERINFO* r) {
        using T = tagSPECIALFILTERINFO;
        text("", "<SPECIALFILTER>");
        value(kTab, kFilterColumn, "ulSize", r->ulSize);
        if (KD_PRESENT(r, T, pShadingInfo)) {
            const tagSHADINGINFO* p = r->pShadingInfo;
            pointer(kTab, kFilterColumn, "pShadingInfo", p);
            if (p != nullptr) {
                nested("ulSize", p->ulSize);
                // The images are there only in a record of the full size.
                if (p->ulSize == kShadingInfoSize) {
                    image(p->white.info(), kTabNested);
                    image(p->black.info(), kTabNested);
                }
            }
        }
        if (KD_PRESENT(r, T, pSRGBConversionInfo)) {
            const auto* p = r->pSRGBConversionInfo;
            pointer(kTab, kFilterColumn, "pSRGBConversionInfo", p);
            if (p != nullptr) {
                nested("ulSize", p->ulSize);
                if (KD_PRESENT(p, tagSRGBCONVERSIONINFO, Type)) nested("Type", p->Type);
                if (KD_PRESENT(p, tagSRGBCONVERSIONINFO, Matrix))
                    for (const auto& row : p->Matrix)
                        m_log->log("%s.%-*s%10u%10u%10u", kTabNested, kFilterColumn - 1, "Matrix",
                                   static_cast<uint32_t>(row[0]), static_cast<uint32_t>(row[1]),
                                   static_cast<uint32_t>(row[2]));
            }
        }
        if (KD_PRESENT(r, T, pDetect4PointsInfo)) {
            const auto* p = r->pDetect4PointsInfo;
            pointer(kTab, kFilterColumn, "pDetect4PointsInfo", p);
            if (p != nullptr) corners(p);
        }
        if (KD_PRESENT(r, T, pFeedingDirectionInfo)) {
            const auto* p = r->pFeedingDirectionInfo;
            pointer(kTab, kFilterColumn, "pFeedingDirectionInfo", p);
            if (p != nullptr) {
                using S = tagFEEDINGDIRECTIONINFO;
                nested("ulSize", p->ulSize);
                if (KD_PRESENT(p, S, ulDirection)) nested("ulDirection", p->ulDirection);
                if (KD_PRESENT(p, S, lLength)) nested("lLength", static_cast<uint32_t>(p->lLength));
                if (KD_PRESENT(p, S, lTopMargin))
                    nested("lTopMargin", static_cast<uint32_t>(p->lTopMargin));
                if (KD_PRESENT(p, S, lBottomMargin))
                    nested("lBottomMargin", static_cast<uint32_t>(p->lBottomMargin));
            }
        }
        if (KD_PRESENT(r, T, pRemoveShadowInfo)) {
            const auto* p = r->pRemoveShadowInfo;
            pointer(kTab, kFilterColumn, "pRemoveShadowInfo", p);
            if (p != nullptr) {
                using S = tagRMVSHADOWINFO;
                nested("ulSize", p->ulSize);
                if (KD_PRESENT(p, S, lLength)) nested("lLength", static_cast<uint32_t>(p->lLength));
                if (KD_PRESENT(p, S, lScannerTopMargin))
                    nested("lScannerTopMargin", static_cast<uint32_t>(p->lScannerTopMargin));
                if (KD_PRESENT(p, S, lScannerBottomMargin))
                    nested("lScannerBottomMargin", static_cast<uint32_t>(p->lScannerBottomMargin));
            }
        }
        if (KD_PRESENT(r, T, bCardScan)) value(kTab, kFilterColumn, "bCardScan", r->bCardScan);
        text("", "</SPECIALFILTER>");
    }

    void adjust(const tagADJUSTINFO& r) {
        text("", "<ADJUSTINFO>");
        value(kBlank, kAdjustColumn, "bDuplex", r.bDuplex);
        value(kBlank, kAdjustColumn, "lXResolution", r.lXResolution);
        value(kBlank, kAdjustColumn, "ScanMode", r.ScanMode);
        value(kBlank, kAdjustColumn, "FrontLightSorce", r.FrontLightSorce);
        value(kBlank, kAdjustColumn, "BackLightSorce", r.BackLightSorce);
        registers("FrontAdjustInfo", r.FrontAdjustInfo);
        registers("BackAdjustInfo", r.BackAdjustInfo);
        m_log->log("    .ScanInfo\t                 %10u", static_cast<uint32_t>(r.ScanInfo));
        text("", "</ADJUSTINFO>");
    }

private:
    void nested(const char* name, uint32_t v) { value(kTabNested, kFilterColumn, name, v); }

    void detectColorOrGray(const tagDETECTCOLORORGRAYINFO* p) {
        using S = tagDETECTCOLORORGRAYINFO;
        nested("ulSize", p->ulSize);
        if (KD_PRESENT(p, S, lSensitivityOfAutoColor))
            nested("lSensitivityOfAutoColor", static_cast<uint32_t>(p->lSensitivityOfAutoColor));
        if (KD_PRESENT(p, S, ulIntensityOfAutoColor))
            nested("ulIntensityOfAutoColor", p->ulIntensityOfAutoColor);
        // The four further words come only with the full record.
        if (p->ulSize < kDetectColorOrGrayInfoSize) return;
        nested("Mode", p->Mode);
        nested("lLength", static_cast<uint32_t>(p->lLength));
        nested("lTopMargin", static_cast<uint32_t>(p->lTopMargin));
        nested("lBottomMargin", static_cast<uint32_t>(p->lBottomMargin));
    }

    void colourList(const char* name, const tagDROPOUTCOLORINFO* p) {
        using S = tagDROPOUTCOLORINFO;
        pointer(kTab, kFilterColumn, name, p);
        if (p == nullptr) return;
        nested("ulSize", p->ulSize);
        if (KD_PRESENT(p, S, lpColor)) pointer(kTabNested, kFilterColumn, "lpColor", p->lpColor);
        if (KD_PRESENT(p, S, lpNewColors))
            pointer(kTabNested, kFilterColumn, "lpNewColors", p->lpNewColors);
        if (KD_PRESENT(p, S, nColorCount)) nested("nColorCount", p->nColorCount);
        if (KD_PRESENT(p, S, nRange)) nested("nRange", p->nRange);
    }

    void corners(const tagDETECT4POINTSINFO* p) {
        using S = tagDETECT4POINTSINFO;
        const char* in = kTabNested;
        const int col = kFilterColumn;
        nested("ulSize", p->ulSize);
        if (p->ulSize < kDetect4PointsInfoMinSize) return;
        pair(in, col, "LeftTop", p->LeftTop.x, p->LeftTop.y);
        pair(in, col, "RightTop", p->RightTop.x, p->RightTop.y);
        pair(in, col, "LeftBottom", p->LeftBottom.x, p->LeftBottom.y);
        pair(in, col, "RightBottom", p->RightBottom.x, p->RightBottom.y);
        m_log->log("%s.%-*s%10u%10u%10u%10u", in, col - 1, "rectDoc",
                   static_cast<uint32_t>(p->rectDoc.left), static_cast<uint32_t>(p->rectDoc.top),
                   static_cast<uint32_t>(p->rectDoc.right),
                   static_cast<uint32_t>(p->rectDoc.bottom));
        pair(in, col, "vectorSlant", p->vectorSlant.x, p->vectorSlant.y);
        pair(in, col, "Size", p->Size.cx, p->Size.cy);
        nested("lTopMargin", static_cast<uint32_t>(p->lTopMargin));
        nested("lBottomMargin", static_cast<uint32_t>(p->lBottomMargin));
        nested("lLeftMargin", static_cast<uint32_t>(p->lLeftMargin));
        nested("lRightMargin", static_cast<uint32_t>(p->lRightMargin));
        if (p->ulSize >= kDetect4PointsInfoTrimSize) {
            nested("lTopTrim", static_cast<uint32_t>(p->lTopTrim));
            nested("lBottomTrim", static_cast<uint32_t>(p->lBottomTrim));
            nested("lLeftTrim", static_cast<uint32_t>(p->lLeftTrim));
            nested("lRightTrim", static_cast<uint32_t>(p->lRightTrim));
        }
        if (KD_PRESENT(p, S, bCarrierSheetMode)) nested("bCarrierSheetMode", p->bCarrierSheetMode);
    }

    void registers(const char* side, const tagADJUSTREGISTERS& a) {
        const struct {
            const char* name;
            uint32_t v;
        } fields[] = {{"Gain1", a.Gain[0]},       {"Reserved1", a.Reserved1},
                      {"Offset1", a.Offset[0]},   {"Reserved2", a.Reserved2},
                      {"RedLED", a.RedLED},       {"GreenLED", a.GreenLED},
                      {"BlueLED", a.BlueLED},     {"Reserved3", a.Reserved3},
                      {"Reserved4", a.Reserved4}, {"Reserved5", a.Reserved5}};
        for (const auto& f : fields) {
            const std::string label = std::string(side) + "." + f.name;
            value(kBlank, kAdjustColumn, label.c_str(), f.v);
        }
    }

    TvkLogger* m_log;
};

// The global logger when its file is open, else null.
TvkLogger* OpenLog() {
    TvkLogger* log = TvkLogger::Instance;
    return log != nullptr && log->isOpen() ? log : nullptr;
}

// Creates path for writing only when no file (nor link) of that name exists.
// -1 with errno EEXIST when the name is taken.
int CreateExclusive(const char* path) {
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
}

} // namespace

void KdOrbelLogger::createLogger(const char* name) {
    TvkLogger::createGlobalLogger(name);
}

void KdOrbelLogger::writeADJUSTINFO(const tagADJUSTINFO* info) {
    if (TvkLogger* log = OpenLog(); log != nullptr && info != nullptr) Block(log).adjust(*info);
}

void KdOrbelLogger::writeIMAGEINFO(const tagIMAGEINFO* info) {
    if (TvkLogger* log = OpenLog(); log != nullptr && info != nullptr) Block(log).image(*info, "");
}

void KdOrbelLogger::writeNORMALFILTERINFO(const tagNORMALFILTERINFO* info) {
    if (TvkLogger* log = OpenLog(); log != nullptr && info != nullptr) Block(log).normal(info);
}

void KdOrbelLogger::writeSPECIALFILTERINFO(const tagSPECIALFILTERINFO* info) {
    if (TvkLogger* log = OpenLog(); log != nullptr && info != nullptr) Block(log).special(info);
}

void KdOrbelLogger::writeFILTERSIMPLEXINFO(const tagFILTERSIMPLEXINFO* info) {
    TvkLogger* log = OpenLog();
    if (log == nullptr || info == nullptr) return;
    using T = tagFILTERSIMPLEXINFO;
    Block b(log);
    b.text("", "<FILTERSIMPLEXINFO>");
    b.value(kTab, kFilterColumn, "ulSize", info->ulSize);
    if (KD_PRESENT(info, T, imageIn)) b.image(info->imageIn, "");
    if (KD_PRESENT(info, T, imageOut)) b.image(info->imageOut, "");
    if (KD_PRESENT(info, T, normal)) b.normal(&info->normal);
    if (KD_PRESENT(info, T, special)) b.special(&info->special);
    b.text("", "</FILTERSIMPLEXINFO>");
}

void KdOrbelLogger::writeFILTERDUPLEXINFO(const tagFILTERDUPLEXINFO* info) {
    TvkLogger* log = OpenLog();
    if (log == nullptr || info == nullptr) return;
    using T = tagFILTERDUPLEXINFO;
    Block b(log);
    b.text("", "<FILTERDUPLEXINFO>");
    b.value(kTab, kFilterColumn, "ulSize", info->ulSize);
    if (KD_PRESENT(info, T, imageIn)) b.image(info->imageIn, "");
    if (KD_PRESENT(info, T, imageOut)) b.image(info->imageOut, "");
    if (KD_PRESENT(info, T, normalFront)) b.normal(&info->normalFront);
    if (KD_PRESENT(info, T, normalBack)) b.normal(&info->normalBack);
    if (KD_PRESENT(info, T, specialFront)) b.special(&info->specialFront);
    if (KD_PRESENT(info, T, specialBack)) b.special(&info->specialBack);
    b.text("", "</FILTERDUPLEXINFO>");
}

void KdOrbelLogger::dumpFirstLine(TvkLogger* logger, const tagIMAGEINFO* info) {
    if (logger == nullptr || !logger->isOpen() || info == nullptr || info->lpImage == nullptr)
        return;
    // Other depths would not be whole bytes or words.
    if (info->lBps != 8 && info->lBps != 16) return;
    if (info->lWidth < 1 || info->lSpp < 1 || info->lSync < 0) return;
    const int64_t bytes = info->lBps / 8;
    const bool planar = info->ulRGBOrder == 1;
    const int64_t rows = planar ? info->lSpp : 1;
    const int64_t perRow = planar ? info->lWidth : int64_t{info->lWidth} * info->lSpp;
    for (int64_t r = 0; r < rows; ++r) {
        const int64_t start = r * info->lSync;
        for (int64_t i = 0; i < perRow; ++i) {
            const int64_t at = start + i * bytes;
            if (at + bytes > info->tImageSize) return; // never past the buffer
            const uint8_t* p = info->lpImage + at;
            int v = *p;
            if (bytes == 2) {
                uint16_t w;
                std::memcpy(&w, p, 2);
                v = w;
            }
            logger->log("%d", v);
        }
    }
}

void KdOrbelLogger::writeTvk(const CImg& image, const char* prefix) {
    if (OpenLog() == nullptr || prefix == nullptr || image.isNull()) return;
    const std::string base =
        prefix[0] == '/' ? prefix : std::string(TvkLogger::DEFAULT_DIR) + prefix;
    // A copy, so the file holds the image as it was at this moment.
    const CImg copy(image);
    if (copy.isNull()) return;
    for (int n = 0; n < 1000; ++n) {
        char number[12];  // wide enough for any int: the optimiser cannot always bound n
        std::snprintf(number, sizeof number, "%03d", n);
        const std::string path = base + number + ".tvk";
        const int fd = CreateExclusive(path.c_str());
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return;
        }
        std::FILE* f = fdopen(fd, "wb");
        if (f == nullptr) {
            close(fd);
            return;
        }
        WriteTvk(f, copy.info());
        std::fclose(f);
        return;
    }
}

} // namespace Tvk::Imvra::KD730
