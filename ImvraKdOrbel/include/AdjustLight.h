// Light calibration: turns a short series of reference scans into the
// scanner's analogue front-end settings of each side (gain and offset
// registers, red, green and blue LED currents). The data source scans a
// reference with the record's current settings, hands over one averaged
// line per side, and each step writes the settings for the next scan into
// the record. After seven steps the record holds the final settings and its
// done byte is 1.
#pragma once

#include "CImg.h"
#include "ImvraRecords.h"

#include <cstddef>
#include <cstdint>

namespace Tvk::Imvra::KD730 {

// What one reference scan showed of one channel.
struct tagLIGHTRESPONSE {
    int32_t lLED; // LED current used (decided level: the chosen current)
    int32_t lMax; // largest sample (decided level: the target level)
    int32_t lMin; // smallest sample
};
// The sensor response of one scan: front R, G, B, then back R, G, B (left
// zero for a simplex scan).
struct tagLIGHTRESPONSELEVEL {
    tagLIGHTRESPONSE side[2][3];
};
static_assert(sizeof(tagLIGHTRESPONSELEVEL) == 72);

// Gain targets by target index (the sensor layout index).
inline constexpr int32_t LIGHT_ADJUST_GAIN_ADJ_TARGET_LIST[2] = {3072, 3072};

// Amplification of gain register g: 416 / (288.3 - g) / 1.4429413805064168.
double AdjustLight_GetAnaproGain(int g);
// The offset register that brings the darkest sample L to target at gain g
// and offset o; 0 to 255.
uint8_t GetOffsetRegister_Feeder(int32_t L, int g, int o, int32_t target);
// The gain register that brings the brightest sample L to target at gain g; 0 to 255.
uint8_t GetGainRegister(int32_t L, int g, int32_t target);
// LED current that reaches level t on the line through (x1, y1) and (x2, y2)
// (current, level); 0 when y1 equals y2.
int32_t GetTargetX(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t t);
// Holds a side's three LED currents to `limit`: when the largest is above it,
// each becomes trunc(LED x limit / largest), in integers, so the largest
// lands exactly on the limit.
void AdjustLight_DecideLightAdjustValue_CheckRegisterLimit(int32_t led[3], int32_t limit);

class CAdjustLight {
public:
    CAdjustLight() = default;
    CAdjustLight(const CAdjustLight&) = delete;
    CAdjustLight& operator=(const CAdjustLight&) = delete;

    // Starts a calibration: step 0, level records cleared, start values in
    // the record, done byte cleared. Mode 3 sets the target index to 1 for
    // the object's life.
    void AdjustLightFirst(tagADJUSTINFO* info, long mode);
    // One step from the averaged reference lines (one line of 16-bit
    // samples, three samples a pixel; back only for a duplex calibration).
    // Each step prepares the next scan whatever its measurement gave; the
    // result is the measurement's: RTN_PAR a bad image, RTN_MEM no memory,
    // RTN_STATE after the seventh step, an unsupported resolution or an
    // empty reference.
    int AdjustLightNext(CImg& front, CImg& back, tagADJUSTINFO* info);
    // Light-curve correction of a white reference of one side with the block
    // read from the scanner; the side's light source picks the curve.
    int AdjustLightCurve(CImg& white, CImg& black, const tagADJUSTINFO* info, tagSIDE side,
                         const uint8_t* data, size_t size);

    int32_t targetIndex() const { return m_lTargetIndex; }
    int step() const { return m_ucStep; }
    const tagLIGHTRESPONSELEVEL& darkLevel() const { return m_level[kDark]; }
    const tagLIGHTRESPONSELEVEL& saturateLevel() const { return m_level[kSaturate]; }
    const tagLIGHTRESPONSELEVEL& lightDarkLevel() const { return m_level[kLightDark]; }
    const tagLIGHTRESPONSELEVEL& referenceLevel() const { return m_level[kReference]; }
    const tagLIGHTRESPONSELEVEL& decidedLevel() const { return m_level[kDecided]; }

private:
    enum Level { kDark, kSaturate, kLightDark, kReference, kDecided, kLevels };

    void AdjustAnaproOffsetInit(tagADJUSTINFO& info);
    void SetLED(tagADJUSTINFO& info, int32_t r, int32_t g, int32_t b);
    void AdjustLightInit(tagADJUSTINFO& info);
    int AdjustAnaproOffset(CImg& front, CImg& back, tagADJUSTINFO& info);
    int AdjustAnaproGain(CImg& front, CImg& back, tagADJUSTINFO& info);
    // Maximum and minimum per channel and the three channel images of a scan.
    int AdjustLight_GetSensorLevel(CImg& front, CImg& back, const tagADJUSTINFO& info,
                                   Level level);
    int AdjustLight_DecideLightAdjustValue(tagADJUSTINFO& info);
    int DecideTargetRegister(const tagADJUSTINFO& info, int side, int32_t led[3]);
    void AdjustDecideData(tagADJUSTINFO& info);

    uint8_t m_ucStep = 0;
    int32_t m_lTargetIndex = 0;
    tagLIGHTRESPONSELEVEL m_level[kLevels]{};
    // Channel images of the dark, saturate, light-dark and reference scans:
    // front R, G, B, back R, G, B.
    CImg m_img[kDecided][6];
    int32_t m_lLED[3] = {0, 0, 0};
};

// Record accessors: the gain or offset bytes of the front (true) or back side.
void AdjustLightData_SetGain(tagADJUSTINFO* info, bool front, uint8_t value);
uint8_t AdjustLightData_GetGain(const tagADJUSTINFO* info, bool front);
void AdjustLightData_SetOffset(tagADJUSTINFO* info, bool front, uint8_t value);
uint8_t AdjustLightData_GetOffset(const tagADJUSTINFO* info, bool front);
// Does nothing: the LED currents are written by the calibration steps.
void AdjustLightData_SetLEDCurrent(tagADJUSTINFO* info, bool front, unsigned long value);

} // namespace Tvk::Imvra::KD730
