// The title, icons and use count every input, output and job panel carries,
// stored flat among the panel's own keys.
#pragma once

#include "ImageProvider.h"

#include <foundation/Value.h>

#include <memory>
#include <string>

class WholeModel {
public:
    static constexpr const char* kIconPathKey = "Whole_IconPathKey";
    static constexpr const char* kAlternateIconPathKey = "Whole_AlternateIconPathKey";
    static constexpr const char* kUseAlternateIconKey = "Whole_UseAlternateIconKey";
    static constexpr const char* kTitleKey = "Whole_TitleKey";
    static constexpr const char* kPanelUseCountKey = "Whole_PanelUseCountKey";

    WholeModel() = default;
    // The initial values, then every key present in the dictionary (null:
    // the standard user defaults) with a value of the right kind.
    explicit WholeModel(const kdf::Dictionary* dict);
    // Writes all five keys into the dictionary (null: the user defaults).
    void saveWholeModel(kdf::Dictionary* dict) const;
    // A copy whose use count starts again at 0.
    std::shared_ptr<WholeModel> clone() const;

    // The bundle image of that name, else the image file at that path, else
    // that file's icon; null when none of them exists.
    static QlrUtilsMethod::ImageRef iconImageWithPath(const std::string& path);

    const std::string& iconPath() const { return iconPath_; }
    void setIconPath(std::string v) { iconPath_ = std::move(v); }
    const std::string& alternateIconPath() const { return alternateIconPath_; }
    void setAlternateIconPath(std::string v) { alternateIconPath_ = std::move(v); }
    bool useAlternateIcon() const { return useAlternateIcon_; }
    void setUseAlternateIcon(bool v) { useAlternateIcon_ = v; }
    const std::string& title() const { return title_; }
    void setTitle(std::string v) { title_ = std::move(v); }
    int panelUseCount() const { return panelUseCount_; }
    void setPanelUseCount(int v) { panelUseCount_ = v; }

private:
    std::string iconPath_;
    std::string alternateIconPath_;
    bool useAlternateIcon_ = false;
    std::string title_;
    int panelUseCount_ = 0;
};
