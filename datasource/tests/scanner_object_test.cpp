// The scanner object's set-up, calibration, status queries, blocks and
// calibration data against the virtual KD-720.
#include "ScanFixture.h"

#include <cmath>
#include <cstring>

using namespace kdscan;

namespace {

std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

class ScannerObject : public VirtualScan {
protected:
    // StartScan past the power-on unit attention; the record as written back.
    KdError start(tagScanParam& p) {
        tagScanParam q = p;
        KdError e = scanner->StartScan(&q);
        if (e == kderr::kNotReady) q = p, e = scanner->StartScan(&q);
        p = q;
        return e;
    }
    int scans(std::uint8_t firstId) {
        int n = 0;
        for (const auto& c : device->commandLog())
            if (c.opcode == 0x1B && !c.data.empty() && c.data[0] == firstId) ++n;
        return n;
    }
};

struct WindowRow {
    std::uint32_t dpi, mode;
    std::uint8_t edge;
    std::uint16_t xres, yres;
    std::uint8_t composition;
    std::int32_t top;
};

TEST_F(ScannerObject, StartScanSetsTheWindows) {
    Watchdog dog(60);
    open("paper=card;sheets=1");
    const WindowRow rows[] = {
        {100, 1, 0, 300, 150, 2, 0},   {150, 0, 0, 300, 150, 2, 0},
        {200, 2, 0, 300, 200, 5, 0},   {240, 1, 0, 300, 300, 2, 0},
        {300, 128, 0, 300, 300, 5, 0}, {400, 1, 0, 600, 400, 2, 0},
        {600, 2, 0, 600, 600, 5, 0},   {300, 1, 1, 300, 300, 2, -472},
    };
    for (const WindowRow& r : rows) {
        SCOPED_TRACE(r.dpi);
        tagScanParam p = scanRecord(r.dpi, r.mode, 0, 100);
        p.top = 120;
        p.pageEdgeDetection = r.edge;
        ASSERT_EQ(start(p), kderr::kSuccess);
        EXPECT_EQ(p.scanXResolution, r.xres);
        EXPECT_EQ(p.scanYResolution, r.yres);
        EXPECT_EQ(p.scanChannels, r.composition == 5 ? 2u : 1u);
        const std::uint32_t length = static_cast<std::uint32_t>(100 / 25.4 * 1200);
        const std::uint32_t window = r.edge ? 120 + length + 944 : length;
        EXPECT_EQ(p.imageLength, r.dpi * length / 1200);
        EXPECT_EQ(p.scanLines, r.yres * window / 1200);
        for (int id = 0; id < 2; ++id) {
            const kdvirtual::WindowRecord w = device->windows().at(id);
            EXPECT_EQ(w.xres, r.xres);
            EXPECT_EQ(w.yres, r.yres);
            EXPECT_EQ(w.composition, r.composition);
            EXPECT_EQ(w.bitsPerPixel, 8);
            EXPECT_EQ(w.top, r.edge ? -472 : 120);
            EXPECT_EQ(w.width, kdvirtual::kFullWidth1200);
            EXPECT_EQ(w.length, window);
        }
        scanner->FinishScan();
    }
    // A window longer than the scanner's maximum is bounded by it.
    tagScanParam p = scanRecord(300, 1, 0, 5000);
    p.cropping = 1;
    ASSERT_EQ(start(p), kderr::kSuccess);
    EXPECT_EQ(device->windows().at(0).length, 944u + kdvirtual::kMaxLengthDots * 2);
    // A refused set-up leaves the caller's record as it was.
    tagScanParam bad = scanRecord(123, 1, 0, 100);
    const tagScanParam before = bad;
    EXPECT_NE(scanner->StartScan(&bad), kderr::kSuccess);
    EXPECT_EQ(std::memcmp(&bad, &before, sizeof bad), 0);
}

TEST_F(ScannerObject, CalibrationConvergesAndIsCached) {
    Watchdog dog(60);
    open("paper=card;sheets=1");
    double now = 1000;
    SScanTuning tuning;
    tuning.clock = [&now] { return now; };
    scanner->SetScanTuning(tuning);
    tagScanParam p = scanRecord(300, 1, 2, 50);
    ASSERT_EQ(start(p), kderr::kSuccess);
    // Dark steps came with the dark pair, the references as 0xFE then 0xFF.
    EXPECT_GE(scans(0xFF), 2);
    EXPECT_EQ(scans(0xFE) >= 1, true);
    const kdsensor::Registers regs = device->registers();
    for (const auto* side : {&regs.front, &regs.back})
        for (int c = 0; c < 3; ++c) {
            EXPECT_LT(side->led[static_cast<std::size_t>(c)], 2000);
            EXPECT_GT(side->led[static_cast<std::size_t>(c)], 0);
        }
    // A gray line sees all three LEDs at once: with the registers it was
    // calibrated to, white reads near the gain target, not clipped at 4095.
    constexpr int kSlots = 3 * 864;   // one side's raw samples at 300 dpi
    for (int s = 0; s < 2; ++s) {
        int white = 0;
        for (int slot = 0; slot < kSlots; ++slot)
            white = std::max<int>(white, device->model().sample12(s, 300, slot, -1, s ? regs.back : regs.front,
                                                                  {1, 1, 1}));
        EXPECT_NEAR(white, 3072, 300) << s;
    }
    // Per side, per reference, three channel records; gray repeats one line.
    const auto records = device->shadingRecords();
    ASSERT_EQ(records.size(), 12u);
    EXPECT_EQ(records[0].bytes[0], 0x00);
    EXPECT_EQ(records[1].bytes[0], 0x04);
    EXPECT_EQ(records[2].bytes[0], 0x08);
    EXPECT_EQ(records[3].bytes[0], 0x40);
    EXPECT_EQ(records[6].bytes[0], 0x01);
    EXPECT_EQ(records[11].bytes[0], 0x49);
    EXPECT_TRUE(std::equal(records[0].bytes.begin() + 4, records[0].bytes.end(),
                           records[1].bytes.begin() + 4));
    scanner->FinishScan();

    // Within 300 s with the same set-up: no calibration.
    const auto calibrations = [&] { return device->shadingRecords().size() / 12; };
    now += 299;
    p = scanRecord(300, 1, 2, 50);
    ASSERT_EQ(start(p), kderr::kSuccess);
    EXPECT_EQ(calibrations(), 1u);
    scanner->FinishScan();
    // A changed resolution calibrates again, and so does a later scan.
    p = scanRecord(600, 1, 2, 50);
    ASSERT_EQ(start(p), kderr::kSuccess);
    EXPECT_EQ(calibrations(), 2u);
    scanner->FinishScan();
    now += 301;
    p = scanRecord(600, 1, 2, 50);
    ASSERT_EQ(start(p), kderr::kSuccess);
    EXPECT_EQ(calibrations(), 3u);
}

TEST_F(ScannerObject, StatusQueries) {
    Watchdog dog(60);
    open("paper=card;sheets=2");
    tagScanParam p = scanRecord(300, 1, 0, 50);
    ASSERT_EQ(start(p), kderr::kSuccess);

    std::uint32_t width = 0;
    ASSERT_EQ(scanner->GetStatus("MaxScanWidth", &width), kderr::kSuccess);
    EXPECT_EQ(width, 10208u);
    std::uint32_t length = 0;
    ASSERT_EQ(scanner->GetStatus("MaxScanLength", &length), kderr::kSuccess);
    EXPECT_EQ(length, be32(device->settingsBlock().data() + 16));
    double scaling = 0;
    ASSERT_EQ(scanner->GetStatus("VerticalScalingControlValue", &scaling), kderr::kSuccess);
    EXPECT_EQ(scaling, 1.0);
    SScannerInfo info{};
    ASSERT_EQ(scanner->GetStatus("ScannerInfo", &info), kderr::kSuccess);
    EXPECT_STREQ(info.vendor, "TAVRO   ");
    EXPECT_EQ(info.ultrasonic, 0);
    std::uint8_t ready = 0;
    ASSERT_EQ(scanner->GetStatus("DocumentReadyStatus", &ready), kderr::kSuccess);
    EXPECT_EQ(ready, 8);
    std::uint32_t keys = 0;
    device->pressKey(5);
    ASSERT_EQ(scanner->GetStatus("OperationpanelEZKeyStatus", &keys), kderr::kSuccess);
    EXPECT_EQ(keys & 0xFF, 1u << 4);
    EXPECT_EQ(scanner->GetStatus("NoSuchStatus", nullptr), kderr::kIllegalRequest);
    EXPECT_EQ(scanner->GetStatus("ScannerErrorStatus", nullptr), kderr::kIllegalRequest);

    // Counters: total 100, roller 30, pad 40.
    const unsigned long counters[3] = {100, 30, 40};
    ASSERT_EQ(scanner->SetScanCounter(counters), kderr::kSuccess);
    auto service = device->serviceBlock();
    EXPECT_EQ(be32(service.data() + 4), 100u);
    EXPECT_EQ(be32(service.data() + 68), 70u);
    EXPECT_EQ(be32(service.data() + 76), 60u);
    std::uint32_t data[3] = {};
    ASSERT_EQ(scanner->GetStatus("ServiceData", data), kderr::kSuccess);
    EXPECT_EQ(data[0], 100u);
    EXPECT_EQ(data[1], 30u);
    EXPECT_EQ(data[2], 0u);
    const std::size_t sends = device->commandLog().size();
    const unsigned long refused[3] = {10, 30, 0};
    EXPECT_EQ(scanner->SetScanCounter(refused), kderr::kNoBandImage);
    EXPECT_EQ(device->commandLog().size(), sends);
    ASSERT_EQ(scanner->ClearRollerCounter(0), kderr::kSuccess);
    ASSERT_EQ(scanner->GetStatus("ServiceData", data), kderr::kSuccess);
    EXPECT_EQ(data[1], 0u);
    // A roller reference above the total is no count.
    service = device->serviceBlock();
    const unsigned long more[3] = {100, 0, 0};
    ASSERT_EQ(scanner->SetScanCounter(more), kderr::kSuccess);
    ASSERT_EQ(scanner->SetSerialNumber("SN-42"), kderr::kSuccess);
    service = device->serviceBlock();
    EXPECT_EQ(std::memcmp(service.data() + 108, "SN-42\0\0\0\0\0\0\0\0\0\0\0", 16), 0);
    ASSERT_EQ(scanner->SetVerticalScalingControlValue(1.5), kderr::kSuccess);
    ASSERT_EQ(scanner->GetStatus("VerticalScalingControlValue", &scaling), kderr::kSuccess);
    EXPECT_EQ(scaling, 1.5);
    EXPECT_EQ(scanner->SetVerticalScalingControlValue(2.0), kderr::kNoBandImage);
    EXPECT_EQ(scanner->SetVerticalScalingControlValue(-1), kderr::kNoBandImage);
    ASSERT_EQ(scanner->SetMaxScanLength(123456), kderr::kSuccess);
    ASSERT_EQ(scanner->GetStatus("MaxScanLength", &length), kderr::kSuccess);
    EXPECT_EQ(length, 123456u);
}

TEST_F(ScannerObject, ShadingBlobRoundTripAndCorruptBlobs) {
    Watchdog dog(60);
    open("paper=card;sheets=1");
    tagScanParam p = scanRecord(300, 2, 2, 50);
    ASSERT_EQ(start(p), kderr::kSuccess);
    std::vector<std::uint8_t> blob;
    ASSERT_EQ(scanner->GetShadingData(&blob), kderr::kSuccess);
    ASSERT_GT(blob.size(), 64u + 4 * 52u);
    std::vector<std::uint8_t> again;
    ASSERT_EQ(scanner->SetShadingData(blob.data(), blob.size()), kderr::kSuccess);
    ASSERT_EQ(scanner->GetShadingData(&again), kderr::kSuccess);
    EXPECT_EQ(again, blob);

    auto word = [](std::vector<std::uint8_t>& b, std::size_t offset, std::uint32_t v) {
        std::memcpy(b.data() + offset, &v, 4);
    };
    struct Corrupt {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> change;
    };
    const std::size_t h = 64;   // the first image header
    const Corrupt rows[] = {
        {"short", [](auto& b) { b.resize(100); }},
        {"header size", [&](auto& b) { word(b, h, 48); }},
        {"address word", [&](auto& b) { word(b, h + 4, 1); }},
        {"pixels past the end", [&](auto& b) { b.resize(b.size() - 1); }},
        {"image size beyond the blob", [&](auto& b) { word(b, h + 28, 0x7FFFFFFF); }},
        {"record refused", [&](auto& b) { word(b, h + 16, 0); }},
        {"bad set-up", [](auto& b) { const double nan = std::nan(""); std::memcpy(b.data(), &nan, 8); }},
    };
    for (const Corrupt& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::uint8_t> bad = blob;
        row.change(bad);
        EXPECT_EQ(scanner->SetShadingData(bad.data(), bad.size()), kderr::kNoBandImage);
        ASSERT_EQ(scanner->GetShadingData(&again), kderr::kSuccess);
        EXPECT_EQ(again, blob);   // the kept images stay
    }
}

TEST_F(ScannerObject, FlowControlHoldsTheReaderAndStatusAnswersBusy) {
    Watchdog dog(60);
    open("paper=60x60mm;sheets=6");
    SScanTuning tuning;
    tuning.highMark = 1;   // any queued page holds the reader
    tuning.lowMark = 1;
    scanner->SetScanTuning(tuning);
    tagScanParam p = scanRecord(300, 1, 0, 60);
    p.continuousFeeding = 1;
    ASSERT_EQ(start(p), kderr::kSuccess);
    ASSERT_EQ(scanner->ScanPage(&p), kderr::kSuccess);
    // The next pages pile up until the reader holds; nobody takes them.
    for (int i = 0; i < 200 && device->deliveredSheets().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::uint8_t ready = 0;
    KdError e = kderr::kSuccess;
    for (int i = 0; i < 200; ++i) {
        e = scanner->GetStatus("DocumentReadyStatus", &ready);
        if (e == kderr::kDeviceBusy) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(e, kderr::kDeviceBusy);
    EXPECT_LT(device->deliveredSheets().size(), 6u);
    // Queued raw pages and the one in processing count, without a command.
    std::uint32_t batch = 0;
    EXPECT_EQ(scanner->GetStatus("BatchTransferCount", &batch), kderr::kSuccess);
    EXPECT_GE(batch, 1u);
    // Taking the pages lets it go on to the end.
    int pages = 1;
    for (;;) {
        scanner->ScanComplete();
        e = scanner->ScanPage(&p);
        if (e != kderr::kSuccess) break;
        ++pages;
    }
    EXPECT_EQ(e, kderr::kBatchEndNoPaper);
    EXPECT_EQ(pages, 6);
    scanner->FinishScan();
}

TEST_F(ScannerObject, FinalFiltersOnTheBufferedPageAndOnABuffer) {
    Watchdog dog(60);
    open("paper=60x40mm;sheets=1");
    tagScanParam p = scanRecord(150, 1, 0, 40);
    ASSERT_EQ(start(p), kderr::kSuccess);
    scanner->ProtectImageBuffer(1);
    ASSERT_EQ(scanner->ScanPage(&p), kderr::kSuccess);
    unsigned long w = 0, h = 0, bpl = 0, bits = 0, spp = 0;
    const unsigned long bytes = scanner->GetThumbnailImageInfo(&w, &h, &bpl, &bits, &spp);
    ASSERT_EQ(bytes, h * bpl);
    EXPECT_EQ(bits, 8u);
    EXPECT_EQ(spp, 1u);
    std::vector<unsigned char> before(bytes), after(bytes);
    ASSERT_EQ(scanner->CopyThumbnailImage(before.data(), bytes, nullptr, nullptr), 0);
    // The cancel function stops the copy with its own answer.
    int rows = 0;
    auto stopAtThree = [](void* c) -> unsigned char { return ++*static_cast<int*>(c) == 3 ? 7 : 0; };
    EXPECT_EQ(scanner->CopyThumbnailImage(after.data(), bytes, stopAtThree, &rows), 7);
    EXPECT_EQ(rows, 3);

    // Inverse on the buffered page; a table of the wrong length is ignored.
    KdFilterDictionary filters{{"Inverse", 1L}, {"GrayGammaTable", std::vector<std::uint8_t>(100, 0)}};
    ASSERT_EQ(scanner->ApplyImageFilter(filters), kderr::kSuccess);
    ASSERT_EQ(scanner->GetThumbnailImageInfo(&w, &h, &bpl, &bits, &spp), bytes);
    ASSERT_EQ(scanner->CopyThumbnailImage(after.data(), bytes, nullptr, nullptr), 0);
    for (std::size_t i = 0; i < bytes; i += 97) EXPECT_EQ(after[i], 255 - before[i]) << i;
    // Protected, the page stays for another read.
    unsigned long lines = h;
    std::vector<unsigned char> read(bytes);
    ASSERT_EQ(scanner->ReadLines(read.data(), bpl, &lines), kderr::kSuccess);
    EXPECT_EQ(lines, h);
    EXPECT_EQ(read, after);
    scanner->ProtectImageBuffer(0);
    lines = h;
    ASSERT_EQ(scanner->ReadLines(read.data(), bpl, &lines), kderr::kSuccess);
    EXPECT_EQ(lines, h);   // switching protection off rewinds

    // The buffer form: a new malloc'ed buffer with the result.
    unsigned char* image = before.data();
    unsigned long bw = w, bh = h, bb = bpl;
    ASSERT_EQ(scanner->ApplyImageFilter(&image, &bw, &bh, &bb, 8, 1, 150,
                                        KdFilterDictionary{{"Inverse", 1L}}),
              kderr::kSuccess);
    ASSERT_NE(image, before.data());
    EXPECT_EQ(bw, w);
    EXPECT_EQ(bh, h);
    EXPECT_EQ(std::memcmp(image, after.data(), bytes), 0);
    std::free(image);
    unsigned char* none = nullptr;
    EXPECT_EQ(scanner->ApplyImageFilter(&none, &bw, &bh, &bb, 8, 1, 150, {}), kderr::kNoBandImage);
    scanner->ScanComplete();
    scanner->FinishScan();
}

}  // namespace
