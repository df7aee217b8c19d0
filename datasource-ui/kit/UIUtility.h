// Mirrors a loaded view hierarchy for a right-to-left interface. Qt mirrors
// layouts, alignment, check-box indicators, button icons, table headers and
// splitters by itself once the direction is set; what it leaves alone is
// moved here: the frames of widgets placed outside layouts, and the tick
// marks of vertical sliders.
#pragma once

#include <Qt>

#include <string>
#include <vector>

class QWidget;

namespace ComTavrolekKD720 {

class KdUIUtility {
public:
    static bool isLTR_LayoutDirection();
    // Nothing in a left-to-right interface.
    static void layoutLeftToRight(QWidget* view);
    // The direction of the user's first language ("ar", "he", "fa" and "ur",
    // with or without a region, are right to left); left to right without one.
    // A host without Qt of its own gets the application's direction from it.
    static Qt::LayoutDirection directionForLanguages(const std::vector<std::string>& languages);
};

} // namespace ComTavrolekKD720
