#include "AppMainCntlrUIKit.h"

#include <foundation/Bundle.h>
#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QAction>
#include <QMenu>

#include <mutex>
#include <optional>

namespace {

constexpr kdf::Seconds kAnimationInterval{0.7};

std::mutex sAnimationLock;
std::optional<kdf::TimePoint> sLastAnimation;

QString titleOf(const std::string& text, bool isUseKey) {
    if (!isUseKey) return QString::fromStdString(text);
    const auto bundle = kdf::Bundle::main();
    return QString::fromStdString(bundle ? bundle->localizedString(text, "") : text);
}

} // namespace

void AppMainCntlrUIKit::setMenuItemStringList(QMenu* menu, const kdf::Array* list, QObject* target,
                                              std::function<void(QAction*)> action, int panelType, bool isUseKey) {
    if (!menu || !list || !target || !action) return;
    menu->clear();
    int index = 0;
    for (const kdf::Value& element : *list) {
        const std::string* text = element.string();
        bool inert = false;
        if (const kdf::Array* parts = element.array()) {
            text = parts->empty() ? nullptr : (*parts)[0].string();
            if (parts->size() > 1) {
                if (const auto n = (*parts)[1].toInteger(); n && !(*parts)[1].is(kdf::Value::Kind::Boolean))
                    index = static_cast<int>(*n);
            }
            if (parts->size() > 2) inert = (*parts)[2].toBool().value_or(false);
        }
        if (text) {
            if (isUseKey && *text == kSeparatorItemKey) {
                menu->addSeparator();
            } else {
                QAction* item = menu->addAction(titleOf(*text, isUseKey));
                item->setShortcut(QKeySequence());
                kdui::setTag(item, static_cast<int>((static_cast<unsigned>(panelType) << 16) | static_cast<unsigned>(index)));
                if (inert) {
                    item->setEnabled(false);
                } else {
                    QObject::connect(item, &QAction::triggered, target, [action, item] { action(item); });
                }
            }
        }
        ++index;
    }
}

bool AppMainCntlrUIKit::isValidAnimation() {
    const kdf::TimePoint now = kdf::runLoopNow();
    std::lock_guard lock(sAnimationLock);
    if (sLastAnimation && now - *sLastAnimation < kAnimationInterval) return false;
    sLastAnimation = now;
    return true;
}

kdui::ViewAnimation AppMainCntlrUIKit::viewAnimInfo(QWidget* view, const QRect& startFrame, const QRect& endFrame) {
    kdui::ViewAnimation animation;
    animation.target = view;
    animation.startFrame = startFrame;
    animation.endFrame = endFrame;
    return animation;
}

kdui::ViewAnimation AppMainCntlrUIKit::fadeInOutInfo(bool fadeIn, QWidget* view) {
    kdui::ViewAnimation animation;
    animation.target = view;
    animation.effect = fadeIn ? kdui::ViewAnimation::Effect::FadeIn : kdui::ViewAnimation::Effect::FadeOut;
    return animation;
}
