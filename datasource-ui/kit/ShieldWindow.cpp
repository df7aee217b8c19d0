#include "ShieldWindow.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVariant>

#include <map>

namespace ComTavrolekKD720 {

namespace {

using ModalList = QList<QPointer<QWidget>>;

// The modal windows of each window (main thread only); a window's entry
// goes with it.
std::map<const QWidget*, ModalList>& modalLists() {
    static std::map<const QWidget*, ModalList> lists;
    return lists;
}

ModalList modalList(const QWidget* window) {
    const auto it = modalLists().find(window);
    return it == modalLists().end() ? ModalList{} : it->second;
}

void setModalList(QWidget* window, ModalList list) {
    list.removeAll(QPointer<QWidget>());
    auto& lists = modalLists();
    if (list.isEmpty()) {
        lists.erase(window);
        return;
    }
    if (!lists.count(window))
        QObject::connect(window, &QObject::destroyed, [window] { modalLists().erase(window); });
    lists[window] = list;
}

} // namespace

ShieldView::ShieldView(QWidget* window) : QWidget(window) {
    setObjectName("kdShield");
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::StrongFocus);
    setGeometry(window->rect());
    window->installEventFilter(this);
}

bool ShieldView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void ShieldView::mousePressEvent(QMouseEvent* event) { event->accept(); }
void ShieldView::keyPressEvent(QKeyEvent* event) { event->accept(); }

ShieldView* FWindow::shieldWindow(const QWidget* window) {
    if (!window) return nullptr;
    for (QObject* child : window->children())
        if (auto* shield = dynamic_cast<ShieldView*>(child); shield && !shield->isHidden()) return shield;
    return nullptr;
}

void FWindow::setShieldWindow(QWidget* window, bool /*includeFrame*/) {
    if (!window || shieldWindow(window)) return;
    auto* shield = new ShieldView(window);
    shield->show();
    shield->raise();
    // The focus leaves the window's controls: keys go nowhere.
    shield->setFocus(Qt::OtherFocusReason);
}

void FWindow::removeShieldWindow(QWidget* window) {
    ShieldView* shield = shieldWindow(window);
    if (!shield) return;
    shield->hide();
    window->removeEventFilter(shield);
    // Never deleted under a running event handler.
    shield->deleteLater();
}

bool FWindow::canBecomeKeyWindow(const QWidget* window) { return window && !shieldWindow(window); }

QWidget* FWindow::behindWindow(const QWidget* modal) {
    if (!modal) return nullptr;
    for (const auto& [window, list] : modalLists())
        if (list.contains(const_cast<QWidget*>(modal))) return const_cast<QWidget*>(window);
    return nullptr;
}

void FWindow::beginModalWindow(QWidget* modal, QWidget* parent) {
    if (!modal) return;
    if (parent) {
        setShieldWindow(parent, true);
        ModalList list = modalList(parent);
        list.append(modal);
        setModalList(parent, list);
    }
    modal->show();
    modal->raise();
    modal->activateWindow();
}

void FWindow::endModalWindow(QWidget* modal, bool orderOut) {
    if (!modal) return;
    if (QWidget* parent = behindWindow(modal)) {
        ModalList list = modalList(parent);
        list.removeAll(modal);
        setModalList(parent, list);
        if (list.isEmpty()) removeShieldWindow(parent);
    }
    if (orderOut) modal->hide();
}

std::vector<QWidget*> FWindow::modalWindows(const QWidget* window) {
    std::vector<QWidget*> out;
    for (const QPointer<QWidget>& w : modalList(window))
        if (w) out.push_back(w.data());
    return out;
}

} // namespace ComTavrolekKD720
