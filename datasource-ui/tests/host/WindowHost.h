// A TWAIN host of the window tests: our manager with KD720.ds and its
// settings window from a copy of the built bundle, a callback that records
// the data source's messages, and the window's controls found through the
// widget tree.
#pragma once

#include "DsTestKit.h"
#include "ScanFixture.h"
#include "TempHome.h"
#include "twain/twain.h"

#include <ui/ViewTag.h>

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace windowhost {

namespace fs = std::filesystem;

inline std::vector<TW_UINT16> gMessages;
inline std::function<void(TW_UINT16)> gOnMessage;
inline TW_IDENTITY gSelf{}, gSource{};

inline TW_UINT16 Callback(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF) {
    gMessages.push_back(msg);
    if (gOnMessage) gOnMessage(msg);
    return TWRC_SUCCESS;
}

inline bool Saw(TW_UINT16 msg) {
    for (TW_UINT16 m : gMessages)
        if (m == msg) return true;
    return false;
}

// The visible window holding the tagged control, and the control.
inline QWidget* Control(int tag) {
    if (!QApplication::instance()) return nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible())
            if (QWidget* w = kdui::viewWithTag(top, tag)) return w;
    return nullptr;
}

class Host {
public:
    Host() {
        gSelf = TW_IDENTITY{};
        gSelf.Id = 1;
        gSelf.ProtocolMajor = 2;
        gSelf.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
        std::strcpy(gSelf.Manufacturer, "Window Test");
        std::strcpy(gSelf.ProductName, "Window Host");
        EXPECT_EQ(Manager(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
    }
    ~Host() {
        if (open_) Close();
        Manager(DAT_PARENT, MSG_CLOSEDSM, nullptr);
    }
    TW_UINT16 Manager(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        return DSM_Entry(&gSelf, nullptr, DG_CONTROL, dat, msg, data);
    }
    TW_UINT16 Source(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        return DSM_Entry(&gSelf, &gSource, dg, dat, msg, data);
    }
    // Opens KD720 and, unless told not to, registers the callback.
    TW_UINT16 Open(bool withCallback = true) {
        TW_IDENTITY id{};
        for (TW_UINT16 rc = Manager(DAT_IDENTITY, MSG_GETFIRST, &id); rc == TWRC_SUCCESS;
             rc = Manager(DAT_IDENTITY, MSG_GETNEXT, &id)) {
            if (std::string(id.ProductName) != "Tavro KD-720 TWAIN") continue;
            gSource = id;
            const TW_UINT16 opened = Manager(DAT_IDENTITY, MSG_OPENDS, &gSource);
            open_ = opened == TWRC_SUCCESS;
            if (open_ && withCallback) {
                TW_CALLBACK2 cb{reinterpret_cast<TW_MEMREF>(&Callback), 0, 0};
                Source(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &cb);
            }
            return opened;
        }
        return 0xFFFF;
    }
    TW_UINT16 Close() {
        open_ = false;
        return Manager(DAT_IDENTITY, MSG_CLOSEDS, &gSource);
    }
    // The data source was closed from the callback.
    void Forget() { open_ = false; }
    TW_UINT16 Enable(TW_UINT16 msg = MSG_ENABLEDS) {
        TW_USERINTERFACE ui{};
        ui.ShowUI = 1;
        return Source(DG_CONTROL, DAT_USERINTERFACE, msg, &ui);
    }
    TW_UINT16 Disable() {
        TW_USERINTERFACE ui{};
        return Source(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }
    TW_UINT16 Condition() {
        TW_STATUS status{};
        Source(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        return status.ConditionCode;
    }
    TW_UINT16 SetGray100() {
        TW_CAPABILITY c{};
        c.Cap = ICAP_PIXELTYPE;
        c.ConType = TWON_ONEVALUE;
        c.hContainer = dstest::OneValue([](TW_UINT32 n) { return std::calloc(n, 1); }, TWTY_UINT16,
                                        TW_UINT16(TWPT_GRAY));
        TW_UINT16 rc = Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
        std::free(c.hContainer);
        TW_FIX32 dpi{100, 0};
        c.Cap = ICAP_XRESOLUTION;
        c.hContainer = dstest::OneValue([](TW_UINT32 n) { return std::calloc(n, 1); }, TWTY_FIX32, dpi);
        if (rc == TWRC_SUCCESS) rc = Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c);
        std::free(c.hContainer);
        return rc;
    }
    // One gray page by memory transfer; *rc the last answer.
    kdscan::Page MemoryPage(TW_UINT16* rc) {
        kdscan::Page page;
        TW_IMAGEINFO info{};
        *rc = Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
        if (*rc != TWRC_SUCCESS) return page;
        page.pixelType = 1;
        page.width = static_cast<unsigned long>(info.ImageWidth);
        page.height = static_cast<unsigned long>(info.ImageLength);
        std::vector<unsigned char> strip(1 << 20);
        for (int guard = 0; guard < 100000; ++guard) {
            TW_IMAGEMEMXFER xfer{};
            xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            xfer.Memory.Length = static_cast<TW_UINT32>(strip.size());
            xfer.Memory.TheMem = strip.data();
            *rc = Source(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
            if (*rc != TWRC_SUCCESS && *rc != TWRC_XFERDONE) break;
            page.bytesPerLine = xfer.BytesPerRow;
            page.pixels.insert(page.pixels.end(), strip.begin(), strip.begin() + long(xfer.Rows) * xfer.BytesPerRow);
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

private:
    bool open_ = false;
};

// A temporary home with a copy of the built bundle, found by our manager.
class WindowHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        gMessages.clear();
        gOnMessage = nullptr;
        const fs::path folder = home_.root() / "twain" / "KD720";
        fs::create_directories(folder.parent_path());
        fs::copy(KD720_BUNDLE, folder, fs::copy_options::recursive);
        home_.env().set("KD_TWAIN_DS_PATH", (home_.root() / "twain").string());
        home_.env().set("KD_VIRTUAL_SCANNER", "paper=60x50mm;sheets=3");
    }
    void TearDown() override { gOnMessage = nullptr; }

    kdtest::TempHome home_;
};

} // namespace windowhost
