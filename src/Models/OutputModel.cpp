#include "OutputModel.h"

#include "QlrUtilsMethod.h"
#include "ModelLists.h"
#include "SettingsIO.h"

#include <foundation/Bundle.h>
#include <foundation/UserFolders.h>

#include <array>
#include <type_traits>

namespace {

struct FormatEntry {
    const char* nameKey;
    const char* image;
};
constexpr std::array<FormatEntry, 4> kFormats = {{{"FileFormat_PDF", "panel_pdf.png"},
                                                  {"FileFormat_TIFF", "panel_tiff.png"},
                                                  {"FileFormat_JPEG", "panel_jpeg.png"},
                                                  {"FileFormat_PNG", "panel_png.png"}}};

const FormatEntry* formatAt(int type) {
    return type >= 0 && std::size_t(type) < kFormats.size() ? &kFormats[std::size_t(type)] : nullptr;
}

struct LanguageDefault {
    const char* language;
    int type;
};
// The first language that matches wins.
constexpr LanguageDefault kOCRLanguages[] = {{"ja", 0},  {"en", 2},      {"es", 3},      {"fr", 4}, {"de", 5},
                                             {"it", 6},  {"nl", 7},      {"ko", 2},      {"zh-Hans", 8},
                                             {"zh-Hant", 9}, {"pt", 10}, {"ru", 11},     {"tr", 12}};
constexpr int kOCRLangEnglish = 2;

} // namespace

template <class Visit> void OutputModel::forEachNumber(Visit&& visit) {
    visit(kIsUseFNSettingKey, &OutputModel::isUseFNSetting_);
    visit(kIsAddDateTimeKey, &OutputModel::isAddDateTime_);
    visit(kDateTimeTypeKey, &OutputModel::dateTimeType_);
    visit(kIsAddNumberKey, &OutputModel::isAddNumber_);
    visit(kDigitTypeKey, &OutputModel::digitType_);
    visit(kStartNumKey, &OutputModel::startNum_);
    visit(kFileFormatTypeKey, &OutputModel::fileFormatType_);
    visit(kFileOp_MultiType_PDFKey, &OutputModel::fileOp_MultiType_PDF_);
    visit(kMultiPageNum_PDFKey, &OutputModel::multiPageNum_PDF_);
    visit(kIsPDFAKey, &OutputModel::isPDFA_);
    visit(kFileOp_CompTypeKey, &OutputModel::fileOp_CompType_);
    visit(kCompRate_PDFKey, &OutputModel::compRate_PDF_);
    visit(kIsAddOCRKey, &OutputModel::isAddOCR_);
    visit(kFileOp_OCRLangTypeKey, &OutputModel::fileOp_OCRLangType_);
    visit(kFileOp_MultiType_TIFFKey, &OutputModel::fileOp_MultiType_TIFF_);
    visit(kMultiPageNum_TIFFKey, &OutputModel::multiPageNum_TIFF_);
    visit(kCompRate_JPEGKey, &OutputModel::compRate_JPEG_);
    visit(kSaveTypeKey, &OutputModel::saveType_);
}

OutputModel::OutputModel() : dateTimeType_(defaultDateTimeType()), fileOp_OCRLangType_(defaultOCRLangType()) {}

OutputModel::OutputModel(const kdf::Dictionary* dict) : OutputModel() {
    SettingsReader in(dict);
    bool selected = false;
    if (in.readBool(kIsSelectedKey, selected)) setIsSelected(selected);
    wholeModel_ = std::make_shared<WholeModel>(dict);
    in.readString(kPluginIDKey, pluginID_);
    in.readString(kPluginGUIDKey, pluginGUID_);
    in.readString(kFreeFileNameKey, freeFileName_);
    forEachNumber([&](const char* key, auto member) {
        if constexpr (std::is_same_v<decltype(member), bool OutputModel::*>)
            in.readBool(key, this->*member);
        else
            in.readInt(key, this->*member);
    });
    std::string path;
    if (in.readString(kFileSavePathKey, path)) fileSavePath_ = std::move(path);
}

std::vector<std::shared_ptr<OutputModel>> OutputModel::modelListFromDictList(const kdf::Value* list) {
    return modellists::fromDictList<OutputModel>(list);
}

kdf::Array OutputModel::dictListFromModelList(const std::vector<std::shared_ptr<OutputModel>>& models) {
    return modellists::toDictList(models, &OutputModel::saveOutputModel);
}

void OutputModel::saveOutputModel(kdf::Dictionary* dict) const {
    SettingsWriter out(dict);
    out.set(kIsSelectedKey, kdf::Value(isSelected()));
    output_WholeModel()->saveWholeModel(dict);
    out.set(kPluginIDKey, kdf::Value(pluginID()));
    out.set(kPluginGUIDKey, kdf::Value(pluginGUID()));
    out.set(kFreeFileNameKey, kdf::Value(freeFileName()));
    forEachNumber([&](const char* key, auto member) { out.set(key, kdf::Value(this->*member)); });
    if (auto path = storedFileSavePath()) out.set(kFileSavePathKey, kdf::Value(*path));
}

void OutputModel::copySettingsFrom(const OutputModel& src) {
    setPluginID(src.pluginID());
    setPluginGUID(src.pluginGUID());
    setFreeFileName(src.freeFileName());
    forEachNumber([&](const char*, auto member) { this->*member = src.*member; });
    setFileSavePath(src.storedFileSavePath());
}

std::shared_ptr<PanelModel> OutputModel::clone() const { return copy(); }

std::shared_ptr<OutputModel> OutputModel::copy() const {
    auto c = std::make_shared<OutputModel>();
    c->setOutput_WholeModel(output_WholeModel()->clone());
    c->copySettingsFrom(*this);
    return c;
}

void OutputModel::copydataOutputModel(const OutputModel* src, OutputModel* dst) {
    if (!src || !dst || src == dst) return;
    dst->copySettingsFrom(*src);
}

int OutputModel::defaultDateTimeType() {
    using QlrUtilsMethod::isEqualToLocaleStr;
    if (isEqualToLocaleStr("ja")) return 3;
    if (isEqualToLocaleStr("en")) return 1;
    if (isEqualToLocaleStr("zh-Hans") || isEqualToLocaleStr("zh-Hant") || isEqualToLocaleStr("ko")) return 0;
    return 2;
}

int OutputModel::defaultOCRLangType() {
    const std::optional<std::string> current = QlrUtilsMethod::currentLocaleStr();
    if (!current) return kOCRLangEnglish;
    for (const LanguageDefault& entry : kOCRLanguages)
        if (*current == entry.language) return entry.type;
    return kOCRLangEnglish;
}

bool OutputModel::isValidPlugin() const { return !pluginID().empty(); }

std::string OutputModel::dispFileFormatType() const {
    const FormatEntry* format = formatAt(fileFormatType_);
    return format ? kdf::Bundle::main()->localizedString(format->nameKey) : std::string();
}

QlrUtilsMethod::ImageRef OutputModel::dispFileFormatImage() const {
    const FormatEntry* format = formatAt(fileFormatType_);
    auto provider = QlrUtilsMethod::imageProvider();
    return format && provider ? provider->bundleImage(format->image) : nullptr;
}

QlrUtilsMethod::ImageRef OutputModel::dispIcon() const {
    auto whole = output_WholeModel();
    return WholeModel::iconImageWithPath(whole->useAlternateIcon() ? whole->alternateIconPath()
                                                                   : whole->iconPath());
}

std::shared_ptr<WholeModel> OutputModel::output_WholeModel() const {
    std::lock_guard lock(lock_);
    return wholeModel_;
}

void OutputModel::setOutput_WholeModel(std::shared_ptr<WholeModel> m) {
    std::lock_guard lock(lock_);
    wholeModel_ = m ? std::move(m) : std::make_shared<WholeModel>();
}

namespace {
template <class T> T lockedGet(std::mutex& m, const T& field) {
    std::lock_guard lock(m);
    return field;
}
template <class T> void lockedSet(std::mutex& m, T& field, T v) {
    std::lock_guard lock(m);
    field = std::move(v);
}
} // namespace

std::string OutputModel::pluginID() const { return lockedGet(lock_, pluginID_); }
void OutputModel::setPluginID(std::string v) { lockedSet(lock_, pluginID_, std::move(v)); }
std::string OutputModel::pluginGUID() const { return lockedGet(lock_, pluginGUID_); }
void OutputModel::setPluginGUID(std::string v) { lockedSet(lock_, pluginGUID_, std::move(v)); }
std::string OutputModel::freeFileName() const { return lockedGet(lock_, freeFileName_); }
void OutputModel::setFreeFileName(std::string v) { lockedSet(lock_, freeFileName_, std::move(v)); }
std::optional<std::string> OutputModel::storedFileSavePath() const { return lockedGet(lock_, fileSavePath_); }
void OutputModel::setFileSavePath(std::optional<std::string> v) { lockedSet(lock_, fileSavePath_, std::move(v)); }

std::optional<std::string> OutputModel::fileSavePath() const {
    std::optional<std::string> path = storedFileSavePath();
    if (!path || path->empty()) return std::nullopt;
    // Only the user's own home: "~name/..." is left as it stands.
    if (*path == "~" || path->starts_with("~/")) return kdf::homeFolder() + path->substr(1);
    return path;
}

std::optional<kdf::Array> OutputModel::tmpEditingPluginInfoList() const {
    return lockedGet(lock_, tmpEditingPluginInfoList_);
}
void OutputModel::setTmpEditingPluginInfoList(std::optional<kdf::Array> v) {
    lockedSet(lock_, tmpEditingPluginInfoList_, std::move(v));
}
std::optional<std::string> OutputModel::tmpDirForSendPlugin() const { return lockedGet(lock_, tmpDirForSendPlugin_); }
void OutputModel::setTmpDirForSendPlugin(std::optional<std::string> v) {
    lockedSet(lock_, tmpDirForSendPlugin_, std::move(v));
}
std::vector<std::string> OutputModel::writeFilePathArray() const { return lockedGet(lock_, writeFilePathArray_); }
void OutputModel::setWriteFilePathArray(std::vector<std::string> v) {
    lockedSet(lock_, writeFilePathArray_, std::move(v));
}
