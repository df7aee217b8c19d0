// Screenshot scenes of the kit's windows: flat windows in both looks and a
// parent window under its shield with a modal child.
#include "TvWindow.h"

#include <ui/Screenshots.h>

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QWidget* flatWindow(int style, const QString& text) {
    auto* window = new TvFlatWindow;
    window->setBaseAlpha(0.95);
    window->setWindowOpacity(0.95);
    window->resize(320, 140);
    auto* view = new TvFlatWindowContentView(window, style);
    view->setGeometry(window->rect());
    auto* label = new QLabel(text, view);
    label->setGeometry(20, 20, 280, 40);
    return window;
}

} // namespace

KD_SCREENSHOT_SCENE(flatWindowPanel, "kit/flat-window-panel", kdui::Direction::LeftToRight) {
    return {flatWindow(TvFlatWindowContentView::Panel, QStringLiteral("Scanning page 2"))};
}

KD_SCREENSHOT_SCENE(flatWindowAlert, "kit/flat-window-alert", kdui::Direction::LeftToRight) {
    return {flatWindow(TvFlatWindowContentView::Alert, QStringLiteral("The paper is jammed."))};
}

KD_SCREENSHOT_SCENE(modalShield, "kit/modal-shield", kdui::Direction::LeftToRight) {
    auto* parent = new QWidget;
    parent->setGeometry(0, 0, 480, 320);
        auto* layout = new QVBoxLayout(parent);
    layout->addWidget(new QLabel(QStringLiteral("Main window (shielded)")));
    layout->addWidget(new QPushButton(QStringLiteral("Scan")));
    auto* child = new TvWindow;
    child->setGeometry(120, 80, 240, 120);
    QPalette palette = child->palette();
    palette.setColor(QPalette::Window, QColor(0xD8, 0xE4, 0xF2));
    child->setPalette(palette);
    child->setAutoFillBackground(true);
    auto* childLayout = new QVBoxLayout(child);
    childLayout->addWidget(new QLabel(QStringLiteral("Modal window")));
    childLayout->addWidget(new QPushButton(QStringLiteral("Done")));
    parent->show();
    TvWindow::beginModalWindow(child, parent, false);
    return {parent, child};
}
