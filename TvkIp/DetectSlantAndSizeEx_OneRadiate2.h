// Detectors of modes 8 and 11 of DetectSlantAndSizeEx: thin layers over the
// older size detectors. Mode 8 drives the single-image entry through its
// phase record (the back-shadow detector); mode 11 drives the duplex size
// detector with both sides, or runs as mode 8 for a simplex scan.
#pragma once

#include "DetectSlantAndSize.h"
#include "DetectSlantAndSizeEx.h"
#include "TvkDetectSlantAndSize.h"

#include <cstdint>
#include <memory>

class CDetectSizeWithDuplex;

// A layer that hands every band and the result to its inner detector.
class CDetectSlantAndSize_Forwarding : public CDetectSlantAndSizeBase {
public:
    uint32_t FirstProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t MidProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t LastProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t ResultProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;

    CDetectSlantAndSizeBase* inner() const { return m_pInner.get(); }

protected:
    struct Releaser {
        void operator()(CDetectSlantAndSizeBase* d) const {
            if (d != nullptr) d->Release();
        }
    };
    std::unique_ptr<CDetectSlantAndSizeBase, Releaser> m_pInner;
};

// Mode 8.
class CDetectSlantAndSize_OneRadiate : public CDetectSlantAndSize_Forwarding {
public:
    bool CanBandProcess() override { return true; }
    uint32_t InitProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
};

// Mode 11.
class CDetectSlantAndSize_OneRadiate_With_Duplex : public CDetectSlantAndSize_Forwarding {
public:
    bool CanBandProcess() override { return true; }
    uint32_t InitProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
};

// Inner detector of mode 8: one side through DetectSlantAndSize.
class CDetectSlantAndSizeBackShadow : public CDetectSlantAndSizeBase {
public:
    CDetectSlantAndSizeBackShadow();
    ~CDetectSlantAndSizeBackShadow() override;
    bool CanBandProcess() override { return false; }
    uint32_t InitProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t FirstProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t MidProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t LastProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t ResultProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;

    const tagSLANTSIZEINFO& record() const { return m_info; }

private:
    uint32_t Phase(const tagTVKIMAGEINFO* image, int32_t phase);
    tagSLANTSIZEINFO m_info{};
};

// Inner detector of mode 11 for a duplex scan.
class CDetectSlantAndSize_OneRadiate_With_Duplex_Main : public CDetectSlantAndSizeBase {
public:
    CDetectSlantAndSize_OneRadiate_With_Duplex_Main();
    ~CDetectSlantAndSize_OneRadiate_With_Duplex_Main() override;
    bool CanBandProcess() override { return false; }
    uint32_t InitProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t FirstProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t MidProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t LastProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;
    uint32_t ResultProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request) override;

private:
    uint32_t Band(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC* request,
                  uint32_t command);
    std::unique_ptr<CDetectSizeWithDuplex> m_pDetector;
    int32_t m_xdpi = 0;
    int32_t m_ydpi = 0;
    int32_t m_lOption[21] = {}; // the duplex detector's option words
};
