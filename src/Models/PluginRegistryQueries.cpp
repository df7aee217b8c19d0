#include "PluginRegistryQueries.h"

#include <mutex>

PluginRegistryQueries::~PluginRegistryQueries() = default;

namespace {

std::mutex sQueriesLock;
std::shared_ptr<const PluginRegistryQueries> sQueries;

} // namespace

void PluginRegistryQueries::setCurrent(std::shared_ptr<const PluginRegistryQueries> queries) {
    std::lock_guard lock(sQueriesLock);
    sQueries = std::move(queries);
}

std::shared_ptr<const PluginRegistryQueries> PluginRegistryQueries::current() {
    std::lock_guard lock(sQueriesLock);
    return sQueries;
}

std::optional<kdf::Value> PluginRegistryQueries::valueForPluginIDWithType(std::string_view pluginID, int type) {
    if (type < kFirstStringType || type > kLastBoolType) return std::nullopt;
    auto q = current();
    if (!q) return std::nullopt;
    std::optional<kdf::Value> value = q->pluginValue(pluginID, type);
    if (!value) return std::nullopt;
    const auto wanted = type <= kLastStringType ? kdf::Value::Kind::String : kdf::Value::Kind::Boolean;
    if (value->kind() != wanted) return std::nullopt;
    return value;
}

int PluginRegistryQueries::indexOfPluginInfoListByPluginID(std::string_view pluginID) {
    auto q = current();
    if (!q) return -1;
    const int index = q->pluginIndex(pluginID);
    return index < 0 ? -1 : index;
}

bool PluginRegistryQueries::hasPluginObject(std::string_view pluginID) {
    auto q = current();
    return q && !pluginID.empty() && q->pluginObjectPresent(pluginID);
}

int PluginRegistryQueries::executeOperationWithID(std::string_view pluginID, std::string_view guid,
                                                  const std::vector<std::string>& fileList, bool fileDelete,
                                                  QWidget* parent) {
    auto q = current();
    if (!q || pluginID.empty()) return -1;
    return q->pluginExecuteOperation(pluginID, guid, fileList, fileDelete, parent);
}

int PluginRegistryQueries::copyID(std::string_view pluginID, std::string_view guid, std::string* newID) {
    std::string out;
    auto q = current();
    const bool present = q && !pluginID.empty() && q->pluginObjectPresent(pluginID);
    const int rc = present ? q->pluginCopyID(pluginID, guid, &out) : -1;
    if (newID) *newID = rc == 0 ? std::move(out) : std::string();
    return rc;
}

int PluginRegistryQueries::deleteID(std::string_view pluginID, std::string_view guid) {
    auto q = current();
    if (!q || pluginID.empty() || !q->pluginObjectPresent(pluginID)) return -1;
    return q->pluginDeleteID(pluginID, guid);
}

int PluginRegistryQueries::createID(std::string_view pluginID, std::string* newID) {
    std::string out;
    auto q = current();
    const bool present = q && !pluginID.empty() && q->pluginObjectPresent(pluginID);
    const int rc = present ? q->pluginCreateID(pluginID, &out) : -1;
    if (newID) *newID = rc == 0 ? std::move(out) : std::string();
    return rc;
}

void PluginRegistryQueries::switchIsValidInPluginInfoList(std::string_view pluginKey, bool isValid) {
    if (auto q = current()) q->pluginSwitchIsValid(pluginKey, isValid);
}

void PluginRegistryQueries::checkAllOutputModelByPlugin() {
    if (auto q = current()) q->pluginCheckAllOutputModels();
}

int PluginRegistryQueries::isSupportLinkButton(std::string_view pluginID, std::string_view guid, bool* enabled) {
    bool answer = false;
    auto q = current();
    const bool present = q && !pluginID.empty() && q->pluginObjectPresent(pluginID);
    const int rc = present ? q->pluginIsSupportLinkButton(pluginID, guid, &answer) : -1;
    if (enabled) *enabled = rc == 0 && answer;
    return rc;
}

int PluginRegistryQueries::copyLinkLable(std::string_view pluginID, std::string_view guid,
                                         std::optional<std::string>* label) {
    std::optional<std::string> answer;
    auto q = current();
    const bool present = q && !pluginID.empty() && q->pluginObjectPresent(pluginID);
    const int rc = present ? q->pluginCopyLinkLable(pluginID, guid, &answer) : -1;
    if (label) *label = rc == 0 ? std::move(answer) : std::nullopt;
    return rc;
}

void PluginRegistryQueries::setupPluginInfoList(AppModel* appModel) {
    if (auto q = current()) q->pluginSetupInfoList(appModel);
}

void PluginRegistryQueries::checkPluginAndSetup() {
    if (auto q = current()) q->pluginCheckAndSetup();
}

void PluginRegistryQueries::connectOrDisconnectForAllPlugin(bool isConnect) {
    if (auto q = current()) q->pluginConnectOrDisconnectAll(isConnect);
}

void PluginRegistryQueries::loadPlugins(std::string_view bundlePath) {
    if (auto q = current()) q->pluginsLoad(bundlePath);
}

void PluginRegistryQueries::disconnectAllPlugins() { connectOrDisconnectForAllPlugin(false); }

TvQLRPlugin2* PluginRegistryQueries::pluginObjectByID(std::string_view pluginID) {
    auto q = current();
    return q && !pluginID.empty() ? q->pluginObject(pluginID) : nullptr;
}

std::vector<std::string> PluginRegistryQueries::pluginIDList() {
    auto q = current();
    return q ? q->pluginIDs() : std::vector<std::string>();
}

std::optional<std::vector<std::string>> PluginRegistryQueries::supportedFileTypeList(std::string_view pluginID) {
    auto q = current();
    // Without a host no plug-in has an object, and such an ID keeps all four.
    std::optional<std::vector<std::string>> types =
        q ? q->pluginFileTypes(pluginID) : std::vector<std::string>{"pdf", "tiff", "jpg", "png"};
    if (types && types->empty()) return std::nullopt;
    return types;
}

std::optional<std::vector<int>> PluginRegistryQueries::supportedFileTypeValueList(std::string_view pluginID) {
    const auto types = supportedFileTypeList(pluginID);
    if (!types) return std::nullopt;
    return fileTypeValues(*types);
}

std::vector<int> PluginRegistryQueries::fileTypeValues(const std::vector<std::string>& types) {
    std::vector<int> values;
    values.reserve(types.size());
    for (const std::string& type : types) {
        if (type == "tiff")
            values.push_back(1);
        else if (type == "jpg")
            values.push_back(2);
        else if (type == "png")
            values.push_back(3);
        else
            values.push_back(0); // "pdf" and anything unknown
    }
    return values;
}

void PluginRegistryQueries::setupEditingPluginInfoList(const std::vector<std::shared_ptr<OutputModel>>& outputs) {
    if (auto q = current()) q->pluginsSetupEditing(outputs);
}

std::shared_ptr<OutputModel> PluginRegistryQueries::pluginDefData(const OutputModel& output,
                                                                  std::string_view pluginID) {
    auto q = current();
    return q ? q->pluginEditingModel(output, pluginID, false) : nullptr;
}

std::shared_ptr<OutputModel> PluginRegistryQueries::pluginModData(const OutputModel& output,
                                                                  std::string_view pluginID) {
    auto q = current();
    return q ? q->pluginEditingModel(output, pluginID, true) : nullptr;
}

void PluginRegistryQueries::clearExceptTargetFileFormatType(const std::vector<std::shared_ptr<OutputModel>>& outputs) {
    if (auto q = current()) q->pluginsClearOtherFormats(outputs);
}

void PluginRegistryQueries::deleteDisusedPluginID(const std::vector<std::shared_ptr<OutputModel>>& outputs) {
    if (auto q = current()) q->pluginsDeleteDisused(outputs);
}
