// Final filters on a finished page or a caller's buffer, and the thumbnail
// copy of the settings window.
#include "TavrKd.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

using namespace Tvk::Imvra;
using Tvk::tagIMAGEINFO;

namespace {

const long* number(const KdFilterDictionary& d, const char* key) {
    const auto it = d.find(key);
    return it == d.end() ? nullptr : std::get_if<long>(&it->second);
}

long numberOr(const KdFilterDictionary& d, const char* key, long fallback) {
    const long* v = number(d, key);
    return v != nullptr ? *v : fallback;
}

// A 256-byte table; tables of another length are ignored.
void table(const KdFilterDictionary& d, const char* key, std::uint8_t out[256]) {
    for (int i = 0; i < 256; ++i) out[i] = static_cast<std::uint8_t>(i);
    const auto it = d.find(key);
    if (it == d.end()) return;
    const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&it->second);
    if (bytes != nullptr && bytes->size() == 256) std::memcpy(out, bytes->data(), 256);
}

struct FinalRecords {
    tagGRCINFO grc{};
    tagBLANKPAGEINFO blank{};
    tagGRAYTOBINARYINFO binary{};
    tagEMPHASISEDGEINFO edge{};
    tagROTATE90XINFO rotate{};
    tagTEXTIMAGEDIRECTIONINFO text{};
    tagEPUBFILTERINFO epub{};
    tagBINIPFILTERINFO binIP{};
    tagFILTERSIMPLEXINFO info{};
};

bool has(const KdFilterDictionary& d, const char* key) { return d.find(key) != d.end(); }

// The filter record of one whole-image call from the dictionary: only the
// records its keys ask for, so that an empty dictionary changes nothing.
void buildRecords(const KdFilterDictionary& d, const tagIMAGEINFO& in, FinalRecords& r) {
    r.grc.ulSize = kGRCInfoSize;
    r.grc.ucBrightness = static_cast<std::uint8_t>(numberOr(d, "Brightness", 0));
    r.grc.ucContrast = static_cast<std::uint8_t>(numberOr(d, "Contrast", 0));
    table(d, "GrayGammaTable", r.grc.ucGrayTable);
    table(d, "RedGammaTable", r.grc.ucRedTable);
    table(d, "GreenGammaTable", r.grc.ucGreenTable);
    table(d, "BlueGammaTable", r.grc.ucBlueTable);
    tagNORMALFILTERINFO& n = r.info.normal;
    n.ulSize = kNormalFilterInfoSize;
    const long toBin = numberOr(d, "GrayToBin", 0);
    // Tone keys shape gray levels: a page that is already 1-bit has none,
    // and the library would ask for binarisation settings of it.
    const bool tone = has(d, "Brightness") || has(d, "Contrast") || has(d, "GrayGammaTable") ||
                      has(d, "RedGammaTable") || has(d, "GreenGammaTable") ||
                      has(d, "BlueGammaTable") || toBin != 0;
    if (tone && in.lBps != 1) n.pGRCInfo = &r.grc;
    if (const long v = numberOr(d, "CheckBlankPage", 0); v != 0) {
        r.blank = {kBlankPageInfoSize, static_cast<std::int32_t>(v), 0};
        n.pBlankPageInfo = &r.blank;
    }
    if (toBin != 0 && in.lBps != 1) {
        r.binary = {kGrayToBinaryInfoSize, static_cast<std::uint32_t>(toBin),
                    r.grc.ucBrightness == 0 ? 128u : r.grc.ucBrightness, r.grc.ucContrast, 0};
        n.pGrayToBinaryInfo = &r.binary;
    }
    n.bInverse = numberOr(d, "Inverse", 0) != 0;
    if (const long v = numberOr(d, "EmphasisEdge", 0); v != 0) {
        r.edge = {kEmphasisEdgeInfoSize, static_cast<std::uint32_t>(v)};
        n.pEmphasisEdgeInfo = &r.edge;
    }
    if (const long v = numberOr(d, "Orientation", 0); v != 0) {
        r.rotate = {kRotate90xInfoSize, static_cast<std::int32_t>(v)};
        n.pRotate90xInfo = &r.rotate;
    }
    n.bColorSaturation = numberOr(d, "ColorSaturation", 0) != 0;
    if (const long v = numberOr(d, "TextImageDirection", 0); v != 0) {
        r.text = {kTextImageDirectionInfoSize, static_cast<std::uint32_t>(v), 0, 0};
        n.pTextImageDirectionInfo = &r.text;
    }
    n.bDetectResolution = numberOr(d, "AutoResolution", 0) != 0;
    if (numberOr(d, "PhotoMode", 0) != 0 && in.lBps != 1) n.pGRCFlagInfo = &r.grc;
    if (const long v = numberOr(d, "EPubFilter", 0); v != 0) {
        r.epub = {kEPubFilterInfoSize, static_cast<std::uint32_t>(v)};
        n.pEPubFilterInfo = &r.epub;
    }
    if (const long v = numberOr(d, "BinIPFilter", 0); v != 0) {
        r.binIP = {kBinIPFilterInfoSize, static_cast<std::uint32_t>(v)};
        n.pBinIPFilterInfo = &r.binIP;
    }
    r.info.ulSize = kFilterSimplexInfoSize;
    r.info.special.ulSize = kSpecialFilterInfoSize;
    r.info.imageIn = in;
    r.info.imageIn.lpImage = nullptr;
    r.info.imageOut = r.info.imageIn;
    if (n.pGrayToBinaryInfo != nullptr) {
        r.info.imageOut.lBps = 1;
        r.info.imageOut.lSpp = 1;
        r.info.imageOut.ulRGBOrder = 0;
        r.info.imageOut.lSync = TvkDefaultSync(in.lWidth, 1);
    }
}

// Runs with the engine's lock held by the caller.
KdError runFinal(IKdImaging& imaging, CImg& out, CImg& in, const KdFilterDictionary& d,
                 bool front) {
    FinalRecords r;
    buildRecords(d, in.info(), r);
    const tagRTN rtn = imaging.normalFilterSimplex(out, in, &r.info, front);
    if (rtn == RTN_OK) return kderr::kSuccess;
    return rtn == RTN_MEM ? kderr::kOutOfMemory : kderr::kLibraryRefused;
}

}  // namespace

KdError CTavrKd::ApplyImageFilter(const KdFilterDictionary& filters) {
    std::shared_ptr<SImageData> image;
    {
        std::lock_guard images(m_imageMutex);
        for (const auto& entry : m_images)
            if (entry->error == 0) {
                image = entry;
                break;
            }
    }
    if (!image) return kderr::kSequenceError;
    std::lock_guard strips(image->mutex);
    if (image->strips.empty()) return kderr::kSequenceError;
    // The strips joined into one image.
    const tagIMAGEINFO& f = image->strips.front().image->info();
    long height = 0;
    for (const SImageStrip& s : image->strips) height += s.image->info().lHeight;
    CImg joined;
    if (!joined.createImg(f.lWidth, static_cast<std::int32_t>(height), f.lSync, f.lBps, f.lSpp,
                          f.ulRGBOrder, f.lXResolution, f.lYResolution))
        return kderr::kNoBandImage;
    if (joined.isNull()) return kderr::kOutOfMemory;
    std::size_t at = 0;
    for (const SImageStrip& s : image->strips) {
        const tagIMAGEINFO& i = s.image->info();
        const std::size_t bytes = static_cast<std::size_t>(TvkLineStep(i)) * i.lHeight;
        if (at + bytes > joined.info().tImageSize || TvkLineStep(i) != TvkLineStep(f))
            return kderr::kNoBandImage;
        std::memcpy(joined.info().lpImage + at, i.lpImage, bytes);
        at += bytes;
    }
    std::unique_ptr<CImg> out(new (std::nothrow) CImg);
    if (!out) return kderr::kOutOfMemory;
    // The data source's thread waits here while the image thread holds the
    // engine for a page: the filters belong to the page it is about to hand on.
    std::lock_guard engine(ImagingLock());
    if (const KdError e = runFinal(*m_imaging, *out, joined, filters, !image->back);
        e != kderr::kSuccess)
        return e;
    const tagIMAGEINFO& o = out->info();
    image->width = static_cast<unsigned long>(o.lWidth);
    image->height = static_cast<unsigned long>(o.lHeight);
    image->bytesPerLine = static_cast<unsigned long>(TvkLineStep(o));
    image->strips.clear();
    image->strips.push_back(SImageStrip{std::move(out), 0});
    return kderr::kSuccess;
}

KdError CTavrKd::ApplyImageFilter(unsigned char** image, unsigned long* width,
                                  unsigned long* height, unsigned long* bytesPerLine,
                                  unsigned long bitsPerSample, unsigned long samplesPerPixel,
                                  unsigned long resolution, const KdFilterDictionary& filters) {
    if (image == nullptr || *image == nullptr || width == nullptr || height == nullptr ||
        bytesPerLine == nullptr || *width > 0x7FFFFFFF || *height > 0x7FFFFFFF ||
        *bytesPerLine > 0x7FFFFFFF)
        return kderr::kNoBandImage;
    CImg in;
    if (!in.createImg(static_cast<std::int32_t>(*width), static_cast<std::int32_t>(*height),
                      static_cast<std::int32_t>(*bytesPerLine),
                      static_cast<std::int32_t>(bitsPerSample),
                      static_cast<std::int32_t>(samplesPerPixel), 0,
                      static_cast<std::int32_t>(resolution), static_cast<std::int32_t>(resolution)))
        return kderr::kNoBandImage;
    if (in.isNull()) return kderr::kOutOfMemory;
    std::memcpy(in.info().lpImage, *image, in.info().tImageSize);
    CImg out;
    // The settings window's preview calls this from its GUI thread: while a
    // page holds the engine (up to a whole page) it is refused at once
    // rather than waited for.
    std::unique_lock engine(ImagingLock(), std::try_to_lock);
    if (!engine.owns_lock()) {
        if (m_imageBusy) return kderr::kDeviceBusy;
        engine.lock();
    }
    if (const KdError e = runFinal(*m_imaging, out, in, filters, true); e != kderr::kSuccess)
        return e;
    const tagIMAGEINFO& o = out.info();
    const std::size_t line = static_cast<std::size_t>(TvkLineStep(o));
    const std::size_t size = line * static_cast<std::size_t>(o.lHeight);
    auto* result = static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : size));
    if (result == nullptr) return kderr::kOutOfMemory;
    if (size != 0) std::memcpy(result, o.lpImage, size);
    *image = result;
    *width = static_cast<unsigned long>(o.lWidth);
    *height = static_cast<unsigned long>(o.lHeight);
    *bytesPerLine = line;
    return kderr::kSuccess;
}

unsigned long CTavrKd::GetThumbnailImageInfo(unsigned long* width, unsigned long* height,
                                             unsigned long* bytesPerLine,
                                             unsigned long* bitsPerSample,
                                             unsigned long* samplesPerPixel) {
    std::shared_ptr<SImageData> image;
    {
        std::lock_guard images(m_imageMutex);
        if (!m_images.empty() && m_images.front()->error == 0) image = m_images.front();
    }
    // With no finished image there is nothing to show.
    if (!image) return 0;
    std::lock_guard strips(image->mutex);
    if (image->strips.empty()) return 0;
    const tagIMAGEINFO& f = image->strips.front().image->info();
    if (width) *width = image->width;
    if (height) *height = image->height;
    if (bytesPerLine) *bytesPerLine = image->bytesPerLine;
    if (bitsPerSample) *bitsPerSample = static_cast<unsigned long>(f.lBps);
    if (samplesPerPixel) *samplesPerPixel = static_cast<unsigned long>(f.lSpp);
    return image->height * image->bytesPerLine;
}

unsigned char CTavrKd::CopyThumbnailImage(unsigned char* buffer, unsigned long bufferSize,
                                          unsigned char (*cancel)(void*), void* context) {
    std::shared_ptr<SImageData> image;   // keeps the entry alive while it is copied
    {
        std::lock_guard images(m_imageMutex);
        if (!m_images.empty() && m_images.front()->error == 0) image = m_images.front();
    }
    if (!image || buffer == nullptr) return kThumbnailChanged;
    std::lock_guard strips(image->mutex);
    // The page may have been taken, filtered or replaced since its size was
    // asked for: only a page of exactly that size is copied.
    const std::size_t row = image->bytesPerLine;
    std::size_t rows = 0;
    for (const SImageStrip& s : image->strips)
        rows += static_cast<std::size_t>(std::max(s.image->info().lHeight, 0));
    if (row == 0 || rows != image->height || rows * row != bufferSize) return kThumbnailChanged;
    std::size_t at = 0;
    for (const SImageStrip& s : image->strips) {
        const tagIMAGEINFO& i = s.image->info();
        const std::size_t line = static_cast<std::size_t>(TvkLineStep(i));
        const std::size_t copy = std::min(line, row);
        for (std::int32_t y = 0; y < i.lHeight; ++y) {
            if (at + row > bufferSize) return kThumbnailChanged;
            std::memcpy(buffer + at, i.lpImage + line * static_cast<std::size_t>(y), copy);
            if (copy < row) std::memset(buffer + at + copy, 0, row - copy);
            at += row;
            if (cancel != nullptr)
                if (const unsigned char stop = cancel(context); stop != 0) return stop;
        }
    }
    return 0;
}
