// Linked with the shared library alone (and the sensor model that makes the
// raw bands): every function the data source calls must be exported, and a
// page must go through both the built-in engine and an engine of its own.
#include "ImvraKD730.h"
#include "KdSensorModel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;
namespace kd = Tvk::Imvra::KD730;

namespace {

// A seeded gray page of the sensor's collected width, and its raw lines
// (each sample the image value itself).
struct GrayScan {
    kdsensor::ScanFormat format;
    std::vector<uint8_t> page;
    std::vector<uint8_t> raw;
    int width = 0, height = 0;

    explicit GrayScan(int lines) : height(lines) {
        width = format.collectedWidth();
        page.resize(static_cast<size_t>(width) * lines);
        std::mt19937 rng(7);
        for (auto& v : page) v = static_cast<uint8_t>(rng());
        kdsensor::EncodeOptions o;
        o.format = format;
        const kdsensor::SideImage side(page.data(), width, height);
        raw = kdsensor::encodePage(o, &side, nullptr);
    }
    CImg band(int first, int count) const {
        CImg b;
        const auto samples = static_cast<int32_t>(format.samplesPerRow());
        EXPECT_TRUE(b.createImg(samples, count, samples, 8, 1, 1, 300, 300));
        std::memcpy(static_cast<tagIMAGEINFO*>(b)->lpImage,
                    raw.data() + static_cast<size_t>(first) * format.lineBytes(),
                    static_cast<size_t>(count) * format.lineBytes());
        return b;
    }
    tagFILTERSIMPLEXINFO record() const {
        tagFILTERSIMPLEXINFO r{};
        r.ulSize = kFilterSimplexInfoSize;
        r.imageIn = tagIMAGEINFO{kImageInfoSize, nullptr, 0, 0,
                                 static_cast<int32_t>(format.samplesPerRow()), height,
                                 static_cast<int32_t>(format.samplesPerRow()), 0, 8, 1, 1, 300, 300};
        r.imageOut = tagIMAGEINFO{kImageInfoSize, nullptr, 0, 0, width, height, width, 0, 8, 1, 0,
                                  300, 300};
        r.normal.ulSize = kNormalFilterInfoSize;
        r.special.ulSize = kSpecialFilterInfoSize;
        return r;
    }
    std::vector<uint8_t> pixels(CImg& img) const {
        tagIMAGEINFO* i = img;
        std::vector<uint8_t> out;
        for (int32_t y = 0; y < i->lHeight; ++y)
            out.insert(out.end(), i->lpImage + static_cast<size_t>(y) * i->lSync,
                       i->lpImage + static_cast<size_t>(y) * i->lSync + i->lWidth);
        return out;
    }
};

} // namespace

TEST(ExportedInterface, OffsetAndDummyPixels) {
    EXPECT_EQ(kd::getOffset(300), -93);
    EXPECT_EQ(kd::getOffset(600), -187);
    kd::setOffset(2540);
    EXPECT_EQ(kd::getOffset(300), 30);
    kd::setOffset(-7946);

    struct Case {
        long dpi;
        int row;
        long count;
    };
    for (const Case& c : {Case{600, 0, 80}, Case{600, 1, 80}, Case{600, 3, 80}, Case{300, 0, 40},
                          Case{300, 1, 40}, Case{300, 3, 40}, Case{200, 0, 40}, Case{1200, -1, 40}})
        EXPECT_EQ(kd::getDummyPixelCount(c.dpi, c.row), c.count) << c.dpi << " row " << c.row;
}

TEST(ExportedInterface, APageThroughTheBuiltInEngineAndAnEngineOfItsOwn) {
    const GrayScan scan(60);
    tagFILTERSIMPLEXINFO rec = scan.record();

    CImg in = scan.band(0, scan.height), out;
    ASSERT_EQ(kd::FilterSimplex(out, in, &rec), RTN_OK);
    EXPECT_EQ(static_cast<tagIMAGEINFO*>(in)->lpImage, nullptr);
    EXPECT_EQ(scan.pixels(out), scan.page);

    void* engine = kd::createImvra();
    ASSERT_NE(engine, nullptr);
    std::vector<uint8_t> banded;
    const int bands[] = {25, 25, 10};
    int first = 0;
    for (int k = 0; k < 3; ++k) {
        CImg b = scan.band(first, bands[k]), o;
        first += bands[k];
        const tagRTN r = k == 0   ? kd::FilterSimplexFirst(engine, o, b, &rec)
                         : k == 2 ? kd::FilterSimplexLast(engine, o, b, &rec)
                                  : kd::FilterSimplexMiddle(engine, o, b, &rec);
        ASSERT_EQ(r, RTN_OK) << "band " << k;
        if (static_cast<tagIMAGEINFO*>(o)->lpImage != nullptr) {
            const auto px = scan.pixels(o);
            banded.insert(banded.end(), px.begin(), px.end());
        }
    }
    EXPECT_EQ(banded, scan.page);
    kd::deleteImvra(engine);
    kd::deleteImvra(nullptr);
}

TEST(ExportedInterface, RefusedRecordsLeaveTheOutputAlone) {
    const GrayScan scan(4);
    CImg out;
    ASSERT_TRUE(out.createImg(8, 2, 8, 8, 1, 0, 300, 300));
    std::memset(static_cast<tagIMAGEINFO*>(out)->lpImage, 0x5A, 16);
    CImg in = scan.band(0, 4), back;
    tagFILTERSIMPLEXINFO rec = scan.record();
    rec.ulSize = kFilterSimplexInfoSize + 1;

    EXPECT_EQ(kd::FilterSimplex(out, in, nullptr), RTN_PAR);
    EXPECT_EQ(kd::FilterSimplex(out, in, &rec), RTN_PAR);
    EXPECT_EQ(kd::FilterDuplex(out, back, in, nullptr), RTN_PAR);
    EXPECT_EQ(kd::FilterSimplex(nullptr, out, in, &rec), RTN_PAR);
    EXPECT_EQ(kd::NormalFilterSimplex(out, in, nullptr, true), RTN_PAR);
    EXPECT_EQ(static_cast<tagIMAGEINFO*>(out)->lWidth, 8);
    EXPECT_EQ(static_cast<tagIMAGEINFO*>(out)->lpImage[15], 0x5A);
    EXPECT_NE(static_cast<tagIMAGEINFO*>(in)->lpImage, nullptr);

    EXPECT_EQ(kd::setOcrPath(nullptr), -1);
    EXPECT_EQ(kd::setOcrPath(""), 0);
    kd::Clear();
}

TEST(ExportedInterface, SingleFiltersOnAWholeImage) {
    CImg img;
    ASSERT_TRUE(img.createImg(4, 1, 4, 8, 1, 0, 300, 300));
    const uint8_t px[4] = {0, 10, 200, 255};
    std::memcpy(static_cast<tagIMAGEINFO*>(img)->lpImage, px, 4);
    ASSERT_EQ(kd::Inverse(img), RTN_OK);
    EXPECT_EQ(static_cast<tagIMAGEINFO*>(img)->lpImage[1], 245);

    tagROTATE90XINFO turn{kRotate90xInfoSize, 90};
    ASSERT_EQ(kd::Rotate90x(img, &turn), RTN_OK);
    EXPECT_EQ(static_cast<tagIMAGEINFO*>(img)->lWidth, 1);
    EXPECT_EQ(static_cast<tagIMAGEINFO*>(img)->lHeight, 4);

    tagBLANKPAGEINFO blank{11, 1, 7};
    EXPECT_EQ(kd::IsBlankPage(img, &blank), RTN_PAR);
}
