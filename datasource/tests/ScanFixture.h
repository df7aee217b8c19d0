// A scanner object on the virtual KD-720 with a watchdog: a scan that hangs
// ends the test program with a message instead of blocking CI.
#pragma once

#include "TavrKd.h"
#include "VirtualKd720.h"
#include "kdusb/KdUsb.h"

#include <gtest/gtest.h>

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

// The mark of a page scanned without edge detection: the sheet lies centred
// across the sensor, its leading edge at the first line.
inline std::string markOf(const Page& page, int dpi, double sheetWidthMm) {
    const int channels = page.pixelType == 2 ? 3 : 1;
    if (page.pixelType == 0) return "";
    const double originX = (page.width - sheetWidthMm / 25.4 * dpi) / 2;
    return kdvirtual::readMark(page.pixels.data(), static_cast<int>(page.width),
                               static_cast<int>(page.height), channels, page.bytesPerLine, dpi,
                               dpi, originX, 0);
}

}  // namespace kdscan
