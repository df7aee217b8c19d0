#include "PrintInfo.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sendvia_printer {
namespace {

// Paper from a business card to a banner: anything outside is not paper.
constexpr double kMinPaperPoints = 36;
constexpr double kMaxPaperPoints = 72 * 200;

std::optional<double> real(const kdf::Dictionary& d, const char* key) {
    const kdf::Value* v = kdf::find(d, key);
    if (!v) return std::nullopt;
    std::optional<double> r = v->toReal();
    if (!r || !std::isfinite(*r)) return std::nullopt;
    return r;
}

std::optional<std::int64_t> integer(const kdf::Dictionary& d, const char* key) {
    const kdf::Value* v = kdf::find(d, key);
    if (!v || v->is(kdf::Value::Kind::String)) return std::nullopt;
    return v->toInteger();
}

bool usablePaper(double side) { return side >= kMinPaperPoints && side <= kMaxPaperPoints; }

} // namespace

PrintInfo PrintInfo::forDestination(const std::string& printer, const kdd::print::Media& media) {
    PrintInfo info;
    info.printerName = printer;
    info.paper = media;
    return info;
}

std::optional<PrintInfo> PrintInfo::fromDictionary(const kdf::Dictionary& d) {
    PrintInfo info;
    const kdf::Value* name = kdf::find(d, kPrinterNameKey);
    if (!name || !name->string() || name->string()->empty()) return std::nullopt;
    info.printerName = *name->string();
    const std::optional<double> width = real(d, kPaperWidthKey);
    const std::optional<double> height = real(d, kPaperHeightKey);
    if (!width || !height || !usablePaper(*width) || !usablePaper(*height)) return std::nullopt;
    info.paper.width = *width;
    info.paper.length = *height;
    if (const kdf::Value* paper = kdf::find(d, kPaperNameKey); paper && paper->string())
        info.paper.name = *paper->string();
    // Margins that leave no printable area are none at all.
    const double left = std::max(0.0, real(d, kLeftMarginKey).value_or(0));
    const double top = std::max(0.0, real(d, kTopMarginKey).value_or(0));
    const double right = std::max(0.0, real(d, kRightMarginKey).value_or(0));
    const double bottom = std::max(0.0, real(d, kBottomMarginKey).value_or(0));
    if (left + right < info.paper.width && top + bottom < info.paper.length) {
        info.paper.left = left;
        info.paper.top = top;
        info.paper.right = right;
        info.paper.bottom = bottom;
    }
    info.orientation = integer(d, kOrientationKey).value_or(kPortrait) == kLandscape ? kLandscape : kPortrait;
    info.copies = int(std::clamp<std::int64_t>(integer(d, kCopiesKey).value_or(1), 1, kMaxCopies));
    if (const kdf::Value* all = kdf::find(d, kAllPagesKey))
        info.allPages = all->toBool().value_or(true);
    const std::int64_t first = integer(d, kFirstPageKey).value_or(1);
    const std::int64_t last = integer(d, kLastPageKey).value_or(first);
    if (first < 1 || last < first || last > std::numeric_limits<int>::max()) {
        info.allPages = true;
    } else {
        info.firstPage = int(first);
        info.lastPage = int(last);
    }
    if (info.allPages) info.firstPage = info.lastPage = 1;
    info.scalingFactor = kdkit::RenderingView::usableScale(real(d, kScalingFactorKey).value_or(1.0));
    return info;
}

kdf::Dictionary PrintInfo::dictionary() const {
    kdf::Dictionary d;
    d[kPrinterNameKey] = printerName;
    d[kPaperNameKey] = paper.name;
    d[kPaperWidthKey] = paper.width;
    d[kPaperHeightKey] = paper.length;
    d[kLeftMarginKey] = paper.left;
    d[kTopMarginKey] = paper.top;
    d[kRightMarginKey] = paper.right;
    d[kBottomMarginKey] = paper.bottom;
    d[kOrientationKey] = orientation;
    d[kCopiesKey] = copies;
    d[kAllPagesKey] = allPages;
    d[kFirstPageKey] = firstPage;
    d[kLastPageKey] = lastPage;
    d[kScalingFactorKey] = scalingFactor;
    return d;
}

QSizeF PrintInfo::paperSize() const {
    return orientation == kLandscape ? QSizeF(paper.length, paper.width) : QSizeF(paper.width, paper.length);
}

QRectF PrintInfo::imageableBounds() const {
    // Landscape turns the portrait sheet a quarter to the left: its right
    // edge becomes the top, its top edge the left.
    double left = paper.left, top = paper.top, right = paper.right, bottom = paper.bottom;
    if (orientation == kLandscape) {
        left = paper.top;
        top = paper.right;
        right = paper.bottom;
        bottom = paper.left;
    }
    const QSizeF size = paperSize();
    return {left, top, size.width() - left - right, size.height() - top - bottom};
}

kdkit::RenderingPrintSettings PrintInfo::renderingSettings() const {
    kdkit::RenderingPrintSettings s;
    s.scalingFactor = scalingFactor;
    const QRectF imageable = imageableBounds();
    s.imageablePageBounds = imageable;
    s.leftMargin = imageable.x();
    s.topMargin = imageable.y();
    return s;
}

} // namespace sendvia_printer
