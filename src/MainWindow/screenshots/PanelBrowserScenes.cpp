// Screenshot scenes of the panel browsers: each kind in its three sizes
// (jobs with one to three outputs and scanner-button badges), the hover
// tools over a large job tile and the title editor.
#include "AppControllerServices.h"
#include "AppMainCntlrPorts.h"
#include "JobModel.h"
#include "PanelIBView.h"
#include "PanelTile.h"
#include "QlrUtilsMethodUI.h"
#include "TvTextFields.h"

#include <ui/Screenshots.h>

#include <QWidget>

#include <memory>
#include <vector>

namespace {

// A data source over a fixed list; one per scene build, kept until the next
// build of the same kind (the program deletes the widgets).
class ScenePanels : public PanelIBViewDataSource {
public:
    std::vector<std::shared_ptr<PanelModel>> list;
    int type = 0;
    int numberOfItems(kdui::ImageBrowserView&) override { return int(list.size()); }
    kdui::ImageBrowserItem itemAtIndex(kdui::ImageBrowserView&, int index) override {
        return {PanelTile::displayImage(*list[std::size_t(index)]), {}};
    }
    std::shared_ptr<PanelModel> panelAtIndex(kdui::ImageBrowserView&, int index) override {
        return index >= 0 && index < int(list.size()) ? list[std::size_t(index)] : nullptr;
    }
    int panelTypeOfView(const kdui::ImageBrowserView&) const override { return type; }
};

// A multi-button scanner that is not the AirPrint-class source, so job
// tiles show their badges.
class SceneServices : public AppControllerServices {
protected:
    std::string dsProductName() const override { return "KD-720"; }
    bool dsIsAPDS() const override { return false; }
    bool supportsCAPOnDevice(std::uint16_t) const override { return true; }
    bool supportsScanSide(const std::optional<std::string>&) const override { return true; }
    bool settingWindowVisible() const override { return false; }
    bool supportsMultiDeviceBtns(const std::optional<std::string>&) const override { return true; }
};

ScenePanels& panelsFor(int slot) {
    static ScenePanels panels[4];
    return panels[slot];
}

std::shared_ptr<JobModel> sceneJob(const char* title, int outputs, int button, bool options) {
    auto job = std::make_shared<JobModel>();
    job->setJobInputModel_List({std::make_shared<InputModel>()});
    std::vector<std::shared_ptr<OutputModel>> list;
    for (int i = 0; i < outputs; ++i) list.push_back(std::make_shared<OutputModel>());
    job->setJobOutputModel_List(list);
    job->setDispTitle(title);
    job->setScanBtnStatus(button);
    job->setIsContinueScan(options);
    job->setIsImageProcess(!options);
    return job;
}

// A browser of one kind at a size type, in a window of its own.
PanelIBView* browserScene(int type, int sizeType, QWidget** window) {
    // The models' icons come through the application's image provider.
    QlrUtilsMethod::installQtImageProvider();
    ScenePanels& panels = panelsFor(type);
    panels = ScenePanels();
    panels.type = type;
    auto previous = AppControllerServices::current();
    AppControllerServices::setCurrent(std::make_shared<SceneServices>());
    if (type == kJobPanelType) {
        panels.list = {sceneJob("Daily mail", 1, 1, true), sceneJob("Contracts", 2, 4, false),
                       sceneJob("Archive", 3, -1, true)};
    } else {
        const char* titles[3] = {"Colour 300 dpi", "Gray both sides", "A very long panel title that is cut"};
        for (const char* title : titles) {
            std::shared_ptr<PanelModel> p = type == kInputPanelType ? std::shared_ptr<PanelModel>(std::make_shared<InputModel>())
                                                                    : std::make_shared<OutputModel>();
            p->setDispTitle(title);
            panels.list.push_back(p);
        }
        panels.list[1]->setIsSelected(true);
    }
    PanelTile::createPanelImageWithList(panels.list, sizeType);
    AppControllerServices::setCurrent(previous);

    auto* w = new QWidget;
    auto* view = new PanelIBView(w);
    QSize cell = PanelTile::makePanelSize(*panels.list.back(), sizeType);
    if (type == kJobPanelType) cell = PanelTile::panelSize(PanelTile::kJob, sizeType, 3);
    view->setCellSize(cell);
    view->setShadowColor(type == kJobPanelType ? 0xF1F1F1 : 0xE2E2E2);
    view->setDataSource(&panels);
    const int width = 3 * (cell.width() + 10) + 20;
    const int height = cell.height() + 40;
    w->resize(width, height);
    view->setGeometry(0, 0, width, height);
    *window = w;
    return view;
}

std::vector<QWidget*> sizes(int type, int sizeType) {
    QWidget* window = nullptr;
    browserScene(type, sizeType, &window);
    return {window};
}

} // namespace

KD_SCREENSHOT_SCENE(panelInputs0, "main-window/panels-input-small", kdui::Direction::Both) { return sizes(0, 0); }
KD_SCREENSHOT_SCENE(panelInputs1, "main-window/panels-input-medium", kdui::Direction::Both) { return sizes(0, 1); }
KD_SCREENSHOT_SCENE(panelInputs2, "main-window/panels-input-large", kdui::Direction::Both) { return sizes(0, 2); }
KD_SCREENSHOT_SCENE(panelOutputs0, "main-window/panels-output-small", kdui::Direction::Both) { return sizes(1, 0); }
KD_SCREENSHOT_SCENE(panelOutputs1, "main-window/panels-output-medium", kdui::Direction::Both) { return sizes(1, 1); }
KD_SCREENSHOT_SCENE(panelOutputs2, "main-window/panels-output-large", kdui::Direction::Both) { return sizes(1, 2); }
KD_SCREENSHOT_SCENE(panelJobs0, "main-window/panels-job-small", kdui::Direction::Both) { return sizes(2, 0); }
KD_SCREENSHOT_SCENE(panelJobs1, "main-window/panels-job-medium", kdui::Direction::Both) { return sizes(2, 1); }
KD_SCREENSHOT_SCENE(panelJobs2, "main-window/panels-job-large", kdui::Direction::Both) { return sizes(2, 2); }

KD_SCREENSHOT_SCENE(panelHoverTools, "main-window/panels-job-hover-tools", kdui::Direction::Both) {
    QWidget* window = nullptr;
    PanelIBView* view = browserScene(kJobPanelType, 2, &window);
    window->show();
    view->showTools(0);
    return {window};
}

KD_SCREENSHOT_SCENE(panelTitleEditor, "main-window/panels-title-editor", kdui::Direction::Both) {
    QWidget* window = nullptr;
    PanelIBView* view = browserScene(kOutputPanelType, 1, &window);
    window->show();
    view->showFieldEditor(1);
    PanelIBView::fieldEditor()->setText("Renamed output");
    return {window};
}
