// Raw sensor bands for the benchmarks of the image path: the register set a
// calibrated KD-720 ends with, and raw lines of the sensor model as the
// page images the data source hands to the library.
#pragma once

#include "CImg.h"
#include "KdSensorModel.h"

#include <cstdint>
#include <cstring>

namespace rawbench {

inline kdsensor::Registers CalibratedRegisters() {
    kdsensor::Registers r;
    for (auto* s : {&r.front, &r.back}) {
        s->gain = {20, 20, 20};
        s->offset = {70, 70, 70};
        s->led = {560, 690, 620};
    }
    return r;
}

// `count` raw lines in the format's line-sequential layout as one band.
inline Tvk::Imvra::CImg RawBand(const kdsensor::ScanFormat& f, const uint8_t* lines, int count) {
    Tvk::Imvra::CImg band;
    band.createImg(static_cast<int32_t>(f.samplesPerRow()), count,
                   static_cast<int32_t>(f.rowBytes()), f.bits, 3, 1, f.xdpi, f.xdpi);
    std::memcpy(band.info().lpImage, lines, f.lineBytes() * static_cast<size_t>(count));
    return band;
}

} // namespace rawbench
