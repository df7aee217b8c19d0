// The frame of every filter stage: a stage is told, call by call, whether it
// sees a whole image or the first, a middle or the last band of a page. A
// controller stands between a filter chain and one stage, owns the stage,
// keeps the first-band flag and, for stages that work only on whole pages,
// collects the bands and runs the stage once on the joined page.
//
// Writing a stage
// ---------------
// Derive from CIPBase and override all eleven virtual operations (or derive
// from CIPSameOnEveryBand when the stage does the same on every band). Each
// returns a tagRTN code (ImvraRecords.h). Every operation works in place on
// the image it is given: a stage may replace the image's buffer (build a new
// CImg and attachImg it), shrink it, or leave it empty, meaning "nothing to
// hand on yet" (the controllers behind it then skip that band).
//
// Settings:
// - setInfo (whole image) and setInfoFirst (first band) check the image kind
//   and the settings record (its leading size word against the record's size
//   constants) and return RTN_PAR when they do not fit. Only these two start
//   a page's state (handles, held-back lines, counters).
// - setInfoMiddle and setInfoLast re-check and re-take the settings only;
//   they never restart the page's state, so a stage's state lasts the page.
// - Processing operations return RTN_PAR when a result image is refused by
//   CImg::createImg and RTN_MEM when it comes back without a buffer.
// - A stage that keeps state across bands releases it in IPLast, in IP or in
//   its destructor.
//
// Driving a stage
// ---------------
// Put it in a CIPController<T> with a mode:
//   0  band by band; an empty last band is not passed on;
//   2, 3  band by band; the last band is always passed, also when empty
//      (stages that hold lines back flush them there);
//   4  whole page: bands are collected and the stage runs once, through
//      setInfo and IP, on the joined page at the last band.
// Then call IPComplete for a whole image, IPMiddle for a first or a middle
// band (call setFirst() before the first band of a page) and IPLast for the
// last band. A page of one band reaches the stage as a whole image.
#pragma once

#include "CImg.h"
#include "ImvraRecords.h"

#include <new>

namespace Tvk::Imvra {

class CIPBase {
public:
    virtual ~CIPBase() = default;

    // The stage's name: a constant string (used in the log line of each call).
    virtual const char* getName() const = 0;
    virtual int IP(CImg& img) = 0;                        // a whole image
    virtual int IPFirst(CImg& img) = 0;                   // the first band of a page
    virtual int IPMiddle(CImg& img) = 0;                  // a middle band
    virtual int IPLast(CImg& img) = 0;                    // the last band
    virtual int setInfo(CImg& img, void* info) = 0;       // settings for a whole image
    virtual int setInfoFirst(CImg& img, void* info) = 0;  // settings before the first band
    virtual int setInfoMiddle(CImg& img, void* info) = 0; // settings before a middle band
    virtual int setInfoLast(CImg& img, void* info) = 0;   // settings before the last band

    // The settings operation and, when it returns RTN_OK, the processing
    // operation; the first non-zero result.
    int IPInterface(CImg& img, void* info) {
        const int r = setInfo(img, info);
        return r != RTN_OK ? r : IP(img);
    }
    int IPFirstInterface(CImg& img, void* info) {
        const int r = setInfoFirst(img, info);
        return r != RTN_OK ? r : IPFirst(img);
    }
    int IPMiddleInterface(CImg& img, void* info) {
        const int r = setInfoMiddle(img, info);
        return r != RTN_OK ? r : IPMiddle(img);
    }
    int IPLastInterface(CImg& img, void* info) {
        const int r = setInfoLast(img, info);
        return r != RTN_OK ? r : IPLast(img);
    }
};

// A stage that works the same on any band: one processing body for all four
// processing operations.
class CIPSameOnEveryBand : public CIPBase {
public:
    int IP(CImg& img) override { return process(img); }
    int IPFirst(CImg& img) override { return process(img); }
    int IPMiddle(CImg& img) override { return process(img); }
    int IPLast(CImg& img) override { return process(img); }

protected:
    virtual int process(CImg& img) = 0;
};

// Controller modes.
enum tagIPMODE : int {
    IPMODE_BAND = 0,         // band by band; an empty last band is skipped
    IPMODE_BAND_FLUSH = 2,   // band by band; the last band is always passed
    IPMODE_BAND_FLUSH_3 = 3, // as 2
    IPMODE_WHOLE_PAGE = 4,   // collect the bands, run once on the joined page
};

// Drives one stage of class T (derived from CIPBase) through the bands of a
// page. Owns the stage.
template <class T> class CIPController {
public:
    CIPController() = default;
    CIPController(const CIPController&) = delete;
    CIPController& operator=(const CIPController&) = delete;
    ~CIPController() { clear(); }

    T* stage() const { return m_pIP; }
    // Takes the stage over (deleting one held before) with its mode; the
    // next band opens a page.
    void setStage(T* stage, int mode) {
        clear();
        m_pIP = stage;
        m_nMode = mode;
        m_bFirst = true;
    }
    int mode() const { return m_nMode; }
    void setMode(int mode) { m_nMode = mode; }
    bool first() const { return m_bFirst; }
    // The next band opens a page.
    void setFirst() { m_bFirst = true; }
    const CImgList& bands() const { return m_bands; }

    // A whole image.
    int IPComplete(CImg& img, void* info) {
        m_bFirst = true;
        m_bands.PopAll();
        if (m_pIP == nullptr) return RTN_MEM;
        return m_pIP->IPInterface(img, info);
    }

    // A first or a middle band.
    int IPMiddle(CImg& img, void* info) {
        // Bands left from an earlier, broken page are dropped.
        if (m_bFirst) m_bands.PopAll();
        if (m_pIP == nullptr) return RTN_MEM;
        if (m_nMode == IPMODE_WHOLE_PAGE) {
            const int r = m_bands.push(img);
            if (r != RTN_OK) {
                // The band cannot join the page: the page is given up.
                m_bands.PopAll();
                m_bFirst = true;
                return r;
            }
            m_bFirst = false;
            return RTN_OK;
        }
        if (img.isNull()) return RTN_OK;
        if (m_bFirst) {
            const int r = m_pIP->IPFirstInterface(img, info);
            m_bFirst = false;
            return r;
        }
        return m_pIP->IPMiddleInterface(img, info);
    }

    // The last band. Afterwards the band list is empty and the next band
    // opens a page, whatever the result (also when the stage throws).
    int IPLast(CImg& img, void* info) {
        struct PageEnd {
            CIPController& c;
            ~PageEnd() {
                c.m_bands.PopAll();
                c.m_bFirst = true;
            }
        } pageEnd{*this};
        if (m_bFirst) m_bands.PopAll();
        if (m_pIP == nullptr) return RTN_MEM;
        if (m_nMode == IPMODE_WHOLE_PAGE) {
            const int r = m_bands.push(img);
            if (r != RTN_OK) return r;
            try {
                m_bands.SpliceAndPopAll(img);
            } catch (const std::bad_alloc&) {
                return RTN_MEM;
            }
            return m_pIP->IPInterface(img, info);
        }
        // No non-empty band came before: this band is the whole page.
        if (m_bFirst) return m_pIP->IPInterface(img, info);
        if (img.isNull() && m_nMode != IPMODE_BAND_FLUSH && m_nMode != IPMODE_BAND_FLUSH_3)
            return RTN_OK;
        return m_pIP->IPLastInterface(img, info);
    }

    // Deletes the stage and drops the collected bands; nothing without a stage.
    void clear() {
        if (m_pIP == nullptr) return;
        delete m_pIP;
        m_pIP = nullptr;
        m_bands.PopAll();
    }

private:
    T* m_pIP = nullptr;
    int m_nMode = 0;
    bool m_bFirst = true;
    CImgList m_bands;
};

} // namespace Tvk::Imvra
