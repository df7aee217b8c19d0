// Scan settings the data source seldom uses but its settings window and the
// application's scan settings do: the colour decision, back-side-only scans,
// final filters on every kind of page and the thumbnail copy beside a scan.
#include "ScanFixture.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

using namespace kdscan;

namespace {

class ScanSettings : public VirtualScan {};

// How many bits of a 1-bit page are set, of all of its pixels.
double setShare(const Page& page) {
    unsigned long set = 0;
    for (unsigned long y = 0; y < page.height; ++y)
        for (unsigned long x = 0; x < page.width; ++x)
            set += page.pixels[y * page.bytesPerLine + x / 8] >> (7 - x % 8) & 1;
    return static_cast<double>(set) / static_cast<double>(page.width * page.height);
}

struct ColourRow {
    const char* name;
    const char* sheets;
    std::uint32_t mode;                  // the output asked for
    std::uint32_t decided[2];            // the format the decision gives each sheet
};

// The colour decision scans in colour and gives each page the format its
// content asks for, reported as it came out.
TEST_F(ScanSettings, ColourDecisionReportsEachPageInItsOwnFormat) {
    Watchdog dog(120);
    // Photos are colour, text on paper gray, an empty side black-and-white.
    const ColourRow rows[] = {
        {"photo then empty, gray output", "colour=1;content=photo;blank=2f", 1, {2, 0}},
        {"photo then empty, black-and-white output", "colour=1;content=photo;blank=2f", 0, {2, 0}},
        {"text then empty, gray output", "content=text;blank=2f", 1, {1, 0}},
        {"text then empty, black-and-white output", "content=text;blank=2f", 0, {1, 0}},
    };
    for (const ColourRow& row : rows) {
        SCOPED_TRACE(row.name);
        close();
        open(std::string("paper=60x40mm;sheets=2;") + row.sheets);
        tagScanParam p = scanRecord(150, row.mode, 0, 40);
        p.continuousFeeding = 1;
        p.colourOption = 1 | 2u << 16;
        KdError start = 0;
        const std::vector<Page> pages = scanAll(p, &start);
        ASSERT_EQ(start, kderr::kSuccess);
        EXPECT_EQ(record.scanChannels, 2u);   // a colour scan whatever the output
        ASSERT_EQ(pages.size(), 3u);
        EXPECT_EQ(pages[2].result, kderr::kBatchEndNoPaper);
        for (std::size_t i = 0; i < 2; ++i) {
            SCOPED_TRACE(i);
            const Page& page = pages[i];
            ASSERT_EQ(page.result, kderr::kSuccess);
            EXPECT_EQ(page.pixelType, row.decided[i]);
            // The lines a host reads are as long as the format reported.
            const unsigned long bits = page.pixelType == 0 ? 1 : page.pixelType == 1 ? 8 : 24;
            EXPECT_GE(page.bytesPerLine * 8, page.width * bits);
            EXPECT_LT(page.bytesPerLine * 8, page.width * bits + 64);
            if (page.pixelType == 0) {
                // The empty side: all of one kind, read as 1-bit lines.
                const double share = setShare(page);
                EXPECT_LT(std::min(share, 1 - share), 0.001);
            } else {
                EXPECT_EQ(markOf(page, 150, 60), std::to_string(i + 1) + "F");
            }
        }
    }
}

// The back side alone: calibration settles the back's registers and fills
// the first pair of references with the back's, and the pages are shaded
// with them: each page is the back page a duplex scan gives of its sheet.
TEST_F(ScanSettings, BackSideOnly) {
    Watchdog dog(120);
    open("paper=60x40mm;sheets=1");
    const std::vector<Page> duplex = scanAll(scanRecord(150, 1, 2, 40));
    ASSERT_EQ(duplex.size(), 3u);
    ASSERT_EQ(duplex[1].result, kderr::kSuccess);
    for (int sheets : {1, 2}) {
        SCOPED_TRACE(sheets);
        close();
        open("paper=60x40mm;sheets=" + std::to_string(sheets));
        tagScanParam p = scanRecord(150, 1, 1, 40);
        p.continuousFeeding = sheets > 1;
        KdError start = 0;
        const std::vector<Page> pages = scanAll(p, &start);
        ASSERT_EQ(start, kderr::kSuccess);
        ASSERT_EQ(pages.size(), static_cast<std::size_t>(sheets) + 1);
        for (int i = 0; i < sheets; ++i) {
            ASSERT_EQ(pages[static_cast<std::size_t>(i)].result, kderr::kSuccess);
            EXPECT_EQ(pages[static_cast<std::size_t>(i)].pixelType, 1u);
            EXPECT_EQ(markOf(pages[static_cast<std::size_t>(i)], 150, 60), std::to_string(i + 1) + "B");
        }
        EXPECT_EQ(pages[0].width, duplex[1].width);
        EXPECT_EQ(pages[0].height, duplex[1].height);
        // The same exposure: the pixels differ by a twentieth of a level on
        // average (with the back's registers left at their start values,
        // half a level, the print's darkest parts 50 levels lighter).
        ASSERT_EQ(pages[0].pixels.size(), duplex[1].pixels.size());
        double difference = 0;
        for (std::size_t k = 0; k < pages[0].pixels.size(); ++k)
            difference += std::abs(pages[0].pixels[k] - duplex[1].pixels[k]);
        difference /= static_cast<double>(pages[0].pixels.size());
        EXPECT_LT(difference, 0.05);
        EXPECT_EQ(pages.back().result, sheets > 1 ? kderr::kBatchEndNoPaper : kderr::kNoDocument);
    }
}

struct FilterRow {
    const char* name;
    unsigned long bits, samples;
    KdFilterDictionary filters;
    enum { Same, Inverted, Binary, Refused } result;
};

// A small page of the given format: a gradient with a black square.
std::vector<unsigned char> testImage(unsigned long bits, unsigned long samples, unsigned long w,
                                     unsigned long h, unsigned long& bpl) {
    bpl = ((w * bits * samples + 31) / 32) * 4;
    std::vector<unsigned char> image(bpl * h, 0);
    for (unsigned long y = 0; y < h; ++y)
        for (unsigned long x = 0; x < w; ++x) {
            const bool square = x >= w / 4 && x < w / 2 && y >= h / 4 && y < h / 2;
            const auto level = static_cast<unsigned char>(square ? 0 : 128 + x * 127 / w);
            if (bits == 1) {
                if (square) image[y * bpl + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            } else {
                for (unsigned long s = 0; s < samples; ++s)
                    image[y * bpl + x * samples + s] = static_cast<unsigned char>(level - s * 20);
            }
        }
    return image;
}

// Final filters on a caller's buffer build only the records the dictionary
// asks for: nothing asked changes nothing, on every kind of page.
TEST_F(ScanSettings, FinalFiltersOnEveryKindOfPage) {
    open("paper=60x40mm;sheets=1");
    const FilterRow rows[] = {
        {"1-bit, nothing", 1, 1, {}, FilterRow::Same},
        {"1-bit, inverse", 1, 1, {{"Inverse", 1L}}, FilterRow::Inverted},
        {"1-bit, tone keys have no gray levels to shape", 1, 1,
         {{"Brightness", 200L}, {"Contrast", 3L}, {"GrayGammaTable", std::vector<std::uint8_t>(256, 0)}},
         FilterRow::Same},
        {"gray, nothing", 8, 1, {}, FilterRow::Same},
        {"gray, inverse", 8, 1, {{"Inverse", 1L}}, FilterRow::Inverted},
        {"gray to black-and-white", 8, 1, {{"GrayToBin", 1L}}, FilterRow::Binary},
        {"colour, nothing", 8, 3, {}, FilterRow::Same},
        // The library inverts one-sample pages only.
        {"colour, inverse", 8, 3, {{"Inverse", 1L}}, FilterRow::Refused},
    };
    constexpr unsigned long kW = 96, kH = 64;
    for (const FilterRow& row : rows) {
        SCOPED_TRACE(row.name);
        unsigned long bpl = 0;
        std::vector<unsigned char> source = testImage(row.bits, row.samples, kW, kH, bpl);
        unsigned char* image = source.data();
        unsigned long w = kW, h = kH, b = bpl;
        if (row.result == FilterRow::Refused) {
            EXPECT_EQ(scanner->ApplyImageFilter(&image, &w, &h, &b, row.bits, row.samples, 200, row.filters),
                      kderr::kLibraryRefused);
            EXPECT_EQ(image, source.data());
            continue;
        }
        ASSERT_EQ(scanner->ApplyImageFilter(&image, &w, &h, &b, row.bits, row.samples, 200, row.filters),
                  kderr::kSuccess);
        ASSERT_NE(image, source.data());
        EXPECT_EQ(w, kW);
        EXPECT_EQ(h, kH);
        const unsigned long rowBytes = (kW * row.bits * row.samples + 7) / 8;
        if (row.result == FilterRow::Binary) {
            EXPECT_GE(b * 8, kW);
            EXPECT_LT(b, bpl);
            // The square and the light gradient fall on opposite sides.
            const unsigned char square = image[(kH * 3 / 8) * b + (kW * 3 / 8) / 8];
            const unsigned char light = image[(kH * 7 / 8) * b + (kW * 7 / 8) / 8];
            EXPECT_TRUE(square == 0 || square == 0xFF) << int{square};
            EXPECT_EQ(square ^ light, 0xFF);
        } else {
            ASSERT_EQ(b, bpl);
            for (unsigned long y = 0; y < kH; ++y)
                for (unsigned long x = 0; x < rowBytes; ++x) {
                    const unsigned char in = source[y * bpl + x];
                    const unsigned char want = row.result == FilterRow::Same ? in : static_cast<unsigned char>(~in);
                    ASSERT_EQ(image[y * b + x], want) << x << "," << y;
                }
        }
        std::free(image);
    }
}

// The same on a finished black-and-white page.
TEST_F(ScanSettings, FinalFiltersOnABlackAndWhitePage) {
    Watchdog dog(60);
    open("paper=60x40mm;sheets=1;content=text");
    tagScanParam p = scanRecord(150, 0, 0, 40);
    tagScanParam q;
    ASSERT_EQ(startPastUnitAttention(p, q), kderr::kSuccess);
    ASSERT_EQ(scanner->ScanPage(&q), kderr::kSuccess);
    EXPECT_EQ(q.pixelType, 0u);
    unsigned long w = 0, h = 0, bpl = 0, bits = 0, spp = 0;
    const unsigned long bytes = scanner->GetThumbnailImageInfo(&w, &h, &bpl, &bits, &spp);
    ASSERT_EQ(bits, 1u);
    std::vector<unsigned char> before(bytes), after(bytes);
    ASSERT_EQ(scanner->CopyThumbnailImage(before.data(), bytes, nullptr, nullptr), 0);
    ASSERT_EQ(scanner->ApplyImageFilter(KdFilterDictionary{}), kderr::kSuccess);
    ASSERT_EQ(scanner->ApplyImageFilter(KdFilterDictionary{{"Inverse", 1L}}), kderr::kSuccess);
    ASSERT_EQ(scanner->GetThumbnailImageInfo(&w, &h, &bpl, &bits, &spp), bytes);
    ASSERT_EQ(scanner->CopyThumbnailImage(after.data(), bytes, nullptr, nullptr), 0);
    for (unsigned long y = 0; y < h; ++y)
        for (unsigned long x = 0; x < w / 8; ++x)
            ASSERT_EQ(after[y * bpl + x], static_cast<unsigned char>(~before[y * bpl + x])) << x << "," << y;
    scanner->ScanComplete();
    scanner->FinishScan();
}

// The thumbnail copy takes the size its caller was told; a page that
// changed or went meanwhile is answered with a failure, never written past
// the buffer.
TEST_F(ScanSettings, ThumbnailCopyOfAPageThatChangedMeanwhile) {
    Watchdog dog(60);
    open("paper=60x41mm;sheets=2");
    // A black-and-white page of 1296 x 242: turned a quarter, its lines of
    // 242 bits take a byte more than the 1296 bits of each upright line do.
    tagScanParam p = scanRecord(150, 0, 0, 41);
    p.continuousFeeding = 1;
    tagScanParam q;
    ASSERT_EQ(startPastUnitAttention(p, q), kderr::kSuccess);
    ASSERT_EQ(scanner->ScanPage(&q), kderr::kSuccess);
    const unsigned long upright = scanner->GetThumbnailImageInfo(nullptr, nullptr, nullptr, nullptr, nullptr);
    std::vector<unsigned char> small(upright);
    EXPECT_EQ(scanner->CopyThumbnailImage(small.data(), upright, nullptr, nullptr), 0);
    // Turned between the two calls: larger than the buffer sized for it.
    ASSERT_EQ(scanner->ApplyImageFilter(KdFilterDictionary{{"Orientation", 90L}}), kderr::kSuccess);
    const unsigned long turned = scanner->GetThumbnailImageInfo(nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_GT(turned, upright);
    EXPECT_EQ(scanner->CopyThumbnailImage(small.data(), upright, nullptr, nullptr), kThumbnailChanged);
    std::vector<unsigned char> large(turned);
    EXPECT_EQ(scanner->CopyThumbnailImage(large.data(), turned, nullptr, nullptr), 0);
    // Taken: the next page is the second, upright.
    scanner->ScanComplete();
    ASSERT_EQ(scanner->ScanPage(&q), kderr::kSuccess);
    EXPECT_EQ(scanner->CopyThumbnailImage(large.data(), turned, nullptr, nullptr), kThumbnailChanged);
    EXPECT_EQ(scanner->CopyThumbnailImage(small.data(), upright, nullptr, nullptr), 0);
    scanner->ScanComplete();
    // None left.
    EXPECT_EQ(scanner->ScanPage(&q), kderr::kBatchEndNoPaper);
    EXPECT_EQ(scanner->CopyThumbnailImage(small.data(), upright, nullptr, nullptr), kThumbnailChanged);
    scanner->FinishScan();
}

// The settings window's thumbnail thread asks and copies while the data
// source's thread filters and takes pages: every copy either fits or fails.
TEST_F(ScanSettings, ThumbnailThreadBesideTheScan) {
    Watchdog dog(120);
    open("paper=60x41mm;sheets=4");
    tagScanParam p = scanRecord(150, 0, 0, 41);
    p.continuousFeeding = 1;
    tagScanParam q;
    ASSERT_EQ(startPastUnitAttention(p, q), kderr::kSuccess);
    std::atomic<bool> done{false};
    std::atomic<int> copies{0};
    std::thread thumbnails([&] {
        while (!done) {
            const unsigned long bytes =
                scanner->GetThumbnailImageInfo(nullptr, nullptr, nullptr, nullptr, nullptr);
            if (bytes == 0) {
                std::this_thread::yield();
                continue;
            }
            std::vector<unsigned char> buffer(bytes);
            if (scanner->CopyThumbnailImage(buffer.data(), bytes, nullptr, nullptr) == 0) ++copies;
        }
    });
    int pages = 0;
    KdError e = kderr::kSuccess;
    for (;;) {
        e = scanner->ScanPage(&q);
        if (e != kderr::kSuccess) break;
        ++pages;
        // The thumbnail thread copies this page at least once before it
        // changes, then races the turns and the next pages.
        for (const int before = copies.load(); copies.load() == before;) std::this_thread::yield();
        for (long turn : {90L, 270L, 90L})
            EXPECT_EQ(scanner->ApplyImageFilter(KdFilterDictionary{{"Orientation", turn}}), kderr::kSuccess);
        scanner->ScanComplete();
    }
    done = true;
    thumbnails.join();
    EXPECT_EQ(e, kderr::kBatchEndNoPaper);
    EXPECT_EQ(pages, 4);
    scanner->FinishScan();
}

// The library with a gate in its first band call: the image thread waits
// there, holding the engine, until the test opens it.
class GatedImaging final : public ForwardingImaging {
public:
    std::mutex mutex;
    std::condition_variable cv;
    bool inside = false, open = false;

    RTN filterSimplex(State s, CImg& out, CImg& in, Tvk::Imvra::tagFILTERSIMPLEXINFO* i) override {
        {
            std::unique_lock lock(mutex);
            inside = true;
            cv.notify_all();
            cv.wait(lock, [this] { return open; });
        }
        return lib.filterSimplex(s, out, in, i);
    }
};

// The preview's filter on a buffer is refused while a page holds the
// engine, instead of keeping the settings window's thread for the page.
TEST_F(ScanSettings, BufferFilterIsRefusedWhileAPageHoldsTheEngine) {
    Watchdog dog(60);
    open("paper=60x40mm;sheets=1");
    GatedImaging gate;
    scanner->SetImaging(&gate);
    tagScanParam p = scanRecord(150, 1, 0, 40);
    tagScanParam q;
    ASSERT_EQ(startPastUnitAttention(p, q), kderr::kSuccess);
    KdError scanned = kderr::kSuccess;
    std::thread dataSource([&] { scanned = scanner->ScanPage(&q); });
    {
        std::unique_lock lock(gate.mutex);
        gate.cv.wait(lock, [&] { return gate.inside; });
    }
    unsigned long bpl = 0;
    std::vector<unsigned char> source = testImage(8, 1, 32, 8, bpl);
    unsigned char* image = source.data();
    unsigned long w = 32, h = 8, b = bpl;
    EXPECT_EQ(scanner->ApplyImageFilter(&image, &w, &h, &b, 8, 1, 150, {}), kderr::kDeviceBusy);
    EXPECT_EQ(image, source.data());
    {
        std::lock_guard lock(gate.mutex);
        gate.open = true;
    }
    gate.cv.notify_all();
    dataSource.join();
    EXPECT_EQ(scanned, kderr::kSuccess);
    scanner->ScanComplete();
    scanner->FinishScan();
    // Between scans it runs.
    ASSERT_EQ(scanner->ApplyImageFilter(&image, &w, &h, &b, 8, 1, 150, {}), kderr::kSuccess);
    std::free(image);
    scanner->SetImaging(nullptr);
}

}  // namespace
