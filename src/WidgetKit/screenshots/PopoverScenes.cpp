// Screenshot scenes of the popover: one for each side its arrow can take,
// opened modally over a window beside an anchor button.
#include "QlrUtilsMethodUI.h"
#include "SceneWindow.h"
#include "TvButtons.h"
#include "TvPopoverWindow.h"

#include <ui/Screenshots.h>

#include <QLabel>
#include <QPushButton>

namespace {

std::vector<QWidget*> popoverScene(int requestedEdge, QPoint anchorAt) {
    QWidget* parent = sceneWindow(QSize(560, 420));
    parent->move(0, 0);
    auto* anchor = new QPushButton(QStringLiteral("Panel"), parent);
    anchor->setGeometry(QRect(anchorAt, QSize(80, 40)));

    auto* popover = new TvPopoverWindow;
    popover->resize(220, 140);
    QWidget* body = popover->contentView();
    auto* title = new QLabel(QStringLiteral("Panel settings"), body);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setGeometry(24, 22, 172, 22);
    auto* text = new QLabel(QStringLiteral("Colour, 300 dpi"), body);
    text->setGeometry(24, 48, 172, 22);
    auto* done = new TvButton(body);
    done->setCell(std::make_unique<TvColoredPushButtonCell>(3));
    done->setText(QStringLiteral("Done"));
    done->setGeometry(96, 86, 100, 29);
    QlrUtilsMethod::layoutLeftToRight(body);

    // Placed as the popover places itself, shown without the fade.
    const QRectF anchorRect(QPointF(parent->mapToGlobal(anchor->pos())), QSizeF(anchor->size()));
    const TvPopoverPlacement place =
        TvPopoverWindow::placement(anchorRect, popover->size(), QRectF(parent->geometry()), requestedEdge, -1);
    popover->setGeometry(place.frame);
    popover->setRectEdge(place.rectEdge);
    popover->setValueFromCorner(place.valueFromCorner);
    popover->setIsValidClose(true);
    parent->show();
    TvWindow::beginModalWindow(popover, parent, false);
    return {parent, popover};
}

} // namespace

KD_SCREENSHOT_SCENE(popoverArrowLeft, "kit/popover-arrow-left", kdui::Direction::Both) {
    return popoverScene(4, QPoint(60, 190));
}

KD_SCREENSHOT_SCENE(popoverArrowRight, "kit/popover-arrow-right", kdui::Direction::Both) {
    return popoverScene(0, QPoint(420, 190));
}

KD_SCREENSHOT_SCENE(popoverArrowTop, "kit/popover-arrow-top", kdui::Direction::Both) {
    return popoverScene(6, QPoint(240, 60));
}

KD_SCREENSHOT_SCENE(popoverArrowBottom, "kit/popover-arrow-bottom", kdui::Direction::Both) {
    return popoverScene(2, QPoint(240, 320));
}
