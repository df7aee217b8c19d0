// Scans from the virtual KD-720 through our manager with KD720.ds in its
// bundle folder, the way any TWAIN host scans: memory and file transfers,
// the page loop, device events, pass-through and the scanner alerts. Each
// test runs under a watchdog.
#include "DsTestKit.h"
#include "KdTwainCustom.h"
#include "RecordingUIController.h"
#include "ScanFixture.h"
#include "TempHome.h"

#include "foundation/NotificationCenter.h"
#include "foundation/Object.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using kdscan::Page;
using kdscan::Watchdog;

RecordingUIController* gWindow = nullptr;
std::deque<int> gAlertAnswers;
class TrackedUIController : public RecordingUIController {
public:
    TrackedUIController() {
        gWindow = this;
        alertAnswers = gAlertAnswers;
    }
    ~TrackedUIController() override {
        if (gWindow == this) gWindow = nullptr;
    }
};

std::vector<TW_UINT16> gMessages;
std::vector<TW_UINT32> gEvents;
TW_IDENTITY gSelf{}, gSource{};

std::function<void(TW_UINT32)> gOnEvent;

TW_UINT16 Callback(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF) {
    gMessages.push_back(msg);
    if (msg == MSG_DEVICEEVENT) {
        TW_DEVICEEVENT event{};
        DSM_Entry(&gSelf, &gSource, DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &event);
        gEvents.push_back(event.Event);
        if (gOnEvent) gOnEvent(event.Event);
    }
    return TWRC_SUCCESS;
}

TW_UINT16 SendPassThru(TW_UINT32 command) {
    TW_PASSTHRU p{};
    p.pCommand = &command;
    p.CommandBytes = 4;
    return DSM_Entry(&gSelf, &gSource, DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, &p);
}

TW_HANDLE Alloc(TW_UINT32 size) { return std::calloc(size, 1); }

class Host {
public:
    explicit Host(const char* manufacturer = "Test Maker", const char* product = "Scan Host") {
        gSelf = TW_IDENTITY{};
        std::strcpy(gSelf.Manufacturer, manufacturer);
        gSelf.Id = 1;
        gSelf.ProtocolMajor = 2;
        gSelf.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
        std::strcpy(gSelf.ProductName, product);
        EXPECT_EQ(Manager(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    }
    ~Host() {
        if (open_) Manager(DAT_IDENTITY, MSG_CLOSEDS, &gSource);
        Manager(DAT_PARENT, MSG_CLOSEDSM, nullptr);
    }
    TW_UINT16 Manager(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        return DSM_Entry(&gSelf, nullptr, DG_CONTROL, dat, msg, data);
    }
    TW_UINT16 Source(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        return DSM_Entry(&gSelf, &gSource, dg, dat, msg, data);
    }
    TW_UINT16 Open() {
        TW_IDENTITY id{};
        for (TW_UINT16 rc = Manager(DAT_IDENTITY, MSG_GETFIRST, &id); rc == TWRC_SUCCESS;
             rc = Manager(DAT_IDENTITY, MSG_GETNEXT, &id)) {
            if (std::string(id.ProductName) != "Tavro KD-720 TWAIN") continue;
            gSource = id;
            const TW_UINT16 rc2 = Manager(DAT_IDENTITY, MSG_OPENDS, &gSource);
            open_ = rc2 == TWRC_SUCCESS;
            if (open_) {
                TW_CALLBACK2 cb{reinterpret_cast<TW_MEMREF>(&Callback), 0, 0};
                Source(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &cb);
            }
            return rc2;
        }
        return 0xFFFF;
    }
    TW_UINT16 Close() {
        open_ = false;
        return Manager(DAT_IDENTITY, MSG_CLOSEDS, &gSource);
    }
    template <typename T> TW_UINT16 Set(TW_UINT16 cap, TW_UINT16 type, T value) {
        TW_CAPABILITY c{};
        c.Cap = cap;
        c.ConType = TWON_ONEVALUE;
        c.hContainer = dstest::OneValue(Alloc, type, value);
        const TW_UINT16 rc = Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
        std::free(c.hContainer);
        return rc;
    }
    TW_UINT16 SetResolution(int dpi) {
        TW_FIX32 fix{static_cast<TW_INT16>(dpi), 0};
        return Set(ICAP_XRESOLUTION, TWTY_FIX32, fix);
    }
    TW_UINT16 Condition() {
        TW_STATUS status{};
        Source(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        return status.ConditionCode;
    }
    TW_UINT16 Enable() {
        TW_USERINTERFACE ui{};
        ui.ShowUI = 0;
        return Source(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    }
    TW_UINT16 Disable() {
        TW_USERINTERFACE ui{};
        return Source(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }
    // One page by memory transfer in strips of `buffer` bytes; the last
    // answer in *rc (TWRC_XFERDONE for a whole page).
    Page MemoryPage(TW_UINT32 buffer, TW_UINT16* rc, bool handle = false) {
        Page page;
        TW_IMAGEINFO info{};
        *rc = Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
        if (*rc != TWRC_SUCCESS) return page;
        page.width = static_cast<unsigned long>(info.ImageWidth);
        page.height = static_cast<unsigned long>(info.ImageLength);
        page.pixelType = info.PixelType == TWPT_RGB ? 2 : info.PixelType == TWPT_GRAY ? 1 : 0;
        std::vector<unsigned char> strip(buffer);
        // A handle of the manager's memory: the data source locks it.
        TW_ENTRYPOINT manager{};
        manager.Size = sizeof manager;
        TW_HANDLE memory = nullptr;
        if (handle) {
            EXPECT_EQ(Manager(DAT_ENTRYPOINT, MSG_GET, &manager), TWRC_SUCCESS);
            memory = manager.DSM_MemAllocate(buffer);
        }
        for (int guard = 0; guard < 1000000; ++guard) {
            TW_IMAGEMEMXFER xfer{};
            xfer.Memory.Flags = TWMF_APPOWNS | (handle ? TWMF_HANDLE : TWMF_POINTER);
            xfer.Memory.Length = buffer;
            xfer.Memory.TheMem = handle ? memory : strip.data();
            *rc = Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
            if (handle) {
                const auto* bytes = static_cast<const unsigned char*>(manager.DSM_MemLock(memory));
                std::copy(bytes, bytes + buffer, strip.begin());
                manager.DSM_MemUnlock(memory);
            }
            if (*rc != TWRC_SUCCESS && *rc != TWRC_XFERDONE) break;
            const TW_UINT32 bpr = xfer.BytesPerRow, rows = xfer.Rows, y = xfer.YOffset;
            page.bytesPerLine = bpr;
            EXPECT_EQ(y * bpr, page.pixels.size());
            EXPECT_GT(rows, 0u);
            page.pixels.insert(page.pixels.end(), strip.begin(), strip.begin() + long(rows) * bpr);
            if (*rc == TWRC_XFERDONE) break;
        }
        if (handle) manager.DSM_MemFree(memory);
        return page;
    }
    TW_UINT16 EndXfer(TW_UINT16* count) {
        TW_PENDINGXFERS pending{};
        const TW_UINT16 rc = Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
        *count = pending.Count;
        return rc;
    }
    // Every page of a batch by memory transfer.
    std::vector<Page> MemoryBatch(TW_UINT32 buffer) {
        std::vector<Page> pages;
        for (int i = 0; i < 40; ++i) {
            TW_UINT16 rc = 0;
            Page page = MemoryPage(buffer, &rc);
            lastRc = rc;
            if (rc != TWRC_XFERDONE) break;
            pages.push_back(std::move(page));
            TW_UINT16 count = 0;
            EXPECT_EQ(EndXfer(&count), TWRC_SUCCESS);
            if (count == 0) break;
        }
        return pages;
    }

    TW_UINT16 lastRc = 0;

private:
    bool open_ = false;
};

class DsScan : public ::testing::Test {
protected:
    void SetUp() override {
        gMessages.clear();
        gEvents.clear();
        gAlertAnswers.clear();
        gOnEvent = nullptr;
        const fs::path folder = home_.root() / "twain" / "KD720";
        fs::create_directories(folder.parent_path());
        fs::copy(KD720_BUNDLE, folder, fs::copy_options::recursive);
        // The recording window in the real window's place.
        fs::remove_all(folder / "PlugIns" / "KD720UI");
        fs::create_directories(folder / "PlugIns");
        fs::copy(KD_TEST_UI_BUNDLE, folder / "PlugIns" / "KD720UI", fs::copy_options::recursive);
        home_.env().set("KD_TWAIN_DS_PATH", (home_.root() / "twain").string());
        kdf::registerClass(kUIControllerClassName, &kdf::makeObject<TrackedUIController>);
    }
    void TearDown() override {
        gOnEvent = nullptr;
        kdf::unregisterClass(kUIControllerClassName);
    }
    void Scanner(const std::string& settings) { home_.env().set("KD_VIRTUAL_SCANNER", settings); }

    kdtest::TempHome home_;
};

struct ModeCase {
    const char* name;
    TW_UINT16 pixelType;
    int dpi;
    bool duplex;
    const char* settings;
    std::vector<std::string> marks;
};

TEST_F(DsScan, BatchesByMemoryTransferInEachModeWithEveryPageOnceInOrder) {
    Watchdog dog(240);
    const ModeCase cases[] = {
        {"bw200", TWPT_BW, 200, false, "paper=60x50mm;sheets=2", {"", ""}},
        {"gray300", TWPT_GRAY, 300, false, "paper=60x50mm;sheets=3", {"1F", "2F", "3F"}},
        {"colour duplex 300", TWPT_RGB, 300, true, "paper=60x50mm;sheets=2;colour=1", {"1F", "1B", "2F", "2B"}},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Scanner(c.settings);
        Host host;
        ASSERT_EQ(host.Open(), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, c.pixelType), TWRC_SUCCESS);
        ASSERT_EQ(host.SetResolution(c.dpi), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(CAP_DUPLEXENABLED, TWTY_BOOL, TW_BOOL(c.duplex)), TWRC_SUCCESS);
        ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
        const std::vector<Page> pages = host.MemoryBatch(1 << 20);
        ASSERT_EQ(pages.size(), c.marks.size()) << host.lastRc;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            SCOPED_TRACE(i);
            // The default document size, A4, centred on the sensor (the
            // scanner widens its window to its own steps).
            EXPECT_GE(double(pages[i].width), 210 / 25.4 * c.dpi - 3);
            EXPECT_LE(double(pages[i].width), 220 / 25.4 * c.dpi);
            // Back sides come out of the scanner object longer than the
            // window (its own matter); fronts have the window's length.
            if (c.marks[i].empty() || c.marks[i].back() == 'F')
                EXPECT_NEAR(double(pages[i].height), 297 / 25.4 * c.dpi, 3);
            else
                EXPECT_GE(double(pages[i].height), 297 / 25.4 * c.dpi - 3);
            EXPECT_EQ(pages[i].pixelType, c.pixelType);
            EXPECT_EQ(kdscan::markOf(pages[i], c.dpi, 60), c.marks[i]);
        }
        EXPECT_EQ(host.Disable(), TWRC_SUCCESS); // served in state 2 only
        EXPECT_EQ(host.Close(), TWRC_SUCCESS);
    }
}

// Strips of one line, of an odd size and of 1 MiB give the same page; the
// same sheet written as TIFF reads back equal to it.
TEST_F(DsScan, StripSizesAndTiffFileGiveTheSamePage) {
    Watchdog dog(240);
    Scanner("paper=60x50mm;sheets=8");
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
    ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    TW_UINT16 rc = 0, count = 0;
    std::vector<Page> pages;
    for (TW_UINT32 buffer : {1u << 20, 8191u, 4567u}) {
        pages.push_back(host.MemoryPage(buffer, &rc, buffer == 8191u));
        ASSERT_EQ(rc, TWRC_XFERDONE) << buffer;
        // The page is done: nothing more until the end of its transfer.
        TW_IMAGEMEMXFER more{};
        std::vector<unsigned char> spare(1 << 16);
        more.Memory = {TWMF_APPOWNS | TWMF_POINTER, static_cast<TW_UINT32>(spare.size()), spare.data()};
        EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &more), TWRC_FAILURE);
        EXPECT_EQ(host.Condition(), TWCC_SEQERROR);
        ASSERT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
        ASSERT_NE(count, 0);
    }
    // One line exactly: the first strip carries one row.
    {
        TW_IMAGEINFO info{};
        ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
        std::vector<unsigned char> line(static_cast<std::size_t>(info.ImageWidth));
        TW_IMAGEMEMXFER xfer{};
        xfer.Memory = {TWMF_APPOWNS | TWMF_POINTER, static_cast<TW_UINT32>(line.size()), line.data()};
        ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_SUCCESS);
        const TW_UINT32 firstRows = xfer.Rows; // packed record: copied out before comparing
        EXPECT_EQ(firstRows, 1u);
        // A buffer below one line is refused instead of answering no rows.
        xfer.Memory.Length = static_cast<TW_UINT32>(line.size() - 1);
        EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_FAILURE);
        EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
        // A null buffer too.
        xfer.Memory = {TWMF_APPOWNS | TWMF_POINTER, 4096, nullptr};
        EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_FAILURE);
        EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
        // The rest of the page: the page goes on from line 1.
        Page rest;
        for (;;) {
            std::vector<unsigned char> strip(1 << 16);
            TW_IMAGEMEMXFER x{};
            x.Memory = {TWMF_APPOWNS | TWMF_POINTER, static_cast<TW_UINT32>(strip.size()), strip.data()};
            rc = host.Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
            ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << rc;
            const TW_UINT32 y = x.YOffset, rows = x.Rows, bpr = x.BytesPerRow;
            EXPECT_EQ(y, 1 + rest.pixels.size() / bpr);
            rest.pixels.insert(rest.pixels.end(), strip.begin(), strip.begin() + long(rows * bpr));
            if (rc == TWRC_XFERDONE) break;
        }
        ASSERT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
    }
    for (std::size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kdscan::markOf(pages[i], 100, 60), std::to_string(i + 1) + "F");
        EXPECT_EQ(pages[i].pixels.size(), pages[0].bytesPerLine * pages[i].height);
    }

    // Native transfer and formats not written refuse and keep the page.
    EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BADPROTOCOL);
    const fs::path folder = home_.root() / "out";
    fs::create_directories(folder);
    TW_SETUPFILEXFER file{};
    std::strcpy(file.FileName, (folder / "page.bmp").c_str());
    file.Format = TWFF_BMP;
    EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, &file), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
    // A missing folder, and a name without its end.
    file.Format = TWFF_TIFF;
    std::strcpy(file.FileName, (home_.root() / "missing" / "page.tif").c_str());
    EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, &file), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_FILENOTFOUND);
    std::memset(file.FileName, 'a', sizeof file.FileName);
    EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, &file), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BADVALUE);

    // A file that cannot be written keeps the page for the next try.
    fs::create_directories(folder / "taken" / "inside");
    std::strcpy(file.FileName, (folder / "taken").c_str());
    EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, &file), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_FILEWRITEERROR);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1); // no part left
    fs::remove_all(folder / "taken");

    // Sheet 5 by TIFF, sheet 6 by JFIF.
    std::strcpy(file.FileName, (folder / "page.tif").c_str());
    ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, &file), TWRC_XFERDONE);
    ASSERT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
    file.Format = TWFF_JFIF;
    std::strcpy(file.FileName, (folder / "page.jpg").c_str());
    ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, &file), TWRC_XFERDONE);
    ASSERT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(fs::file_size(folder / "page.jpg") > 1000, true);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);

    TIFF* tiff = TIFFOpen((folder / "page.tif").c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 0, spp = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &spp);
    EXPECT_EQ(w, pages[0].width);
    EXPECT_EQ(h, pages[0].height);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(spp, 1);
    Page fromFile = pages[0];
    for (std::uint32_t y = 0; y < h; ++y)
        TIFFReadScanline(tiff, fromFile.pixels.data() + std::size_t(y) * fromFile.bytesPerLine, y, 0);
    TIFFClose(tiff);
    EXPECT_EQ(kdscan::markOf(fromFile, 100, 60), "5F");
    EXPECT_EQ(host.Disable(), TWRC_FAILURE); // sheets 7 and 8 wait
}

// The memory transfer of the same sheet from two identical runs is the
// same; the TIFF of one run equals the memory page of the other.
TEST_F(DsScan, TiffEqualsTheMemoryPageOfAnIdenticalRun) {
    Watchdog dog(240);
    std::vector<unsigned char> memory, file;
    unsigned long width = 0, height = 0;
    for (int run = 0; run < 2; ++run) {
        // Another text makes another scanner with the same sheet.
        Scanner(run == 0 ? "paper=60x50mm;sheets=1;colour=1" : "paper=60x50mm;sheets=1;colour=1;seed=1");
        Host host;
        ASSERT_EQ(host.Open(), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_RGB)), TWRC_SUCCESS);
        ASSERT_EQ(host.SetResolution(150), TWRC_SUCCESS);
        ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
        TW_UINT16 rc = 0, count = 0;
        if (run == 0) {
            Page page = host.MemoryPage(1 << 20, &rc);
            ASSERT_EQ(rc, TWRC_XFERDONE);
            memory = page.pixels;
            width = page.width;
            height = page.height;
        } else {
            TW_SETUPFILEXFER setup{};
            const fs::path path = home_.root() / "run.tif";
            std::strcpy(setup.FileName, path.c_str());
            setup.Format = TWFF_TIFF;
            ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, &setup), TWRC_XFERDONE);
            TIFF* tiff = TIFFOpen(path.c_str(), "r");
            ASSERT_NE(tiff, nullptr);
            file.resize(memory.size());
            for (std::uint32_t y = 0; y < height; ++y)
                TIFFReadScanline(tiff, file.data() + std::size_t(y) * width * 3, y, 0);
            TIFFClose(tiff);
        }
        ASSERT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
        EXPECT_EQ(count, 0);
    }
    EXPECT_TRUE(memory == file);
}

// Device events in order: scan ready, scan started, at rest after the batch.
TEST_F(DsScan, DeviceEventsInOrder) {
    Watchdog dog(120);
    Scanner("paper=60x50mm;sheets=1");
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    EXPECT_EQ(host.MemoryBatch(1 << 20).size(), 1u);
    EXPECT_EQ(gEvents, (std::vector<TW_UINT32>{0x8002, 0x8003, 0x8001}));
}

// Our application sees the idle event while a page is on its way and may
// stop the scan with an abort request then; the batch ends cancelled.
TEST_F(DsScan, AbortRequestDuringTheIdleEventStopsTheBatch) {
    Watchdog dog(120);
    Scanner("paper=60x50mm;sheets=3;rate=1500");
    Host host("Tavrolek");
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
    std::vector<TW_UINT16> answers;
    gOnEvent = [&](TW_UINT32 event) {
        if (event == TWDE_TVK_IDLE && answers.empty()) answers.push_back(SendPassThru(0x41625271));
    };
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    EXPECT_EQ(host.MemoryBatch(1 << 20).size(), 0u);
    EXPECT_EQ(host.lastRc, TWRC_CANCEL);
    EXPECT_EQ(answers, std::vector<TW_UINT16>{TWRC_SUCCESS});
    EXPECT_EQ(gEvents, (std::vector<TW_UINT32>{0x8002, 0x8003, 0x8004, 0x8001}));
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
}

// The host that takes even line sizes only gets them, and its first strip
// holds half the page even when the whole page would fit.
TEST_F(DsScan, EvenLinesAndAHalfFirstStripForTheHostThatNeedsThem) {
    Watchdog dog(120);
    Scanner("paper=60x50mm;sheets=4");
    for (int dpi : {150, 200}) {
        SCOPED_TRACE(dpi);
        Host host("Microsoft Corporation", "Microsoft Word");
        ASSERT_EQ(host.Open(), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
        ASSERT_EQ(host.SetResolution(dpi), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(CAP_XFERCOUNT, TWTY_INT16, TW_INT16(1)), TWRC_SUCCESS);
        ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
        TW_IMAGEINFO info{};
        ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
        const TW_INT32 width = info.ImageWidth, length = info.ImageLength;
        EXPECT_EQ(width % 2, 0);
        std::vector<unsigned char> buffer(16 << 20);
        TW_IMAGEMEMXFER xfer{};
        xfer.Memory = {TWMF_APPOWNS | TWMF_POINTER, static_cast<TW_UINT32>(buffer.size()), buffer.data()};
        ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_SUCCESS);
        const TW_UINT32 rows = xfer.Rows, bpr = xfer.BytesPerRow, columns = xfer.Columns;
        EXPECT_EQ(rows, static_cast<TW_UINT32>(length / 2));
        EXPECT_EQ(bpr, static_cast<TW_UINT32>(width));
        EXPECT_EQ(columns, static_cast<TW_UINT32>(width));
        ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_XFERDONE);
        TW_UINT16 count = 0;
        ASSERT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
    }
}

// Pass-through: each command against its sizes.
TEST_F(DsScan, PassThroughCommands) {
    Watchdog dog(120);
    Scanner("paper=60x50mm;sheets=1");
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    auto send = [&](const char* code, void* data, TW_UINT32 bytes, TW_UINT32 commandBytes = 4) {
        TW_UINT32 command = (TW_UINT32(TW_UINT8(code[0])) << 24) | (TW_UINT32(TW_UINT8(code[1])) << 16) |
                            (TW_UINT32(TW_UINT8(code[2])) << 8) | TW_UINT8(code[3]);
        std::uint64_t wide[2] = {command, 0};
        TW_PASSTHRU p{};
        p.pCommand = wide;
        p.CommandBytes = commandBytes;
        p.pData = data;
        p.DataBytes = bytes;
        return host.Source(DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, &p);
    };
    std::uint32_t word = 0xDEADBEEF;
    EXPECT_EQ(send("GtBS", &word, 2), TWRC_SUCCESS);
    EXPECT_EQ(word, 0xDEADBEEFu); // too short: nothing done
    EXPECT_EQ(send("GtBS", nullptr, 4), TWRC_SUCCESS);
    EXPECT_EQ(send("GtBS", &word, 4), TWRC_SUCCESS);
    EXPECT_EQ(word & 0x10000u, 0x10000u); // paper waits in the feeder
    EXPECT_EQ(send("GtXL", &word, 4), TWRC_SUCCESS);
    EXPECT_GT(word, 0u);
    std::uint32_t length = word;
    EXPECT_EQ(send("StXL", &length, 4), TWRC_SUCCESS);
    std::uint32_t device[4] = {};
    EXPECT_EQ(send("GtDI", device, 16), TWRC_SUCCESS);
    EXPECT_EQ(send("RtRC", nullptr, 0), TWRC_SUCCESS);
    EXPECT_EQ(send("RtPC", nullptr, 0), TWRC_SUCCESS);
    // Unknown codes, other command sizes and no record fail.
    EXPECT_EQ(send("XxYy", &word, 4), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(send("GtBS", &word, 4, 8), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BADPROTOCOL);
    EXPECT_EQ(host.Source(DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, nullptr), TWRC_FAILURE);
    // An abort request outside the idle event.
    EXPECT_EQ(send("AbRq", nullptr, 0), TWRC_CHECKSTATUS);
    EXPECT_EQ(host.Condition(), TWCC_SEQERROR);
    // The shading data round trip, by reference; short and null data do nothing.
    void* blob = nullptr;
    EXPECT_EQ(send("GtSd", &blob, 4), TWRC_SUCCESS);
    EXPECT_EQ(blob, nullptr);
    EXPECT_EQ(send("GtSd", &blob, sizeof blob), TWRC_SUCCESS);
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(send("StSd", &blob, sizeof blob), TWRC_SUCCESS);
    void* none = nullptr;
    EXPECT_EQ(send("StSd", &none, sizeof none), TWRC_SUCCESS);
    delete static_cast<std::vector<std::uint8_t>*>(blob);
}

struct FaultCase {
    const char* name;
    const char* settings;
    std::deque<int> answers; // the window's alert answers
    std::size_t pages;       // delivered before the end
    TW_UINT16 lastRc;        // the last transfer's answer (XFERDONE: the batch ended at EndXfer)
    const char* alert;       // the message shown
};

// Faults end in their alert and the right answer, back in state 2, with the
// earlier pages delivered once.
TEST_F(DsScan, FaultsEndInStateTwoWithEarlierPagesOnce) {
    Watchdog dog(300);
    const FaultCase cases[] = {
        {"empty feeder, OK then Cancel", "paper=60x50mm;sheets=0", {0, 1}, 0, TWRC_CANCEL, "[OK] [Cancel]"},
        {"jam mid-batch", "paper=60x50mm;sheets=3;fault=jam@s2:0.5", {0}, 1, TWRC_XFERDONE, "A paper jam"},
        {"cover open", "paper=60x50mm;sheets=2;fault=cover@s1:0.5", {0}, 0, TWRC_CANCEL, "cover is open"},
        {"disconnect mid-page", "paper=60x50mm;sheets=3;fault=disconnect@s2:0.5", {0}, 1, TWRC_XFERDONE,
         "cannot be found"},
        {"time-out mid-page", "paper=60x50mm;sheets=3;fault=timeout@s2:0.5", {0}, 1, TWRC_XFERDONE,
         "did not answer"},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        gAlertAnswers = c.answers;
        Scanner(c.settings);
        Host host;
        ASSERT_EQ(host.Open(), TWRC_SUCCESS);
        ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
        ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
        std::vector<Page> pages;
        for (int guard = 0; guard < 10; ++guard) {
            pages = host.MemoryBatch(1 << 20);
            if (host.lastRc != TWRC_CHECKSTATUS) break;
        }
        EXPECT_EQ(pages.size(), c.pages);
        EXPECT_EQ(host.lastRc, c.lastRc);
        for (std::size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(kdscan::markOf(pages[i], 100, 60), std::to_string(i + 1) + "F");
        ASSERT_NE(gWindow, nullptr);
        std::string alerts;
        for (const std::string& call : gWindow->calls)
            if (call.rfind("runAlert", 0) == 0) alerts += call + "\n";
        EXPECT_NE(alerts.find(c.alert), std::string::npos) << alerts;
        EXPECT_TRUE(gWindow->alertAnswers.empty());
        EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
    }
}

// Without a window that can show it, an alert goes to the system log and
// answers as its cancel button: nothing waits for a person.
TEST_F(DsScan, AlertsWithoutAWindowAnswerCancel) {
    Watchdog dog(120);
    fs::remove_all(home_.root() / "twain" / "KD720" / "PlugIns");
    Scanner("paper=60x50mm;sheets=0");
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    EXPECT_EQ(host.MemoryBatch(1 << 20).size(), 0u);
    EXPECT_EQ(host.lastRc, TWRC_CANCEL);
    EXPECT_EQ(gWindow, nullptr);
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
}

// The window's prescan: the page goes to the window, no device event is
// raised, and the data source is back in state 2 afterwards.
TEST_F(DsScan, PrescanHandsThePageToTheWindow) {
    Watchdog dog(120);
    Scanner("paper=60x50mm;sheets=2");
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
    ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
    TW_USERINTERFACE ui{};
    ui.ShowUI = 1;
    ASSERT_EQ(host.Source(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    ASSERT_NE(gWindow, nullptr);
    const kdf::Value object(kdf::Dictionary{{kXferReadyScanModeKey, kdf::Value(int(kScanModePrescan))}});
    kdf::NotificationCenter::defaultCenter().post(kXferReadyNotification, nullptr, &object);
    std::string calls;
    for (const std::string& call : gWindow->calls) calls += call + "\n";
    EXPECT_NE(calls.find("setScanImage 100 YES"), std::string::npos) << calls;
    EXPECT_NE(calls.find("showMainWindow"), std::string::npos) << calls;
    EXPECT_EQ(gWindow->lastImage.samplesPerPixel, 1);
    Page page;
    page.pixelType = 1;
    page.width = static_cast<unsigned long>(gWindow->lastImage.width);
    page.height = static_cast<unsigned long>(gWindow->lastImage.height);
    page.bytesPerLine = gWindow->lastImage.bytesPerRow;
    page.pixels = gWindow->lastImage.pixels;
    EXPECT_EQ(kdscan::markOf(page, 100, 60), "1F");
    EXPECT_TRUE(gEvents.empty() || gEvents.back() == 0x8001) << gEvents.size();
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
}

struct ContinueCase {
    int answer;                     // of the continue-mode alert
    std::vector<std::string> marks; // the pages delivered
    bool doubleFeedAlert;           // the plain alert follows
};

// A double feed in continue mode: 3 keeps the page and goes on, 1 drops it
// and goes on, anything else stops the batch after the double-feed alert.
// Pages before it are delivered once.
TEST_F(DsScan, DoubleFeedInContinueMode) {
    Watchdog dog(240);
    const ContinueCase cases[] = {
        // The virtual scanner pulls sheet 3 in with sheet 2.
        {3, {"1F", "2F"}, false},
        {1, {"1F"}, false},
        {0, {"1F"}, true},
    };
    int run = 0;
    for (const ContinueCase& c : cases) {
        SCOPED_TRACE(c.answer);
        gAlertAnswers = {c.answer, 0};
        Scanner("paper=60x50mm;sheets=3;fault=doublefeed@s2:0.5;seed=" + std::to_string(++run));
        Host host;
        ASSERT_EQ(host.Open(), TWRC_SUCCESS);
        ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(CCAP_TVK_FEEDER_JAMLESS, TWTY_INT32, TW_INT32(1)), TWRC_SUCCESS);
        ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
        const std::vector<Page> pages = host.MemoryBatch(1 << 20);
        std::vector<std::string> marks;
        for (const Page& page : pages) marks.push_back(kdscan::markOf(page, 100, 60));
        EXPECT_EQ(marks, c.marks);
        ASSERT_NE(gWindow, nullptr);
        std::string calls;
        for (const std::string& call : gWindow->calls) calls += call + "\n";
        EXPECT_NE(calls.find("runModalContinueModeAlert 1 A double feed"), std::string::npos) << calls;
        EXPECT_EQ(calls.find("runAlert") != std::string::npos, c.doubleFeedAlert) << calls;
        EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
    }
}

// Blank pages are dropped while skipping is on.
TEST_F(DsScan, BlankPagesAreSkipped) {
    Watchdog dog(120);
    Scanner("paper=60x50mm;sheets=4;blank=1f,3f");
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
    ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
    ASSERT_EQ(host.Set(CCAP_TVK_BLANKSKIP, TWTY_INT32, TW_INT32(1)), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    const std::vector<Page> pages = host.MemoryBatch(1 << 20);
    std::vector<std::string> marks;
    for (const Page& page : pages) marks.push_back(kdscan::markOf(page, 100, 60));
    EXPECT_EQ(marks, (std::vector<std::string>{"2F", "4F"}));
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
}

// KD720.ds exports exactly its entry, the scanner lock, the helper
// functions and the button status.
TEST(KD720Module, ExportsExactlyItsInterface) {
    const std::string command = std::string("nm -D --defined-only ") + KD720_BUNDLE + "/KD720.ds";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
        names.push_back(s.substr(s.rfind(' ') + 1));
    }
    ASSERT_EQ(pclose(pipe), 0);
    std::sort(names.begin(), names.end());
    const std::vector<std::string> expected = {
        "CmToPixel", "CreateExclusiveLockObject", "DS_Entry", "DestroyExclusiveLockObject", "Fix32ToFloat",
        "FlatteningCaps", "FloatToFix32", "GetCapFloatValue", "GetCapSIntValue", "GetCapStepSize",
        "GetCapStrValue", "GetCapUIntValue", "GetKdButtonStatus", "InchToPixel", "LockObject",
        "MakeGammaTable", "MakeLinearTable", "PixelToCm", "PixelToInch", "ResetCapValue",
        "SetCapFloatValue", "SetCapSIntValue", "SetCapStrValue", "SetCapUIntValue", "UnflatteningCaps",
        "UnlockObject"};
    EXPECT_EQ(names, expected);
}

}  // namespace
