// The printer destination's answers to the principal: PNG only, no file
// name or type settings, no rename or common-settings window.
#include "PrinterController.h"

const kdkit::DestinationClass& kdkit::destinationClass() {
    static const DestinationClass destination = [] {
        DestinationClass d;
        d.isRenameWindow = false;
        d.isShowCommonSettingButton = false;
        d.isShowSettingSummary = true;
        d.isShowFileNameSetting = false;
        d.isShowFileTypeSetting = false;
        d.supportedFileTypeList = {"png"};
        d.setupData = &sendvia_printer::TvSendviaPrinterPluginWindowController::setupData;
        d.create = [](const UserRef& user) -> std::unique_ptr<DestinationController> {
            // The controller works on one user's dictionary; none, none made.
            if (!user) return nullptr;
            return std::make_unique<sendvia_printer::TvSendviaPrinterPluginWindowController>(user);
        };
        return d;
    }();
    return destination;
}
