// A scanner object on the virtual KD-720 with a watchdog: a scan that hangs
// ends the test program with a message instead of blocking CI.
#pragma once

#include "TavrKd.h"
#include "VirtualKd720.h"
#include "kdusb/KdUsb.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kdscan {

class Watchdog {
public:
    explicit Watchdog(int seconds) {
        m_thread = std::thread([this, seconds] {
            std::unique_lock lock(m_mutex);
            if (!m_cv.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; })) {
                std::fprintf(stderr, "watchdog: the test hung for %d s\n", seconds);
                std::_Exit(3);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_thread;
};

struct Page {
    KdError result = 0;
    std::uint32_t pixelType = 0;
    unsigned long width = 0, height = 0, bytesPerLine = 0;
    std::uint8_t blank = 0;
    std::vector<std::uint8_t> pixels;
};

// A scan record with neutral tone tables.
inline tagScanParam scanRecord(std::uint32_t dpi, std::uint32_t mode, std::uint32_t sides,
                               double lengthMm) {
    tagScanParam p{};
    p.resolution = dpi;
    p.outputMode = mode;
    p.sides = sides;
    p.width = static_cast<float>(kdvirtual::kFullWidth1200);
    p.length = static_cast<float>(lengthMm / 25.4 * 1200);
    p.rotation = 1;
    p.brightnessFront = p.brightnessBack = 128;
    p.contrastFront = p.contrastBack = 4;
    for (auto& t : p.toneTables)
        for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint8_t>(i);
    return p;
}

class VirtualScan : public ::testing::Test {
protected:
    void TearDown() override { close(); }

    void open(const std::string& settings) {
        unsetenv("KD_VIRTUAL_SCANNER");
        kdvirtual::VirtualConfig c;
        std::string e;
        ASSERT_TRUE(kdvirtual::parseSettings(settings, c, e)) << e;
        device = std::make_shared<kdvirtual::VirtualKd720>(c, 0, e);
        ASSERT_EQ(e, "");
        kdusb::registerInProcessDevice(device);
        SScannerDesc templ{};
        templ.magic = kScannerDescMagic;
        templ.vendorId = kdvirtual::kVendorId;
        templ.productId = kdvirtual::kProductId;
        SScannerList* list = CDocUSBScanner::CreateScannerList(&templ);
        ASSERT_NE(list, nullptr);
        scanner = std::make_unique<CTavrKd>(&list->records[0]);
        CDocUSBScanner::ReleaseScannerList(list);
        ASSERT_EQ(scanner->OpenSession(), kderr::kSuccess);
    }
    void close() {
        if (scanner) scanner->CloseSession();
        scanner.reset();
        if (device) kdusb::unregisterInProcessDevice(device);
        device.reset();
    }

    // StartScan of `p` into `q`, retrying once past the power-on unit attention.
    KdError startPastUnitAttention(const tagScanParam& p, tagScanParam& q) {
        q = p;
        KdError e = scanner->StartScan(&q);
        if (e == kderr::kNotReady) q = p, e = scanner->StartScan(&q);
        return e;
    }

    // StartScan (retrying once past the power-on unit attention), then every
    // page until ScanPage reports an end; FinishScan.
    std::vector<Page> scanAll(tagScanParam param, KdError* start = nullptr, int maxPages = 20) {
        std::vector<Page> pages;
        tagScanParam p = param;
        KdError e = scanner->StartScan(&p);
        if (e == kderr::kNotReady) {
            p = param;
            e = scanner->StartScan(&p);
        }
        if (start != nullptr) *start = e;
        if (e != kderr::kSuccess) return pages;
        record = p;
        for (int i = 0; i < maxPages; ++i) {
            Page page;
            page.result = scanner->ScanPage(&p);
            if (page.result != kderr::kSuccess && page.result != kderr::kDoubleFeedDelivered) {
                pages.push_back(page);
                break;
            }
            page.pixelType = p.pixelType;
            page.width = p.imageWidth;
            page.height = p.imageLength;
            page.blank = p.blankResult;
            unsigned long bpl = 0, bits = 0, spp = 0, w = 0, h = 0;
            scanner->GetThumbnailImageInfo(&w, &h, &bpl, &bits, &spp);
            page.bytesPerLine = bpl;
            page.pixels.assign(bpl * page.height, 0);
            unsigned long lines = page.height;
            EXPECT_EQ(scanner->ReadLines(page.pixels.data(), bpl, &lines), kderr::kSuccess);
            EXPECT_EQ(lines, page.height);
            scanner->ScanComplete();
            pages.push_back(std::move(page));
        }
        scanner->FinishScan();
        EXPECT_FALSE(scanner->ReaderRunning());
        EXPECT_FALSE(scanner->ImageThreadRunning());
        return pages;
    }

    std::shared_ptr<kdvirtual::VirtualKd720> device;
    std::unique_ptr<CTavrKd> scanner;
    tagScanParam record{};
};

// The library's engine behind a stand-in: every call goes on to it unless
// a test's stand-in overrides it.
class ForwardingImaging : public IKdImaging {
public:
    void setOffset(long o) override { lib.setOffset(o); }
    long getOffset(long r) override { return lib.getOffset(r); }
    long getDummyPixelCount(long r, int row) override { return lib.getDummyPixelCount(r, row); }
    int setOcrPath(const char* f) override { return lib.setOcrPath(f); }
    RTN filterSimplex(State s, CImg& out, CImg& in, Tvk::Imvra::tagFILTERSIMPLEXINFO* i) override {
        return lib.filterSimplex(s, out, in, i);
    }
    RTN filterDuplex(State s, CImg& f, CImg& b, CImg& in, Tvk::Imvra::tagFILTERDUPLEXINFO* i) override {
        return lib.filterDuplex(s, f, b, in, i);
    }
    RTN normalFilterSimplex(CImg& out, CImg& in, Tvk::Imvra::tagFILTERSIMPLEXINFO* i, bool front) override {
        return lib.normalFilterSimplex(out, in, i, front);
    }
    void adjustLightFirst(Tvk::Imvra::tagADJUSTINFO* i, long m) override { lib.adjustLightFirst(i, m); }
    RTN adjustLightNext(CImg& raw, Tvk::Imvra::tagADJUSTINFO* i) override { return lib.adjustLightNext(raw, i); }
    RTN adjustLightLast(CImg& f, CImg& b, CImg& raw, Tvk::Imvra::tagADJUSTINFO* i) override {
        return lib.adjustLightLast(f, b, raw, i);
    }
    RTN adjustLightFix(CImg& w, CImg& b, Tvk::Imvra::tagADJUSTINFO* i, Tvk::Imvra::tagSIDE s,
                       unsigned char* c, unsigned long n) override {
        return lib.adjustLightFix(w, b, i, s, c, n);
    }

protected:
    IKdImaging& lib = LibraryImaging();
};

// The library with a look at every filter call: the page length of each
// page's first band, and the corner records of both sides as the library
// left them after each page's last band.
class LibraryTap final : public ForwardingImaging {
public:
    using Corners = Tvk::Imvra::tagDETECT4POINTSINFO;
    std::vector<std::int32_t> lengths;
    std::vector<std::array<Corners, 2>> corners;

    RTN filterSimplex(State s, CImg& out, CImg& in, Tvk::Imvra::tagFILTERSIMPLEXINFO* i) override {
        note(s, i->imageIn.lHeight);
        const RTN r = lib.filterSimplex(s, out, in, i);
        keep(s, i->special.pDetect4PointsInfo, nullptr);
        return r;
    }
    RTN filterDuplex(State s, CImg& f, CImg& b, CImg& in, Tvk::Imvra::tagFILTERDUPLEXINFO* i) override {
        note(s, i->imageIn.lHeight);
        const RTN r = lib.filterDuplex(s, f, b, in, i);
        keep(s, i->specialFront.pDetect4PointsInfo, i->specialBack.pDetect4PointsInfo);
        return r;
    }

private:
    static bool firstBand(State s) { return s == Tvk::Imvra::IMAGE_WHOLE || s == Tvk::Imvra::IMAGE_FIRST; }
    static bool lastBand(State s) { return s == Tvk::Imvra::IMAGE_WHOLE || s == Tvk::Imvra::IMAGE_LAST; }
    void note(State s, std::int32_t length) {
        if (firstBand(s)) lengths.push_back(length);
    }
    void keep(State s, const Corners* front, const Corners* back) {
        if (lastBand(s) && front != nullptr) corners.push_back({*front, back ? *back : Corners{}});
    }
};

// The mark of a page scanned without edge detection: the sheet lies centred
// across the sensor, its leading edge at the first line.
inline std::string markOf(const Page& page, int dpi, double sheetWidthMm) {
    const int channels = page.pixelType == 2 ? 3 : 1;
    if (page.pixelType == 0) return "";
    // Where the sensor's centre falls in the image depends on the dummy
    // pixels the library keeps: look a few pixels either side.
    const double centred = (page.width - sheetWidthMm / 25.4 * dpi) / 2;
    for (int d = 0; d <= 40; ++d)
        for (int sign : {1, -1}) {
            const std::string mark = kdvirtual::readMark(
                page.pixels.data(), static_cast<int>(page.width), static_cast<int>(page.height),
                channels, page.bytesPerLine, dpi, dpi, centred + sign * d, 0);
            if (!mark.empty()) return mark;
        }
    return "";
}

}  // namespace kdscan
