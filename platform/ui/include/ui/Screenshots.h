// The registry of screenshot scenes: windows and controls rendered offscreen
// to PNG files by the program kd_screenshots (`tools/setup.sh screenshots`
// writes build/screenshots/<name>.png, <name>.rtl.png and index.html).
//
// Adding scenes to a folder:
//
//   // <folder>/screenshots/MyScenes.cpp
//   #include <ui/Screenshots.h>
//   KD_SCREENSHOT_SCENE(myButtonNormal, "kit/my-button-normal", kdui::Direction::Both) {
//       auto* window = new QWidget;
//       ... build it in the state to show (end states: no animation runs) ...
//       return {window};
//   }
//
//   # <folder>/CMakeLists.txt
//   kd_add_screenshot_scenes(SOURCES screenshots/MyScenes.cpp LIBS MyLibrary)
//
// A scene builds one or more top-level widgets; the program owns and deletes
// them. A picture of a scene: the widgets are shown and polished, pending
// events run, then each window is grabbed and painted at its screen position
// in the order given, with its window opacity, over a #808080 backdrop, at
// device pixel ratio 1. A scene that wants a right-to-left picture too is
// built a second time with the application in right-to-left layout
// (QGuiApplication's layout direction and the bundle's language "ar", so
// QlrUtilsMethod::isLTR_LayoutDirection() answers false).
#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

namespace kdui {

enum class Direction { LeftToRight, Both };

struct ScreenshotScene {
    std::string name; // a path without extension: "kit/push-button-style2"
    std::function<std::vector<QWidget*>()> build;
    Direction direction = Direction::LeftToRight;
};

// Registers a scene (at static initialisation); answers true.
bool registerScreenshotScene(std::string name, Direction direction, std::function<std::vector<QWidget*>()> build);
// Every registered scene, sorted by name.
std::vector<ScreenshotScene> screenshotScenes();

// The picture of the windows (shown, polished, events run, grabbed).
QImage renderScreenshotWindows(const std::vector<QWidget*>& windows);

// A widget of the given size that paints with a function: scenes of draw
// functions that have no widget of their own.
class PaintedWidget : public QWidget {
public:
    PaintedWidget(QSize size, std::function<void(QPainter&, const QRect&)> paint, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void(QPainter&, const QRect&)> paint_;
};

} // namespace kdui

#define KD_SCREENSHOT_CONCAT2(a, b) a##b
#define KD_SCREENSHOT_CONCAT(a, b) KD_SCREENSHOT_CONCAT2(a, b)
// KD_SCREENSHOT_SCENE(identifier, "name", kdui::Direction::...) { body returning std::vector<QWidget*> }
#define KD_SCREENSHOT_SCENE(id, name, direction)                                                           \
    static std::vector<QWidget*> KD_SCREENSHOT_CONCAT(kdScene_, id)();                                     \
    [[maybe_unused]] static const bool KD_SCREENSHOT_CONCAT(kdSceneRegistered_, id) =                      \
        ::kdui::registerScreenshotScene(name, direction, &KD_SCREENSHOT_CONCAT(kdScene_, id));             \
    static std::vector<QWidget*> KD_SCREENSHOT_CONCAT(kdScene_, id)()
