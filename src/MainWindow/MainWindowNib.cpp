#include "MainWindowNib.h"

#include "ui_MainWindow.h"

#include <ui/ViewTag.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>

namespace qlr_main {

QMainWindow* MainWindowNib::load(QWidget* parent) {
    auto* window = new QMainWindow(parent);
    Ui::MainWindow form;
    form.setupUi(window);
    for (QAction* item : form.mainMenu->actions())
        if (QMenu* submenu = item->menu()) kdui::setTag(item, kdui::tag(submenu));
    return window;
}

QWidget* MainWindowNib::outlet(const QWidget* window, const char* name) {
    if (!window || !name) return nullptr;
    if (window->objectName() == QLatin1String(name)) return const_cast<QWidget*>(window);
    return window->findChild<QWidget*>(QLatin1String(name));
}

QSplitter* MainWindowNib::splitView(const QWidget* window, const char* name) {
    return qobject_cast<QSplitter*>(outlet(window, name));
}

QMenuBar* MainWindowNib::mainMenu(const QWidget* window) {
    return window ? window->findChild<QMenuBar*>() : nullptr;
}

} // namespace qlr_main
