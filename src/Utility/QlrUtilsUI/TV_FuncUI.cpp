#include "TV_FuncUI.h"

#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QWidget>

#include <algorithm>

namespace TV_Func {

namespace {

QAction* actionAt(QMenu* menu, int index) {
    if (!menu) return nullptr;
    const auto actions = menu->actions();
    return index >= 0 && index < actions.size() ? actions[index] : nullptr;
}

void changeItem(QAction* item, const std::optional<QString>& title, const std::optional<QIcon>& image,
                const std::optional<QVariant>& representedObject) {
    if (!item) return;
    if (title) item->setText(*title);
    if (image) item->setIcon(*image);
    if (representedObject) item->setData(*representedObject);
}

QRect availableArea(QWidget* window) {
    QScreen* screen = window->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

// Keeps [pos, pos + len) inside [lo, lo + range): the far edge first, then
// the near one, so the near edge wins when the window is larger.
int keptInside(int pos, int len, int lo, int range) {
    if (pos + len > lo + range) pos = lo + range - len;
    if (pos < lo) pos = lo;
    return pos;
}

} // namespace

QMenu* menuOf(QObject* owner) {
    if (!owner) return nullptr;
    if (auto* menu = qobject_cast<QMenu*>(owner)) return menu;
    if (auto* button = qobject_cast<QPushButton*>(owner)) return button->menu();
    if (auto* button = qobject_cast<QToolButton*>(owner)) return button->menu();
    return owner->findChild<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
}

QAction* menuItemWithTag(QMenu* menu, int tag) {
    if (!menu) return nullptr;
    for (QAction* action : menu->actions())
        if (action->property("kdTag").isValid() && kdui::tag(action) == tag) return action;
    return nullptr;
}

void setEnabledItemWithTag(bool enabled, int tag, QMenu* menu) {
    if (QAction* item = menuItemWithTag(menu, tag)) item->setEnabled(enabled);
}

void setEnabledItemWithIndex(bool enabled, int index, QMenu* menu) {
    if (QAction* item = actionAt(menu, index)) item->setEnabled(enabled);
}

void setAction(std::function<void()> action, QObject* target, int index, QMenu* menu) {
    QAction* item = actionAt(menu, index);
    if (!item) return;
    QObject::disconnect(item, &QAction::triggered, nullptr, nullptr);
    if (action) QObject::connect(item, &QAction::triggered, target ? target : item, [action] { action(); });
}

QAction* addMenuItem(QObject* owner, const std::optional<QString>& title, int tag,
                     const std::optional<QIcon>& image, const std::optional<QVariant>& representedObject) {
    QMenu* menu = menuOf(owner);
    if (!menu) return nullptr;
    auto* item = new QAction(menu);
    kdui::setTag(item, tag);
    changeItem(item, title, image, representedObject);
    menu->addAction(item);
    return item;
}

void changeMenuItemAtIndex(QObject* owner, const std::optional<QString>& title, int index,
                           const std::optional<QIcon>& image, const std::optional<QVariant>& representedObject) {
    changeItem(actionAt(menuOf(owner), index), title, image, representedObject);
}

void changeMenuItemWithTag(QObject* owner, const std::optional<QString>& title, int tag,
                           const std::optional<QIcon>& image, const std::optional<QVariant>& representedObject) {
    changeItem(menuItemWithTag(menuOf(owner), tag), title, image, representedObject);
}

void viewItemSelect(QWidget* view, int selectedTag, int firstTag, int lastTag) {
    for (int t = firstTag; view && t <= lastTag; ++t) {
        if (auto* button = qobject_cast<QAbstractButton*>(kdui::viewWithTag(view, t))) {
            button->setCheckable(true);
            button->setChecked(t == selectedTag);
        }
    }
}

void menuItemSelect(QMenu* menu, int selectedTag, int firstTag, int lastTag) {
    for (int t = firstTag; menu && t <= lastTag; ++t) {
        if (QAction* item = menuItemWithTag(menu, t)) {
            item->setCheckable(true);
            item->setChecked(t == selectedTag);
        }
    }
}

void setEnabledToAllSubViewsOfView(bool enabled, QWidget* view) {
    for (QWidget* w : deepSubviewsAtView(view)) w->setEnabled(enabled);
}

int SortViewFunc(const QWidget* a, const QWidget* b) {
    // Qt's y axis points down: the higher view has the smaller top.
    const QPoint pa = a->mapTo(a->window(), QPoint(0, 0));
    const QPoint pb = b->mapTo(b->window(), QPoint(0, 0));
    if (pa.y() != pb.y()) return pa.y() < pb.y() ? -1 : 1;
    if (pa.x() != pb.x()) return pa.x() < pb.x() ? -1 : 1;
    return 0;
}

std::vector<QWidget*> deepSubviewsAtView(QWidget* view) {
    std::vector<QWidget*> out;
    if (!view) return out;
    out.push_back(view);
    std::vector<QWidget*> children;
    for (QObject* child : view->children())
        if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow()) children.push_back(w);
    std::stable_sort(children.begin(), children.end(),
                     [](const QWidget* a, const QWidget* b) { return SortViewFunc(a, b) < 0; });
    for (QWidget* child : children) {
        auto deep = deepSubviewsAtView(child);
        out.insert(out.end(), deep.begin(), deep.end());
    }
    return out;
}

void setNextKeyViewsAtWindow(QWidget* window, const std::vector<QWidget*>& targetViews, QWidget* from,
                             QWidget* to) {
    if (!window) return;
    std::vector<QWidget*> list = deepSubviewsAtView(window);
    if (list.empty()) return;
    const auto inList = [&](QWidget* w) { return std::find(list.begin(), list.end(), w) != list.end(); };
    if (!targetViews.empty() &&
        std::all_of(targetViews.begin(), targetViews.end(), [&](QWidget* w) { return !w || inList(w); })) {
        list.clear();
        std::copy_if(targetViews.begin(), targetViews.end(), std::back_inserter(list),
                     [](QWidget* w) { return w != nullptr; });
    }
    if (from && to) {
        const auto f = std::find(list.begin(), list.end(), from);
        const auto g = std::find(list.begin(), list.end(), to);
        if (f != list.end() && g != list.end())
            for (auto it = f; it < g; ++it) std::iter_swap(it, it + 1);
    }
    // Views that never take the focus are passed over by Tab anyway; leaving
    // them out keeps the focusable ones next to each other.
    std::erase_if(list, [](QWidget* w) { return !(w->focusPolicy() & Qt::TabFocus); });
    for (std::size_t i = 0; i + 1 < list.size(); ++i) QWidget::setTabOrder(list[i], list[i + 1]);
}

QWidget* nextKeyView(QWidget* view) {
    if (!view) return nullptr;
    for (QWidget* w = view->nextInFocusChain(); w && w != view; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->window() == view->window()) return w;
    return nullptr;
}

void windowPositionAdjustment(QWidget* window, QWidget* parentWindow, std::uint16_t alignment) {
    if (!window) return;
    const QRect screen = availableArea(window);
    const QRect ref = parentWindow ? parentWindow->frameGeometry() : screen;
    QRect frame = window->frameGeometry();
    // The frame (title bar and border) around the client area.
    const QSize decoration = frame.size() - window->geometry().size();

    const bool resizable = window->minimumSize() != window->maximumSize();
    if (resizable) {
        const QSize minimum = window->minimumSize() + decoration;
        if (frame.width() > ref.width()) frame.setWidth(std::max(ref.width(), minimum.width()));
        if (frame.height() > ref.height()) frame.setHeight(std::max(ref.height(), minimum.height()));
    }

    int x = keptInside(frame.x(), frame.width(), ref.x(), ref.width());
    int y = frame.y();
    const bool flipped = kdui::isFlippedContentView(window);
    if (!flipped) {
        y = keptInside(y, frame.height(), ref.y(), ref.height()); // the top wins
    } else {
        // The other order: the bottom wins.
        if (y < ref.y()) y = ref.y();
        if (y + frame.height() > ref.y() + ref.height()) y = ref.y() + ref.height() - frame.height();
    }

    constexpr int kMargin = 3;
    if (alignment == kAlignCentre) {
        x = ref.x() + ref.width() / 2 - frame.width() / 2;
        y = ref.y() + ref.height() / 2 - frame.height() / 2;
    } else {
        if (alignment & kAlignTop) y = flipped ? ref.y() : ref.y() + kMargin;
        if (alignment & kAlignBottom) y = ref.y() + ref.height() - frame.height() - kMargin;
        if (alignment & kAlignLeft) x = ref.x() + kMargin;
        if (alignment & kAlignRight) x = ref.x() + ref.width() - frame.width() - kMargin;
    }

    // Inside the screen's available area: the left edge first, then the
    // right; the bottom first, then the top.
    x = std::max(x, screen.x());
    if (x + frame.width() > screen.x() + screen.width()) x = screen.x() + screen.width() - frame.width();
    y = keptInside(y, frame.height(), screen.y(), screen.height());

    window->resize(frame.size() - decoration);
    window->move(x, y);
    if (window->isVisible()) window->update();
}

} // namespace TV_Func
