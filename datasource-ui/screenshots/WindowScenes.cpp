// The settings window itself in the states worth a picture.
#include "SettingsWindowScenes.h"

#include <ui/Screenshots.h>

#include <memory>
#include <vector>

namespace {

using ComTavrolekKD720::SettingsWindowScene;

std::vector<QWidget*> windowsOf(const char* name) {
    // The screenshot program deletes the windows it is given; the
    // controllers and their pools stay for the program's life, since a
    // controller's clean-up would reach for windows already gone.
    static auto* kept = new std::vector<std::unique_ptr<SettingsWindowScene>>;
    auto scene = ComTavrolekKD720::makeSettingsWindowScene(name);
    if (!scene) return {};
    std::vector<QWidget*> windows = scene->windows;
    kept->push_back(std::move(scene));
    return windows;
}

} // namespace

KD_SCREENSHOT_SCENE(dsWindowSimple, "ds-window/simple", kdui::Direction::Both) { return windowsOf("simple"); }
KD_SCREENSHOT_SCENE(dsWindowAdvanced, "ds-window/advanced", kdui::Direction::Both) { return windowsOf("advanced"); }
KD_SCREENSHOT_SCENE(dsWindowSettingsOnly, "ds-window/settings-only", kdui::Direction::Both) {
    return windowsOf("settings-only");
}
KD_SCREENSHOT_SCENE(dsWindowShielded, "ds-window/shielded-progress", kdui::Direction::Both) {
    return windowsOf("shielded-progress");
}
