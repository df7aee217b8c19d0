// The application controller's small class-level services for windows:
// menus built from lists of localisation keys, and view-animation
// descriptions with a rate limit. AppMainCntlr inherits them.
#pragma once

#include <foundation/Value.h>
#include <ui/ViewAnimation.h>

#include <QRect>

#include <functional>

class QAction;
class QMenu;
class QObject;
class QWidget;

class AppMainCntlrUIKit {
public:
    // Replaces the menu's items by the list's. An element is a string (the
    // text) or an array: text, optionally a number that replaces the running
    // index for it, optionally a bool that makes the item inert (no action,
    // disabled). With isUseKey the text is a key of the main bundle's
    // strings and "separatorItem" adds a separator; else the text is the
    // title. Each item's tag is (panelType << 16) | index; the index grows
    // after every element, separators too. action runs with the item when
    // it is triggered, for as long as target lives. Nothing happens without
    // a menu, list, target or action.
    static void setMenuItemStringList(QMenu* menu, const kdf::Array* list, QObject* target,
                                      std::function<void(QAction*)> action, int panelType, bool isUseKey);

    // Animations at most every 0.7 s: NO (and the last time kept) when less
    // than that passed since the last accepted one, on the run loops' steady
    // clock. The first call answers YES.
    static bool isValidAnimation();

    static kdui::ViewAnimation viewAnimInfo(QWidget* view, const QRect& startFrame, const QRect& endFrame);
    static kdui::ViewAnimation fadeInOutInfo(bool fadeIn, QWidget* view);
};

inline constexpr const char* kSeparatorItemKey = "separatorItem";
