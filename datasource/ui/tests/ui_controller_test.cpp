#include "KdUIController.h"
#include "RecordingUIController.h"
#include "TempHome.h"

#include <foundation/Exception.h>
#include <foundation/NotificationCenter.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

RecordingUIController* recorder(const std::unique_ptr<KdUIController>& c) {
    return dynamic_cast<RecordingUIController*>(c.get());
}

TEST(UIController, MissingBundleOrClassGivesNone) {
    kdtest::TempHome home;
    testing::internal::CaptureStderr();
    EXPECT_EQ(createUIController((home.root() / "absent.bundle").string()), nullptr);
    // Nothing loaded and nothing registered: no class of that name.
    EXPECT_EQ(createUIController(""), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
}

TEST(UIController, CreatedByNameFromTheWindowsObjectRecordsItsCalls) {
    auto controller = createUIController(KD_TEST_UI_BUNDLE);
    ASSERT_NE(controller, nullptr);
    RecordingUIController* rec = recorder(controller);
    ASSERT_NE(rec, nullptr); // the cast works across the loaded object

    int pool = 0;
    kdf::Dictionary param{{kUIParamCapabilityObject, kdf::Pointer{&pool}}};
    controller->setupMainUI(param, true);
    controller->showMainWindow();
    EXPECT_TRUE(controller->isMainWindowVisible());
    controller->updateScanPanel(0x10003);
    rec->alertAnswers = {3, 1};
    EXPECT_EQ(controller->runModalContinueModeAlert(1, "Double Feed Detect Message"), 3);
    EXPECT_EQ(controller->runAlert(AlertStyle::Critical, "No Page Message", "No Page Info", {"OK", "Cancel"}), 1);
    EXPECT_EQ(controller->runModalRollerExchangeAlert(200000, false, false), 0); // answers used up
    const auto session = controller->beginScanPanelModalSession();
    controller->endScanPanelModalSession(session);
    controller->setScanImage(ScanBitmap{2, 1, 8, 1, 2, {0, 255}}, 150, true);

    EXPECT_EQ(rec->calls, (std::vector<std::string>{
                              "setupMainUI YES",
                              "showMainWindow",
                              "isMainWindowVisible",
                              "updateScanPanel 65539",
                              "runModalContinueModeAlert 1 Double Feed Detect Message",
                              "runAlert 2 No Page Message / No Page Info [OK] [Cancel]",
                              "runModalRollerExchangeAlert 200000 NO NO",
                              "beginScanPanelModalSession",
                              "endScanPanelModalSession 1",
                              "setScanImage 150 YES",
                          }));
    EXPECT_EQ(kdf::find(rec->setupParam, kUIParamCapabilityObject)->pointer()->address, &pool);
    EXPECT_EQ(rec->lastImage.pixels, (std::vector<std::uint8_t>{0, 255}));

    rec->setupThrows = true;
    EXPECT_THROW(controller->setupMainUI({}, false), kdf::Exception);
}

TEST(UIController, NotificationsReachAnObserverInsideThePost) {
    RecordingUIController controller;
    auto& center = kdf::NotificationCenter::defaultCenter();
    std::vector<std::string> seen;
    std::vector<kdf::ObserverToken> tokens;
    for (const char* name : {kXferReadyNotification, kCloseRequestNotification, kCloseDSOkayNotification,
                             kDestroyImageRequestNotification}) {
        tokens.push_back(center.addObserver(
            name,
            [&](const kdf::Notification& n) {
                std::string entry(n.name());
                if (const kdf::Value* object = n.object()) {
                    if (const kdf::Dictionary* d = object->dictionary()) {
                        entry += " mode " + std::to_string(kdf::find(*d, kXferReadyScanModeKey)->toInteger().value_or(-1));
                        entry += " pending " +
                                 std::to_string(kdf::find(*d, kXferReadyPendingImageCountKey)->toInteger().value_or(-1));
                    } else if (auto b = object->toBool()) {
                        entry += *b ? " YES" : " NO";
                    }
                }
                seen.push_back(entry);
            },
            &controller));
    }
    controller.postXferReady(kScanModeComplete, 2);
    EXPECT_EQ(seen.size(), 1u); // delivered before the post returned
    controller.postXferReadyWithoutObject();
    controller.postCloseRequest(true);
    controller.postCloseDSOkay();
    controller.postDestroyImageRequest();
    // Another controller's posts are not ours.
    RecordingUIController other;
    other.postCloseDSOkay();
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "XferReadyNotification mode 3 pending 2",
                        "XferReadyNotification",
                        "CloseRequestNotification YES",
                        "CloseDSOkayNotification",
                        "DestroyImageRequestNotification",
                    }));
}

} // namespace
