// The view, image and colour helpers of QlrUtilsMethod on Qt Widgets, and
// the Qt image provider for the toolkit-free code. Main thread only.
#pragma once

#include "BitmapImage.h"
#include "QlrUtilsMethod.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QSizeF>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace QlrUtilsMethod {

// --- Images of the toolkit-free handle.

class QtImage : public Image {
public:
    explicit QtImage(QIcon icon, QImage image = {});
    int width() const override;
    int height() const override;
    const QIcon& icon() const { return icon_; }
    // The image itself, or the icon's largest picture.
    QImage image() const;

private:
    QIcon icon_;
    QImage image_;
};

class QtImageProvider : public ImageProvider {
public:
    ImageRef bundleImage(const std::string& name) override;
    ImageRef imageFromFile(const std::string& path) override;
    ImageRef fileIcon(const std::string& path) override;
    ImageRef folderIcon() override;
};
// Registers the Qt provider (once a QApplication exists).
void installQtImageProvider();
// The icon of a handle; a null icon for null or a foreign handle.
QIcon iconOf(const ImageRef& image);
// A QImage over the bitmap's own pixels, not a copy: it keeps the bitmap
// alive while it or a shallow copy of it lives (a write detaches it). 1-bit
// with a set bit white, 8-bit gray, 24-bit RGB; null for null.
QImage qImageOfBitmap(const std::shared_ptr<const BitmapImage>& bitmap);
// The picture of a handle: a bitmap's pixels as above, a Qt image's image;
// null for null or a foreign handle.
QImage imageOf(const ImageRef& image);

// The named picture of the main bundle's resources ("png" assumed when the
// name has no extension); null when absent.
QImage bundleImageNamed(const std::string& name);
// A horizontally mirrored copy of the named image, same size; null when
// the image is absent.
QImage flipHorizontalImage(const std::string& imageName);
// A new image from the image's pixels.
QImage remakeNewImage(const QImage& image);
// The icon itself when it has at most one size; else a new icon from its
// 16 x 16 picture (or the best one scaled to 16 x 16).
QIcon imageForMenuIcon(const QIcon& icon);

// --- Sizes and text.

// ceil(text width + text height x margin), 0 for empty text.
int frameWidthFitString(const QString& text, const QFont& font, double marginFrac);
// The size scaled by min(base / size) of both sides when that is below 1,
// each side at least 1; unchanged when any side is not positive.
QSizeF sizeForPreviewFitImage(QSizeF size, QSizeF base);
// As above, also enlarging.
QSizeF resizeKeepRatio(QSizeF size, QSizeF base);
// A colour from red, green, blue, alpha (0..1); opaque white for null.
QColor colorWithDeviceWithComp(const float* components);
// Text colour of a control: the normal or the disabled text colour.
void setEnabledForText(bool enabled, QWidget* item);

// --- Views.

// The view itself or a descendant with the tag; null when none.
QWidget* itemInViewFromTag(QWidget* view, int tag);
// Adds the view to the parent, sizes the parent to the view and puts the
// view at the origin.
void addViewAndFitView(QWidget* view, QWidget* parent);
// Sum of heights (or widths when horizontal) of the views.
double lengthOfViews(const std::vector<QWidget*>& views, bool horizontal);
// Stacks the views from the top of the parent: the parent's height becomes
// length when positive, else the views' total height.
void layoutViews(const std::vector<QWidget*>& views, QWidget* parent, double length);
// Only when the state changes.
void setHiddenForViews(const std::vector<QWidget*>& views, bool hidden);
void setHiddenItem(QWidget* item, bool hidden);
// Direct children only; nothing for null.
bool isAddedView(QWidget* parent, QWidget* view);
void addViewInParentView(QWidget* parent, QWidget* view);
void removeViewInParentView(QWidget* parent, QWidget* view);
void addViewsInParentView(QWidget* parent, const std::vector<QWidget*>& views);
void removeViewsInParentView(QWidget* parent, const std::vector<QWidget*>& views);

// --- Right-to-left layout.

// Right-to-left direction on the widget.
void changeUserInterfaceLayoutDirection(QWidget* widget);
// The final look of a text alignment in right-to-left layout, kept
// absolute so Qt does not mirror it again: left becomes right, right left,
// centre stays, anything else right.
Qt::Alignment mirroredAlignment(Qt::Alignment alignment);
// Applies mirroredAlignment to labels, line edits, spin boxes and buttons'
// text where Qt has an alignment.
void changeAlignment(QWidget* widget);
// Direction and alignment of one widget that layoutLeftToRight leaves out.
void layoutLeftToRightOfExceptionCell(QWidget* widget);
// In right-to-left layout, mirrors the view tree (see the source for the
// rules); nothing in left-to-right layout.
void layoutLeftToRight(QWidget* view);
// The same, whatever the application's direction (tests, previews).
void mirrorViewTree(QWidget* view);
// Gives Qt the application's direction (isLTR_LayoutDirection); called once
// at start-up.
void applyApplicationLayoutDirection();

} // namespace QlrUtilsMethod
