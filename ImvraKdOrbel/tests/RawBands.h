// Raw sensor bands for the tests of the raw end of the pipeline: pages made
// by the sensor model, wrapped as the data source hands them over, and
// driven band by band through a stage controller.
#pragma once

#include "CImg.h"
#include "CollectArray.h"
#include "IPBase.h"
#include "KdSensorModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace rawtest {

using Tvk::tagIMAGEINFO;
using Tvk::Imvra::CImg;

// A seeded page of one side: width x height pixels of channels bytes.
struct Page {
    int width = 0, height = 0, channels = 1;
    std::vector<uint8_t> pixels;
    kdsensor::SideImage side() const {
        return {pixels.data(), width, height, channels,
                static_cast<size_t>(width) * static_cast<size_t>(channels)};
    }
    uint8_t at(int x, int y, int c) const {
        return pixels[(static_cast<size_t>(y) * width + x) * channels + c];
    }
};

inline Page RandomPage(int width, int height, int channels, uint32_t seed) {
    Page p{width, height, channels, {}};
    p.pixels.resize(static_cast<size_t>(width) * height * channels);
    std::mt19937 rng(seed);
    for (auto& v : p.pixels) v = static_cast<uint8_t>(rng());
    return p;
}

inline Page UniformPage(int width, int height, int channels, uint8_t value) {
    Page p{width, height, channels, {}};
    p.pixels.assign(static_cast<size_t>(width) * height * channels, value);
    return p;
}

// Raw lines [first, first + count) of a format as the data source's band:
// one raw row per channel (line-sequential), 8 bits or packed 12 bits.
inline CImg RawBand(const kdsensor::ScanFormat& f, const std::vector<uint8_t>& raw, int first,
                    int count) {
    CImg band;
    const int32_t samples = static_cast<int32_t>(f.samplesPerRow());
    const int32_t spp = f.colour ? 3 : 1;
    const int32_t sync = static_cast<int32_t>(f.rowBytes());
    EXPECT_TRUE(band.createImg(samples, count, sync, f.bits, spp, 1, f.xdpi, f.xdpi));
    const size_t lineBytes = f.lineBytes();
    std::memcpy(band.info().lpImage, raw.data() + lineBytes * static_cast<size_t>(first),
                lineBytes * static_cast<size_t>(count));
    return band;
}

inline Tvk::Imvra::KD730::tagCOLLECTARRAYINFO CollectInfo(const kdsensor::ScanFormat& f) {
    Tvk::Imvra::KD730::tagCOLLECTARRAYINFO info{};
    info.ulSize = Tvk::Imvra::KD730::kCollectArrayInfoSize;
    const auto& dummy = f.xdpi == 600 ? Tvk::Imvra::KD730::DUMMY_PIXEL_600
                                      : Tvk::Imvra::KD730::DUMMY_PIXEL_300;
    info.dummy = dummy[f.layout];
    const int32_t sideWidth = static_cast<int32_t>(f.samplesPerRow()) / f.windows();
    info.lWidth = sideWidth - info.dummy.ulDummy[0] - info.dummy.ulDummy[1] - info.dummy.ulDummy[2];
    info.lSensorIndex = f.layout;
    return info;
}

// Appends the rows of a processed band to a page buffer (empty bands add nothing).
inline void AppendRows(std::vector<uint8_t>& page, CImg& band) {
    if (band.isNull()) return;
    const tagIMAGEINFO& i = band.info();
    page.insert(page.end(), i.lpImage, i.lpImage + i.tImageSize);
}

// Drives the bands of a page (heights given) through a controller: a first
// band, middle bands and a last band; one band is a whole image. Each output
// band is handed to sink (with the back image for a duplex collection).
template <class Stage, class Sink>
int DriveBands(Tvk::Imvra::CIPController<Stage>& c, void* info, std::vector<CImg>& bands,
               Sink&& sink) {
    for (size_t k = 0; k < bands.size(); ++k) {
        int r;
        if (bands.size() == 1)
            r = c.IPComplete(bands[k], info);
        else if (k + 1 == bands.size())
            r = c.IPLast(bands[k], info);
        else {
            if (k == 0) c.setFirst();
            r = c.IPMiddle(bands[k], info);
        }
        if (r != 0) return r;
        sink(bands[k]);
    }
    return 0;
}

// The mean of every sample place over all lines of a 16-bit image, as one line.
inline CImg MeanLine(const CImg& img) {
    const tagIMAGEINFO& i = img.info();
    const int64_t rowsPerLine = i.ulRGBOrder == 1 ? i.lSpp : 1;
    const int64_t places = rowsPerLine * i.lSync / 2;
    std::vector<uint64_t> sum(static_cast<size_t>(places), 0);
    const auto* s = reinterpret_cast<const uint16_t*>(i.lpImage);
    for (int64_t y = 0; y < i.lHeight; ++y)
        for (int64_t k = 0; k < places; ++k) sum[static_cast<size_t>(k)] += s[y * places + k];
    CImg out;
    tagIMAGEINFO rec = i;
    rec.lHeight = 1;
    rec.tImageSize = static_cast<uint32_t>(places * 2);
    EXPECT_TRUE(out.createImg(rec));
    auto* d = reinterpret_cast<uint16_t*>(out.info().lpImage);
    for (int64_t k = 0; k < places; ++k)
        d[k] = static_cast<uint16_t>(sum[static_cast<size_t>(k)] / static_cast<uint64_t>(i.lHeight));
    return out;
}

} // namespace rawtest
