// A view animation as the application's windows describe it: a widget
// moving from one frame to another, or fading in or out. The widget kit's
// animation runs such descriptions.
#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <optional>

namespace kdui {

struct ViewAnimation {
    enum class Effect { None, FadeIn, FadeOut };

    // The widget animated; cleared when it goes away before the run.
    QPointer<QWidget> target;
    // Frames in the parent's coordinates; none for a fade.
    std::optional<QRect> startFrame;
    std::optional<QRect> endFrame;
    Effect effect = Effect::None;
};

} // namespace kdui
