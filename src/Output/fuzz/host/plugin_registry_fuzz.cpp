// The plug-in registry as the user defaults or a backup give it: any
// property list. The host reads it without plug-in objects behind it; no
// question may fail, no stored value may reach an object, and outputs end
// up naming registered, enabled plug-ins or none.
#include "AppMainCntlrPlugin.h"

#include <AppMainCntlr.h>
#include <AppModel.h>
#include <JobModel.h>
#include <OutputModel.h>
#include <QlrUtilsMethod.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static AppMainCntlr* cntlr = new AppMainCntlr;
    const auto value = QlrUtilsMethod::decodeDataToDict(kdf::Bytes(data, data + size));
    const kdf::Array* list = value ? value->array() : nullptr;
    if (!list) return 0;

    const kdf::Dictionary empty;
    auto model = std::make_shared<AppModel>(&empty);
    model->setPluginInfoList(*list);
    cntlr->setAppModel(model);
    qlr_output::PluginHost host(*cntlr);

    // Outputs naming every key found, and one unknown.
    std::vector<std::shared_ptr<OutputModel>> outputs;
    for (const kdf::Value& element : *list)
        if (const kdf::Dictionary* d = element.dictionary())
            for (const auto& [id, entry] : *d) {
                auto output = std::make_shared<OutputModel>();
                output->setPluginID(id);
                output->setPluginGUID("g");
                outputs.push_back(output);
            }
    outputs.push_back(std::make_shared<OutputModel>());
    model->setOutputModel_List(outputs);

    const int count = host.countOfPluginInfoList();
    for (int i = -1; i <= count; ++i) {
        if (host.pluginObjectAtIndex(i)) __builtin_trap();
        (void)host.pluginIDAtIndex(i);
    }
    for (const std::string& id : host.pluginIDList()) {
        if (host.indexOfPluginInfoListByPluginID(id) < 0 || host.pluginObjectByID(id))
            __builtin_trap();
        for (int type = -1; type <= 11; ++type)
            if (host.valueForPluginIDWithType(id, type)) __builtin_trap();
        if (host.supportedFileTypeValueList(id)->size() != 4) __builtin_trap();
        host.switchIsValidInPluginInfoList(id, !host.isValidPluginID(id));
    }
    host.checkAllOutputModelByPlugin();
    for (const auto& output : outputs) {
        const std::string id = output->pluginID();
        if (!id.empty() &&
            (host.indexOfPluginInfoListByPluginID(id) < 0 || !host.isValidPluginID(id)))
            __builtin_trap();
    }
    host.setupEditingPluginInfoList(outputs);
    host.clearExceptTargetFileFormatType(outputs);
    host.deleteDisusedPluginID(outputs);
    cntlr->setAppModel(nullptr);
    return 0;
}
