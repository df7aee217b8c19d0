#include "PanelModel.h"

#include "WholeModel.h"

#include <foundation/Bundle.h>
#include "QlrUtilsMethod.h"

PanelModel::~PanelModel() = default;

std::shared_ptr<PanelModel> PanelModel::clone() const { return std::make_shared<PanelModel>(); }

std::shared_ptr<WholeModel> PanelModel::wholeModel() const { return nullptr; }

QlrUtilsMethod::ImageRef PanelModel::dispIcon() const { return nullptr; }

std::string PanelModel::dispTitle() const {
    if (auto whole = wholeModel()) return whole->title();
    return dispImageTitle();
}

void PanelModel::setDispTitle(std::string title) {
    if (auto whole = wholeModel())
        whole->setTitle(std::move(title));
    else
        setDispImageTitle(std::move(title));
}

QlrUtilsMethod::ImageRef PanelModel::dispImage() const { return get(dispImage_); }
void PanelModel::setDispImage(QlrUtilsMethod::ImageRef image) { put(dispImage_, std::move(image)); }
std::string PanelModel::dispImageTitle() const { return get(dispImageTitle_); }
void PanelModel::setDispImageTitle(std::string title) { put(dispImageTitle_, std::move(title)); }
int PanelModel::panelSizeType() const { return get(panelSizeType_); }
void PanelModel::setPanelSizeType(int type) { put(panelSizeType_, type); }
bool PanelModel::isSelected() const { return get(isSelected_); }
void PanelModel::setIsSelected(bool selected) { put(isSelected_, selected); }

std::string PanelModel::imageUID() const { return QlrUtilsMethod::uuidString(); }

void PanelModel::loadLocalizedTitle(const std::vector<std::shared_ptr<PanelModel>>& models) {
    if (models.empty()) return;
    std::shared_ptr<const kdf::Bundle> bundle = kdf::Bundle::main();
    for (const auto& model : models) {
        if (!model) continue;
        const std::string key = model->dispTitle();
        if (key.empty()) continue;
        // A key without a text comes back unchanged.
        model->setDispTitle(bundle->localizedString(key));
    }
}
