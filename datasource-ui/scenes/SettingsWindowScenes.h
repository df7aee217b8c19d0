// The settings window in the states worth a picture, for the screenshot
// tool and the tests: each scene builds a controller over its own
// capability pool and answers the top-level widgets to show, front last.
#pragma once

#include "KdSettingsController.h"

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class CCapPool;

namespace ComTavrolekKD720 {

struct SettingsWindowScene {
    std::string name;                       // "simple", "advanced", "settings-only", "shielded-progress"
    std::unique_ptr<CCapPool> pool;
    std::unique_ptr<KdUIController> controller;
    std::vector<QWidget*> windows;          // shown, front last
};

// Needs a QApplication. Names: the four above; an unknown name gives none.
std::unique_ptr<SettingsWindowScene> makeSettingsWindowScene(const std::string& name);
std::vector<std::string> settingsWindowSceneNames();
// Texts and images from the built window bundle.
void useBuiltWindowBundle();

} // namespace ComTavrolekKD720
