// Screenshot scenes of the setting pop-up buttons: every pop-up closed, and
// the file-format and output-type pop-ups with their menus open, without
// and with send-to plug-ins.
#include "SceneWindow.h"

#include "PluginRegistryQueries.h"
#include "SettingPopUpButtons.h"

#include <ui/Screenshots.h>

#include <QLabel>
#include <QPalette>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// Two plug-ins as the plug-in host would list them, for the scene's build.
class ScenePlugins : public PluginRegistryQueries {
protected:
    std::optional<kdf::Value> pluginValue(std::string_view id, int type) const override {
        if (type != kTitleType) return std::nullopt;
        if (id == "scene.mail") return kdf::Value("Send by mail");
        if (id == "scene.cloud") return kdf::Value("Cloud folder");
        return std::nullopt;
    }
    int pluginIndex(std::string_view id) const override {
        return id == "scene.mail" ? 0 : id == "scene.cloud" ? 1 : -1;
    }
};

// Registers the scene's plug-ins while it is built.
class WithPlugins {
public:
    WithPlugins() : previous_(PluginRegistryQueries::current()) {
        PluginRegistryQueries::setCurrent(std::make_shared<ScenePlugins>());
    }
    ~WithPlugins() { PluginRegistryQueries::setCurrent(previous_); }
    WithPlugins(const WithPlugins&) = delete;
    WithPlugins& operator=(const WithPlugins&) = delete;

private:
    std::shared_ptr<const PluginRegistryQueries> previous_;
};

using Maker = std::function<TvPopUpButton*(QWidget*)>;

template <class T>
Maker make() {
    return [](QWidget* parent) { return new T(parent); };
}

QWidget* allPopUps() {
    const std::vector<std::pair<const char*, Maker>> rows{
        {"Colour", make<ColorModePopUpButton>()},
        {"Paper size", make<PaperSizePopUpButton>()},
        {"Resolution", make<ResolutionPopUpButton>()},
        {"Scan side", make<ScanSidePopUpButton>()},
        {"Skew", make<SkewPopUpButton>()},
        {"Scan button", make<ScanBtnStatusPopUpButton>()},
        {"File format", make<FileFormatPopUpButton>()},
        {"Save in", make<FileSavePopUpButton>()},
        {"Date", make<FileNameDateTimePopUpButton>()},
        {"Number", make<FileNameNumberPopUpButton>()},
        {"PDF compression", make<PDFCompPopUpButton>()},
        {"Text language", make<PDFOCRLangPopUpButton>()},
        {"Output", make<OutputTypePopUpButton>()},
    };
    QWidget* window = sceneWindow(QSize(400, 10 + int(rows.size()) * 34));
    int y = 10;
    for (const auto& [label, maker] : rows) {
        auto* text = new QLabel(QString::fromLatin1(label), window);
        text->setGeometry(10, y + 4, 130, 20);
        TvPopUpButton* button = maker(window);
        button->setGeometry(150, y, 230, 28);
        y += 34;
    }
    return window;
}

// The pop-up in a window and its menu open below it. The program deletes
// every window it is given, so the open menu is a window of its own showing
// the pop-up's items rather than the pop-up's child menu.
std::vector<QWidget*> openMenu(TvPopUpButton* button, QWidget* window) {
    button->setGeometry(10, 10, 230, 28);
    auto* menu = new QMenu;
    menu->addActions(button->popUpMenu()->actions());
    menu->move(window->pos() + QPoint(10, 40));
    menu->show();
    return {window, menu};
}

} // namespace

KD_SCREENSHOT_SCENE(popUpsClosed, "popups/all-closed", kdui::Direction::Both) { return {allPopUps()}; }

KD_SCREENSHOT_SCENE(popUpFileFormatOpen, "popups/file-format-open", kdui::Direction::Both) {
    QWidget* window = sceneWindow(QSize(250, 48));
    return openMenu(new FileFormatPopUpButton(window), window);
}

KD_SCREENSHOT_SCENE(popUpFileFormatPlugin, "popups/file-format-plugin-open", kdui::Direction::Both) {
    QWidget* window = sceneWindow(QSize(250, 48));
    auto* button = new FileFormatPopUpButton(window);
    button->addOtherMenu({0, 3}, QStringLiteral("scene.mail"));
    button->changeMenuByPluginID(QStringLiteral("scene.mail"));
    return openMenu(button, window);
}

KD_SCREENSHOT_SCENE(popUpOutputTypeOpen, "popups/output-type-open", kdui::Direction::Both) {
    QWidget* window = sceneWindow(QSize(250, 48));
    return openMenu(new OutputTypePopUpButton(window), window);
}

KD_SCREENSHOT_SCENE(popUpOutputTypePlugins, "popups/output-type-plugins-open", kdui::Direction::Both) {
    WithPlugins plugins;
    QWidget* window = sceneWindow(QSize(250, 48));
    auto* button = new OutputTypePopUpButton(window);
    button->remakeMenuList({"scene.mail", "scene.cloud"});
    return openMenu(button, window);
}

KD_SCREENSHOT_SCENE(popUpOCRLanguagesPDFA, "popups/ocr-language-pdfa-open", kdui::Direction::LeftToRight) {
    QWidget* window = sceneWindow(QSize(250, 48));
    auto* button = new PDFOCRLangPopUpButton(window);
    button->remakeMenuList(true, 5);
    return openMenu(button, window);
}
