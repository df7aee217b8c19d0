// The print settings a printer destination stores: the printer, the paper
// with its printable margins, orientation, copies, page range and scaling,
// kept as a dictionary (archived under "AppUser.PrintInfoDict").
#pragma once

#include "RenderingView.h"

#include <desktop/Print.h>
#include <foundation/Value.h>

#include <QRectF>
#include <QSizeF>

#include <optional>
#include <string>

namespace sendvia_printer {

// The dictionary's keys.
inline constexpr const char* kPrinterNameKey = "PrinterName";
inline constexpr const char* kPaperNameKey = "PaperName";
inline constexpr const char* kPaperWidthKey = "PaperWidth";   // points, portrait
inline constexpr const char* kPaperHeightKey = "PaperHeight"; // points, portrait
inline constexpr const char* kLeftMarginKey = "LeftMargin";   // points, portrait
inline constexpr const char* kTopMarginKey = "TopMargin";
inline constexpr const char* kRightMarginKey = "RightMargin";
inline constexpr const char* kBottomMarginKey = "BottomMargin";
inline constexpr const char* kOrientationKey = "Orientation"; // 0 portrait, 1 landscape
inline constexpr const char* kCopiesKey = "Copies";
inline constexpr const char* kAllPagesKey = "AllPages";
inline constexpr const char* kFirstPageKey = "FirstPage";
inline constexpr const char* kLastPageKey = "LastPage";
inline constexpr const char* kScalingFactorKey = "ScalingFactor";

inline constexpr int kPortrait = 0;
inline constexpr int kLandscape = 1;
inline constexpr int kMaxCopies = 9999;

struct PrintInfo {
    std::string printerName; // a queue name or an ipp:// / ipps:// address
    kdd::print::Media paper; // portrait size and margins
    int orientation = kPortrait;
    int copies = 1;
    bool allPages = true;
    int firstPage = 1;
    int lastPage = 1;
    double scalingFactor = 1.0;

    // The settings for the printer with its medium.
    static PrintInfo forDestination(const std::string& printer, const kdd::print::Media& media);
    // Missing or ill-typed values take their defaults; none when the whole
    // is unusable (no printer name, no usable paper size).
    static std::optional<PrintInfo> fromDictionary(const kdf::Dictionary& dictionary);
    kdf::Dictionary dictionary() const;

    // The paper as printed, in points: portrait or turned.
    QSizeF paperSize() const;
    // The printable area on the paper as printed (y downwards).
    QRectF imageableBounds() const;
    // What the rendering view reads of the running print.
    kdkit::RenderingPrintSettings renderingSettings() const;
};

} // namespace sendvia_printer
