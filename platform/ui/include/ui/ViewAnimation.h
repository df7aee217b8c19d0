// A view animation as the application's windows describe it: a widget
// moving from one frame to another, or fading in or out. The widget kit's
// animation runs such descriptions.
#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <optional>
#include <vector>

namespace kdui {

struct ViewAnimation {
    enum class Effect { None, FadeIn, FadeOut };

    // The widget animated; cleared when it goes away before the run.
    QPointer<QWidget> target;
    // Frames in the parent's coordinates; none for a fade.
    std::optional<QRect> startFrame;
    std::optional<QRect> endFrame;
    Effect effect = Effect::None;
    // The opacity a fade in ends at and a fade out starts from.
    double fadeOpacity = 1.0;
};

// Runs the animations together over seconds with an ease-in-out curve:
// frames as the widget's geometry, fades as the window's opacity for a
// window and as an opacity effect for a child widget. Blocking, it returns
// after every animation reached its end value; meanwhile a nested loop
// delivers no user input and the main run loop runs in its ViewAnimation
// mode, so no perform of the common modes fires. Not blocking, it returns
// at once. A target gone before or during the run is skipped.
void runViewAnimations(const std::vector<ViewAnimation>& animations, double seconds, bool blocking);

} // namespace kdui
