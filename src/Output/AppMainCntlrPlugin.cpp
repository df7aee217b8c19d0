#include "AppMainCntlrPlugin.h"

#include <AppMainCntlr.h>
#include <AppModel.h>
#include <JobModel.h>
#include <OutputModel.h>
#include <QlrUtilsMethod.h>
#include <SettingPopUpButtons.h>
#include <TvButtons.h>

#include <foundation/PropertyList.h>
#include <foundation/UserDefaults.h>
#include <plugin/TvQLRPlugin.h>
#include <ui/ViewTag.h>

#include <QAction>
#include <QMenu>
#include <QPushButton>

#include <algorithm>
#include <iterator>

namespace qlr_output {

namespace {

constexpr const char* kFileTypes[] = {"pdf", "tiff", "jpg", "png"};

std::optional<std::string> optionalID(std::string_view id) {
    if (id.empty()) return std::nullopt;
    return std::string(id);
}

// A menu item's title as shown: "&&" stands for one ampersand.
QString shownTitle(const QAction* item) {
    QString title = item->text();
    title.replace(QLatin1String("&&"), QLatin1String("&"));
    return title;
}

// Whether one of the preset job's outputs hands its pages to the plug-in.
bool presetJobUsesPlugin(const kdf::Dictionary& job, std::string_view pluginID) {
    const kdf::Value* list = kdf::find(job, JobModel::kJobOutputModel_DictListKey);
    const kdf::Array* outputs = list ? list->array() : nullptr;
    if (!outputs) return false;
    return std::any_of(outputs->begin(), outputs->end(), [&](const kdf::Value& output) {
        const kdf::Dictionary* d = output.dictionary();
        const kdf::Value* id = d ? kdf::find(*d, OutputModel::kPluginIDKey) : nullptr;
        return id && id->string() && *id->string() == pluginID;
    });
}

} // namespace

PluginHostViews::~PluginHostViews() = default;

PluginHost::PluginHost(AppMainCntlr& cntlr) : cntlr_(cntlr) {}

PluginHost::~PluginHost() {
    // The registry may outlive the host: it keeps the flags, not our
    // addresses.
    if (auto model = cntlr_.appModel(); model && model->pluginInfoList()) {
        kdf::Array list = *model->pluginInfoList();
        bool changed = false;
        for (kdf::Value& element : list) {
            if (!AppModel::pluginInfoElement(element) ||
                !objectOfEntry(AppModel::pluginInfoElement(element)->second))
                continue;
            kdf::Dictionary* d = element.mutableDictionary();
            if (kdf::Dictionary* entry = d->begin()->second.mutableDictionary()) {
                entry->erase(AppModel::kPluginObjectKey);
                changed = true;
            }
        }
        if (changed) model->setPluginInfoList(std::move(list));
    }
    objects_.clear();
}

std::shared_ptr<PluginHost> PluginHost::install(AppMainCntlr& cntlr) {
    auto host = std::make_shared<PluginHost>(cntlr);
    PluginRegistryQueries::setCurrent(host);
    return host;
}

// ---- Registry access

const kdf::Array* PluginHost::registry() const {
    auto model = cntlr_.appModel();
    if (!model || !model->pluginInfoList()) return nullptr;
    // The model keeps the list; the host reads it in place on the main
    // thread, between the changes it makes itself.
    return &*model->pluginInfoList();
}

const kdf::Dictionary::value_type* PluginHost::elementAt(int index) const {
    const kdf::Array* list = registry();
    if (!list || index < 0 || std::size_t(index) >= list->size()) return nullptr;
    return AppModel::pluginInfoElement((*list)[std::size_t(index)]);
}

TvQLRPlugin2* PluginHost::objectOfEntry(const kdf::Value& entry) const {
    const kdf::Dictionary* d = entry.dictionary();
    const kdf::Value* value = d ? kdf::find(*d, AppModel::kPluginObjectKey) : nullptr;
    const kdf::Pointer* pointer = value ? value->pointer() : nullptr;
    if (!pointer || !pointer->address) return nullptr;
    for (const auto& object : objects_)
        if (object.get() == pointer->address) return object.get();
    return nullptr;
}

// ---- Loading

void PluginHost::setupPluginInfoList() {
    setupPluginInfoList(QlrUtilsMethod::installedPluginPath());
}

void PluginHost::setupPluginInfoList(const std::string& folder) {
    if (auto model = cntlr_.appModel()) setupPluginInfoList(*model, folder);
}

void PluginHost::setupPluginInfoList(AppModel& appModel, const std::string& folder) {
    AppModel* model = &appModel;
    if (!model->pluginInfoList()) return;
    // The registry from the defaults answers for the old flags meanwhile.
    const kdf::Array old = *model->pluginInfoList();
    const auto oldEntry = [&](const std::string& id) -> const kdf::Dictionary* {
        for (const kdf::Value& element : old)
            if (const auto* e = AppModel::pluginInfoElement(element); e && e->first == id)
                return e->second.dictionary();
        return nullptr;
    };
    kdf::Array fresh;
    for (const std::string& name : QlrUtilsMethod::pluginNameList(folder)) {
        auto bundle = kdf::Bundle::atPath(folder + "/" + name);
        if (!bundle || !bundle->load()) continue;
        std::unique_ptr<TvQLRPlugin2> object = bundle->principalClass().createAs<TvQLRPlugin2>();
        if (!object) continue;
        object->connect();

        kdf::Dictionary entry;
        const kdf::Dictionary* before = oldEntry(name);
        if (before && kdf::find(*before, AppModel::kPluginIsValidKey))
            entry = *before;
        else
            entry[AppModel::kPluginIsValidKey] = true;
        entry[AppModel::kPluginObjectKey] = kdf::Pointer{object.get()};
        fresh.emplace_back(kdf::Dictionary{{name, kdf::Value(std::move(entry))}});
        bundles_.push_back(std::move(bundle));
        objects_.push_back(std::move(object));
    }
    model->setPluginInfoList(std::move(fresh));
}

OutputTypePopUpButton* PluginHost::outputTypePopUp() const {
    QWidget* view = views_ ? views_->outputTypeView() : nullptr;
    return qobject_cast<OutputTypePopUpButton*>(kdui::viewWithTag(view, kOutputTypePopUpTag));
}

FileFormatPopUpButton* PluginHost::fileFormatPopUp() const {
    QWidget* view = views_ ? views_->fileFormatView() : nullptr;
    return qobject_cast<FileFormatPopUpButton*>(kdui::viewWithTag(view, kFileFormatPopUpTag));
}

QMenu* PluginHost::menuOfButton(int tag) const {
    QWidget* button = kdui::viewWithTag(views_ ? views_->mainView() : nullptr, tag);
    if (auto* menuButton = qobject_cast<TvMenuButton*>(button)) return menuButton->btnMenu();
    if (auto* pushButton = qobject_cast<QPushButton*>(button)) return pushButton->menu();
    return nullptr;
}

void PluginHost::checkPluginAndSetup() {
    const std::vector<std::string> ids = pluginIDList();
    if (OutputTypePopUpButton* popUp = outputTypePopUp()) popUp->remakeMenuList(ids);
    for (const std::string& id : ids) {
        switchIsValidInPluginInfoList(id, isValidPluginID(id));
        if (auto values = supportedFileTypeValueList(id))
            if (FileFormatPopUpButton* formats = fileFormatPopUp())
                formats->addOtherMenu(*values, QString::fromStdString(id));
    }
    checkAllOutputModelByPlugin();
}

// ---- Queries

std::optional<kdf::Dictionary>
PluginHost::pluginSubInfoWithPluginID(std::string_view pluginID) const {
    const kdf::Array* list = registry();
    if (!list) return std::nullopt;
    for (const kdf::Value& element : *list) {
        const kdf::Dictionary* d = element.dictionary();
        const kdf::Value* entry = d ? kdf::find(*d, pluginID) : nullptr;
        if (!entry) continue;
        if (const kdf::Dictionary* e = entry->dictionary()) return *e;
        return std::nullopt;
    }
    return std::nullopt;
}

std::vector<std::string> PluginHost::pluginIDList() const {
    std::vector<std::string> ids;
    for (int i = 0, n = countOfPluginInfoList(); i < n; ++i)
        if (const auto* element = elementAt(i)) ids.push_back(element->first);
    return ids;
}

int PluginHost::countOfPluginInfoList() const {
    const kdf::Array* list = registry();
    return list ? int(list->size()) : 0;
}

std::optional<std::string> PluginHost::pluginIDAtIndex(int index) const {
    const auto* element = elementAt(index);
    if (!element) return std::nullopt;
    return element->first;
}

TvQLRPlugin2* PluginHost::pluginObjectAtIndex(int index) const {
    const auto* element = elementAt(index);
    return element ? objectOfEntry(element->second) : nullptr;
}

int PluginHost::indexOfPluginInfoListByPluginID(std::string_view pluginID) const {
    const kdf::Array* list = registry();
    if (!list) return -1;
    for (std::size_t i = 0; i < list->size(); ++i) {
        const kdf::Dictionary* d = (*list)[i].dictionary();
        if (d && kdf::find(*d, pluginID)) return int(i);
    }
    return -1;
}

TvQLRPlugin2* PluginHost::pluginObjectByID(std::string_view pluginID) const {
    auto entry = pluginSubInfoWithPluginID(pluginID);
    return entry ? objectOfEntry(kdf::Value(std::move(*entry))) : nullptr;
}

bool PluginHost::isValidPluginID(std::string_view pluginID) const {
    auto entry = pluginSubInfoWithPluginID(pluginID);
    return AppModel::isValidPluginInfo(entry ? kdf::Value(std::move(*entry))
                                             : kdf::Value(kdf::Dictionary{}));
}

std::optional<kdf::Value> PluginHost::valueForPluginIDWithType(std::string_view pluginID,
                                                               int type) const {
    if (indexOfPluginInfoListByPluginID(pluginID) < 0) return std::nullopt;
    TvQLRPlugin2* p = pluginObjectByID(pluginID);
    if (!p) return std::nullopt;
    // Types 0 to 4 are texts, copied; 5 to 10 flags.
    std::optional<std::string> text;
    switch (type) {
    case 0: text = p->getName(); break;
    case 1: text = p->getTitle(); break;
    case 2: text = p->getDescription(); break;
    case 3: text = p->getVersion(); break;
    case 4: text = p->getIcon(); break;
    case 5: return kdf::Value(p->getShowSettingButton());
    case 6: return kdf::Value(p->getShowCommonSettingButton());
    case 7: return kdf::Value(p->getIsExecutable());
    case 8: return kdf::Value(p->getShowSettingSummary());
    case 9: return kdf::Value(p->getShowFileNameSetting());
    case 10: return kdf::Value(p->getShowFileTypeSetting());
    default: return std::nullopt;
    }
    if (!text) return std::nullopt;
    return kdf::Value(std::move(*text));
}

std::optional<std::vector<std::string>>
PluginHost::supportedFileTypeList(std::string_view pluginID) const {
    std::vector<std::string> types(std::begin(kFileTypes), std::end(kFileTypes));
    if (TvQLRPlugin2* p = pluginObjectByID(pluginID)) {
        for (std::size_t i = types.size(); i-- > 0;) {
            bool enabled = false;
            p->isSupportedFileType(types[i], &enabled);
            if (!enabled) types.erase(types.begin() + std::ptrdiff_t(i));
        }
    }
    if (types.empty()) return std::nullopt;
    return types;
}

std::optional<std::vector<int>>
PluginHost::supportedFileTypeValueList(std::string_view pluginID) const {
    const auto types = supportedFileTypeList(pluginID);
    if (!types) return std::nullopt;
    return fileTypeValues(*types);
}

// ---- Flags and outputs

void PluginHost::switchIsValidInPluginInfoList(std::string_view pluginID, bool isValid) {
    const int index = indexOfPluginInfoListByPluginID(pluginID);
    // The folder item carries -1: an unknown plug-in never touches it.
    if (index >= 0)
        if (OutputTypePopUpButton* popUp = outputTypePopUp(); popUp && popUp->popUpMenu())
            for (QAction* item : popUp->popUpMenu()->actions())
                if (kdui::tag(item) == index) item->setEnabled(isValid);

    if (QMenu* menu = menuOfButton(kNewOutputMenuButtonTag)) {
        const auto title = valueForPluginIDWithType(pluginID, PluginRegistryQueries::kTitleType);
        if (title && title->string()) {
            const QString text = QString::fromStdString(*title->string());
            for (QAction* item : menu->actions())
                if (!item->isSeparator() && shownTitle(item) == text) item->setEnabled(isValid);
        }
    }

    if (QMenu* menu = menuOfButton(kNewFavoriteMenuButtonTag)) {
        auto bundle = kdf::Bundle::main();
        const std::string path = bundle->pathForResource(AppModel::kPresetJobList, {});
        const std::optional<kdf::Value> presets =
            path.empty() ? std::nullopt : kdf::readPropertyListFile(path);
        const kdf::Array* jobs = presets ? presets->array() : nullptr;
        for (QAction* item : menu->actions()) {
            if (!jobs || item->isSeparator()) continue;
            const std::string itemTitle = shownTitle(item).toStdString();
            for (const kdf::Value& job : *jobs) {
                const kdf::Dictionary* d = job.dictionary();
                const kdf::Value* key = d ? kdf::find(*d, WholeModel::kTitleKey) : nullptr;
                if (!key || !key->string() || bundle->localizedString(*key->string()) != itemTitle)
                    continue;
                if (presetJobUsesPlugin(*d, pluginID)) item->setEnabled(isValid);
                break;
            }
        }
    }

    auto model = cntlr_.appModel();
    if (!model || !model->pluginInfoList() || index < 0) return;
    kdf::Array list = *model->pluginInfoList();
    kdf::Dictionary* d = list[std::size_t(index)].mutableDictionary();
    kdf::Value* entry = d ? &d->find(pluginID)->second : nullptr;
    if (!entry) return;
    kdf::Dictionary updated = entry->dictionary() ? *entry->dictionary() : kdf::Dictionary();
    updated[AppModel::kPluginIsValidKey] = isValid;
    *entry = kdf::Value(std::move(updated));
    model->setPluginInfoList(std::move(list));
}

std::vector<std::shared_ptr<OutputModel>> PluginHost::allOutputModels(bool withRunningJob) const {
    std::vector<std::shared_ptr<OutputModel>> outputs;
    auto model = cntlr_.appModel();
    if (model) {
        outputs = model->outputModel_List();
        for (const auto& job : model->jobModel_List())
            if (job)
                for (const auto& output : job->jobOutputModel_List()) outputs.push_back(output);
    }
    if (withRunningJob)
        if (auto copy = cntlr_.tmpCopyJobModel_Scan())
            for (const auto& output : copy->jobOutputModel_List()) outputs.push_back(output);
    std::erase(outputs, nullptr);
    return outputs;
}

void PluginHost::checkAllOutputModelByPlugin() {
    std::vector<std::string> disabled;
    for (const std::string& id : pluginIDList())
        if (!isValidPluginID(id)) disabled.push_back(id);
    // Such outputs save to a folder from now on; their plug-in user ID stays.
    for (const auto& output : allOutputModels(false)) {
        if (std::find(disabled.begin(), disabled.end(), output->pluginID()) != disabled.end())
            output->setPluginID("");
        const std::string id = output->pluginID();
        if (!id.empty() && indexOfPluginInfoListByPluginID(id) < 0) output->setPluginID("");
    }

    auto model = cntlr_.appModel();
    auto window = cntlr_.mainWindowPort();
    if (!model || !window) return;
    const auto panels = [](const auto& list) {
        return std::vector<std::shared_ptr<PanelModel>>(list.begin(), list.end());
    };
    window->createPanelImageWithList(panels(model->inputModel_List()),
                                     model->input_PanelSizeType());
    window->createPanelImageWithList(panels(model->outputModel_List()),
                                     model->output_PanelSizeType());
    window->createPanelImageWithList(panels(model->jobModel_List()), model->job_PanelSizeType());
    window->reloadPanelBrowser(kInputPanelType);
    window->reloadPanelBrowser(kOutputPanelType);
    window->reloadPanelBrowser(kJobPanelType);
}

// ---- Editing copies

std::int64_t PluginHost::keepEditingModel(std::shared_ptr<OutputModel> model) {
    const std::int64_t handle = nextEditingHandle_++;
    editingModels_.emplace(handle, std::move(model));
    return handle;
}

void PluginHost::releaseEditingCopy(const OutputModel& output) {
    const auto copy = output.tmpEditingPluginInfoList();
    if (!copy) return;
    for (const kdf::Value& element : *copy) {
        const auto* e = AppModel::pluginInfoElement(element);
        const kdf::Dictionary* d = e ? e->second.dictionary() : nullptr;
        if (!d) continue;
        for (const char* key : {kDefOutputModelKey, kModOutputModelKey})
            if (const kdf::Value* handle = kdf::find(*d, key))
                if (handle->is(kdf::Value::Kind::Integer))
                    editingModels_.erase(*handle->toInteger());
    }
}

void PluginHost::setupEditingPluginInfoList(
    const std::vector<std::shared_ptr<OutputModel>>& outputs) {
    for (const auto& output : outputs) {
        if (!output) continue;
        releaseEditingCopy(*output);
        kdf::Array copy;
        const auto addEntry = [&](const std::string& id, std::optional<int> format) {
            auto def = std::make_shared<OutputModel>();
            if (format) def->setFileFormatType(*format);
            auto mod = def->copy();
            kdf::Dictionary entry{
                {kDefOutputModelKey, kdf::Value(keepEditingModel(std::move(def)))},
                {kModOutputModelKey, kdf::Value(keepEditingModel(std::move(mod)))}};
            copy.emplace_back(kdf::Dictionary{{id, kdf::Value(std::move(entry))}});
        };
        addEntry(kFolderEntryID, std::nullopt);
        for (const std::string& id : pluginIDList()) {
            const auto values = supportedFileTypeValueList(id);
            addEntry(id, values ? std::optional<int>(values->front()) : std::nullopt);
        }
        output->setTmpEditingPluginInfoList(std::move(copy));
    }
}

std::shared_ptr<OutputModel> PluginHost::pluginDefData(const OutputModel& output,
                                                       std::string_view pluginID) const {
    return pluginEditingModel(output, pluginID, false);
}

std::shared_ptr<OutputModel> PluginHost::pluginModData(const OutputModel& output,
                                                       std::string_view pluginID) const {
    return pluginEditingModel(output, pluginID, true);
}

void PluginHost::clearExceptTargetFileFormatType(
    const std::vector<std::shared_ptr<OutputModel>>& outputs) const {
    for (const auto& output : outputs) {
        if (!output) continue;
        const std::string id = output->pluginID();
        auto def = pluginDefData(*output, id.empty() ? std::string(kFolderEntryID) : id);
        if (!def) continue;
        const int format = output->fileFormatType();
        if (format != OutputModel::kFormatPDF) {
            output->setFileOp_MultiType_PDF(def->fileOp_MultiType_PDF());
            output->setMultiPageNum_PDF(def->multiPageNum_PDF());
            output->setIsPDFA(def->isPDFA());
            output->setFileOp_CompType(def->fileOp_CompType());
            output->setCompRate_PDF(def->compRate_PDF());
            output->setIsAddOCR(def->isAddOCR());
            output->setFileOp_OCRLangType(def->fileOp_OCRLangType());
        }
        if (format != OutputModel::kFormatTIFF) {
            output->setFileOp_MultiType_TIFF(def->fileOp_MultiType_TIFF());
            output->setMultiPageNum_TIFF(def->multiPageNum_TIFF());
        }
        if (format != OutputModel::kFormatJPEG) output->setCompRate_JPEG(def->compRate_JPEG());
    }
}

void PluginHost::deleteDisusedPluginID(const std::vector<std::shared_ptr<OutputModel>>& outputs) {
    const auto all = allOutputModels(true);
    for (const auto& output : outputs) {
        if (!output) continue;
        const auto copy = output->tmpEditingPluginInfoList();
        for (const kdf::Value& element : copy ? *copy : kdf::Array()) {
            const auto* e = AppModel::pluginInfoElement(element);
            auto mod = e ? pluginModData(*output, e->first) : nullptr;
            if (!mod) continue;
            const std::string id = mod->pluginID();
            const std::string guid = mod->pluginGUID();
            if (id.empty() || guid.empty()) continue;
            const bool used = std::any_of(all.begin(), all.end(), [&](const auto& o) {
                return o->pluginID() == id && o->pluginGUID() == guid;
            });
            if (used) continue;
            if (TvQLRPlugin2* p = pluginObjectByID(id)) p->deleteID(guid);
        }
        releaseEditingCopy(*output);
        output->setTmpEditingPluginInfoList(std::nullopt);
    }
}

// ---- connect / disconnect and the backup

void PluginHost::connectOrDisconnectForAllPlugin(bool isConnect) const {
    for (int i = 0, n = countOfPluginInfoList(); i < n; ++i) {
        TvQLRPlugin2* p = pluginObjectAtIndex(i);
        if (!p) continue;
        if (isConnect)
            p->connect();
        else
            p->disconnect();
    }
}

std::optional<kdf::Bytes> PluginHost::pluginsData() const {
    if (!registry()) return std::nullopt;
    // Each writes its current settings and reads them back.
    connectOrDisconnectForAllPlugin(false);
    connectOrDisconnectForAllPlugin(true);
    return QlrUtilsMethod::encodeDictToData(
        kdf::UserDefaults::standard().object(kTvPluginsDefaultsKey));
}

void PluginHost::loadPluginsData(const std::optional<kdf::Bytes>& data) const {
    connectOrDisconnectForAllPlugin(false);
    if (std::optional<kdf::Value> plugins = QlrUtilsMethod::decodeDataToDict(data);
        plugins && plugins->dictionary()) {
        auto& defaults = kdf::UserDefaults::standard();
        defaults.set(kTvPluginsDefaultsKey, std::move(*plugins));
        defaults.synchronize();
    }
    connectOrDisconnectForAllPlugin(true);
    const_cast<PluginHost*>(this)->checkAllOutputModelByPlugin();
}

int PluginHost::showCommonSettingWithParentWindow(std::string_view pluginID,
                                                  QWidget* parent) const {
    TvQLRPlugin2* p = pluginObjectByID(pluginID);
    return p ? p->showCommonSettingWithParentWindow(parent) : -1;
}

// ---- PluginRegistryQueries

std::optional<kdf::Value> PluginHost::pluginValue(std::string_view pluginID, int type) const {
    return valueForPluginIDWithType(pluginID, type);
}

int PluginHost::pluginIndex(std::string_view pluginID) const {
    return indexOfPluginInfoListByPluginID(pluginID);
}

bool PluginHost::pluginObjectPresent(std::string_view pluginID) const {
    return pluginObjectByID(pluginID);
}

int PluginHost::pluginCopyID(std::string_view pluginID, std::string_view guid,
                             std::string* newID) const {
    TvQLRPlugin2* p = pluginObjectByID(pluginID);
    if (!p) return -1;
    std::optional<std::string> copied;
    const int rc = p->copyID(optionalID(guid), &copied);
    if (newID) *newID = copied.value_or("");
    return rc;
}

int PluginHost::pluginDeleteID(std::string_view pluginID, std::string_view guid) const {
    TvQLRPlugin2* p = pluginObjectByID(pluginID);
    return p ? p->deleteID(optionalID(guid)) : -1;
}

int PluginHost::pluginCreateID(std::string_view pluginID, std::string* newID) const {
    TvQLRPlugin2* p = pluginObjectByID(pluginID);
    if (!p) return -1;
    std::optional<std::string> created;
    const int rc = p->createID(&created);
    if (newID) *newID = created.value_or("");
    return rc;
}

void PluginHost::pluginSwitchIsValid(std::string_view pluginKey, bool isValid) const {
    const_cast<PluginHost*>(this)->switchIsValidInPluginInfoList(pluginKey, isValid);
}

void PluginHost::pluginCheckAllOutputModels() const {
    const_cast<PluginHost*>(this)->checkAllOutputModelByPlugin();
}

int PluginHost::pluginExecuteOperation(std::string_view pluginID, std::string_view guid,
                                       const std::vector<std::string>& fileList, bool fileDelete,
                                       QWidget* parent) const {
    TvQLRPlugin2* p = pluginObjectByID(pluginID);
    return p ? p->executeOperationWithID(optionalID(guid), fileList, fileDelete, parent) : -1;
}

int PluginHost::pluginIsSupportLinkButton(std::string_view pluginID, std::string_view guid,
                                          bool* enabled) const {
    TvQLRPlugin2* p = pluginObjectByID(pluginID);
    return p ? p->isSupportLinkButton(optionalID(guid), enabled) : -1;
}

int PluginHost::pluginCopyLinkLable(std::string_view pluginID, std::string_view guid,
                                    std::optional<std::string>* label) const {
    TvQLRPlugin2* p = pluginObjectByID(pluginID);
    return p ? p->copyLinkLable(optionalID(guid), label) : -1;
}

// A first start has no stored flags yet: the plug-ins start enabled.
void PluginHost::pluginSetupInfoList(AppModel* appModel) const {
    auto held = cntlr_.appModel();
    AppModel* model = appModel ? appModel : held.get();
    if (!model) return;
    if (!model->pluginInfoList()) model->setPluginInfoList(kdf::Array{});
    const_cast<PluginHost*>(this)->setupPluginInfoList(*model,
                                                       QlrUtilsMethod::installedPluginPath());
}

void PluginHost::pluginsLoad(std::string_view bundlePath) const {
    auto model = cntlr_.appModel();
    if (!model) return;
    if (!model->pluginInfoList()) model->setPluginInfoList(kdf::Array{});
    const std::string folder = bundlePath.empty() ? QlrUtilsMethod::installedPluginPath()
                                                  : std::string(bundlePath) + "/PlugIns";
    const_cast<PluginHost*>(this)->setupPluginInfoList(*model, folder);
}

void PluginHost::pluginCheckAndSetup() const {
    const_cast<PluginHost*>(this)->checkPluginAndSetup();
}

void PluginHost::pluginConnectOrDisconnectAll(bool isConnect) const {
    connectOrDisconnectForAllPlugin(isConnect);
}

TvQLRPlugin2* PluginHost::pluginObject(std::string_view pluginID) const {
    return pluginObjectByID(pluginID);
}

std::vector<std::string> PluginHost::pluginIDs() const {
    return pluginIDList();
}

std::optional<std::vector<std::string>>
PluginHost::pluginFileTypes(std::string_view pluginID) const {
    return supportedFileTypeList(pluginID);
}

void PluginHost::pluginsSetupEditing(
    const std::vector<std::shared_ptr<OutputModel>>& outputs) const {
    const_cast<PluginHost*>(this)->setupEditingPluginInfoList(outputs);
}

std::shared_ptr<OutputModel> PluginHost::pluginEditingModel(const OutputModel& output,
                                                            std::string_view pluginID,
                                                            bool modified) const {
    const auto copy = output.tmpEditingPluginInfoList();
    if (!copy) return nullptr;
    for (const kdf::Value& element : *copy) {
        const auto* e = AppModel::pluginInfoElement(element);
        if (!e || e->first != pluginID) continue;
        const kdf::Dictionary* d = e->second.dictionary();
        const kdf::Value* handle =
            d ? kdf::find(*d, modified ? kModOutputModelKey : kDefOutputModelKey) : nullptr;
        if (!handle || !handle->is(kdf::Value::Kind::Integer)) return nullptr;
        auto it = editingModels_.find(*handle->toInteger());
        return it == editingModels_.end() ? nullptr : it->second;
    }
    return nullptr;
}

void PluginHost::pluginsClearOtherFormats(
    const std::vector<std::shared_ptr<OutputModel>>& outputs) const {
    clearExceptTargetFileFormatType(outputs);
}

void PluginHost::pluginsDeleteDisused(
    const std::vector<std::shared_ptr<OutputModel>>& outputs) const {
    const_cast<PluginHost*>(this)->deleteDisusedPluginID(outputs);
}

} // namespace qlr_output
