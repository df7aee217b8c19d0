// A four-corner detection request (mode 13) with its three records, as the
// image pipeline fills them, for the detection tests.
#pragma once

#include "DetectSlantAndSizeEx.h"
#include "DetectSlantAndSizeEx_OneRadiateEx.h"
#include "TvkDetectSlantAndSize.h"

#include <algorithm>

struct Mode13Request {
    tagDETECTSLANTSIZEEX_ONERADIATE_EX req{};
    tagONERADIATEEX_SCANNERINFO scanner{};
    tagONERADIATEEX_SCANINFO scan{};
    tagONERADIATEEX_SETTINGINFO setting{};

    explicit Mode13Request(bool duplex = false, int32_t shadowID = 1) {
        req.basic.cbsize = kOneRadiateExSize;
        req.basic.dwMode = kDssModeOneRadiateEx;
        req.basic.dwResultFlag = kDssResultRect | kDssResultCorners | kDssResultSlant;
        scanner.cbsize = kScannerInfoSize;
        scanner.sensorPos[0] = scanner.sensorPos[1] = {-1, -1}; // no sensor check
        scan.cbsize = kScanInfoSize;
        scan.shadowID = shadowID;
        scan.DuplexScan = duplex ? 1 : 0;
        setting.cbsize = kSettingInfoSize;
        setting.distance = -1;
        std::fill(std::begin(setting.simplex_edge_th), std::end(setting.simplex_edge_th), -1);
        std::fill(std::begin(setting.duplex_edge_th), std::end(setting.duplex_edge_th), -1);
        std::fill(std::begin(setting.duplex_br_th), std::end(setting.duplex_br_th), -1);
        std::fill(std::begin(setting.revise_margin_front), std::end(setting.revise_margin_front),
                  -1);
        std::fill(std::begin(setting.revise_margin_back), std::end(setting.revise_margin_back), -1);
        std::fill(std::begin(setting.dwReserved), std::end(setting.dwReserved), -1);
        req.pScannerInfo = &scanner;
        req.pScanInfo = &scan;
        req.pSettingInfo = &setting;
    }
    Mode13Request(const Mode13Request&) = delete;
    Mode13Request& operator=(const Mode13Request&) = delete;
    ~Mode13Request() { ReleaseSlantSizeExHandle(&req.basic); }

    uint32_t run(uint32_t command, const tagTVKIMAGEINFO* image) {
        req.basic.dwCommand = command;
        return DetectSlantAndSizeEx(image, &req.basic);
    }
    CDetectSlantAndSize_OneRadiateEx* detector() const {
        return static_cast<CDetectSlantAndSize_OneRadiateEx*>(
            static_cast<CDetectSlantAndSizeBase*>(req.basic.pHandle));
    }
    const tagDETECTRESULTBLOCK& front() const { return req.basic.result; }
    const tagDETECTRESULTBLOCK& back() const { return scan.back; }
};
