// The printer destination's controller: its print settings in the print
// panel with the page-layout accessory, and the print run of the written
// PNG files, one page per file, through the kit's rendering view.
#pragma once

#include "AccessoryViewController.h"
#include "PluginKit.h"
#include "PrintInfo.h"
#include "RenderingView.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sendvia_printer {

// The destination's keys in the user's dictionary.
inline constexpr const char* kPrintInfoDictKey = "AppUser.PrintInfoDict";
inline constexpr const char* kPrintLayoutTypeKey = "AppUser.PrintLayoutType";

// The largest page image read (decoded bytes); a larger one is no image.
inline constexpr std::int64_t kMaxPageImageBytes = 256LL * 1024 * 1024;

// The stored print settings; none when absent or unusable.
std::optional<PrintInfo> storedPrintInfo(const kdf::Dictionary& user);
// The page layout: 1 (fit) unless the stored value is 0 (actual size).
int storedLayoutType(const kdf::Dictionary& user);

class TvSendviaPrinterPluginWindowController final : public kdkit::DestinationController,
                                                      public kdkit::RenderingViewDelegate {
public:
    // The user's dictionary; the print run of a controller without one
    // fails as the principal's missing user does.
    explicit TvSendviaPrinterPluginWindowController(kdkit::UserRef user);
    ~TvSendviaPrinterPluginWindowController() override;

    // A new user's settings: the default printer with its default paper
    // (none when there is no printer) and the layout "fit to the paper".
    static void setupData(kdf::Dictionary& user);

    int runModal(QWidget* parentWindow, bool isCheckInstall) override;
    int runModalPrefs(QWidget*) override { return 0; }
    void setRenameWindowState(bool) override {}
    bool getRenameWindowState() const override { return true; }
    std::optional<std::string> summaryString() override;
    std::int32_t executeOperation(const std::vector<std::string>& files, bool fileDelete,
                                  QWidget* parentWindow) override;
    bool isSupportLinkButton() override { return false; }
    std::optional<std::string> linkLable() override { return std::nullopt; }
    std::int32_t clickedLink() override;

    // The page's image from its file; null for an index past the list, a
    // missing file, or one that cannot be read within the size limit.
    QImage readPrintImage(int pageIndex) override;

    AccessoryView* accessoryView() const { return _PrintPanelAccessoryView.get(); }
    const std::vector<std::string>& printImageList() const { return mPrintImageList; }

private:
    void print(const std::vector<std::string>& files, QWidget* parentWindow);

    std::unique_ptr<AccessoryView> _PrintPanelAccessoryView;
    kdkit::UserRef mCurrentUser;
    std::vector<std::string> mPrintImageList;
};

} // namespace sendvia_printer
