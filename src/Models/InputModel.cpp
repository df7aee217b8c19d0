#include "InputModel.h"

#include "AppControllerServices.h"
#include "DeviceTables.h"
#include "SettingsIO.h"

#include <foundation/Bundle.h>
#include <foundation/Format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

constexpr std::array<const char*, 8> kColorTextsSimple = {
    "Color_ColBWDetector", "Color_Color", "Color_Color_Photo", "Color_Gray", "Color_Gray_Photo", "Color_BW", "", ""};
constexpr std::array<const char*, 8> kColorTextsDriver = {
    "Color_DrvColBWDetector", "Color_DrvColor", "Color_DrvColor", "Color_DrvGray",
    "Color_DrvGray",          "Color_DrvBW",    "Color_DrvED",    "Color_DrvATE2"};
constexpr std::array<const char*, 12> kPaperTexts = {
    "PaperSize_Auto", "PaperSize_A4",     "PaperSize_A5",  "PaperSize_A6",  "PaperSize_B5",  "PaperSize_B6",
    "PaperSize_Legal", "PaperSize_Letter", "PaperSize_A5R", "PaperSize_A6R", "PaperSize_B6R", "PaperSize_MAX"};
struct ResolutionText {
    const char* key;
    int dpi;
};
constexpr ResolutionText kResolutionTexts[] = {{"Resolution_Auto", -1}, {"Resolution_150", 150},
                                               {"Resolution_200", 200}, {"Resolution_300", 300},
                                               {"Resolution_400", 400}, {"Resolution_600", 600}};
constexpr std::array<const char*, 4> kReaderSideTexts = {"ReadPage_Skip", "ReadPage_One", "ReadPage_Both",
                                                         "ReadPage_Folio"};
constexpr std::array<const char*, 4> kReaderSideIcons = {"panel_blankskip.png", "panel_simplex.png",
                                                         "panel_duplex.png", "panel_folio.png"};
// Panel icon letter by colour mode 0..7.
constexpr std::array<char, 8> kIconLetters = {'A', 'C', 'C', 'G', 'G', 'B', 'B', 'B'};
// Simple resolution type 0..4 to dpi.
constexpr std::array<int, 5> kResolutionDpi = {-1, 200, 300, 400, 600};
// The data source's paper code -2..9 to the panel's paper size.
constexpr std::array<int, 12> kPaperFromCode = {12, 11, 1, 2, 8, 3, 9, 4, 5, 10, 6, 7};
constexpr int kCustomPaperSize = 12;

template <std::size_t N> const char* entryAt(const std::array<const char*, N>& table, int index) {
    return index >= 0 && std::size_t(index) < N ? table[std::size_t(index)] : nullptr;
}

std::string localized(const char* key) {
    if (!key || !*key) return {};
    return kdf::Bundle::main()->localizedString(key);
}

QlrUtilsMethod::ImageRef bundleImage(const char* name) {
    if (!name) return nullptr;
    auto provider = QlrUtilsMethod::imageProvider();
    return provider ? provider->bundleImage(name) : nullptr;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace

// The name of a STR64 record image: byte 0 counts the UTF-16 units (host
// order) that follow from byte 1. The count is bounded by the bytes present
// and by the 32 units a record holds; a broken surrogate becomes U+FFFD.
std::string nameFromStr64Image(const kdf::Bytes& image) {
    if (image.empty()) return {};
    const std::size_t units = std::min({std::size_t(image[0]), kStr64MaxUnits, (image.size() - 1) / 2});
    std::u16string s(units, u'\0');
    if (units) std::memcpy(s.data(), image.data() + 1, units * 2);
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

InputModel::InputModel() {
    scannerSettingDict_.emplace(AppControllerServices::curDS_ProductName(), std::make_shared<ScannerDriverSettingModel>());
    applySupportCorrections();
}

InputModel::InputModel(const kdf::Dictionary* dict) : InputModel() {
    SettingsReader in(dict);
    bool selected = false;
    if (in.readBool(kIsSelectedKey, selected)) setIsSelected(selected);
    wholeModel_ = std::make_shared<WholeModel>(dict);
    in.readInt(kColorTypeKey, scnStColorType_);
    in.readInt(kPaperSizeTypeKey, scnStPaperSizeType_);
    in.readInt(kResolutionTypeKey, scnStResolutionType_);
    in.readInt(kReaderSideTypeKey, scnStReaderSideType_);
    in.readInt(kSkewTypeKey, scnStSkewType_);
    in.readBool(kIsRecCharDirKey, isRecCharDir_);
    in.readBool(kIsUseDriverSettingKey, isUseDriverSetting_);
    if (std::optional<kdf::Value> drivers = in.object(kDriverSettingDictKey)) {
        if (const kdf::Dictionary* products = drivers->dictionary()) {
            std::lock_guard lock(driverLock_);
            for (const auto& [product, entry] : *products) {
                const kdf::Dictionary* values = entry.dictionary();
                if (!values) continue;
                scannerSettingDict_[product] = std::make_shared<ScannerDriverSettingModel>(values, product);
            }
        }
    }
    applySupportCorrections();
}

std::vector<std::shared_ptr<InputModel>> InputModel::modelListFromDictList(const kdf::Value* list) {
    std::vector<std::shared_ptr<InputModel>> models;
    const kdf::Array* items = list ? list->array() : nullptr;
    if (!items) return models;
    for (const kdf::Value& item : *items)
        if (const kdf::Dictionary* d = item.dictionary()) models.push_back(std::make_shared<InputModel>(d));
    return models;
}

kdf::Array InputModel::dictListFromModelList(const std::vector<std::shared_ptr<InputModel>>& models) {
    kdf::Array list;
    for (const auto& model : models) {
        if (!model) continue;
        kdf::Dictionary d;
        model->saveInputModel(&d);
        list.emplace_back(std::move(d));
    }
    return list;
}

void InputModel::saveInputModel(kdf::Dictionary* dict) const {
    SettingsWriter out(dict);
    out.set(kIsSelectedKey, kdf::Value(isSelected()));
    wholeModel_->saveWholeModel(dict);
    out.set(kColorTypeKey, kdf::Value(scnStColorType_));
    out.set(kPaperSizeTypeKey, kdf::Value(scnStPaperSizeType_));
    out.set(kResolutionTypeKey, kdf::Value(scnStResolutionType_));
    out.set(kReaderSideTypeKey, kdf::Value(scnStReaderSideType_));
    out.set(kSkewTypeKey, kdf::Value(scnStSkewType_));
    out.set(kIsRecCharDirKey, kdf::Value(isRecCharDir_));
    out.set(kIsUseDriverSettingKey, kdf::Value(isUseDriverSetting_));
    kdf::Dictionary drivers;
    for (const auto& [product, model] : scannerSettingDict()) {
        kdf::Dictionary values;
        model->saveInputModel(&values);
        drivers.emplace(product, std::move(values));
    }
    out.set(kDriverSettingDictKey, kdf::Value(std::move(drivers)));
}

std::shared_ptr<PanelModel> InputModel::clone() const { return copy(); }

std::shared_ptr<InputModel> InputModel::copy() const {
    auto c = std::make_shared<InputModel>();
    c->wholeModel_ = wholeModel_->clone();
    c->scnStColorType_ = scnStColorType_;
    c->scnStPaperSizeType_ = scnStPaperSizeType_;
    c->scnStResolutionType_ = scnStResolutionType_;
    c->scnStReaderSideType_ = scnStReaderSideType_;
    c->scnStSkewType_ = scnStSkewType_;
    c->isRecCharDir_ = isRecCharDir_;
    c->isUseDriverSetting_ = isUseDriverSetting_;
    DriverSettings drivers;
    for (const auto& [product, model] : scannerSettingDict()) drivers.emplace(product, model->clone());
    std::lock_guard lock(c->driverLock_);
    c->scannerSettingDict_ = std::move(drivers);
    return c;
}

void InputModel::applySupportCorrections() const {
    if (!AppControllerServices::isSupportedCAPOnDevice(kCapPhotoMode)) {
        if (scnStColorType_ == 2) scnStColorType_ = 1;
        if (scnStColorType_ == 4) scnStColorType_ = 3;
    }
    if (!AppControllerServices::isSupportedScanSide()) scnStReaderSideType_ = 1;
    if (AppControllerServices::curDS_IsAPDS()) {
        if (scnStColorType_ == 0) scnStColorType_ = 1;
        if (scnStPaperSizeType_ >= 3 && scnStPaperSizeType_ <= 5) scnStPaperSizeType_ = 0;
        if (scnStResolutionType_ == 0) scnStResolutionType_ = 1;
        scnStSkewType_ = 0;
    }
}

void InputModel::checkCreateDriverData(const std::optional<std::string>& productName) const {
    applySupportCorrections();
    if (!productName) return;
    std::lock_guard lock(driverLock_);
    if (!scannerSettingDict_.count(*productName))
        scannerSettingDict_.emplace(*productName, std::make_shared<ScannerDriverSettingModel>());
}

std::shared_ptr<ScannerDriverSettingModel> InputModel::currentDriverData() const {
    const std::string product = AppControllerServices::curDS_ProductName();
    checkCreateDriverData(product);
    std::lock_guard lock(driverLock_);
    return scannerSettingDict_.at(product);
}

InputModel::DriverSettings InputModel::scannerSettingDict() const {
    std::lock_guard lock(driverLock_);
    return scannerSettingDict_;
}

int InputModel::currentColorMode() const {
    if (!isUseDriverSetting_) return scnStColorType_;
    auto d = currentDriverData();
    if (d->ccap_TVK_DETECTPAGETYPE() != 0) return 0;
    const bool photo = d->ccap_TVK_PHOTOMODE() == 1;
    switch (d->icap_PIXELTYPE()) {
    case 2: return photo ? 2 : 1;
    case 1: return photo ? 4 : 3;
    case 0: {
        if (d->ccap_TVK_TEXTENHANCE() != 0) return 7;
        static constexpr std::string_view kErrorDiffusion = "Error Diffusion";
        DriverData halftone = d->icap_HALFTONES();
        if (halftone && std::string_view(reinterpret_cast<const char*>(halftone->data()), halftone->size()) ==
                            kErrorDiffusion)
            return 6;
        return 5;
    }
    default: return scnStColorType_;
    }
}

int InputModel::currentPaperSize() const {
    if (!isUseDriverSetting_) return scnStPaperSizeType_;
    auto d = currentDriverData();
    if (d->ccap_TVK_DETECTPAGESIZE() != 0) return 0;
    const std::int32_t code = d->ccap_TVKM_PAPERSIZE();
    if (code >= -2 && code <= 9) return kPaperFromCode[std::size_t(code + 2)];
    return scnStPaperSizeType_;
}

int InputModel::currentResolution() const {
    if (!isUseDriverSetting_) {
        const int t = scnStResolutionType_;
        return t >= 0 && std::size_t(t) < kResolutionDpi.size() ? kResolutionDpi[std::size_t(t)] : -1;
    }
    auto d = currentDriverData();
    if (d->ccap_TVK_AUTORESOLUTION() != 0) return -1;
    // A stored resolution that no integer holds means nothing usable:
    // automatic, rather than an undefined conversion.
    const float x = d->icap_XRESOLUTION();
    if (!std::isfinite(x) || x <= -2147483648.0f || x >= 2147483648.0f) return -1;
    return int(x);
}

int InputModel::currentReaderSide() const {
    if (!isUseDriverSetting_) return scnStReaderSideType_;
    auto d = currentDriverData();
    if (d->ccap_TVK_BLANKSKIP() != 0) return 0;
    if (d->ccap_TVK_FOLDLARGESIZE() != 0) return 3;
    if (d->cap_DUPLEXENABLED() != 0) return 2;
    return 1;
}

std::string InputModel::dispColorMode() const {
    const int mode = currentColorMode();
    return localized(entryAt(isUseDriverSetting_ ? kColorTextsDriver : kColorTextsSimple, mode));
}

std::string InputModel::dispPaperSize() const {
    const int size = currentPaperSize();
    if (size == kCustomPaperSize) {
        DriverData name = currentDriverData()->ccap_TVKM_CUSTOMPAGESIZENAME();
        return name ? nameFromStr64Image(*name) : std::string();
    }
    return localized(entryAt(kPaperTexts, size));
}

std::string InputModel::dispResolution() const {
    const int dpi = currentResolution();
    if (isUseDriverSetting_) {
        if (dpi == -1) return localized("Resolution_DrvAuto");
        return kdf::formatLocalized(localized("Resolution_DrvUnit"), {std::int64_t(dpi)});
    }
    for (const ResolutionText& r : kResolutionTexts)
        if (r.dpi == dpi) return localized(r.key);
    return {};
}

std::string InputModel::dispReaderSide() const { return localized(entryAt(kReaderSideTexts, currentReaderSide())); }

QlrUtilsMethod::ImageRef InputModel::dispReaderSideIcon() const {
    return bundleImage(entryAt(kReaderSideIcons, currentReaderSide()));
}

std::string InputModel::panelIconName(int colorMode, int resolution) {
    if (colorMode < 0 || std::size_t(colorMode) >= kIconLetters.size()) return {};
    const char* band = resolution >= 400 || resolution == -1 ? "600" : resolution >= 200 ? "300" : "150";
    return std::string("icn_") + kIconLetters[std::size_t(colorMode)] + band + ".icns";
}

QlrUtilsMethod::ImageRef InputModel::dispIcon() const {
    std::string path = wholeModel_->useAlternateIcon() ? wholeModel_->alternateIconPath() : wholeModel_->iconPath();
    if (path.empty()) path = panelIconName(currentColorMode(), currentResolution());
    return WholeModel::iconImageWithPath(path);
}

QlrUtilsMethod::ImageRef InputModel::dispDeskewIcon() const {
    const bool on = isUseDriverSetting_ ? currentDriverData()->ccap_TVK_DESKEW() != 0 : scnStSkewType_ != 0;
    return on ? bundleImage("panel_deskew.png") : nullptr;
}

QlrUtilsMethod::ImageRef InputModel::dispRecognizeDirectionIcon() const {
    const bool on = isUseDriverSetting_ ? currentDriverData()->ccap_TVK_RECOGNIZE_DIRECTION() != 0 : isRecCharDir_;
    return on ? bundleImage("panel_textdir.png") : nullptr;
}
