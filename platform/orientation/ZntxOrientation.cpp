// Text orientation on Tesseract: its orientation-and-script detector on a
// gray copy of the page. The detector's data ("osd") is loaded at the first
// open and kept until the data folder changes or the process ends, since
// loading it costs more than detecting one page.
#include "ZntxOrientation.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>

#include <memory>
#include <new>
#include <string>

namespace {

// Below this confidence the detector's answer is no better than a guess
// (pictures and near-empty pages land there): the page counts as undecided.
constexpr float kMinConfidence = 1.0f;

struct Layer {
    std::string path;       // folder set by ZNTX_changepath
    std::string loadedPath; // folder the loaded detector came from
    std::unique_ptr<tesseract::TessBaseAPI> api;
    bool moded = false;
    bool open = false;
    int language = 0;
    int codePage = 0;
};

Layer& TheLayer() {
    static Layer layer;
    return layer;
}

// Gray of pixel x of a row (dark ink low).
inline unsigned GrayAt(const ZNTD_IMAGE& img, const uint8_t* row, int32_t x) {
    switch (img.kind) {
    case ZNTD_KIND_BILEVEL:
        return ((row[x >> 3] >> (7 - (x & 7))) & 1) ? 0 : 255;
    case ZNTD_KIND_GRAY:
        return row[x];
    default: {
        const uint8_t* p = row + 3 * x;
        return (p[0] + p[1] + p[2]) / 3u;
    }
    }
}

// Pages scanned finer than this are halved for the detector: text at half
// of 300 dpi still has enough pixels a letter for its orientation, and the
// detector's time grows with the pixels it looks at.
constexpr int32_t kHalveFromDpi = 250;

// The page as an 8-bit gray Pix (dark ink low) carrying its resolution,
// which the detector reads from the image itself, at half size (2 x 2
// means) from kHalveFromDpi on; null when memory runs out.
PIX* GrayPix(const ZNTD_IMAGE& img, int32_t dpi) {
    const int32_t f = dpi >= kHalveFromDpi && img.width >= 2 && img.height >= 2 ? 2 : 1;
    const int32_t w = img.width / f, h = img.height / f;
    PIX* pix = pixCreateNoInit(w, h, 8);
    if (pix == nullptr) return nullptr;
    pixSetResolution(pix, dpi / f, dpi / f);
    l_uint32* data = pixGetData(pix);
    const l_int32 wpl = pixGetWpl(pix);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = img.data + static_cast<ptrdiff_t>(y) * f * img.rowBytes;
        l_uint32* out = data + static_cast<ptrdiff_t>(y) * wpl;
        if (f == 1) {
            for (int32_t x = 0; x < w; ++x) SET_DATA_BYTE(out, x, GrayAt(img, row, x));
            continue;
        }
        const uint8_t* next = row + img.rowBytes;
        for (int32_t x = 0; x < w; ++x) {
            const unsigned sum = GrayAt(img, row, 2 * x) + GrayAt(img, row, 2 * x + 1) +
                                 GrayAt(img, next, 2 * x) + GrayAt(img, next, 2 * x + 1);
            SET_DATA_BYTE(out, x, (sum + 2) / 4);
        }
    }
    return pix;
}

bool ValidImage(const ZNTD_IMAGE* img) {
    if (img == nullptr || img->data == nullptr) return false;
    if (img->width < 1 || img->width > ZNTD_MAX_SIDE || img->height < 1 ||
        img->height > ZNTD_MAX_SIDE)
        return false;
    int64_t minRow = 0;
    switch (img->kind) {
    case ZNTD_KIND_BILEVEL:
        minRow = (static_cast<int64_t>(img->width) + 7) / 8;
        break;
    case ZNTD_KIND_GRAY:
        minRow = img->width;
        break;
    case ZNTD_KIND_COLOUR:
        minRow = 3 * static_cast<int64_t>(img->width);
        break;
    default:
        return false;
    }
    return img->rowBytes >= minRow;
}

} // namespace

extern "C" {

int ZNTX_changepath(const char* path) {
    try {
        TheLayer().path = path != nullptr ? path : "";
    } catch (const std::bad_alloc&) {
        return ZNTD_ERR_NOMEMORY;
    }
    return 0;
}

int ZNTX_exmodeset(int mode, int language, int codePage) {
    Layer& layer = TheLayer();
    if (mode != 1) return ZNTD_ERR_ARGUMENT;
    layer.language = language;
    layer.codePage = codePage;
    layer.moded = true;
    return 0;
}

int ZNTX_exopen(int reserved1, int mode, int reserved2) {
    Layer& layer = TheLayer();
    if (mode != 6 || !layer.moded) return ZNTD_ERR_ARGUMENT;
    if (layer.api != nullptr && layer.loadedPath != layer.path) layer.api.reset();
    if (layer.api == nullptr) {
        try {
            auto api = std::make_unique<tesseract::TessBaseAPI>();
            // Tesseract's own messages stay out of the host's output.
            api->SetVariable("debug_file", "/dev/null");
            const char* folder = layer.path.empty() ? nullptr : layer.path.c_str();
            if (api->Init(folder, "osd", tesseract::OEM_TESSERACT_ONLY) != 0)
                return ZNTD_ERR_NO_DATA;
            api->SetPageSegMode(tesseract::PSM_OSD_ONLY);
            layer.loadedPath = layer.path;
            layer.api = std::move(api);
        } catch (const std::bad_alloc&) {
            return ZNTD_ERR_NOMEMORY;
        } catch (...) {
            return ZNTD_ERR_NO_DATA;
        }
    }
    layer.open = true;
    return 0;
}

int ZNTD_spdetect(const ZNTD_IMAGE* image, int* degrees, void* work) {
    Layer& layer = TheLayer();
    if (!layer.open || layer.api == nullptr) return ZNTD_ERR_NOT_OPEN;
    if (degrees == nullptr || !ValidImage(image)) return ZNTD_ERR_ARGUMENT;
    const int32_t dpi = image->yResolution > 0 ? image->yResolution : 300;
    PIX* pix = GrayPix(*image, dpi);
    if (pix == nullptr) return ZNTD_ERR_NOMEMORY;
    int result = 0;
    try {
        tesseract::TessBaseAPI& api = *layer.api;
        api.SetImage(pix);
        int orientation = 0;
        float confidence = 0;
        const char* script = nullptr;
        float scriptConfidence = 0;
        const bool found =
            api.DetectOrientationScript(&orientation, &confidence, &script, &scriptConfidence);
        api.Clear();
        if (!found || confidence < kMinConfidence) {
            result = ZNTD_UNDECIDED;
        } else {
            // Tesseract names the clockwise turn its input underwent: exactly
            // the angle by which the text is turned from upright.
            *degrees = ((orientation % 360) + 360) % 360;
        }
    } catch (const std::bad_alloc&) {
        result = ZNTD_ERR_NOMEMORY;
    } catch (...) {
        result = ZNTD_ERR_FAILED;
    }
    pixDestroy(&pix);
    return result;
}

int ZNTX_exclose(int reserved) {
    Layer& layer = TheLayer();
    if (!layer.open) return ZNTD_ERR_NOT_OPEN;
    layer.open = false;
    layer.moded = false;
    return 0;
}

} // extern "C"
