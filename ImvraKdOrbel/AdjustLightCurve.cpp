#include "AdjustLightCurve.h"

#include <algorithm>
#include <new>

namespace Tvk::Imvra::KD730 {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Decodes a header at p; the caller has checked that its bytes lie in the block.
tagLCAINFOHEADER ReadHeader(const uint8_t* p, bool extended) {
    tagLCAINFOHEADER h{};
    h.usHeaderSize = Le16(p);
    h.usSide = Le16(p + 2);
    h.usChannels = Le16(p + 4);
    h.usBits = Le16(p + 6);
    h.ulDivisor = Le32(p + 8);
    h.ulCount = Le32(p + 12);
    h.ulChannelDistance = Le32(p + 16);
    h.ulDataSize = Le32(p + 20);
    h.usResolution = Le16(p + 24);
    h.usOrder = Le16(p + 26);
    h.ulFlags = Le32(p + 28);
    if (extended) {
        h.bDropout = p[32];
        h.bEmphasis = p[33];
    }
    return h;
}

uint32_t ReadFactor(const uint8_t* p, uint16_t bits) {
    switch (bits) {
    case 8: return *p;
    case 16: return Le16(p);
    default: return Le32(p);
    }
}

// 16-bit samples of a reference: the place of pixel x, channel c.
struct SampleAt {
    uint16_t* base;
    int64_t plane; // samples between planes (planar), or 0
    int spp;
    uint16_t& operator()(int64_t x, int c) const {
        return plane != 0 ? base[c * plane + x] : base[x * spp + c];
    }
};

// A 16-bit reference line the buffer holds (one or three samples).
bool ReferenceOk(const tagIMAGEINFO* i) {
    if (i == nullptr || i->lpImage == nullptr || i->lBps != 16 || i->lWidth < 1 ||
        i->lHeight < 1 || (i->lSpp != 1 && i->lSpp != 3) || i->ulRGBOrder > 1 || i->lSync % 2 != 0)
        return false;
    const bool planar = i->ulRGBOrder == 1 && i->lSpp == 3;
    const int64_t rowSamples = planar ? i->lWidth : int64_t{i->lWidth} * i->lSpp;
    if (i->lSync < 2 * rowSamples) return false;
    return int64_t{i->tImageSize} >= (planar ? 3 : 1) * int64_t{i->lSync};
}

SampleAt Samples(const tagIMAGEINFO* i) {
    const bool planar = i->ulRGBOrder == 1 && i->lSpp == 3;
    return SampleAt{reinterpret_cast<uint16_t*>(i->lpImage), planar ? i->lSync / 2 : 0, i->lSpp};
}

} // namespace

bool CLightCurve::SetLcInfomation(const tagLCAINFOHEADER& header) {
    m_header = header;
    const uint64_t bytes = uint64_t{header.usChannels} * header.ulCount * sizeof(uint32_t);
    if (bytes == 0 || bytes > SIZE_MAX) return false;
    return m_raster.SetSize(static_cast<size_t>(bytes));
}

uint32_t* CLightCurve::GetPtr(size_t i) const {
    if (m_raster.GetPtr() == nullptr || i >= m_raster.GetSize() / sizeof(uint32_t)) return nullptr;
    return reinterpret_cast<uint32_t*>(m_raster.GetPtr()) + i;
}

int CLightCurveAdjustData::SetSize(size_t n) {
    Release();
    if (n == 0) return RTN_OK;
    m_pCurves.reset(new (std::nothrow) CLightCurve[n]);
    if (!m_pCurves) return RTN_MEM;
    m_nCount = n;
    return RTN_OK;
}

void CLightCurveAdjustData::Release() {
    m_pCurves.reset();
    m_nCount = 0;
}

int CLightCurveAdjustData::LoadData(const uint8_t* block, size_t size) {
    Release();
    if (block == nullptr || size != kLightCurveBlockSize) return RTN_PAR;
    if (Le32(block) == kLightCurveNoData) return RTN_PAR;
    const uint32_t count = Le32(block + 8);
    // Every curve takes at least its 32 header bytes.
    if (count > (size - 12) / kLightCurveHeaderSize) return RTN_PAR;
    if (const int r = SetSize(count); r != RTN_OK) return r;

    auto fail = [this](int r) {
        Release();
        return r;
    };
    size_t pos = 12;
    for (uint32_t n = 0; n < count; ++n) {
        if (pos + kLightCurveHeaderSize > size) return fail(RTN_PAR);
        const uint16_t headerLength = Le16(block + pos);
        if (headerLength == 0) return fail(RTN_PAR);
        const bool extended = headerLength > kLightCurveHeaderSize;
        if (extended && pos + kLightCurveHeaderSize + 2 > size) return fail(RTN_PAR);
        const tagLCAINFOHEADER h = ReadHeader(block + pos, extended);
        const uint64_t start = uint64_t{pos} + headerLength;
        const uint64_t end = start + h.ulDataSize;
        if (h.ulDataSize == 0 || end > size) return fail(RTN_PAR);
        if (h.usChannels != 1 && h.usChannels != 3) return fail(RTN_PAR);
        if (h.usBits != 8 && h.usBits != 16 && h.usBits != 32) return fail(RTN_PAR);
        if (h.ulCount == 0) return fail(RTN_PAR);
        // The last factor of the last channel must lie inside the curve's data.
        const uint64_t factorBytes = h.usBits / 8;
        const uint64_t span = (uint64_t{h.ulCount} - 1) * factorBytes +
                              uint64_t{h.usChannels - 1u} * h.ulChannelDistance + factorBytes;
        if (span > h.ulDataSize) return fail(RTN_PAR);
        CLightCurve& curve = m_pCurves[n];
        if (!curve.SetLcInfomation(h)) return fail(RTN_MEM);
        const uint8_t* data = block + start;
        for (uint32_t i = 0; i < h.ulCount; ++i) {
            for (uint32_t c = 0; c < h.usChannels; ++c) {
                const uint8_t* p = data + i * factorBytes + uint64_t{c} * h.ulChannelDistance;
                *curve.GetPtr(size_t{c} * h.ulCount + i) = ReadFactor(p, h.usBits);
            }
        }
        pos = static_cast<size_t>(end);
    }
    return RTN_OK;
}

uint16_t CLightCurveAdjustData::LightCurveAdjPixel(uint16_t s, uint16_t b, uint32_t f,
                                                   uint32_t d) {
    if (d == 0) return s;
    const uint64_t above = s > b ? s - b : 0;
    const uint64_t v = (above * f + d / 2) / d + b;
    return static_cast<uint16_t>(std::min<uint64_t>(v, 65535));
}

int CLightCurveAdjustData::AdjustData(tagIMAGEINFO* black, tagIMAGEINFO* white, tagSIDE side,
                                      int dropout, int emphasis) const {
    if (dropout != 0 && emphasis != 0) return RTN_PAR;
    if (dropout < 0 || dropout > 3 || emphasis < 0 || emphasis > 3) return RTN_PAR;
    if (!ReferenceOk(white) || !ReferenceOk(black) || black->lSpp != white->lSpp) return RTN_PAR;

    const CLightCurve* curve = nullptr;
    for (size_t k = 0; k < m_nCount && curve == nullptr; ++k) {
        const tagLCAINFOHEADER& h = m_pCurves[k].Header();
        if (h.usSide != static_cast<uint16_t>(side) ||
            int32_t{h.usResolution} != white->lXResolution || (h.ulFlags & 1) == 0)
            continue;
        bool fits;
        if (dropout != 0)
            fits = h.usChannels == 3 && white->lSpp == 1;
        else if (emphasis != 0)
            fits = h.usChannels == white->lSpp && h.bEmphasis != 0;
        else
            fits = h.usChannels == white->lSpp && h.bDropout == 0 && h.bEmphasis == 0;
        if (fits) curve = &m_pCurves[k];
    }
    if (curve == nullptr) return RTN_PAR;

    const tagLCAINFOHEADER& h = curve->Header();
    const int64_t count = h.ulCount;
    const int64_t n = std::min({int64_t{white->lWidth}, int64_t{black->lWidth}, count});
    const SampleAt w = Samples(white);
    const SampleAt b = Samples(black);
    auto entry = [&](int64_t i, int c) -> uint32_t {
        const int64_t at = h.usOrder == 1 ? c * count + i : 3 * i + c;
        const uint32_t* f = curve->GetPtr(static_cast<size_t>(at));
        return f != nullptr ? *f : h.ulDivisor; // outside the curve: unchanged
    };
    if (white->lSpp == 1) {
        const int c = dropout != 0 ? dropout - 1 : 0;
        for (int64_t i = 0; i < n; ++i) {
            const uint32_t f = dropout != 0 ? entry(i, c) : *curve->GetPtr(static_cast<size_t>(i));
            w(i, 0) = LightCurveAdjPixel(w(i, 0), b(i, 0), f, h.ulDivisor);
        }
    } else {
        for (int64_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c)
                w(i, c) = LightCurveAdjPixel(w(i, c), b(i, c), entry(i, c), h.ulDivisor);
    }
    return RTN_OK;
}

int CLightCurveAdjustData::CheckTimeStamp(const uint8_t* block, size_t size, uint32_t stamp) {
    if (block == nullptr || size != kLightCurveBlockSize) return 2;
    return Le32(block) == stamp ? 0 : 1;
}

} // namespace Tvk::Imvra::KD730
