#include "SettingsWindowScenes.h"

#include "CapTables.h"

#include <QTabWidget>

#include <algorithm>

namespace ComTavrolekKD720 {

std::vector<std::string> settingsWindowSceneNames() {
    return {"simple", "advanced", "settings-only", "shielded-progress"};
}

void useBuiltWindowBundle() {
#ifdef KD720UI_BUNDLE_DIR
    KdUIController::setWindowBundlePath(KD720UI_BUNDLE_DIR);
#endif
}

std::unique_ptr<SettingsWindowScene> makeSettingsWindowScene(const std::string& name) {
    const auto names = settingsWindowSceneNames();
    if (std::find(names.begin(), names.end(), name) == names.end()) return nullptr;
    useBuiltWindowBundle();
    auto scene = std::make_unique<SettingsWindowScene>();
    scene->name = name;
    scene->pool = MakeKdCapPool();
    scene->controller = std::make_unique<KdUIController>();
    const bool forScanning = name != "settings-only";
    scene->controller->setupMainUI({{kUIParamCapabilityObject, kdf::Value(kdf::Pointer{scene->pool.get()})}},
                                   forScanning);
    if (forScanning) scene->controller->settingModeTab()->setCurrentIndex(name == "simple" ? 0 : 1);
    scene->controller->showMainWindow();
    scene->windows.push_back(scene->controller->mainWindow());
    if (name == "shielded-progress") {
        scene->controller->setShield(true);
        scene->controller->showProgressWindow();
        scene->windows.push_back(scene->controller->progressWindow());
    }
    return scene;
}

} // namespace ComTavrolekKD720
