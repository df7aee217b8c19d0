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
