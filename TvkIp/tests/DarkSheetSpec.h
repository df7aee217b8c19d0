// The sheet of the single-image and older detector tests: 700 x 900 pixels of
// paper turned by `angle` degrees about the middle of a 900 x 1150 dark scan.
#pragma once

#include "TestKit.h"

inline kdtest::SheetSpec DarkSheetSpec(double angle) {
    kdtest::SheetSpec s;
    s.sheetWidth = 700;
    s.sheetHeight = 900;
    s.imageWidth = 900;
    s.imageHeight = 1150;
    s.centerX = 450;
    s.centerY = 575;
    s.angleDeg = angle;
    s.backing = 20;
    s.paper = 230;
    return s;
}
