#include "ItemFunctions.h"

#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>

#include <algorithm>
#include <cmath>

namespace ComTavrolekKD720 {

namespace {

QButtonGroup* matrixGroup(QWidget* control) {
    return control->findChild<QButtonGroup*>(QString(), Qt::FindDirectChildrenOnly);
}

int integerOf(const QString& text) {
    // Like a control's intValue: the leading number, 0 when there is none.
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? static_cast<int>(value) : 0;
}

std::optional<int> itemWithTag(QComboBox* popUp, int itemTag) {
    for (int i = 0; i < popUp->count(); ++i) {
        if (popUp->itemData(i, kItemTagRole).toInt() == itemTag) return i;
    }
    return std::nullopt;
}

} // namespace

int GetItemIntValue(QWidget* view, int tag) {
    QWidget* control = kdui::viewWithTag(view, tag);
    if (!control) return -1;
    if (auto* popUp = qobject_cast<QComboBox*>(control)) return popUp->currentIndex();
    if (QButtonGroup* group = matrixGroup(control)) {
        return static_cast<int>(group->buttons().indexOf(group->checkedButton()));
    }
    if (auto* slider = qobject_cast<QAbstractSlider*>(control)) return slider->value();
    if (auto* spin = qobject_cast<QSpinBox*>(control)) return spin->value();
    if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->isChecked() ? 1 : 0;
    if (auto* field = qobject_cast<QLineEdit*>(control)) return integerOf(field->text());
    if (auto* label = qobject_cast<QLabel*>(control)) return integerOf(label->text());
    return 0;
}

void SetItemIntValue(QWidget* view, int tag, int value) {
    QWidget* control = kdui::viewWithTag(view, tag);
    if (!control) return;
    if (auto* popUp = qobject_cast<QComboBox*>(control)) {
        if (value < popUp->count()) popUp->setCurrentIndex(value);
        return;
    }
    if (QButtonGroup* group = matrixGroup(control)) {
        const auto buttons = group->buttons();
        if (value >= 0 && value < buttons.size()) buttons[value]->setChecked(true);
        return;
    }
    if (auto* slider = qobject_cast<QAbstractSlider*>(control)) slider->setValue(value);
    else if (auto* spin = qobject_cast<QSpinBox*>(control)) spin->setValue(value);
    else if (auto* button = qobject_cast<QAbstractButton*>(control)) button->setChecked(value != 0);
    else if (auto* field = qobject_cast<QLineEdit*>(control)) field->setText(QString::number(value));
    else if (auto* label = qobject_cast<QLabel*>(control)) label->setText(QString::number(value));
}

int GetMenuItemIntValue(QWidget* view, int tag) {
    auto* popUp = qobject_cast<QComboBox*>(kdui::viewWithTag(view, tag));
    if (!popUp || popUp->currentIndex() < 0) return -1;
    return popUp->itemData(popUp->currentIndex(), kItemTagRole).toInt();
}

void SetMenuItemIntValue(QWidget* view, int tag, int itemTag) {
    auto* popUp = qobject_cast<QComboBox*>(kdui::viewWithTag(view, tag));
    if (!popUp) return;
    if (const auto index = itemWithTag(popUp, itemTag)) popUp->setCurrentIndex(*index);
}

std::optional<int> GetMenuItemWithTag(QWidget* view, int tag, int itemTag) {
    auto* popUp = qobject_cast<QComboBox*>(kdui::viewWithTag(view, tag));
    if (!popUp) return std::nullopt;
    return itemWithTag(popUp, itemTag);
}

void SetItemHidden(QWidget* view, int tag, bool hidden) {
    if (QWidget* control = kdui::viewWithTag(view, tag)) control->setHidden(hidden);
}

void SetItemEnabled(QWidget* view, int tag, bool enabled) {
    QWidget* control = kdui::viewWithTag(view, tag);
    if (!control) return;
    control->setEnabled(enabled);
    auto* imageView = qobject_cast<QLabel*>(control);
    const QVariantList pair = control->property(kImagePairProperty).toList();
    if (imageView && pair.size() == 2) imageView->setPixmap(pair[enabled ? 0 : 1].value<QPixmap>());
}

void SetItemString(QWidget* view, int tag, const QString& text) {
    QWidget* control = kdui::viewWithTag(view, tag);
    if (!control) return;
    if (auto* field = qobject_cast<QLineEdit*>(control)) field->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(control)) label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(control)) button->setText(text);
    else if (auto* box = qobject_cast<QGroupBox*>(control)) box->setTitle(text);
    else if (auto* popUp = qobject_cast<QComboBox*>(control)) {
        if (popUp->isEditable()) popUp->setEditText(text);
        else if (const int index = popUp->findText(text); index >= 0) popUp->setCurrentIndex(index);
    } else if (auto* slider = qobject_cast<QAbstractSlider*>(control)) slider->setValue(integerOf(text));
    else if (auto* spin = qobject_cast<QSpinBox*>(control)) spin->setValue(integerOf(text));
}

std::optional<QString> GetItemString(QWidget* view, int tag) {
    QWidget* control = kdui::viewWithTag(view, tag);
    if (!control) return std::nullopt;
    if (auto* field = qobject_cast<QLineEdit*>(control)) return field->text();
    if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
    if (auto* box = qobject_cast<QGroupBox*>(control)) return box->title();
    if (auto* popUp = qobject_cast<QComboBox*>(control)) return popUp->currentText();
    if (auto* slider = qobject_cast<QAbstractSlider*>(control)) return QString::number(slider->value());
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(control)) return spin->text();
    return QString();
}

bool ArrangeView(const QWidget* a, const QWidget* b) {
    // Qt's y runs downward: a frame's y is already its top.
    const int topA = a->geometry().y();
    const int topB = b->geometry().y();
    if (std::abs(topA - topB) <= 8) return a->geometry().x() < b->geometry().x();
    return topA < topB;
}

namespace {

void collectDeep(QWidget* view, std::vector<QWidget*>& out) {
    out.push_back(view);
    QWidget* parent = view;
    if (auto* scroll = qobject_cast<QScrollArea*>(view); scroll && scroll->widget()) parent = scroll->widget();
    std::vector<QWidget*> children;
    for (QObject* child : parent->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow()) children.push_back(widget);
    }
    std::stable_sort(children.begin(), children.end(), ArrangeView);
    for (QWidget* child : children) collectDeep(child, out);
}

// "Title$$NAME:value,NAME:value": the title before the marker, and the
// font's pixel size from FNSZ when it is a positive number (kept within
// 6..72 so a translator's slip cannot give an unreadable or vast font).
struct Dressed {
    QString title;
    std::optional<int> pixelSize;
};

std::optional<Dressed> dress(const QString& text) {
    const qsizetype marker = text.indexOf(QStringLiteral("$$"));
    if (marker < 0) return std::nullopt;
    Dressed out{text.left(marker), std::nullopt};
    const QString directives = text.mid(marker + 2);
    for (const QString& directive : directives.split(u',', Qt::SkipEmptyParts)) {
        const qsizetype colon = directive.indexOf(u':');
        if (colon < 0 || directive.left(colon).trimmed() != QStringLiteral("FNSZ")) continue;
        bool ok = false;
        const double size = directive.mid(colon + 1).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(size) || size <= 0) continue;
        out.pixelSize = std::clamp(static_cast<int>(std::lround(size)), 6, 72);
    }
    return out;
}

void applyFont(QWidget* widget, std::optional<int> pixelSize) {
    if (!pixelSize) return;
    QFont font = widget->font();
    font.setPixelSize(*pixelSize);
    widget->setFont(font);
}

} // namespace

std::vector<QWidget*> GetDeepSubViews(QWidget* view) {
    std::vector<QWidget*> out;
    if (view) collectDeep(view, out);
    return out;
}

void ResourcePeeker(QObject* object) {
    if (auto* slider = qobject_cast<QAbstractSlider*>(object)) {
        slider->setSingleStep(1);
        slider->setProperty(kAltIncrementProperty, 1.0);
        return;
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(object)) {
        for (int i = 0; i < tabs->count(); ++i) {
            if (const auto dressed = dress(tabs->tabText(i))) {
                tabs->setTabText(i, dressed->title);
                applyFont(tabs, dressed->pixelSize);
            }
        }
        return;
    }
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        if (const auto dressed = dress(button->text())) {
            button->setText(dressed->title);
            applyFont(button, dressed->pixelSize);
        }
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (const auto dressed = dress(label->text())) {
            label->setText(dressed->title);
            applyFont(label, dressed->pixelSize);
        }
    } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        if (const auto dressed = dress(box->title())) {
            box->setTitle(dressed->title);
            applyFont(box, dressed->pixelSize);
        }
    } else if (auto* field = qobject_cast<QLineEdit*>(widget)) {
        if (const auto dressed = dress(field->text())) {
            field->setText(dressed->title);
            applyFont(field, dressed->pixelSize);
        }
    }
}

} // namespace ComTavrolekKD720
