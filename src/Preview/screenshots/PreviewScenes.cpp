// Screenshot scenes of the page preview: zoom 1 and 2, and the transform
// mode's crop frame, handle and grip with the page straightened.
#include "PreviewBaseView.h"

#include "TvSlider.h"

#include <ui/Screenshots.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>

#include <vector>

namespace {

// A made-up page: a title bar, lines of text and a picture.
QImage scenePage() {
    QImage page(850, 1100, QImage::Format_ARGB32);
    page.fill(QColor(0xFD, 0xFD, 0xFA));
    QPainter p(&page);
    p.fillRect(80, 80, 690, 70, QColor(0x2E, 0x4A, 0x7A));
    for (int y = 200; y < 1000; y += 34) {
        if (y >= 470 && y < 760) continue;
        const int width = (y / 34) % 5 == 4 ? 420 : 690;
        p.fillRect(80, y, width, 12, QColor(0x70, 0x70, 0x70));
    }
    QLinearGradient sky(0, 480, 0, 740);
    sky.setColorAt(0, QColor(0x8C, 0xC8, 0xF0));
    sky.setColorAt(1, QColor(0xF0, 0xD0, 0x90));
    p.fillRect(80, 480, 690, 260, sky);
    p.setBrush(QColor(0x3A, 0x80, 0x40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(300, 760), 260, 110);
    return page;
}

struct Scene {
    QScrollArea* area;
    PreviewBaseView* view;
};

Scene previewScene() {
    auto* area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setVerticalScrollBar(new TvScroller(Qt::Vertical));
    area->setHorizontalScrollBar(new TvScroller(Qt::Horizontal));
    area->setBackgroundRole(QPalette::Dark);
    QPalette palette = area->palette();
    palette.setColor(QPalette::Dark, QColor(0x3C, 0x3C, 0x3C));
    area->setPalette(palette);
    area->resize(420, 480);
    auto* view = new PreviewBaseView;
    area->setWidget(view);
    const QImage page = scenePage();
    view->setSrcFitImageSize(QSizeF(340, 440));
    view->setRealImageSize(page.size());
    view->setPreviewImage(page);
    return {area, view};
}

void hover(PreviewBaseView* view, QPointF point) {
    QMouseEvent move(QEvent::MouseMove, point, view->mapToGlobal(point), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(view, &move);
}

} // namespace

KD_SCREENSHOT_SCENE(previewZoom1, "preview/zoom-1", kdui::Direction::Both) {
    return {previewScene().area};
}

KD_SCREENSHOT_SCENE(previewZoom2, "preview/zoom-2", kdui::Direction::Both) {
    Scene scene = previewScene();
    scene.view->setScaleValue(2);
    return {scene.area};
}

// The frame's handle hovered, the page turned clockwise.
KD_SCREENSHOT_SCENE(previewTransform, "preview/transform-crop", kdui::Direction::Both) {
    Scene scene = previewScene();
    scene.view->setIsTransformMode(true);
    scene.view->setDegreeForRotate(4);
    scene.view->setRatioOfCrop(QRectF(0.1, 0.3, 0.75, 0.55));
    hover(scene.view, scene.view->knobRects()[PreviewBaseView::kMoveKnob].center());
    return {scene.area};
}

// The grip hovered, the page turned anticlockwise.
KD_SCREENSHOT_SCENE(previewTransformGrip, "preview/transform-grip", kdui::Direction::Both) {
    Scene scene = previewScene();
    scene.view->setIsTransformMode(true);
    scene.view->setDegreeForRotate(-6);
    scene.view->setRatioOfCrop(QRectF(0.05, 0.35, 0.6, 0.45));
    hover(scene.view, scene.view->drawSkewRect().center());
    return {scene.area};
}
