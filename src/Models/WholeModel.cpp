#include "WholeModel.h"

#include "QlrUtilsMethod.h"
#include "SettingsIO.h"

WholeModel::WholeModel(const kdf::Dictionary* dict) {
    SettingsReader in(dict);
    in.readString(kIconPathKey, iconPath_);
    in.readString(kAlternateIconPathKey, alternateIconPath_);
    in.readBool(kUseAlternateIconKey, useAlternateIcon_);
    in.readString(kTitleKey, title_);
    in.readInt(kPanelUseCountKey, panelUseCount_);
}

void WholeModel::saveWholeModel(kdf::Dictionary* dict) const {
    SettingsWriter out(dict);
    out.set(kIconPathKey, kdf::Value(iconPath_));
    out.set(kAlternateIconPathKey, kdf::Value(alternateIconPath_));
    out.set(kUseAlternateIconKey, kdf::Value(useAlternateIcon_));
    out.set(kTitleKey, kdf::Value(title_));
    out.set(kPanelUseCountKey, kdf::Value(panelUseCount_));
}

std::shared_ptr<WholeModel> WholeModel::clone() const {
    auto copy = std::make_shared<WholeModel>(*this);
    copy->panelUseCount_ = 0;
    return copy;
}

QlrUtilsMethod::ImageRef WholeModel::iconImageWithPath(const std::string& path) {
    std::shared_ptr<QlrUtilsMethod::ImageProvider> provider = QlrUtilsMethod::imageProvider();
    if (!provider || path.empty()) return nullptr;
    if (auto image = provider->bundleImage(path)) return image;
    if (auto image = provider->imageFromFile(path)) return image;
    return QlrUtilsMethod::fileIcnImage(path);
}
