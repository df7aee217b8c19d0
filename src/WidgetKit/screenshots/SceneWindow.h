// The plain light window the kit's scenes place their controls on.
#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

inline QWidget* sceneWindow(QSize size) {
    auto* window = new QWidget;
    window->setAutoFillBackground(true);
    QPalette p = window->palette();
    p.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    window->setPalette(p);
    window->resize(size);
    return window;
}
