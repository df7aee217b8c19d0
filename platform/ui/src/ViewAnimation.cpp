#include "ui/ViewAnimation.h"

#include <foundation/RunLoop.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QGraphicsOpacityEffect>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>

namespace kdui {
namespace {

// The object whose opacity a fade drives: the window itself, or the child
// widget's opacity effect (made on first use).
QPropertyAnimation* fadeAnimation(QWidget* target, bool fadeIn, double opacity) {
    const double from = fadeIn ? 0.0 : opacity;
    const double to = fadeIn ? opacity : 0.0;
    if (target->isWindow()) {
        auto* animation = new QPropertyAnimation(target, "windowOpacity");
        target->setWindowOpacity(from);
        animation->setStartValue(from);
        animation->setEndValue(to);
        return animation;
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(target->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(target);
        target->setGraphicsEffect(effect);
    }
    effect->setOpacity(from);
    auto* animation = new QPropertyAnimation(effect, "opacity");
    animation->setStartValue(from);
    animation->setEndValue(to);
    return animation;
}

} // namespace

void runViewAnimations(const std::vector<ViewAnimation>& animations, double seconds, bool blocking) {
    // Owned by the application, so a run still going at exit is freed.
    auto* group = new QParallelAnimationGroup(QCoreApplication::instance());
    const int ms = seconds > 0 ? int(seconds * 1000.0) : 0;
    for (const ViewAnimation& a : animations) {
        QWidget* target = a.target.data();
        if (!target) continue;
        QPropertyAnimation* animation = nullptr;
        if (a.effect == ViewAnimation::Effect::None) {
            if (!a.endFrame) continue;
            animation = new QPropertyAnimation(target, "geometry");
            const QRect start = a.startFrame.value_or(target->geometry());
            target->setGeometry(start);
            animation->setStartValue(start);
            animation->setEndValue(*a.endFrame);
        } else {
            if (a.startFrame) target->setGeometry(*a.startFrame);
            animation = fadeAnimation(target, a.effect == ViewAnimation::Effect::FadeIn, a.fadeOpacity);
            if (a.endFrame) {
                // A fade that also moves: the frame runs beside it.
                auto* frame = new QPropertyAnimation(target, "geometry");
                frame->setStartValue(target->geometry());
                frame->setEndValue(*a.endFrame);
                frame->setDuration(ms);
                frame->setEasingCurve(QEasingCurve::InOutQuad);
                group->addAnimation(frame);
            }
        }
        animation->setDuration(ms);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        group->addAnimation(animation);
    }
    if (!blocking) {
        group->start(QAbstractAnimation::DeleteWhenStopped);
        return;
    }
    QEventLoop loop;
    QObject::connect(group, &QAbstractAnimation::finished, &loop, &QEventLoop::quit);
    kdf::RunLoopModeScope scope(kdf::RunLoopMode::ViewAnimation, kdf::RunLoop::main());
    group->start();
    if (group->state() == QAbstractAnimation::Running) loop.exec(QEventLoop::ExcludeUserInputEvents);
    // Every animation ends at its end value, also one whose target went.
    group->setCurrentTime(group->totalDuration());
    delete group;
}

} // namespace kdui
