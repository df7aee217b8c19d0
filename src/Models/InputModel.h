// The scan-settings panel: title and icon (its whole model), the simple
// settings the application offers itself, and one full set of data-source
// settings per scanner product for driver-setting mode. It corrects its
// simple settings to what the current data source supports and answers the
// panel's display questions.
#pragma once

#include "PanelModel.h"
#include "ScannerDriverSettingModel.h"
#include "WholeModel.h"

#include <foundation/Value.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The name in a STR64 record image (byte 0 the count of UTF-16 units, the
// units from byte 1), as UTF-8; bounded by the bytes present and 32 units.
std::string nameFromStr64Image(const kdf::Bytes& image);

class InputModel : public PanelModel {
public:
    static constexpr const char* kIsSelectedKey = "Input_IsSelectedKey";
    static constexpr const char* kColorTypeKey = "Input_ScnStColorTypeKey";
    static constexpr const char* kPaperSizeTypeKey = "Input_ScnStPaperSizeTypeKey";
    static constexpr const char* kResolutionTypeKey = "Input_ScnStResolutionTypeKey";
    static constexpr const char* kReaderSideTypeKey = "Input_ScnStReaderSideTypeKey";
    static constexpr const char* kSkewTypeKey = "Input_ScnStSkewTypeKey";
    static constexpr const char* kIsRecCharDirKey = "Input_IsRecCharDirKey";
    static constexpr const char* kIsUseDriverSettingKey = "Input_IsUseDriverSettingKey";
    static constexpr const char* kDriverSettingDictKey = "Input_DriverSettingDictKey";

    using DriverSettings = std::map<std::string, std::shared_ptr<ScannerDriverSettingModel>>;

    // The defaults (one driver entry for the current product), corrected.
    InputModel();
    // The defaults, then the stored values of the dictionary (null: the
    // standard user defaults), then the corrections. Values of the wrong
    // kind keep their defaults; driver entries that are not dictionaries
    // are skipped.
    explicit InputModel(const kdf::Dictionary* dict);

    // Anything that is not an array gives an empty list; elements that are
    // not dictionaries are skipped.
    static std::vector<std::shared_ptr<InputModel>> modelListFromDictList(const kdf::Value* list);
    static kdf::Array dictListFromModelList(const std::vector<std::shared_ptr<InputModel>>& models);

    // Writes the panel's keys and its whole model's (null: the defaults).
    void saveInputModel(kdf::Dictionary* dict) const;

    std::shared_ptr<PanelModel> clone() const override;
    std::shared_ptr<InputModel> copy() const;

    // The corrections, then a new driver entry for the product when it has
    // none (nothing for no name).
    void checkCreateDriverData(const std::optional<std::string>& productName) const;
    // The current product's driver settings, created on first use.
    std::shared_ptr<ScannerDriverSettingModel> currentDriverData() const;
    // A snapshot of the driver entries.
    DriverSettings scannerSettingDict() const;

    std::shared_ptr<WholeModel> wholeModel() const override { return wholeModel_; }
    std::shared_ptr<WholeModel> input_WholeModel() const { return wholeModel_; }
    void setInput_WholeModel(std::shared_ptr<WholeModel> m) { wholeModel_ = m ? std::move(m) : std::make_shared<WholeModel>(); }

    int scnStColorType() const { return scnStColorType_; }
    void setScnStColorType(int v) { scnStColorType_ = v; }
    int scnStPaperSizeType() const { return scnStPaperSizeType_; }
    void setScnStPaperSizeType(int v) { scnStPaperSizeType_ = v; }
    int scnStResolutionType() const { return scnStResolutionType_; }
    void setScnStResolutionType(int v) { scnStResolutionType_ = v; }
    int scnStReaderSideType() const { return scnStReaderSideType_; }
    void setScnStReaderSideType(int v) { scnStReaderSideType_ = v; }
    int scnStSkewType() const { return scnStSkewType_; }
    void setScnStSkewType(int v) { scnStSkewType_ = v; }
    bool isRecCharDir() const { return isRecCharDir_; }
    void setIsRecCharDir(bool v) { isRecCharDir_ = v; }
    bool isUseDriverSetting() const { return isUseDriverSetting_; }
    void setIsUseDriverSetting(bool v) { isUseDriverSetting_ = v; }

    // The full settings of the product current at the moment of the call.
#define X(getter, setter, cap, back, item, kind, key, def)                                                  \
    DriverValueType<DriverValueKind::kind> getter() const { return currentDriverData()->getter(); }      \
    void setter(DriverValueType<DriverValueKind::kind> v) { currentDriverData()->setter(std::move(v)); }
#include "ScannerDriverValues.def"
#undef X

    // What a scan with this panel does, in the simple terms of the panel.
    int currentColorMode() const;  // 0..7
    int currentPaperSize() const;  // 0..12 (12 a custom size)
    int currentResolution() const; // dpi, -1 automatic
    int currentReaderSide() const; // 0..3

    // Localised texts; empty when a setting has no text.
    std::string dispColorMode() const;
    std::string dispPaperSize() const;
    std::string dispResolution() const;
    std::string dispReaderSide() const;
    // Images; null when there is none.
    QlrUtilsMethod::ImageRef dispIcon() const override;
    QlrUtilsMethod::ImageRef dispReaderSideIcon() const;
    QlrUtilsMethod::ImageRef dispDeskewIcon() const;
    QlrUtilsMethod::ImageRef dispRecognizeDirectionIcon() const;
    // The panel icon's name for a colour mode and resolution; empty for a
    // mode without one.
    static std::string panelIconName(int colorMode, int resolution);

private:
    // Run from getters too (every use of the current driver settings), so the
    // simple values it corrects are mutable.
    void applySupportCorrections() const;

    std::shared_ptr<WholeModel> wholeModel_ = std::make_shared<WholeModel>();
    mutable int scnStColorType_ = 1;
    mutable int scnStPaperSizeType_ = 0;
    mutable int scnStResolutionType_ = 1;
    mutable int scnStReaderSideType_ = 0;
    mutable int scnStSkewType_ = 1;
    bool isRecCharDir_ = false;
    bool isUseDriverSetting_ = false;
    // Grows from getters too (a new product's entry), so it has its own lock.
    mutable std::mutex driverLock_;
    mutable DriverSettings scannerSettingDict_;
};
