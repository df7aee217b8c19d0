// Names of the notifications the widget kit posts on the default
// notification centre (main thread).
#pragma once

#include "TV_Message.h" // kTvAlertRunModalNotification: posted by the kit's alert

// Object: the flat window's content view; posted on every mouse move, enter
// and exit.
inline constexpr const char* kMouseMovedInFlatWindowContentViewDidChange =
    "MouseMovedInFlatWindowContentViewDidChange";
// Object: the enclosing scroll view; posted whenever the kit's scroller's
// hidden state is set.
inline constexpr const char* kScrollerHideDidChange = "ScrollerHideDidChange";
// Object: the preview view; posted by its scroll-wheel zoom, the straighten
// grip and the crop frame.
inline constexpr const char* kScrollWheelDidChange = "ScrollWheelDidChange";
inline constexpr const char* kRatioOfCropDidChange = "RatioOfCropDidChange";
inline constexpr const char* kDegreeForRotateDidChange = "DegreeForRotateDidChange";
