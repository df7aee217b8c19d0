#include "ui/ModalShield.h"

#include <QApplication>
#include <QChildEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QShortcut>
#include <QWindow>

namespace kdui {
namespace {

std::function<void(QWidget*)>& pressHandler() {
    static std::function<void(QWidget*)> handler;
    return handler;
}

// The transparent child over a shielded window.
class Shield final : public QWidget {
public:
    explicit Shield(QWidget* window) : QWidget(window) {
        setObjectName(QStringLiteral("kdui_shield"));
        setGeometry(window->rect());
        window->installEventFilter(this);
        show();
        raise();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent()) {
            if (event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
            // A child added later would lie above the shield.
            if (event->type() == QEvent::ChildPolished && static_cast<QChildEvent*>(event)->child() != this) raise();
        }
        return false;
    }
    void mousePressEvent(QMouseEvent* event) override {
        event->accept();
        QPointer<QWidget> window = parentWidget();
        if (pressHandler() && window) pressHandler()(window);
    }
    void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }
    void mouseMoveEvent(QMouseEvent* event) override { event->accept(); }
};

// The parent's modal list, kept as a hidden child of the parent.
class ModalList final : public QObject {
public:
    explicit ModalList(QWidget* parent) : QObject(parent) { setObjectName(QStringLiteral("kdui_modal_list")); }
    QList<QPointer<QWidget>> windows;

    void prune() {
        windows.removeIf([](const QPointer<QWidget>& w) { return w.isNull(); });
    }
};

// The classes here carry no meta-object, so children are found by type.
template <class T>
T* directChild(const QWidget* parent) {
    if (!parent) return nullptr;
    for (QObject* child : parent->children())
        if (auto* found = dynamic_cast<T*>(child)) return found;
    return nullptr;
}

ModalList* modalList(const QWidget* parent) {
    return directChild<ModalList>(parent);
}

bool insideShield(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget())
        if (isShieldWindow(w)) return true;
    return false;
}

// Drops the input of shielded windows, application-wide.
class ShieldFilter final : public QObject {
public:
    ShieldFilter() : QObject(qApp) {
        qApp->installEventFilter(this);
        connect(qApp, &QGuiApplication::applicationStateChanged, this, [](Qt::ApplicationState state) {
            if (state != Qt::ApplicationActive) return;
            // The window system may lose the stacking of hidden windows.
            for (QWidget* top : QApplication::topLevelWidgets())
                for (QWidget* modal : modalWindows(top))
                    if (modal->isVisible()) modal->raise();
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        QWidget* widget = nullptr;
        switch (event->type()) {
        case QEvent::Shortcut:
            if (auto* shortcut = qobject_cast<QShortcut*>(watched))
                widget = qobject_cast<QWidget*>(shortcut->parent());
            else
                widget = qobject_cast<QWidget*>(watched);
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Close:
        case QEvent::WindowActivate:
            widget = qobject_cast<QWidget*>(watched);
            break;
        default:
            return false;
        }
        if (!widget || insideShield(widget)) return false;
        QWidget* window = widget->window();
        if (event->type() == QEvent::WindowActivate) {
            if (widget != window) return false;
            // A listed window activated lies above its siblings.
            if (QWidget* parent = behindWindow(window); parent && modalWindows(parent).size() > 1) window->raise();
            if (shieldWindow(window)) {
                const QList<QWidget*> modals = modalWindows(window);
                if (!modals.isEmpty() && modals.last()->isVisible()) {
                    modals.last()->raise();
                    modals.last()->activateWindow();
                }
            }
            return false;
        }
        if (!shieldWindow(window)) return false;
        if (event->type() == QEvent::Close) {
            if (widget != window) return false;
            event->ignore();
        }
        return true;
    }
};

void ensureFilter() {
    static QPointer<ShieldFilter> filter;
    if (!filter && qApp) filter = new ShieldFilter;
}

} // namespace

QWidget* setShieldWindow(QWidget* window, bool /*includeFrame*/) {
    if (!window) return nullptr;
    if (QWidget* shield = shieldWindow(window)) return shield;
    ensureFilter();
    return new Shield(window);
}

void removeShieldWindow(QWidget* window) {
    if (QWidget* shield = shieldWindow(window)) {
        shield->hide();
        shield->setParent(nullptr);
        delete shield;
    }
}

QWidget* shieldWindow(const QWidget* window) {
    return directChild<Shield>(window);
}

bool isShieldWindow(const QWidget* widget) {
    return dynamic_cast<const Shield*>(widget) != nullptr;
}

void addModalWindow(QWidget* parent, QWidget* window) {
    if (!parent || !window) return;
    ModalList* list = modalList(parent);
    if (!list) list = new ModalList(parent);
    list->prune();
    if (list->windows.contains(window)) return;
    list->windows.append(window);
    QObject::connect(window, &QObject::destroyed, list, [list, parent, window](QObject*) {
        list->windows.removeIf([window](const QPointer<QWidget>& w) { return w.isNull() || w.data() == window; });
        if (list->windows.isEmpty()) removeShieldWindow(parent);
    });
    if (window->isWindow()) {
        parent->winId();
        window->winId();
        if (window->windowHandle() && parent->windowHandle())
            window->windowHandle()->setTransientParent(parent->windowHandle());
    }
}

void removeModalWindow(QWidget* parent, QWidget* window) {
    ModalList* list = modalList(parent);
    if (!list || !window) return;
    list->windows.removeIf([window](const QPointer<QWidget>& w) { return w.isNull() || w.data() == window; });
    QObject::disconnect(window, &QObject::destroyed, list, nullptr);
    if (window->windowHandle() && window->windowHandle()->transientParent() == parent->windowHandle())
        window->windowHandle()->setTransientParent(nullptr);
}

QList<QWidget*> modalWindows(const QWidget* parent) {
    QList<QWidget*> result;
    if (ModalList* list = modalList(parent))
        for (const QPointer<QWidget>& w : list->windows)
            if (w) result.append(w.data());
    return result;
}

QWidget* behindWindow(const QWidget* window) {
    if (!window) return nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (ModalList* list = modalList(top))
            for (const QPointer<QWidget>& w : list->windows)
                if (w.data() == window) return top;
    return nullptr;
}

void setShieldPressHandler(std::function<void(QWidget*)> handler) {
    pressHandler() = std::move(handler);
}

} // namespace kdui
