// Scans from the virtual KD-720 through our manager with KD720.ds in its
// bundle folder, the way any TWAIN host scans: memory and file transfers,
// the page loop, device events, pass-through and the scanner alerts. Each
// test runs under a watchdog.
#include "DsTestKit.h"
#include "RecordingUIController.h"
#include "ScanFixture.h"
#include "TempHome.h"

#include "foundation/Object.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
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

TW_UINT16 Callback(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF) {
    gMessages.push_back(msg);
    if (msg == MSG_DEVICEEVENT) {
        TW_DEVICEEVENT event{};
        DSM_Entry(&gSelf, &gSource, DG_CONTROL, DAT_DEVICEEVENT, MSG_GET, &event);
        gEvents.push_back(event.Event);
    }
    return TWRC_SUCCESS;
}

TW_HANDLE Alloc(TW_UINT32 size) { return std::calloc(size, 1); }

class Host {
public:
    Host() {
        gSelf = TW_IDENTITY{};
        gSelf.Id = 1;
        gSelf.ProtocolMajor = 2;
        gSelf.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
        std::strcpy(gSelf.ProductName, "Scan Host");
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
    Page MemoryPage(TW_UINT32 buffer, TW_UINT16* rc) {
        Page page;
        TW_IMAGEINFO info{};
        *rc = Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
        if (*rc != TWRC_SUCCESS) return page;
        page.width = static_cast<unsigned long>(info.ImageWidth);
        page.height = static_cast<unsigned long>(info.ImageLength);
        page.pixelType = info.PixelType == TWPT_RGB ? 2 : info.PixelType == TWPT_GRAY ? 1 : 0;
        std::vector<unsigned char> strip(buffer);
        for (int guard = 0; guard < 1000000; ++guard) {
            TW_IMAGEMEMXFER xfer{};
            xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            xfer.Memory.Length = buffer;
            xfer.Memory.TheMem = strip.data();
            *rc = Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
            if (*rc != TWRC_SUCCESS && *rc != TWRC_XFERDONE) break;
            const TW_UINT32 bpr = xfer.BytesPerRow, rows = xfer.Rows, y = xfer.YOffset;
            page.bytesPerLine = bpr;
            EXPECT_EQ(y * bpr, page.pixels.size());
            EXPECT_GT(rows, 0u);
            page.pixels.insert(page.pixels.end(), strip.begin(), strip.begin() + long(rows) * bpr);
            if (*rc == TWRC_XFERDONE) break;
        }
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
        const fs::path folder = home_.root() / "twain" / "KD720";
        fs::create_directories(folder.parent_path());
        fs::copy(KD720_BUNDLE, folder, fs::copy_options::recursive);
        fs::create_directories(folder / "PlugIns");
        fs::copy(KD_TEST_UI_BUNDLE, folder / "PlugIns" / "KD720UI", fs::copy_options::recursive);
        home_.env().set("KD_TWAIN_DS_PATH", (home_.root() / "twain").string());
        kdf::registerClass(kUIControllerClassName, &kdf::makeObject<TrackedUIController>);
    }
    void TearDown() override { kdf::unregisterClass(kUIControllerClassName); }
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

}  // namespace
