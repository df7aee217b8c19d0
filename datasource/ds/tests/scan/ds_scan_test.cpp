// Scans from the virtual KD-720 through our manager with KD720.ds in its
// bundle folder, the way any TWAIN host scans: memory and file transfers,
// the page loop, device events, pass-through and the scanner alerts. Each
// test runs under a watchdog.
#include "DsTestKit.h"
#include "KdTwainCustom.h"
#include "RecordingUIController.h"
#include "ScanFixture.h"
#include "TempHome.h"

#include "foundation/DataObjectRegistry.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Preferences.h"
#include "foundation/Object.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>

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

    // A native transfer without its record and formats not written refuse
    // and keep the page.
    EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, nullptr), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
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

// Our application sees the idle event at every tick while a page is on its
// way and may stop the scan with an abort request at any of them; the batch
// ends cancelled. Between ticks the previous code holds again.
TEST_F(DsScan, AbortRequestAtALaterIdleTickStopsTheBatch) {
    Watchdog dog(120);
    Scanner("paper=60x50mm;sheets=3;rate=1500");
    Host host("Tavrolek");
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
    std::vector<TW_UINT16> answers;
    int ticks = 0;
    gOnEvent = [&](TW_UINT32 event) {
        if (event == TWDE_TVK_IDLE && ++ticks == 3 && answers.empty()) answers.push_back(SendPassThru(0x41625271));
    };
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    EXPECT_EQ(host.MemoryBatch(1 << 20).size(), 0u);
    EXPECT_EQ(host.lastRc, TWRC_CANCEL);
    EXPECT_EQ(answers, std::vector<TW_UINT16>{TWRC_SUCCESS});
    ASSERT_GE(gEvents.size(), 6u);
    EXPECT_EQ(std::vector<TW_UINT32>(gEvents.begin(), gEvents.begin() + 5),
              (std::vector<TW_UINT32>{0x8002, 0x8003, 0x8004, 0x8004, 0x8004}));
    EXPECT_EQ(gEvents.back(), 0x8001u);
    // Outside a tick the request is refused: the source is not idle then.
    EXPECT_EQ(SendPassThru(0x41625271), TWRC_CHECKSTATUS);
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
    // Too little data for the command: refused, nothing done.
    EXPECT_EQ(send("GtBS", &word, 2), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
    EXPECT_EQ(word, 0xDEADBEEFu);
    EXPECT_EQ(send("GtBS", nullptr, 4), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
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
    // The shading data round trip by a handle of the process's data-object
    // registry; the host owns the object it was handed and releases it.
    kdf::DataObjectHandle blob = kdf::kNoDataObject;
    EXPECT_EQ(send("GtSd", &blob, 2), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
    EXPECT_EQ(blob, kdf::kNoDataObject);
    EXPECT_EQ(send("GtSd", &blob, sizeof blob), TWRC_SUCCESS);
    ASSERT_NE(blob, kdf::kNoDataObject);
    const auto shading = kdf::DataObjectRegistry::lookup(blob);
    ASSERT_TRUE(shading);
    EXPECT_FALSE(shading->empty());
    EXPECT_EQ(send("StSd", &blob, sizeof blob), TWRC_SUCCESS);
    // Any number the registry did not hand out is refused unused: bytes of
    // an address (what hosts sent before), zero, all ones, a released one.
    std::uint64_t address = reinterpret_cast<std::uintptr_t>(&word);
    const kdf::DataObjectHandle released = kdf::DataObjectRegistry::add({1, 2, 3});
    ASSERT_TRUE(kdf::DataObjectRegistry::release(released));
    for (std::uint64_t bytes : {address, std::uint64_t(0), ~std::uint64_t(0), std::uint64_t(released)}) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(send("StSd", &bytes, sizeof bytes), TWRC_FAILURE);
        EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
    }
    EXPECT_EQ(kdf::DataObjectRegistry::adopt(blob), *shading);
    EXPECT_EQ(send("StSd", &blob, sizeof blob), TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_BADVALUE);
}

struct FaultCase {
    const char* name;
    const char* fault;                // the virtual scanner's fault item, "" for none
    int sheets;
    bool duplex;
    std::deque<int> answers;          // the window's alert answers
    std::vector<std::string> before;  // the pages delivered before the fault
    TW_UINT16 condition;              // of the image information that fails
    const char* alert;                // the message the window showed
    std::vector<std::string> next;    // the next batch of the same source; empty: none tried
};

std::vector<std::string> MarksOf(const std::vector<Page>& pages) {
    std::vector<std::string> marks;
    for (const Page& page : pages) marks.push_back(kdscan::markOf(page, 100, 60));
    return marks;
}

// A scanner fault reaches any host as the failure of the next page's image
// information with TWAIN's condition code for it, after the window's alert:
// the pages before it are delivered once and equal to a plain scan's, the
// end of transfer then ends the batch, and the source scans the next batch.
TEST_F(DsScan, FaultsFailTheNextPageWithTheirConditionCode) {
    Watchdog dog(400);
    const FaultCase cases[] = {
        {"jam on sheet 1", "jam@s1:0.5", 3, false, {0}, {}, TWCC_PAPERJAM, "A paper jam", {"2F", "3F"}},
        {"jam mid-batch", "jam@s2:0.5", 3, false, {0}, {"1F"}, TWCC_PAPERJAM, "A paper jam", {"3F"}},
        {"jam on a duplex sheet", "jam@s2:0.9", 3, true, {0}, {"1F", "1B"}, TWCC_PAPERJAM, "A paper jam",
         {"3F", "3B"}},
        {"double feed", "doublefeed@s2:0.5", 4, false, {0}, {"1F"}, TWCC_PAPERDOUBLEFEED, "A double feed",
         {"3F", "4F"}},
        {"cover open", "cover@s2:0.5", 3, false, {0}, {"1F"}, TWCC_INTERLOCK, "cover is open", {}},
        {"disconnect mid-page", "disconnect@s2:0.5", 3, false, {0}, {"1F"}, TWCC_CHECKDEVICEONLINE,
         "cannot be found", {}},
        {"time-out mid-page", "timeout@s2:0.5", 3, false, {0}, {"1F"}, TWCC_CHECKDEVICEONLINE, "did not answer", {}},
        {"hardware error", "hardware@s2:0.5", 3, false, {0}, {"1F"}, TWCC_CHECKDEVICEONLINE, "hardware error", {}},
        {"empty feeder, OK then Cancel", "", 0, false, {0, 1}, {}, TWCC_NOMEDIA, "[OK] [Cancel]", {}},
    };
    // The plain scan the pages are compared with.
    std::vector<Page> plain[2];
    for (int duplex = 0; duplex < 2; ++duplex) {
        // Another text makes another scanner (seed 1 is the default).
        Scanner(duplex ? "paper=60x50mm;sheets=3;seed=1" : "paper=60x50mm;sheets=3");
        Host host;
        ASSERT_EQ(host.Open(), TWRC_SUCCESS);
        ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(CAP_DUPLEXENABLED, TWTY_BOOL, TW_BOOL(duplex)), TWRC_SUCCESS);
        ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
        plain[duplex] = host.MemoryBatch(1 << 20);
        ASSERT_EQ(plain[duplex].size(), duplex ? 6u : 3u);
    }
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        gAlertAnswers = c.answers;
        Scanner(std::string("paper=60x50mm;sheets=") + std::to_string(c.sheets) +
                (*c.fault ? std::string(";fault=") + c.fault : std::string()));
        Host host;
        ASSERT_EQ(host.Open(), TWRC_SUCCESS);
        ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(CAP_DUPLEXENABLED, TWTY_BOOL, TW_BOOL(c.duplex)), TWRC_SUCCESS);
        ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
        const std::vector<Page> pages = host.MemoryBatch(1 << 20);
        // The batch stopped at the failing image information, not at an end.
        EXPECT_EQ(host.lastRc, TWRC_FAILURE);
        EXPECT_EQ(host.Condition(), c.condition);
        EXPECT_EQ(MarksOf(pages), c.before);
        for (std::size_t i = 0; i < pages.size() && i < plain[c.duplex].size(); ++i)
            EXPECT_TRUE(pages[i].pixels == plain[c.duplex][i].pixels) << i;
        // Asked again, the page fails the same way; no transfer starts.
        TW_IMAGEINFO info{};
        EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
        EXPECT_EQ(host.Condition(), c.condition);
        std::vector<unsigned char> strip(1 << 16);
        TW_IMAGEMEMXFER xfer{};
        xfer.Memory = {TWMF_APPOWNS | TWMF_POINTER, static_cast<TW_UINT32>(strip.size()), strip.data()};
        EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_FAILURE);
        EXPECT_EQ(host.Condition(), c.condition);
        // The end of transfer ends the batch.
        TW_UINT16 count = 1;
        EXPECT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
        EXPECT_EQ(count, 0);
        ASSERT_NE(gWindow, nullptr);
        std::string alerts;
        for (const std::string& call : gWindow->calls)
            if (call.rfind("runAlert", 0) == 0) alerts += call + "\n";
        EXPECT_NE(alerts.find(c.alert), std::string::npos) << alerts;
        EXPECT_TRUE(gWindow->alertAnswers.empty());
        EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
        if (c.next.empty()) continue;
        ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
        EXPECT_EQ(MarksOf(host.MemoryBatch(1 << 20)), c.next);
        EXPECT_EQ(host.lastRc, TWRC_XFERDONE);
        EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
    }
}

// A host that selected device events through CAP_DEVICEEVENT hears of the
// faults it asked for, once each, beside the scanner's custom events; a host
// that asked for other events, or none, hears nothing more. The failing
// triplet answers the same either way.
struct FaultEventCase {
    const char* name;
    const char* fault;
    std::vector<TW_UINT16> selected;
    std::vector<TW_UINT32> heard;
    TW_UINT16 condition;
};

TEST_F(DsScan, FaultsRaiseTheDeviceEventsTheHostSelected) {
    Watchdog dog(300);
    const std::vector<TW_UINT16> all{TWDE_PAPERJAM, TWDE_PAPERDOUBLEFEED, TWDE_DEVICEOFFLINE};
    const FaultEventCase cases[] = {
        {"jam", "jam@s2:0.5", all, {TWDE_PAPERJAM}, TWCC_PAPERJAM},
        {"jam on sheet 1", "jam@s1:0.5", {TWDE_PAPERJAM}, {TWDE_PAPERJAM}, TWCC_PAPERJAM},
        {"double feed", "doublefeed@s2:0.5", {TWDE_PAPERDOUBLEFEED}, {TWDE_PAPERDOUBLEFEED}, TWCC_PAPERDOUBLEFEED},
        {"disconnect mid-page", "disconnect@s2:0.5", {TWDE_DEVICEOFFLINE}, {TWDE_DEVICEOFFLINE},
         TWCC_CHECKDEVICEONLINE},
        {"time-out", "timeout@s2:0.5", all, {TWDE_DEVICEOFFLINE}, TWCC_CHECKDEVICEONLINE},
        {"hardware error", "hardware@s2:0.5", all, {TWDE_DEVICEOFFLINE}, TWCC_CHECKDEVICEONLINE},
        {"jam, other events selected", "jam@s2:0.5", {TWDE_PAPERDOUBLEFEED, TWDE_DEVICEOFFLINE}, {}, TWCC_PAPERJAM},
        {"jam, nothing selected", "jam@s2:0.5", {}, {}, TWCC_PAPERJAM},
        {"cover open has no event", "cover@s2:0.5", all, {}, TWCC_INTERLOCK},
    };
    int seed = 20;
    for (const FaultEventCase& c : cases) {
        SCOPED_TRACE(c.name);
        gEvents.clear();
        gAlertAnswers = {0};
        // A scanner of its own for each case (a jammed one stays jammed).
        Scanner(std::string("paper=60x50mm;sheets=3;fault=") + c.fault + ";seed=" + std::to_string(++seed));
        Host host;
        ASSERT_EQ(host.Open(), TWRC_SUCCESS);
        ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
        if (!c.selected.empty()) {
            TW_CAPABILITY events{CAP_DEVICEEVENT, TWON_ARRAY, dstest::UInt16Array(Alloc, c.selected)};
            ASSERT_EQ(host.Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &events), TWRC_SUCCESS);
            std::free(events.hContainer);
        }
        ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
        host.MemoryBatch(1 << 20);
        EXPECT_EQ(host.lastRc, TWRC_FAILURE);
        EXPECT_EQ(host.Condition(), c.condition);
        std::vector<TW_UINT32> standard;
        std::copy_if(gEvents.begin(), gEvents.end(), std::back_inserter(standard),
                     [](TW_UINT32 e) { return e < TWDE_CUSTOMEVENTS; });
        EXPECT_EQ(standard, c.heard);
        // Nothing further is queued: the current custom code answers.
        TW_DEVICEEVENT after{};
        EXPECT_EQ(host.Source(DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &after), TWRC_SUCCESS);
        EXPECT_GE(TW_UINT32(after.Event), TWDE_CUSTOMEVENTS);
        TW_UINT16 count = 1;
        EXPECT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
    }
}

// A host that resets the pending transfers after the failure ends the batch
// as well, and the next batch scans on.
TEST_F(DsScan, ResetAfterAFaultEndsTheBatch) {
    Watchdog dog(120);
    Scanner("paper=60x50mm;sheets=3;fault=jam@s2:0.5;seed=7");
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
    ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    EXPECT_EQ(host.MemoryBatch(1 << 20).size(), 1u);
    EXPECT_EQ(host.lastRc, TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_PAPERJAM);
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(host.Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    EXPECT_EQ(MarksOf(host.MemoryBatch(1 << 20)), std::vector<std::string>{"3F"});
    EXPECT_EQ(host.lastRc, TWRC_XFERDONE) << host.Condition();
    EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
}

// libtiff reading a TIFF from memory (a handle's bytes), whose size only
// the TIFF itself tells.
struct MemoryTiff {
    const unsigned char* bytes;
    toff_t offset = 0;
    static constexpr toff_t kLimit = toff_t(1) << 30;

    TIFF* Open() {
        return TIFFClientOpen(
            "native", "rm", this,
            [](thandle_t h, tdata_t out, tsize_t n) -> tsize_t {
                auto* m = static_cast<MemoryTiff*>(h);
                std::memcpy(out, m->bytes + m->offset, std::size_t(n));
                m->offset += toff_t(n);
                return n;
            },
            [](thandle_t, tdata_t, tsize_t) -> tsize_t { return 0; },
            [](thandle_t h, toff_t to, int whence) -> toff_t {
                auto* m = static_cast<MemoryTiff*>(h);
                m->offset = whence == SEEK_SET ? to : whence == SEEK_CUR ? m->offset + to : kLimit;
                return m->offset;
            },
            [](thandle_t) { return 0; }, [](thandle_t) -> toff_t { return kLimit; },
            [](thandle_t, tdata_t*, toff_t*) { return 0; }, [](thandle_t, tdata_t, toff_t) {});
    }
};

// The native transfer: a TIFF in a handle of the manager's memory, which
// the host frees; libtiff reads it back equal to the memory transfer of the
// same sheet.
TEST_F(DsScan, NativeTransferIsTheTiffOfThePage) {
    Watchdog dog(240);
    struct Mode {
        TW_UINT16 pixelType;
        int samples;
    };
    for (const Mode mode : {Mode{TWPT_RGB, 3}, Mode{TWPT_GRAY, 1}, Mode{TWPT_BW, 1}}) {
        SCOPED_TRACE(mode.pixelType);
        std::vector<Page> memory;
        for (int run = 0; run < 2; ++run) {
            Scanner(run == 0 ? "paper=60x50mm;sheets=2;colour=1" : "paper=60x50mm;sheets=2;colour=1;seed=1");
            Host host;
            ASSERT_EQ(host.Open(), TWRC_SUCCESS);
            ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, mode.pixelType), TWRC_SUCCESS);
            ASSERT_EQ(host.SetResolution(150), TWRC_SUCCESS);
            ASSERT_EQ(host.Set(ICAP_XFERMECH, TWTY_UINT16, TW_UINT16(run == 0 ? TWSX_MEMORY : TWSX_NATIVE)),
                      TWRC_SUCCESS);
            ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
            if (run == 0) {
                memory = host.MemoryBatch(1 << 20);
                ASSERT_EQ(memory.size(), 2u);
                continue;
            }
            TW_ENTRYPOINT manager{};
            manager.Size = sizeof manager;
            ASSERT_EQ(host.Manager(DAT_ENTRYPOINT, MSG_GET, &manager), TWRC_SUCCESS);
            for (std::size_t page = 0; page < 2; ++page) {
                TW_HANDLE handle = nullptr;
                ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle), TWRC_XFERDONE);
                ASSERT_NE(handle, nullptr);
                // Only the end of transfer may follow.
                TW_HANDLE again = nullptr;
                EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &again), TWRC_FAILURE);
                EXPECT_EQ(host.Condition(), TWCC_SEQERROR);
                const auto* bytes = static_cast<const unsigned char*>(manager.DSM_MemLock(handle));
                EXPECT_TRUE(std::memcmp(bytes, "II*", 3) == 0 || std::memcmp(bytes, "MM", 2) == 0);
                const Page& expected = memory[page];
                MemoryTiff in{bytes};
                TIFF* tiff = in.Open();
                ASSERT_NE(tiff, nullptr);
                std::uint32_t width = 0, height = 0;
                std::uint16_t bits = 0, samples = 0;
                TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
                TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
                TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
                TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
                EXPECT_EQ(width, expected.width);
                EXPECT_EQ(height, expected.height);
                EXPECT_EQ(bits, mode.pixelType == TWPT_BW ? 1 : 8);
                EXPECT_EQ(samples, mode.samples);
                std::vector<unsigned char> pixels(expected.pixels.size());
                for (std::uint32_t y = 0; y < height && expected.bytesPerLine; ++y)
                    TIFFReadScanline(tiff, pixels.data() + std::size_t(y) * expected.bytesPerLine, y, 0);
                TIFFClose(tiff);
                manager.DSM_MemUnlock(handle);
                EXPECT_TRUE(pixels == expected.pixels);
                manager.DSM_MemFree(handle); // the host's
                TW_UINT16 count = 0;
                ASSERT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
                EXPECT_EQ(count, page == 0 ? 0xFFFF : 0);
            }
            EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
        }
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
    // The host learns why: the feeder is empty.
    EXPECT_EQ(host.lastRc, TWRC_FAILURE);
    EXPECT_EQ(host.Condition(), TWCC_NOMEDIA);
    TW_UINT16 count = 1;
    EXPECT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
    EXPECT_EQ(count, 0);
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
    bool doubleFeedAlert;           // the plain alert follows, and the next page fails with the double feed
};

// A double feed in continue mode: 3 keeps the page and goes on, 1 drops it
// and goes on, anything else stops the batch after the double-feed alert,
// and the host learns of the double feed. Pages before it are delivered once.
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
        if (c.doubleFeedAlert) {
            EXPECT_EQ(host.lastRc, TWRC_FAILURE);
            EXPECT_EQ(host.Condition(), TWCC_PAPERDOUBLEFEED);
            TW_UINT16 count = 1;
            EXPECT_EQ(host.EndXfer(&count), TWRC_SUCCESS);
            EXPECT_EQ(count, 0);
        }
        EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
    }
}

// Automatic colour detection: each page comes in the format its content
// asks for, and the host is told that format before it reads the page.
TEST_F(DsScan, AutomaticColourDetectionGivesEachPageItsFormat) {
    Watchdog dog(240);
    struct Case {
        const char* settings;
        TW_UINT16 pixelType[2];
        std::vector<std::string> marks;   // none on a black-and-white page
    };
    // Photos are colour, an empty side black-and-white.
    const Case cases[] = {
        {"paper=60x50mm;sheets=2;colour=1;content=photo;blank=2f", {TWPT_RGB, TWPT_BW}, {"1F", ""}},
        {"paper=60x50mm;sheets=2;colour=1;content=photo;blank=1f", {TWPT_BW, TWPT_RGB}, {"", "2F"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        Scanner(c.settings);
        Host host;
        ASSERT_EQ(host.Open(), TWRC_SUCCESS);
        ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
        ASSERT_EQ(host.Set(CCAP_TVK_DETECTPAGETYPE, TWTY_INT32, TW_INT32(1)), TWRC_SUCCESS);
        ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
        const std::vector<Page> pages = host.MemoryBatch(1 << 20);
        ASSERT_EQ(pages.size(), 2u) << host.lastRc;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            SCOPED_TRACE(i);
            const TW_UINT16 type = c.pixelType[i];
            EXPECT_EQ(pages[i].pixelType, type == TWPT_RGB ? 2u : type == TWPT_GRAY ? 1u : 0u);
            const unsigned long bits = type == TWPT_RGB ? 24 : type == TWPT_GRAY ? 8 : 1;
            EXPECT_GE(pages[i].bytesPerLine * 8, pages[i].width * bits);
            EXPECT_LT(pages[i].bytesPerLine * 8, pages[i].width * bits + 64);
            EXPECT_EQ(kdscan::markOf(pages[i], 100, 60), c.marks[i]);
        }
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

// ---- Hostile hosts -------------------------------------------------------------------------------

// Host records built byte by byte, in memory of exactly their size.
struct RawRecord {
    std::vector<std::uint8_t> bytes;
    RawRecord& u16(std::uint16_t v) { return put(&v, 2); }
    RawRecord& u32(std::uint32_t v) { return put(&v, 4); }
    RawRecord& put(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
        return *this;
    }
};

TW_UINT16 SetRecord(Host& host, TW_UINT16 cap, TW_UINT16 conType, const RawRecord& record) {
    TW_CAPABILITY c{};
    c.Cap = cap;
    c.ConType = conType;
    c.hContainer = std::calloc(record.bytes.size(), 1);
    std::memcpy(c.hContainer, record.bytes.data(), record.bytes.size());
    const TW_UINT16 rc = host.Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
    std::free(c.hContainer);
    return rc;
}

TW_UINT16 PassThru(Host& host, TW_UINT32 command, void* data, TW_UINT32 bytes) {
    TW_PASSTHRU p{};
    p.pCommand = &command;
    p.CommandBytes = 4;
    p.pData = data;
    p.DataBytes = bytes;
    return host.Source(DG_CONTROL, DAT_PASSTHRU, MSG_PASSTHRU, &p);
}

struct AbuseCase {
    const char* name;
    TW_INT32 state; // 1 open, 4 transfer ready
    std::function<TW_UINT16(Host&)> send;
    TW_UINT16 rc;
    TW_UINT16 cc;
};

bool SamePages(const std::vector<Page>& a, const std::vector<Page>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].width != b[i].width || a[i].height != b[i].height || a[i].pixels != b[i].pixels) return false;
    return true;
}

// A scanner setting that makes a fresh virtual scanner (another text) with
// the same sheets and the same noise (the same seed).
std::string FreshScanner(const std::string& settings, int run) {
    return settings + ";seed=" + std::string(std::size_t(run), '0') + "1";
}

// Each abuse a host can build is refused with TWAIN's code for it, and the
// batch that follows (and the settings saved at close, which the next row
// opens with) deliver the same pages as a plain scan, byte for byte.
TEST_F(DsScan, HostileRecordsAreRefusedAndTheBatchStaysPlain) {
    Watchdog dog(600);
    constexpr TW_UINT32 kStSd = 0x53745364, kGtBS = 0x47744253, kGtSd = 0x47745364;
    auto enumeration = [](TW_UINT32 count, TW_UINT32 current, TW_UINT32 def) {
        return RawRecord().u16(TWTY_UINT16).u32(count).u32(current).u32(def).u16(TWPT_BW).u16(TWPT_GRAY);
    };
    // Brightness ranges: minimum, maximum, step, current (whole numbers).
    auto range = [](std::int16_t minimum, std::int16_t maximum, std::int16_t step, std::int16_t current) {
        RawRecord r;
        r.u16(TWTY_FIX32);
        for (std::int16_t v : {minimum, maximum, step, std::int16_t(0), current}) r.u16(std::uint16_t(v)).u16(0);
        return r;
    };
    auto layout = [](TW_UINT16 msg) {
        return [msg](Host& host) {
            TW_IMAGELAYOUT l{};
            l.Frame.Right.Whole = 1;
            l.Frame.Bottom.Whole = 1;
            return host.Source(DG_IMAGE, DAT_IMAGELAYOUT, msg, &l);
        };
    };
    const AbuseCase cases[] = {
        {"enumeration of 0xFFFFFFFF items at index 0x7FFFFFFF", 1,
         [&](Host& h) { return SetRecord(h, ICAP_PIXELTYPE, TWON_ENUMERATION, enumeration(0xFFFFFFFF, 0x7FFFFFFF, 0)); },
         TWRC_FAILURE, TWCC_BADVALUE},
        {"enumeration claiming 0x40000000 items", 1,
         [&](Host& h) { return SetRecord(h, ICAP_PIXELTYPE, TWON_ENUMERATION, enumeration(0x40000000, 1, 0)); },
         TWRC_FAILURE, TWCC_BADVALUE},
        {"enumeration with its default index outside", 1,
         [&](Host& h) { return SetRecord(h, ICAP_PIXELTYPE, TWON_ENUMERATION, enumeration(2, 1, 9)); }, TWRC_FAILURE,
         TWCC_BADVALUE},
        {"range with its minimum above its maximum", 1,
         [&](Host& h) { return SetRecord(h, ICAP_BRIGHTNESS, TWON_RANGE, range(100, -100, 1, 50)); }, TWRC_FAILURE,
         TWCC_BADVALUE},
        {"range with a step of 0", 1,
         [&](Host& h) { return SetRecord(h, ICAP_BRIGHTNESS, TWON_RANGE, range(-100, 100, 0, 50)); }, TWRC_FAILURE,
         TWCC_BADVALUE},
        {"range whose current value lies outside it", 1,
         [&](Host& h) { return SetRecord(h, ICAP_BRIGHTNESS, TWON_RANGE, range(-100, 100, 1, 500)); }, TWRC_FAILURE,
         TWCC_BADVALUE},
        {"edge emphasis 0", 1, [](Host& h) { return h.Set(CCAP_TVK_EDGEEMPHASIS, TWTY_INT32, TW_INT32(0)); },
         TWRC_FAILURE, TWCC_BADVALUE},
        {"edge emphasis 10", 1, [](Host& h) { return h.Set(CCAP_TVK_EDGEEMPHASIS, TWTY_INT32, TW_INT32(10)); },
         TWRC_FAILURE, TWCC_BADVALUE},
        {"duplex 65535", 1, [](Host& h) { return h.Set(CAP_DUPLEXENABLED, TWTY_BOOL, TW_BOOL(-1)); }, TWRC_FAILURE,
         TWCC_BADVALUE},
        {"transfer count -3524", 1, [](Host& h) { return h.Set(CAP_XFERCOUNT, TWTY_INT16, TW_INT16(-3524)); },
         TWRC_FAILURE, TWCC_BADVALUE},
        {"shading from 8 bytes of an address", 1,
         [&](Host& h) {
             std::uint64_t bytes = reinterpret_cast<std::uintptr_t>(&h);
             return PassThru(h, kStSd, &bytes, sizeof bytes);
         },
         TWRC_FAILURE, TWCC_BADVALUE},
        {"shading from a handle nobody gave", 1,
         [&](Host& h) {
             std::uint32_t handle = 0xDEADBEEF;
             return PassThru(h, kStSd, &handle, sizeof handle);
         },
         TWRC_FAILURE, TWCC_BADVALUE},
        {"shading handle in 3 bytes", 1,
         [&](Host& h) {
             std::uint32_t handle = 0;
             return PassThru(h, kGtSd, &handle, 3);
         },
         TWRC_FAILURE, TWCC_BADVALUE},
        {"button status into 2 bytes", 4,
         [&](Host& h) {
             std::uint32_t word = 0;
             return PassThru(h, kGtBS, &word, 2);
         },
         TWRC_FAILURE, TWCC_BADVALUE},
        {"image layout set with a page waiting", 4, layout(MSG_SET), TWRC_FAILURE, TWCC_SEQERROR},
        {"image layout reset with a page waiting", 4, layout(MSG_RESET), TWRC_FAILURE, TWCC_SEQERROR},
    };
    auto batch = [&](const AbuseCase* c, int seed) {
        Scanner(FreshScanner("paper=60x50mm;sheets=2", seed));
        Host host;
        EXPECT_EQ(host.Open(), TWRC_SUCCESS);
        EXPECT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
        EXPECT_EQ(host.SetResolution(100), TWRC_SUCCESS);
        auto abuse = [&] {
            EXPECT_EQ(c->send(host), c->rc);
            EXPECT_EQ(host.Condition(), c->cc);
        };
        if (c && c->state == 1) abuse();
        EXPECT_EQ(host.Enable(), TWRC_SUCCESS);
        if (c && c->state == 4) abuse();
        std::vector<Page> pages = host.MemoryBatch(1 << 20);
        EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
        return pages;
    };
    const std::vector<Page> plain = batch(nullptr, 0);
    ASSERT_EQ(plain.size(), 2u);
    int seed = 0;
    for (const AbuseCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(SamePages(batch(&c, ++seed), plain));
    }
    // The settings saved by all of them open with what a plain scan uses.
    EXPECT_TRUE(SamePages(batch(nullptr, ++seed), plain));
}

// Settings written by anything: a 0xFF record, a random record, and a
// stored edge emphasis of 0 open with the defaults for the bad fields and
// scan like the defaults do.
TEST_F(DsScan, DamagedSavedSettingsOpenWithDefaultsAndScan) {
    Watchdog dog(300);
    auto batch = [&](int seed) {
        Scanner(FreshScanner("paper=60x50mm;sheets=1", seed));
        Host host;
        EXPECT_EQ(host.Open(), TWRC_SUCCESS);
        EXPECT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
        EXPECT_EQ(host.SetResolution(100), TWRC_SUCCESS);
        EXPECT_EQ(host.Enable(), TWRC_SUCCESS);
        std::vector<Page> pages = host.MemoryBatch(1 << 20);
        EXPECT_EQ(host.Disable(), TWRC_SUCCESS);
        return pages;
    };
    const std::vector<Page> plain = batch(0);
    ASSERT_EQ(plain.size(), 1u);
    // The data source's preferences file and its settings record.
    const char* const kPreferences = "jp.co.tavrolek-sys.kd720";
    const char* const kCapDataKey = "CapData";
    constexpr std::size_t kCapDataSize = 2572;
    // The record as saved by the plain run, with one field spoilt.
    const kdf::PreferencesContent saved = kdf::readPreferencesFile(kPreferences);
    const kdf::Value* savedRecord = kdf::find(saved.values, kCapDataKey);
    ASSERT_TRUE(savedRecord && savedRecord->bytes());
    kdf::Bytes zeroEdge = *savedRecord->bytes();
    std::fill_n(zeroEdge.begin() + 256, 4, 0); // edge emphasis
    kdf::Bytes random(kCapDataSize);
    std::uint32_t x = 20261211;
    for (auto& b : random) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    const std::pair<const char*, kdf::Bytes> records[] = {
        {"0xFF bytes", kdf::Bytes(kCapDataSize, 0xFF)}, {"random bytes", random}, {"edge emphasis 0", zeroEdge}};
    int seed = 0;
    for (const auto& [name, record] : records) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(kdf::writePreferencesFile(
            kPreferences, {{kCapDataKey, kdf::Value(record)}, {"CapDataVersion", kdf::Value("1")}}));
        const std::vector<Page> pages = batch(++seed);
        ASSERT_EQ(pages.size(), 1u) << "the scan failed";
        if (std::string(name) == "edge emphasis 0") {
            EXPECT_TRUE(SamePages(pages, plain));
        }
    }
}

// A host that asks for the image information again in the middle of a
// page gets the page's record, and the page goes on where it was.
TEST_F(DsScan, ImageInfoDuringThePageChangesNothing) {
    Watchdog dog(120);
    auto page = [&](bool askAgain) {
        Scanner(FreshScanner("paper=60x50mm;sheets=1", askAgain ? 1 : 0));
        Host host;
        EXPECT_EQ(host.Open(), TWRC_SUCCESS);
        EXPECT_EQ(host.Set(ICAP_PIXELTYPE, TWTY_UINT16, TW_UINT16(TWPT_GRAY)), TWRC_SUCCESS);
        EXPECT_EQ(host.SetResolution(100), TWRC_SUCCESS);
        EXPECT_EQ(host.Enable(), TWRC_SUCCESS);
        TW_IMAGEINFO info{};
        EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
        const TW_INT32 width = info.ImageWidth, length = info.ImageLength;
        std::vector<unsigned char> pixels, strip(std::size_t(width) * 100);
        TW_UINT16 rc = TWRC_SUCCESS;
        for (int n = 0; rc == TWRC_SUCCESS; ++n) {
            if (askAgain && n == 2) {
                TW_IMAGEINFO again{};
                EXPECT_EQ(host.Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &again), TWRC_SUCCESS);
                EXPECT_EQ(std::memcmp(&again, &info, sizeof info), 0);
            }
            TW_IMAGEMEMXFER xfer{};
            xfer.Memory = {TWMF_APPOWNS | TWMF_POINTER, static_cast<TW_UINT32>(strip.size()), strip.data()};
            rc = host.Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
            const TW_UINT32 rows = xfer.Rows, y = xfer.YOffset;
            EXPECT_EQ(std::size_t(y) * std::size_t(width), pixels.size());
            pixels.insert(pixels.end(), strip.begin(), strip.begin() + long(rows) * width);
        }
        EXPECT_EQ(rc, TWRC_XFERDONE);
        EXPECT_EQ(pixels.size(), std::size_t(width) * std::size_t(length));
        return pixels;
    };
    EXPECT_EQ(page(true), page(false));
}

// Before enabling, the layout and the frames report the area a scan takes,
// and asking for the default layout changes nothing.
TEST_F(DsScan, LayoutReportsTheScannedAreaAndItsDefaultOnlyReports) {
    Watchdog dog(120);
    Scanner("paper=60x50mm;sheets=1");
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    TW_IMAGELAYOUT layout{};
    ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout), TWRC_SUCCESS);
    // The default paper, A4, in inches.
    EXPECT_NEAR(dstest::Fix32(layout.Frame.Right) - dstest::Fix32(layout.Frame.Left), 210 / 25.4, 0.05);
    EXPECT_NEAR(dstest::Fix32(layout.Frame.Bottom) - dstest::Fix32(layout.Frame.Top), 297 / 25.4, 0.05);
    TW_IMAGELAYOUT set{};
    set.Frame.Left.Whole = 1;
    set.Frame.Top.Whole = 1;
    set.Frame.Right.Whole = 3;
    set.Frame.Bottom.Whole = 4;
    ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &set), TWRC_SUCCESS);
    TW_IMAGELAYOUT def{};
    ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GETDEFAULT, &def), TWRC_SUCCESS);
    EXPECT_NEAR(dstest::Fix32(def.Frame.Right), 210 / 25.4, 0.05);
    TW_IMAGELAYOUT now{};
    ASSERT_EQ(host.Source(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &now), TWRC_SUCCESS);
    EXPECT_NEAR(dstest::Fix32(now.Frame.Left), 1, 0.01);
    EXPECT_NEAR(dstest::Fix32(now.Frame.Right), 3, 0.01);
    EXPECT_NEAR(dstest::Fix32(now.Frame.Bottom), 4, 0.01);
}

// Our application closes the data source from the idle event while the
// scanner waits for a page: nothing runs on freed memory (the sanitizer
// build checks), and the next open scans normally.
TEST_F(DsScan, CloseFromTheIdleEventDuringAPage) {
    Watchdog dog(180);
    Scanner("paper=60x50mm;sheets=3;rate=1500");
    {
        Host host("Tavrolek");
        ASSERT_EQ(host.Open(), TWRC_SUCCESS);
        ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
        int closes = 0;
        gOnEvent = [&](TW_UINT32 event) {
            if (event == TWDE_TVK_IDLE && closes++ == 0) {
                EXPECT_EQ(host.Close(), TWRC_SUCCESS);
            }
        };
        ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
        EXPECT_TRUE(host.MemoryBatch(1 << 20).empty());
        EXPECT_EQ(closes, 1);
        gOnEvent = nullptr;
    }
    Scanner("paper=60x50mm;sheets=1;seed=1");
    Host again;
    ASSERT_EQ(again.Open(), TWRC_SUCCESS);
    ASSERT_EQ(again.SetResolution(100), TWRC_SUCCESS);
    ASSERT_EQ(again.Enable(), TWRC_SUCCESS);
    EXPECT_EQ(again.MemoryBatch(1 << 20).size(), 1u);
}

// Many threads calling DS_Entry of one source at once, opening, asking,
// setting and closing: every call is answered, nothing leaks or races (the
// sanitizer build checks), and the source ends closed and reopens.
TEST_F(DsScan, ManyThreadsCallingTheEntry) {
    Watchdog dog(300);
    Scanner("paper=60x50mm;sheets=1");
    const std::string path = (home_.root() / "twain" / "KD720" / "KD720.ds").string();
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    using Entry = TW_UINT16 (*)(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);
    const auto entry = reinterpret_cast<Entry>(dlsym(module, "DS_Entry"));
    ASSERT_NE(entry, nullptr);
    TW_IDENTITY origin{};
    origin.Id = 7;
    std::strcpy(origin.ProductName, "Thread Host");
    TW_ENTRYPOINT points{};
    points.Size = sizeof points;
    points.DSM_MemAllocate = [](TW_UINT32 size) -> TW_HANDLE { return std::calloc(size, 1); };
    points.DSM_MemFree = [](TW_HANDLE h) { std::free(h); };
    points.DSM_MemLock = [](TW_HANDLE h) -> TW_MEMREF { return h; };
    points.DSM_MemUnlock = [](TW_HANDLE) {};
    ASSERT_EQ(entry(&origin, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points), TWRC_SUCCESS);
    std::atomic<int> unanswered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            TW_IDENTITY self = origin;
            for (int i = 0; i < 30; ++i) {
                TW_UINT16 rc = 0xFFFF;
                switch ((t + i) % 5) {
                case 0: {
                    TW_IDENTITY id{};
                    rc = entry(&self, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id);
                    break;
                }
                case 1: {
                    TW_CAPABILITY c{CAP_XFERCOUNT, TWON_DONTCARE16, nullptr};
                    rc = entry(&self, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &c);
                    std::free(c.hContainer);
                    break;
                }
                case 2: {
                    TW_CAPABILITY c{CAP_XFERCOUNT, TWON_ONEVALUE, dstest::OneValue(Alloc, TWTY_INT16, TW_INT16(3))};
                    rc = entry(&self, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
                    std::free(c.hContainer);
                    break;
                }
                case 3: {
                    TW_STATUS status{};
                    rc = entry(&self, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
                    break;
                }
                default: rc = entry(&self, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
                }
                if (rc != TWRC_SUCCESS && rc != TWRC_FAILURE) ++unanswered;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(unanswered.load(), 0);
    EXPECT_EQ(entry(&origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    TW_IDENTITY id{};
    EXPECT_EQ(entry(&origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), TWRC_SUCCESS);
    EXPECT_EQ(entry(&origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr), TWRC_SUCCESS);
    dlclose(module);
}

// A file name of 250 characters is written: the temporary file beside it
// has a bounded name of its own, and none is left behind.
TEST_F(DsScan, LongFileNameIsWritten) {
    Watchdog dog(120);
    Scanner("paper=60x50mm;sheets=1");
    Host host;
    ASSERT_EQ(host.Open(), TWRC_SUCCESS);
    ASSERT_EQ(host.SetResolution(100), TWRC_SUCCESS);
    ASSERT_EQ(host.Enable(), TWRC_SUCCESS);
    const fs::path folder = home_.root() / "out";
    fs::create_directories(folder);
    const fs::path before = fs::current_path();
    fs::current_path(folder); // the name alone fills the record
    const std::string name = std::string(246, 'n') + ".tif";
    TW_SETUPFILEXFER file{};
    std::strcpy(file.FileName, name.c_str());
    file.Format = TWFF_TIFF;
    const TW_UINT16 rc = host.Source(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, &file);
    fs::current_path(before);
    EXPECT_EQ(rc, TWRC_XFERDONE);
    EXPECT_TRUE(fs::is_regular_file(folder / name));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
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
