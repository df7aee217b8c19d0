#include "KitTestSupport.h"
#include "TvIBView.h"

#include <ui/MenuTags.h>
#include <ui/ViewTag.h>

#include <QFocusEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <cmath>

namespace {

// The value of a channel of shadow colour c at alpha a over white.
double overWhite(int c, double a) {
    return 255 + (c - 255) * a;
}

void expectShadows(TvIBView& view) {
    QImage image(view.viewport()->size(), QImage::Format_ARGB32);
    image.fill(kittest::kBackdrop);
    view.viewport()->render(&image);
    const int h = image.height();
    const int x = image.width() / 2;
    for (int row = 0; row < TvIBView::kShadowHeight; ++row) {
        // The gradient runs from 0.95 at the edge to 0.1 six rows in; each
        // row shows it at its middle.
        const double alpha = 0.95 + (0.1 - 0.95) * (row + 0.5) / TvIBView::kShadowHeight;
        const double expected = overWhite(0xE2, alpha);
        EXPECT_NEAR(qRed(image.pixel(x, row)), expected, 3) << "top row " << row << " of " << h;
        EXPECT_NEAR(qRed(image.pixel(x, h - 1 - row)), expected, 3) << "bottom row " << row << " of " << h;
        EXPECT_EQ(image.pixel(0, row), image.pixel(image.width() - 1, row)) << "full width";
    }
    EXPECT_EQ(kittest::rgbAt(image, x, TvIBView::kShadowHeight), 0xFFFFFFu);
    EXPECT_EQ(kittest::rgbAt(image, x, h - 1 - TvIBView::kShadowHeight), 0xFFFFFFu);
}

TEST(TvIBView, ShadowsLieAlongTopAndBottomThroughResizes) {
    TvIBView view;
    EXPECT_EQ(view.shadowColor(), 0u);
    view.setShadowColor(0xE2E2E2);
    view.resize(120, 60);
    view.show();
    QCoreApplication::processEvents();
    expectShadows(view);
    view.resize(200, 150);
    QCoreApplication::processEvents();
    expectShadows(view);
}

struct MenuWindow {
    explicit MenuWindow(int menuTag) {
        menu = window.menuBar()->addMenu(QStringLiteral("Edit"));
        menu->addAction(QStringLiteral("Delete"));
        kdui::setTag(menu->menuAction(), menuTag);
        view = new TvIBView;
        window.setCentralWidget(view);
        QObject::connect(menu, &QMenu::aboutToShow, [this] { ++aboutToShow; });
        kdui::setAutoenablesItems(menu, false);
    }
    void focus(QEvent::Type type) {
        QFocusEvent event(type, Qt::MouseFocusReason);
        QCoreApplication::sendEvent(view, &event);
    }
    QMainWindow window;
    QMenu* menu = nullptr;
    TvIBView* view = nullptr;
    int aboutToShow = 0;
};

TEST(TvIBView, FocusRefreshesTheTaggedMainMenuItem) {
    MenuWindow w(TvIBView::kBrowserMenuTag);
    w.focus(QEvent::FocusIn);
    EXPECT_EQ(w.aboutToShow, 1);
    EXPECT_FALSE(kdui::autoenablesItems(w.menu));
    w.focus(QEvent::FocusOut);
    EXPECT_EQ(w.aboutToShow, 1);
    EXPECT_TRUE(kdui::autoenablesItems(w.menu));
}

TEST(TvIBView, WithoutTheTaggedItemFocusChangesNothing) {
    MenuWindow w(201);
    w.focus(QEvent::FocusIn);
    w.focus(QEvent::FocusOut);
    EXPECT_EQ(w.aboutToShow, 0);
    EXPECT_FALSE(kdui::autoenablesItems(w.menu));

    TvIBView alone; // no window menu at all
    QFocusEvent in(QEvent::FocusIn);
    QCoreApplication::sendEvent(&alone, &in);
    QFocusEvent out(QEvent::FocusOut);
    QCoreApplication::sendEvent(&alone, &out);
}

} // namespace

int main(int argc, char** argv) {
    return kittest::runKitTests(argc, argv);
}
