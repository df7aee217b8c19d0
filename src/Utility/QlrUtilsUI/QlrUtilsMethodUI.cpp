#include "QlrUtilsMethodUI.h"

#include "TV_FuncUI.h"

#include <foundation/Bundle.h>
#include <ui/ViewTag.h>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPalette>
#include <QSlider>
#include <QTabBar>
#include <QTableWidget>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace QlrUtilsMethod {

namespace {

// Whether the class of the object, or one it derives from, has a name
// holding the part (the widget kit's own classes are known by name only).
bool classNameHolds(const QObject* object, const char* part) {
    for (const QMetaObject* m = object->metaObject(); m; m = m->superClass())
        if (std::strstr(m->className(), part)) return true;
    return false;
}

bool isSegmentedControl(const QWidget* w) {
    return qobject_cast<const QTabBar*>(w) || classNameHolds(w, "Segmented");
}

// Qt places the children of layouts and of its composite widgets (scroll
// areas, tab widgets, splitters...) itself and mirrors them in right-to-left
// layout; only children placed by hand in a plain container are mirrored
// here.
bool isPlacedByHand(const QWidget* w) {
    const QWidget* parent = w->parentWidget();
    if (!parent || w->isWindow() || w->objectName().startsWith(QLatin1String("qt_"))) return false;
    if (parent->layout() && parent->layout()->indexOf(const_cast<QWidget*>(w)) >= 0) return false;
    const QMetaObject* m = parent->metaObject();
    return m == &QWidget::staticMetaObject || m == &QFrame::staticMetaObject ||
           m == &QGroupBox::staticMetaObject || m == &QDialog::staticMetaObject ||
           !QByteArray(m->className()).startsWith('Q');
}

} // namespace

// --- Images.

QtImage::QtImage(QIcon icon, QImage image) : icon_(std::move(icon)), image_(std::move(image)) {}

QImage QtImage::image() const {
    if (!image_.isNull()) return image_;
    const auto sizes = icon_.availableSizes();
    if (sizes.isEmpty()) return {};
    const QSize largest = *std::max_element(sizes.begin(), sizes.end(), [](QSize a, QSize b) {
        return a.width() * a.height() < b.width() * b.height();
    });
    return icon_.pixmap(largest).toImage();
}

int QtImage::width() const {
    return image().width();
}

int QtImage::height() const {
    return image().height();
}

QImage bundleImageNamed(const std::string& name) {
    const auto bundle = kdf::Bundle::main();
    std::string path;
    if (QFileInfo(QString::fromStdString(name)).suffix().isEmpty()) {
        for (const char* type : {"png", "tiff", "tif", "jpg"})
            if (path = bundle->pathForResource(name, type); !path.empty()) break;
    } else {
        path = bundle->pathForResource(name, "");
    }
    return path.empty() ? QImage() : QImage(QString::fromStdString(path));
}

ImageRef QtImageProvider::bundleImage(const std::string& name) {
    QImage image = bundleImageNamed(name);
    if (image.isNull()) return nullptr;
    return std::make_shared<QtImage>(QIcon(QPixmap::fromImage(image)), image);
}

ImageRef QtImageProvider::imageFromFile(const std::string& path) {
    QImage image(QString::fromStdString(path));
    if (image.isNull()) return nullptr;
    return std::make_shared<QtImage>(QIcon(QPixmap::fromImage(image)), image);
}

ImageRef QtImageProvider::fileIcon(const std::string& path) {
    QFileIconProvider icons;
    return std::make_shared<QtImage>(icons.icon(QFileInfo(QString::fromStdString(path))));
}

ImageRef QtImageProvider::folderIcon() {
    QFileIconProvider icons;
    return std::make_shared<QtImage>(icons.icon(QAbstractFileIconProvider::Folder));
}

void installQtImageProvider() {
    setImageProvider(std::make_shared<QtImageProvider>());
}

QIcon iconOf(const ImageRef& image) {
    if (const auto* qt = dynamic_cast<const QtImage*>(image.get())) return qt->icon();
    if (const QImage bitmap = qImageOfBitmap(std::dynamic_pointer_cast<const BitmapImage>(image)); !bitmap.isNull())
        return QIcon(QPixmap::fromImage(bitmap));
    return QIcon();
}

QImage qImageOfBitmap(const std::shared_ptr<const BitmapImage>& bitmap) {
    if (!bitmap || !bitmap->bitmapData()) return {};
    QImage::Format format = QImage::Format_Invalid;
    switch (bitmap->bitsPerPixel()) {
    case 1: format = QImage::Format_Mono; break;
    case 8: format = QImage::Format_Grayscale8; break;
    case 24: format = QImage::Format_RGB888; break;
    default: return {};
    }
    // The image holds a reference to the bitmap until Qt lets go of the
    // pixels.
    auto* keep = new std::shared_ptr<const BitmapImage>(bitmap);
    QImage image(bitmap->bitmapData(), bitmap->pixelsWide(), bitmap->pixelsHigh(), qsizetype(bitmap->bytesPerRow()),
                 format, [](void* info) { delete static_cast<std::shared_ptr<const BitmapImage>*>(info); }, keep);
    if (image.isNull()) {
        delete keep;
        return {};
    }
    // Index 0 is a clear bit: black; a set bit is white.
    if (format == QImage::Format_Mono) image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    return image;
}

QImage imageOf(const ImageRef& image) {
    if (const auto* qt = dynamic_cast<const QtImage*>(image.get())) return qt->image();
    return qImageOfBitmap(std::dynamic_pointer_cast<const BitmapImage>(image));
}

QImage flipHorizontalImage(const std::string& imageName) {
    const QImage image = bundleImageNamed(imageName);
    return image.isNull() ? image : image.mirrored(true, false);
}

QImage remakeNewImage(const QImage& image) {
    return image.copy();
}

QIcon imageForMenuIcon(const QIcon& icon) {
    if (icon.isNull() || icon.availableSizes().size() <= 1) return icon;
    // pixmap() takes the 16 x 16 picture when there is one, else scales the
    // best one down.
    return QIcon(icon.pixmap(QSize(16, 16), 1.0));
}

// --- Sizes and text.

int frameWidthFitString(const QString& text, const QFont& font, double marginFrac) {
    if (text.isEmpty()) return 0;
    const QFontMetricsF metrics(font);
    return int(std::ceil(metrics.horizontalAdvance(text) + metrics.height() * marginFrac));
}

namespace {
QSizeF scaledToFit(QSizeF size, QSizeF base, bool mayEnlarge) {
    if (size.width() <= 0 || size.height() <= 0 || base.width() <= 0 || base.height() <= 0) return size;
    const double ratio = std::min(base.width() / size.width(), base.height() / size.height());
    if (!mayEnlarge && ratio >= 1) return size;
    return {std::max(1.0, size.width() * ratio), std::max(1.0, size.height() * ratio)};
}
} // namespace

QSizeF sizeForPreviewFitImage(QSizeF size, QSizeF base) {
    return scaledToFit(size, base, false);
}

QSizeF resizeKeepRatio(QSizeF size, QSizeF base) {
    return scaledToFit(size, base, true);
}

QColor colorWithDeviceWithComp(const float* c) {
    if (!c) return QColor::fromRgbF(1, 1, 1, 1);
    const auto unit = [](float v) { return std::clamp(v, 0.0f, 1.0f); };
    return QColor::fromRgbF(unit(c[0]), unit(c[1]), unit(c[2]), unit(c[3]));
}

void setEnabledForText(bool enabled, QWidget* item) {
    if (!item) return;
    const QPalette standard = QApplication::palette(item);
    const QColor colour = standard.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::Text);
    QPalette palette = item->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Text, colour);
        palette.setColor(group, QPalette::WindowText, colour);
    }
    item->setPalette(palette);
}

// --- Views.

QWidget* itemInViewFromTag(QWidget* view, int tag) {
    return kdui::viewWithTag(view, tag);
}

bool isAddedView(QWidget* parent, QWidget* view) {
    return parent && view && view->parentWidget() == parent && !view->isWindow();
}

void addViewInParentView(QWidget* parent, QWidget* view) {
    if (!parent || !view || isAddedView(parent, view)) return;
    const bool hidden = view->testAttribute(Qt::WA_WState_ExplicitShowHide) && view->isHidden() &&
                        view->parentWidget();
    view->setParent(parent);
    if (!hidden) view->show();
}

// The caller owns the view again once it is taken out.
void removeViewInParentView(QWidget* parent, QWidget* view) {
    if (isAddedView(parent, view)) view->setParent(nullptr);
}

void addViewsInParentView(QWidget* parent, const std::vector<QWidget*>& views) {
    for (QWidget* v : views) addViewInParentView(parent, v);
}

void removeViewsInParentView(QWidget* parent, const std::vector<QWidget*>& views) {
    for (QWidget* v : views) removeViewInParentView(parent, v);
}

void addViewAndFitView(QWidget* view, QWidget* parent) {
    if (!view || !parent) return;
    addViewInParentView(parent, view);
    parent->resize(view->size());
    view->move(0, 0);
}

double lengthOfViews(const std::vector<QWidget*>& views, bool horizontal) {
    double sum = 0;
    for (const QWidget* v : views)
        if (v) sum += horizontal ? v->width() : v->height();
    return sum;
}

void layoutViews(const std::vector<QWidget*>& views, QWidget* parent, double length) {
    if (parent) {
        const double height = length > 0 ? length : lengthOfViews(views, false);
        parent->resize(parent->width(), int(std::lround(height)));
    }
    // Qt's y axis points down: the first view at the top, each next one
    // directly below the one before, all at the first one's x (0).
    int y = 0;
    for (QWidget* v : views) {
        if (!v) continue;
        v->move(0, y);
        y += v->height();
    }
}

void setHiddenItem(QWidget* item, bool hidden) {
    if (item && item->isHidden() != hidden) item->setHidden(hidden);
}

void setHiddenForViews(const std::vector<QWidget*>& views, bool hidden) {
    for (QWidget* v : views) setHiddenItem(v, hidden);
}

// --- Right-to-left layout.

void changeUserInterfaceLayoutDirection(QWidget* widget) {
    if (widget) widget->setLayoutDirection(Qt::RightToLeft);
}

Qt::Alignment mirroredAlignment(Qt::Alignment alignment) {
    const Qt::Alignment vertical = alignment & Qt::AlignVertical_Mask;
    const Qt::Alignment horizontal = alignment & (Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter | Qt::AlignJustify);
    Qt::Alignment result;
    if (horizontal == Qt::AlignLeft)
        result = Qt::AlignRight;
    else if (horizontal == Qt::AlignRight)
        result = Qt::AlignLeft;
    else if (horizontal == Qt::AlignHCenter)
        result = Qt::AlignHCenter;
    else
        result = Qt::AlignRight;
    // Absolute, so the right-to-left direction does not swap it back.
    return result | Qt::AlignAbsolute | vertical;
}

void changeAlignment(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setAlignment(mirroredAlignment(label->alignment()));
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setAlignment(mirroredAlignment(edit->alignment()));
    } else if (auto* spin = qobject_cast<QAbstractSpinBox*>(widget)) {
        spin->setAlignment(mirroredAlignment(spin->alignment()));
    } else if (auto* header = qobject_cast<QHeaderView*>(widget)) {
        header->setDefaultAlignment(mirroredAlignment(header->defaultAlignment()));
    } else if (auto* table = qobject_cast<QTableWidget*>(widget)) {
        for (int r = 0; r < table->rowCount(); ++r)
            for (int c = 0; c < table->columnCount(); ++c)
                if (QTableWidgetItem* item = table->item(r, c))
                    item->setTextAlignment(mirroredAlignment(Qt::Alignment(item->textAlignment())));
        for (int c = 0; c < table->columnCount(); ++c)
            if (QTableWidgetItem* item = table->horizontalHeaderItem(c))
                item->setTextAlignment(mirroredAlignment(Qt::Alignment(item->textAlignment())));
    }
}

void layoutLeftToRightOfExceptionCell(QWidget* widget) {
    changeUserInterfaceLayoutDirection(widget);
    changeAlignment(widget);
}

void mirrorViewTree(QWidget* view) {
    for (QWidget* w : TV_Func::deepSubviewsAtView(view)) {
        if (isSegmentedControl(w)) {
            // Segments keep their order; the control is only moved.
            w->setLayoutDirection(Qt::LeftToRight);
        } else {
            // Qt mirrors a right-to-left widget's drawing, icon places,
            // check boxes, table columns and side-by-side splitters itself,
            // and a left or right alignment with them; the explicit
            // alignments set here keep the look from being mirrored twice.
            if (classNameHolds(w, "TvSlider"))
                w->setLayoutDirection(Qt::LeftToRight);
            else
                layoutLeftToRightOfExceptionCell(w);
            if (auto* slider = qobject_cast<QSlider*>(w); slider && slider->orientation() == Qt::Vertical) {
                if (slider->tickPosition() == QSlider::TicksLeft)
                    slider->setTickPosition(QSlider::TicksRight);
                else if (slider->tickPosition() == QSlider::TicksRight)
                    slider->setTickPosition(QSlider::TicksLeft);
            }
        }
        if (isPlacedByHand(w)) {
            const QRect frame = w->geometry();
            w->move(w->parentWidget()->width() - (frame.x() + frame.width()), frame.y());
        }
    }
}

void layoutLeftToRight(QWidget* view) {
    if (!isLTR_LayoutDirection()) mirrorViewTree(view);
}

void applyApplicationLayoutDirection() {
    QGuiApplication::setLayoutDirection(isLTR_LayoutDirection() ? Qt::LeftToRight : Qt::RightToLeft);
}

} // namespace QlrUtilsMethod
