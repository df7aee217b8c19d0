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

void PluginRegistryQueries::setupPluginInfoList(AppModel* appModel) {
    if (auto q = current()) q->pluginSetupInfoList(appModel);
}

void PluginRegistryQueries::checkPluginAndSetup() {
    if (auto q = current()) q->pluginCheckAndSetup();
}

void PluginRegistryQueries::connectOrDisconnectForAllPlugin(bool isConnect) {
    if (auto q = current()) q->pluginConnectOrDisconnectAll(isConnect);
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
