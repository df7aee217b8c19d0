#include "KdSettingsController.h"

#include "ShieldWindow.h"

#include "CapHelpers.h"
#include "KdTwainCustom.h"

#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>

#include <QWidget>

namespace ComTavrolekKD720 {

// The capabilities the window edits; flag 1: the simple scan resets it.
const std::array<UIRelatedCap, 90> sUIRelatedCaps = {{
    {0x0101, 0}, {0x1109, 0}, {0x806C, 0}, {0x8029, 0}, {0x806F, 1}, {0x806E, 1}, {0x8405, 1}, {0x8057, 0},
    {0x806B, 0}, {0x80CC, 1}, {0x80CE, 1}, {0x80CD, 1}, {0x812C, 1}, {0x819A, 1}, {0x8400, 0}, {0x8000, 0},
    {0x8401, 0}, {0x8421, 0}, {0x1118, 0}, {0x1119, 0}, {0x80C8, 0}, {0x1013, 0}, {0x8037, 0}, {0x8001, 0},
    {0x8076, 1}, {0x800D, 0}, {0x8190, 1}, {0x8070, 1}, {0x0001, 1}, {0x1007, 1}, {0x8018, 0}, {0x1101, 0},
    {0x9901, 0}, {0x8404, 1}, {0x1103, 0}, {0x9903, 0}, {0x8403, 1}, {0x8418, 1}, {0x8419, 1}, {0x8410, 1},
    {0x8411, 1}, {0x8412, 1}, {0x8413, 1}, {0x8414, 1}, {0x8415, 1}, {0x8416, 1}, {0x8417, 1}, {0x8C10, 1},
    {0x8C11, 1}, {0x8C12, 1}, {0x8C13, 1}, {0x8C14, 1}, {0x8C15, 1}, {0x8C16, 1}, {0x8C17, 1}, {0x8009, 1},
    {0x8069, 1}, {0x800E, 1}, {0x80C9, 1}, {0x8422, 1}, {0x80CA, 1}, {0x803B, 0}, {0x8077, 1}, {0x8078, 1},
    {0x8008, 1}, {0x8808, 1}, {0x8032, 1}, {0x8832, 1}, {0x8068, 1}, {0x803F, 1}, {0x8040, 0}, {0x819B, 1},
    {0x819C, 1}, {0x819D, 1}, {0x80CB, 1}, {0x8003, 1}, {0x8004, 1}, {0xA000, 0}, {0xA001, 0}, {0xA002, 0},
    {0xA003, 0}, {0x8406, 1}, {0x8407, 1}, {0x8007, 1}, {0x8402, 1}, {0x81A4, 1}, {0x8423, 1}, {0x81A5, 1},
    {0x81A6, 1}, {0x81AE, 1},
}};

namespace {

constexpr const char* kPostCloseRequestKey = "postCloseRequestNotification:";

// The values a prescan changes, restored on every way out of it.
struct PrescanValues {
    static constexpr TW_UINT16 kSigned[] = {CCAP_TVK_PRESCAN, CCAP_TVK_FEEDER_JAMLESS, CCAP_TVK_AUTORESOLUTION,
                                            CAP_XFERCOUNT, CAP_AUTOFEED, CCAP_TVK_MARGINLENGTH, CCAP_TVK_BLANKSKIP,
                                            CCAP_TVK_DETECTDBLFEED_LENGTH, CCAP_TVK_DETECTDBLFEED_ULTRASONIC};
    static constexpr TW_UINT16 kFloat[] = {ICAP_XRESOLUTION, ICAP_YRESOLUTION};
    TW_INT32 ints[std::size(kSigned)] = {};
    float floats[std::size(kFloat)] = {};

    void save(CCapPool* pool) {
        for (std::size_t i = 0; i < std::size(kSigned); ++i) ints[i] = GetCapSIntValue(pool, kSigned[i]);
        for (std::size_t i = 0; i < std::size(kFloat); ++i) floats[i] = GetCapFloatValue(pool, kFloat[i]);
    }
    void restore(CCapPool* pool) const {
        for (std::size_t i = 0; i < std::size(kSigned); ++i) SetCapSIntValue(pool, kSigned[i], ints[i]);
        for (std::size_t i = 0; i < std::size(kFloat); ++i) SetCapFloatValue(pool, kFloat[i], floats[i]);
    }
};

} // namespace

void KdUIController::post(const char* name, const kdf::Value* object) {
    kdf::NotificationCenter::defaultCenter().post(name, target(), object);
}

void KdUIController::postXferReady(int mode, int pendingCount) {
    kdf::Dictionary object{{kXferReadyScanModeKey, kdf::Value(mode)}};
    if (pendingCount >= 0) object[kXferReadyPendingImageCountKey] = kdf::Value(pendingCount);
    const kdf::Value value(std::move(object));
    post(kXferReadyNotification, &value);
}

void KdUIController::sync() {
    syncBasicSettingUI();
    syncAreaSelectionUI();
    syncImageEnhanceUI();
    syncToneSettingUI();
    syncExtraSettingUI();
    syncPrescanUI();
    syncPreferencePalette();
}

void KdUIController::init() {
    initBasicSettingUI();
    initAreaSelectionUI();
    initImageEnhanceUI();
    initToneSettingUI();
    initExtraSettingUI();
    initPrescanUI();
}

// Every post is the last thing an action does with the controller: the
// host may disable or close the data source from inside it.

void KdUIController::performScan(Sender) {
    if (isSimpleMode()) resetSettingsForSimpleScan();
    if (!isSimpleMode() && hasImage_ && !mPositioningPrescanMode) {
        performContinueScan();
        return;
    }
    refrectScanAreaControls();
    decideScanArea(false);
    const TW_INT32 prescan = GetCapSIntValue(mSettings, CCAP_TVK_PRESCAN);
    if (prescan != 1) saveMainUISettings();
    FWindow::setShieldWindow(mWindow, true);
    postXferReady(prescan == 1 ? kScanModeScanToWindow : kScanModeScan);
}

static int pendingForDuplex(CCapPool* pool) { return GetCapUIntValue(pool, CAP_DUPLEXENABLED) != 0 ? 2 : 1; }

void KdUIController::performScanComplete(Sender) {
    refrectScanAreaControls();
    decideScanArea(false);
    saveMainUISettings();
    if (mIsSetupSequence && !hasScanImage()) {
        hideMainWindow();
        kdf::RunLoop::current().cancelPerforms(target(), kPostCloseRequestKey);
        const kdf::Value empty{kdf::Dictionary{}};
        post(kCloseDSOkayNotification, &empty);
        return;
    }
    FWindow::setShieldWindow(mWindow, true);
    if (mIsSetupSequence) {
        setShield(false);
        hideMainWindow();
    }
    SetCapSIntValue(mSettings, CCAP_TVK_PRESCAN, -1);
    postXferReady(kScanModeComplete, pendingForDuplex(mSettings));
}

void KdUIController::performContinueScan(Sender) {
    SetCapSIntValue(mSettings, CCAP_TVK_PRESCAN, -1);
    if (isSimpleMode()) resetSettingsForSimpleScan();
    refrectScanAreaControls();
    decideScanArea(false);
    saveMainUISettings();
    if (mIsSetupSequence) {
        setShield(false);
        hideMainWindow();
    }
    postXferReady(kScanModeContinue, pendingForDuplex(mSettings));
}

void KdUIController::performPrescan(Sender) {
    CCapPool* const pool = mSettings;
    PrescanValues saved;
    saved.save(pool);
    decideScanArea(true);
    // Restored however the post ends; not when the controller went inside
    // it (its pool may have gone with the data source).
    struct Restore {
        const PrescanValues& values;
        CCapPool* pool;
        std::shared_ptr<bool> alive;
        ~Restore() {
            if (*alive) values.restore(pool);
        }
    } restore{saved, pool, alive_};
    SetCapSIntValue(pool, CCAP_TVK_PRESCAN, 1);
    SetCapSIntValue(pool, CCAP_TVK_FEEDER_JAMLESS, 0);
    SetCapFloatValue(pool, ICAP_XRESOLUTION, 100.0f);
    SetCapFloatValue(pool, ICAP_YRESOLUTION, 100.0f);
    SetCapSIntValue(pool, CCAP_TVK_AUTORESOLUTION, 0);
    SetCapSIntValue(pool, CAP_XFERCOUNT, 1);
    SetCapSIntValue(pool, CAP_AUTOFEED, 0);
    SetCapSIntValue(pool, CCAP_TVK_MARGINLENGTH, 0);
    SetCapSIntValue(pool, CCAP_TVK_BLANKSKIP, 0);
    SetCapSIntValue(pool, CCAP_TVK_DETECTDBLFEED_LENGTH, 0);
    SetCapSIntValue(pool, CCAP_TVK_DETECTDBLFEED_ULTRASONIC, 0);
    const std::shared_ptr<bool> alive = alive_;
    postXferReady(kScanModePrescan);
    if (!*alive) return;
    saved.restore(pool);
    sync();
}

void KdUIController::performCancel(Sender) {
    if (mIsSetupSequence) {
        if (mWindow) mWindow->close();
        return;
    }
    if (isSimpleMode())
        for (TW_UINT16 id : {ICAP_BRIGHTNESS, TW_UINT16(0x9901), CCAP_TVK_TEXTENHANCE_BRIGHTNESS, ICAP_CONTRAST,
                             TW_UINT16(0x9903), CCAP_TVK_TEXTENHANCE_CONTRAST})
            ResetCapValue(mSettings, id);
    const std::shared_ptr<bool> alive = alive_;
    destroyPreviewImage();
    if (*alive) sync();
}

void KdUIController::performReset(Sender) {
    mActiveGammaChannel = 0;
    resetWindowSettings();
    init();
    updateFavoriteControls();
}

void KdUIController::resetWindowSettings() {
    for (const UIRelatedCap& row : sUIRelatedCaps) ResetCapValue(mSettings, row.id);
    SetCapFloatValue(mSettings, CCAP_TVKM_SCANAREA_WIDTH, GetCapFloatValue(mSettings, ICAP_PHYSICALWIDTH));
    SetCapFloatValue(mSettings, CCAP_TVKM_SCANAREA_HEIGHT, GetCapFloatValue(mSettings, ICAP_PHYSICALHEIGHT));
    setScanImage(ScanBitmap{}, 0, false);
}

void KdUIController::resetSettingsForSimpleScan() {
    for (const UIRelatedCap& row : sUIRelatedCaps)
        if (row.resetForSimpleScan == 1) ResetCapValue(mSettings, row.id);
}

void KdUIController::performFullAutoSetting() {
    resetWindowSettings();
    SetCapUIntValue(mSettings, ICAP_PIXELTYPE, 2);
    SetCapSIntValue(mSettings, CCAP_TVK_DETECTPAGETYPE, 1);
    SetCapSIntValue(mSettings, CCAP_TVKM_PAPERSIZE, -2);
    SetCapSIntValue(mSettings, CCAP_TVK_DETECTPAGESIZE, 1);
    SetCapUIntValue(mSettings, CAP_DUPLEXENABLED, 1);
    SetCapSIntValue(mSettings, CCAP_TVK_BLANKSKIP, 1);
    SetCapSIntValue(mSettings, CCAP_TVK_AUTORESOLUTION, 1);
    SetCapSIntValue(mSettings, CCAP_TVK_DESKEW, 1);
    SetCapSIntValue(mSettings, CCAP_TVK_RECOGNIZE_DIRECTION, 1);
    SetCapSIntValue(mSettings, CCAP_TVK_DETECTDBLFEED_ULTRASONIC, 1);
}

void KdUIController::destroyPreviewImage() {
    const std::shared_ptr<bool> alive = alive_;
    post(kDestroyImageRequestNotification, nullptr);
    if (!*alive) return;
    resetScanArea();
    decideScanArea(true);
    setScanImage(ScanBitmap{}, 0, false);
    resetScanArea();
}

void KdUIController::closeRequest(bool flag) {
    kdf::RunLoop::current().performAfterDelay(
        target(), kPostCloseRequestKey, kdf::Seconds(0.05), [this, flag] { postCloseRequestNotification(flag); },
        kdf::RunLoopModes(kdf::RunLoopMode::Default) | kdf::RunLoopMode::ModalPanel);
}

void KdUIController::controlTextDidChange(const QObject* field, std::function<void()> action) {
    const std::string key = "controlTextDidChange:" + std::to_string(reinterpret_cast<std::uintptr_t>(field));
    kdf::RunLoop& loop = kdf::RunLoop::current();
    loop.cancelPerforms(target(), key);
    loop.performAfterDelay(target(), key, kdf::Seconds(1.0), std::move(action),
                           kdf::RunLoopModes(kdf::RunLoopMode::Default) | kdf::RunLoopMode::ModalPanel);
}

void KdUIController::postCloseRequestNotification(bool flag) {
    const kdf::Value object(flag);
    post(kCloseRequestNotification, &object);
}

} // namespace ComTavrolekKD720
