// Text orientation on Tesseract: its orientation-and-script detector on a
// reduced gray copy of the page, first on the square of it that holds the
// most text, then, only when that leaves a doubt, on the whole of it. The detector's data ("osd") is loaded at the first
// open and kept until the data folder changes or the process ends, since
// loading it costs more than detecting one page.
#include "ZntxOrientation.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

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

// Pages scanned finer than this are first looked at reduced to about
// kDetectDpi: usual text there still has enough pixels a letter for its
// orientation, and all but the letters' classification costs time by the
// pixel. Small print does not (the detector drops letters under 10 pixels
// high): it is decided at the page's own resolution.
constexpr int32_t kReduceFromDpi = 250;
constexpr int32_t kDetectDpi = 150;

// A part of the page: columns x0 .. x0 + width - 1 of rows y0 ..
// y0 + height - 1.
struct Area {
    int32_t x0 = 0, y0 = 0, width = 0, height = 0;
};

// Samples a pixel of the page has: bilevel rows are made gray first.
int32_t SamplesOf(const ZNTD_IMAGE& img) { return img.kind == ZNTD_KIND_COLOUR ? 3 : 1; }

// Columns x0 .. x0 + w - 1 of a source row as samples (dark ink low):
// bilevel pixels become 0 or 255 in `scratch`, other rows are used as
// they are.
const uint8_t* SampleRow(const ZNTD_IMAGE& img, const uint8_t* row, int32_t x0, int32_t w,
                         uint8_t* scratch) {
    if (img.kind != ZNTD_KIND_BILEVEL) return row + static_cast<ptrdiff_t>(x0) * SamplesOf(img);
    for (int32_t x = 0; x < w; ++x) {
        const int32_t b = x0 + x;
        scratch[x] = ((row[b >> 3] >> (7 - (b & 7))) & 1) ? 0 : 255;
    }
    return scratch;
}

// Leptonica keeps a row's bytes in 32-bit words, the first byte the most
// significant: `bytes` holds whole words (padding included).
void StoreRow(const uint8_t* bytes, l_int32 words, l_uint32* out) {
    std::memcpy(out, bytes, static_cast<size_t>(words) * 4);
    for (l_int32 k = 0; k < words; ++k) out[k] = __builtin_bswap32(out[k]);
}

// An area of the page as an 8-bit gray Pix (dark ink low) carrying its
// resolution, which the detector reads from the image itself: each pixel
// the rounded mean of the samples of f x f page pixels. Null when memory
// runs out.
PIX* GrayPix(const ZNTD_IMAGE& img, int32_t dpi, const Area& area, int32_t f) {
    const int32_t w = area.width / f, h = area.height / f;
    if (w < 1 || h < 1) return nullptr;
    PIX* pix = pixCreateNoInit(w, h, 8);
    if (pix == nullptr) return nullptr;
    pixSetResolution(pix, dpi / f, dpi / f);
    l_uint32* data = pixGetData(pix);
    const l_int32 wpl = pixGetWpl(pix);
    const int32_t spp = SamplesOf(img);
    std::vector<uint8_t> scratch[2], line;
    std::vector<uint32_t> sums;
    try {
        for (auto& sc : scratch) sc.resize(img.kind == ZNTD_KIND_BILEVEL ? static_cast<size_t>(w) * f : 0);
        line.assign(static_cast<size_t>(wpl) * 4, 255);
        sums.resize(static_cast<size_t>(w));
    } catch (const std::bad_alloc&) {
        pixDestroy(&pix);
        return nullptr;
    }
    const uint32_t n = static_cast<uint32_t>(f) * static_cast<uint32_t>(f) * static_cast<uint32_t>(spp);
    const int32_t taken = w * f; // columns of the area that make whole pixels
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = img.data + (static_cast<ptrdiff_t>(area.y0) + static_cast<ptrdiff_t>(y) * f) * img.rowBytes;
        if (f == 2) {
            // The usual case, in one pass over two rows.
            const uint8_t* a = SampleRow(img, row, area.x0, taken, scratch[0].data());
            const uint8_t* b = SampleRow(img, row + img.rowBytes, area.x0, taken, scratch[1].data());
            if (spp == 1) {
                for (int32_t x = 0; x < w; ++x)
                    line[x] = static_cast<uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2u) >> 2);
            } else {
                for (int32_t x = 0; x < w; ++x) {
                    const uint8_t* p = a + 6 * x;
                    const uint8_t* q = b + 6 * x;
                    const uint32_t sum = p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + q[0] + q[1] + q[2] +
                                         q[3] + q[4] + q[5];
                    line[x] = static_cast<uint8_t>((sum + 6u) / 12u);
                }
            }
        } else {
            std::fill(sums.begin(), sums.end(), 0u);
            const int32_t group = f * spp; // samples of one output pixel in a row
            for (int32_t j = 0; j < f; ++j, row += img.rowBytes) {
                const uint8_t* r = SampleRow(img, row, area.x0, taken, scratch[0].data());
                for (int32_t x = 0; x < w; ++x)
                    for (int32_t i = 0; i < group; ++i) sums[x] += r[static_cast<ptrdiff_t>(group) * x + i];
            }
            for (int32_t x = 0; x < w; ++x) line[x] = static_cast<uint8_t>((sums[x] + n / 2) / n);
        }
        StoreRow(line.data(), wpl, data + static_cast<ptrdiff_t>(y) * wpl);
    }
    return pix;
}

// The first look covers a square of this side (pixels of the reduced page,
// 4 inches at kDetectDpi): enough lines of usual text for the letters it
// classifies, and a sixth of an A4 page, so finding the letters costs a
// sixth as much.
constexpr int32_t kWindowSide = 600;
// Tiles by which text is found: a tile holds text when part of it, but not
// most, is ink.
constexpr int32_t kTile = 20;
static_assert(kTile % 4 == 0);

// The square of the page holding the most tiles of text, in its pixels;
// none when the page is no larger.
std::optional<Area> TextWindow(PIX* pix) {
    const int32_t w = pixGetWidth(pix), h = pixGetHeight(pix);
    const int32_t side = kWindowSide * pixGetXRes(pix) / kDetectDpi;
    if (w <= side && h <= side) return std::nullopt;
    const int32_t ww = std::min(w, side), wh = std::min(h, side);
    const int32_t tx = w / kTile, ty = h / kTile;
    const int32_t nx = std::max(1, ww / kTile), ny = std::max(1, wh / kTile);
    if (tx < nx || ty < ny) return std::nullopt;
    // Summed counts of text tiles, (tx + 1) x (ty + 1).
    std::vector<int32_t> sum(static_cast<size_t>(tx + 1) * (ty + 1), 0);
    std::vector<int32_t> ink(static_cast<size_t>(tx), 0);
    const l_uint32* data = pixGetData(pix);
    const l_int32 wpl = pixGetWpl(pix);
    for (int32_t t = 0; t < ty; ++t) {
        std::fill(ink.begin(), ink.end(), 0);
        for (int32_t y = t * kTile; y < (t + 1) * kTile; ++y) {
            // A tile's bytes fill whole words, so their order in a word
            // does not matter here.
            const auto* row = reinterpret_cast<const uint8_t*>(data + static_cast<ptrdiff_t>(y) * wpl);
            for (int32_t i = 0; i < tx; ++i) {
                int32_t dark = 0;
                for (int32_t x = 0; x < kTile; ++x) dark += row[i * kTile + x] < 128;
                ink[i] += dark;
            }
        }
        for (int32_t i = 0; i < tx; ++i) {
            const int32_t text = ink[i] * 50 >= kTile * kTile && ink[i] * 2 < kTile * kTile;
            sum[static_cast<size_t>(t + 1) * (tx + 1) + i + 1] = text +
                sum[static_cast<size_t>(t) * (tx + 1) + i + 1] +
                sum[static_cast<size_t>(t + 1) * (tx + 1) + i] - sum[static_cast<size_t>(t) * (tx + 1) + i];
        }
    }
    auto at = [&](int32_t i, int32_t t) { return sum[static_cast<size_t>(t) * (tx + 1) + i]; };
    int32_t best = -1, bx = 0, by = 0;
    for (int32_t t = 0; t + ny <= ty; ++t)
        for (int32_t i = 0; i + nx <= tx; ++i) {
            const int32_t n = at(i + nx, t + ny) - at(i, t + ny) - at(i + nx, t) + at(i, t);
            if (n > best) best = n, bx = i, by = t;
        }
    return Area{std::min(bx * kTile, w - ww), std::min(by * kTile, h - wh), ww, wh};
}

// Letters the detector classifies: at most five times this many, and no
// answer from fewer than half of it (its own setting, 50 by default).
constexpr int kWindowCharacters = 20;
constexpr int kWholePageCharacters = 50;
// A look at the text window stands from this confidence on (over at most
// 100 letters; the whole page's look gives 20 and more on usual text);
// below it the next, finer look decides.
constexpr float kWindowConfidence = 5.0f;

struct Answer {
    bool found = false;
    int orientation = 0;
    float confidence = 0;
};

// Throws std::bad_alloc for a missing image: the caller's memory ran out.
Answer Detect(tesseract::TessBaseAPI& api, PIX* pix, int characters) {
    if (pix == nullptr) throw std::bad_alloc();
    api.SetVariable("min_characters_to_try", std::to_string(characters).c_str());
    api.SetImage(pix);
    Answer a;
    const char* script = nullptr;
    float scriptConfidence = 0;
    a.found = api.DetectOrientationScript(&a.orientation, &a.confidence, &script, &scriptConfidence);
    api.Clear();
    return a;
}

// Owns a Pix for one look.
struct PixHolder {
    PIX* pix = nullptr;
    explicit PixHolder(PIX* p) : pix(p) {}
    ~PixHolder() { pixDestroy(&pix); }
    PixHolder(const PixHolder&) = delete;
    PixHolder& operator=(const PixHolder&) = delete;
};

PIX* Clip(PIX* pix, const Area& a) {
    BOX* box = boxCreate(a.x0, a.y0, a.width, a.height);
    PIX* part = box != nullptr ? pixClipRectangle(pix, box, nullptr) : nullptr;
    boxDestroy(&box);
    return part;
}

bool Decided(const Answer& a) { return a.found && a.confidence >= kWindowConfidence; }

// The looks, cheapest first: the text window reduced; the text window at
// the page's resolution (small print); the whole page with the detector's
// usual number of letters, at its resolution when a window look found
// letters, else reduced.
Answer Looks(tesseract::TessBaseAPI& api, const ZNTD_IMAGE& img, int32_t dpi) {
    const Area page{0, 0, img.width, img.height};
    const int32_t f = dpi >= kReduceFromDpi
                          ? std::min({(dpi + kDetectDpi / 2) / kDetectDpi, img.width, img.height})
                          : 1;
    const PixHolder first(GrayPix(img, dpi, page, f));
    if (first.pix == nullptr) throw std::bad_alloc();
    const std::optional<Area> window = TextWindow(first.pix);
    bool letters = false; // a window look found enough letters to answer
    if (window || f > 1) {
        const PixHolder look(window ? Clip(first.pix, *window) : pixClone(first.pix));
        const Answer a = Detect(api, look.pix, kWindowCharacters);
        if (Decided(a)) return a;
        letters = a.found;
    }
    if (f == 1) return Detect(api, first.pix, kWholePageCharacters);
    if (window) {
        const Area fine{window->x0 * f, window->y0 * f, window->width * f, window->height * f};
        const Answer a = Detect(api, PixHolder(GrayPix(img, dpi, fine, 1)).pix, kWindowCharacters);
        if (Decided(a)) return a;
        letters = letters || a.found;
    }
    // Letters in doubt are worth the page's own resolution; a page whose
    // text square held none (a picture) is looked at reduced.
    if (!letters) return Detect(api, first.pix, kWholePageCharacters);
    return Detect(api, PixHolder(GrayPix(img, dpi, page, 1)).pix, kWholePageCharacters);
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
            // Each letter is matched in four turns against every class the
            // pruner lets through, which is most of a look's time. Keeping
            // only classes close to the best one (its default keeps those
            // within 89 %, this within 94 %) makes a look about a sixth
            // cheaper and widens the margin between the right turn and the
            // others; narrower still, small print starts to come out wrong.
            // A Tesseract without the setting only looks slower.
            api->SetVariable("classify_class_pruner_threshold", "240");
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
    try {
        const Answer answer = Looks(*layer.api, *image, dpi);
        if (!answer.found || answer.confidence < kMinConfidence) return ZNTD_UNDECIDED;
        // Tesseract names the clockwise turn its input underwent: exactly
        // the angle by which the text is turned from upright.
        *degrees = ((answer.orientation % 360) + 360) % 360;
        return 0;
    } catch (const std::bad_alloc&) {
        return ZNTD_ERR_NOMEMORY;
    } catch (...) {
        return ZNTD_ERR_FAILED;
    }
}

int ZNTX_exclose(int reserved) {
    Layer& layer = TheLayer();
    if (!layer.open) return ZNTD_ERR_NOT_OPEN;
    layer.open = false;
    layer.moded = false;
    return 0;
}

} // extern "C"
