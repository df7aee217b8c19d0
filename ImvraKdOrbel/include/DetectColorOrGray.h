// Automatic colour mode: decides whether a scanned colour page is a colour,
// a gray or a black-and-white page through the lower layer's colour-mode
// test, with a per-level colour tolerance table built from the user's
// sensitivity.
#pragma once

#include "DetectGray.h"
#include "StageSettings.h"

#include <cstddef>
#include <cstdint>

namespace Tvk::Imvra {

// Builds the colour tolerance of each level (the largest chroma a pixel of
// that level may have and still count as gray).
class ColorOrGrayThresholdBuilder {
public:
    static constexpr int kErrBelowRange = 87;
    static constexpr int kErrAboveRange = 259;

    explicit ColorOrGrayThresholdBuilder(int sensitivity = 1) : m_nSensitivity(sensitivity) {}
    virtual ~ColorOrGrayThresholdBuilder() = default;

    // False, the table untouched, unless count is 256 and the stored
    // sensitivity lies in the builder's range.
    virtual bool BuildThreshold(uint8_t* table, unsigned int count) = 0;
    virtual bool SetGammaTable(uint8_t* table, unsigned int count) = 0;
    virtual int getMinSensitivity() const { return 1; }
    virtual int getMaxSensitivity() const { return 7; }
    virtual double getOffsetTable(int sensitivity) const = 0;
    // Level to the perceptual scale and back.
    virtual double gmm(double x) const = 0;
    virtual double gmminv(double y) const = 0;

    // The tolerance offset of a sensitivity (0: the stored one): 0 with *out
    // set; kErrBelowRange / kErrAboveRange outside the range; 0 and nothing
    // written for a null out.
    int GetOffset(double* out, int sensitivity) const;

    int sensitivity() const { return m_nSensitivity; }
    void setSensitivity(int sensitivity) { m_nSensitivity = sensitivity; }

protected:
    int m_nSensitivity;
    int m_nOffsetRow = 0;
};

class ColorOrGrayThresholdBuilderImp : public ColorOrGrayThresholdBuilder {
public:
    using ColorOrGrayThresholdBuilder::ColorOrGrayThresholdBuilder;

    bool BuildThreshold(uint8_t* table, unsigned int count) override;
    // The tolerance does not follow the page's tone curve: nothing, false.
    bool SetGammaTable(uint8_t*, unsigned int) override { return false; }
    double getOffsetTable(int sensitivity) const override;
    double gmm(double x) const override;
    double gmminv(double y) const override;
};

// The stage's settings record (holds pointers: native layout).
struct tagDETECTCOLORORGRAYSTAGEINFO {
    uint32_t ulSize;                       // kDetectColorOrGrayStageInfoSize
    tagDETECTCOLORORGRAYINFO* pInfo;       // the side's settings; required
    ColorOrGrayThresholdBuilder* pBuilder; // may be null: no tolerance table
    uint8_t btLevel[4];                    // black level, white level, two gray bounds
    uint32_t* pResult;                     // out: the class (kClass...)
    uint32_t ulReserved5;
    uint32_t ulReserved6;
    int32_t lIntensity; // handed on to the gray test
};
inline constexpr uint32_t kDetectColorOrGrayStageInfoSize = sizeof(tagDETECTCOLORORGRAYSTAGEINFO);

class CDetectColorOrGray : public CWholePageStage {
public:
    // Classes written to the result word.
    static constexpr uint32_t kClassColor = 0;
    static constexpr uint32_t kClassGray = 1;
    static constexpr uint32_t kClassBlackAndWhite = 2;
    // Classes a mode allows (0: all three, 1: colour or gray, 2: colour or
    // black-and-white; any other mode none).
    static uint32_t AllowedClasses(uint32_t mode);

    const char* getName() const override { return "DetectColorOrGray"; }
    int IP(CImg& img) override { return DetectColorOrGray(img, kWholePageCommand); }
    int setInfo(CImg& img, void* info) override;

    // Runs the decision on the page with the colour test's command and
    // writes the class.
    int DetectColorOrGray(CImg& img, int32_t command);

    // The lower layer's three records for the page (the head points at the
    // other two, so the set is not copied).
    struct Records {
        Records() = default;
        Records(const Records&) = delete;
        Records& operator=(const Records&) = delete;
        tagDETECT_COLOR_INFO color{};
        tagDETECTGRAYINFO gray{};
        tagDETECTCOLORMODEINFO head{};
    };
    void buildRecords(const CImg& img, int32_t command, Records& out) const;

private:
    static constexpr int32_t kWholePageCommand = 5;
    tagDETECTCOLORORGRAYSTAGEINFO m_info{};
};

} // namespace Tvk::Imvra
