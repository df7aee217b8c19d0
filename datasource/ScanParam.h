// The per-page scan record: the data source fills it before StartScan, the
// scanner object keeps a copy for the scan and writes some fields back.
// Only our own code sees it, so it keeps the native layout. Lengths are in
// 1/1200 inch unless said.
#pragma once

#include <cstdint>

struct tagScanParam {
    std::uint32_t resolution;           // output dpi: 100, 150, 200, 240, 300, 400, 600
    float left, top, width, length;     // scan area
    std::uint32_t imageWidth;           // written back: pixels of the delivered image
    std::uint32_t imageLength;          // written back: lines
    std::uint32_t outputMode;           // 0 b/w, 1 gray, 2 colour, 128 b/w from a colour scan
    std::uint32_t scanXResolution;      // written by StartScan (300 or 600)
    std::uint32_t scanYResolution;
    std::uint32_t scanLines;            // written by StartScan
    std::uint32_t scanChannels;         // written by StartScan: 1 gray, 2 colour
    std::uint8_t continuousFeeding;
    std::uint8_t pageEdgeDetection;     // needs both sides and over-scan
    std::uint32_t sides;                // 0 front, 1 back, 2 both
    std::uint8_t doubleFeedByLength;
    std::uint8_t doubleFeedByUltrasonic; // cleared when the scanner lacks the sensor
    std::uint8_t continueOnDoubleFeed;
    std::uint8_t scanModeFlag;
    std::uint32_t optionWithValue;      // low half on/off, high half value
    std::uint8_t blankResult;           // written back by ScanPage
    std::uint8_t sideBySide;            // both sides joined into one image
    std::uint32_t rotation;             // 1 none, 2 90, 3 180, 4 270 degrees
    std::uint8_t outlineOption;         // needs both sides and over-scan
    std::uint32_t outlineValue;
    std::uint32_t dropOutColourFront, dropOutColourBack;
    std::uint32_t dropOutModeFront, dropOutModeBack;
    std::uint32_t brightnessFront, brightnessBack;
    std::uint32_t contrastFront, contrastBack; // 0 to 7
    std::uint32_t thresholdPair[2];
    std::uint32_t colourOption;         // low half on (forces a colour scan), high half level
    std::uint32_t thresholdFlag, thresholdMode;
    std::uint32_t binarisationValues[2];
    std::uint32_t pixelType;            // written back by ScanPage
    std::uint32_t furtherOptions[3];    // low half on, high half value; the last: 300 or 600 dpi scanning
    std::uint8_t toneTables[8][256];    // front gray, red, green, blue; back gray, red, green, blue
    std::uint8_t autoResolution;
    std::uint32_t detectedResolution;   // written back
    std::uint8_t cropping;              // needs over-scan
    std::uint8_t fixedMargin;           // a 1 mm margin around a detected page
    std::uint8_t detectionFlag3;
    std::uint8_t detectionFlag4;
    std::uint8_t binarisationByte;
    std::uint32_t binarisationExtra[2];
    std::uint8_t sideOrder;             // cleared by StartScan before use
    std::uint32_t textOrientation;      // 1 to 3
    std::uint16_t scanModeValues[2];    // scan-mode page 0x31
};

inline constexpr std::size_t kScanParamSize = sizeof(tagScanParam);
