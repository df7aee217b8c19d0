// The base of the application's image browsers (the panel browsers and the
// page browser): the grid view with soft shadows along its top and bottom
// edges, and the main-menu item tagged 200 kept in step with the browser's
// keyboard focus.
#pragma once

#include <ui/ImageBrowserView.h>

#include <cstdint>

class TvIBView : public kdui::ImageBrowserView {
    Q_OBJECT
public:
    // Height of each edge shadow, and its opacity at the edge and inward.
    static constexpr int kShadowHeight = 6;
    static constexpr double kShadowEdgeAlpha = 0.95;
    static constexpr double kShadowInnerAlpha = 0.1;
    // The main-menu item whose submenu follows the browser's selection.
    static constexpr int kBrowserMenuTag = 200;

    explicit TvIBView(QWidget* parent = nullptr);

    // 0xRRGGBB; black until set.
    std::uint32_t shadowColor() const { return mShadowColor; }
    void setShadowColor(std::uint32_t rgb);

protected:
    void drawOverCells(QPainter& painter) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    std::uint32_t mShadowColor = 0;
};
