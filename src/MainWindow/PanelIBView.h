// The panel browsers of the main window (inputs, outputs, jobs): a grid of
// panel tiles (PanelTile) where a click or the space bar is a command
// ("kPanelIBViewClickCellNotification", which the controller turns into an
// action), the selection that counts lives in the panels themselves
// (isSelected, with a limit for Ctrl-clicks), hovering lays tool buttons
// over a tile, and clicking a title edits it in place.
//
// The title editor and the three tool buttons are one each per process:
// they move between browsers, and a browser gives them back before it goes.
// Main thread only.
#pragma once

#include "TvIBView.h"

#include <QPointer>

#include <array>
#include <memory>

class PanelModel;
class TvTextField;
class TvToolButton;

// What a panel browser needs of its data source beyond the grid's items.
class PanelIBViewDataSource : public kdui::ImageBrowserDataSource {
public:
    // The panel at that index; null outside the list.
    virtual std::shared_ptr<PanelModel> panelAtIndex(kdui::ImageBrowserView& view, int index) = 0;
    // 0 input, 1 output, 2 job; -1 for a view it does not know.
    virtual int panelTypeOfView(const kdui::ImageBrowserView& view) const = 0;
    // The edit tool button of a tile: the panel's setting window.
    virtual void openSettingWindow(int /*panelType*/, int /*index*/) {}
    // While the window lies under its dark shield no tools appear.
    virtual bool isShowDarkShieldView() const { return false; }
};

// A panel's cell: the tile picture at the panel's own size, centred in the
// grid's cell, with a soft shadow along its outline and an orange ring
// while it is in the grid's own selection (used while dragging).
class PanelIBCell : public kdui::ImageBrowserCell {
public:
    static constexpr unsigned kRingRGB = 0xFFA200;
    std::shared_ptr<PanelModel> panel() const;

    QRect imageFrame() const override;
    QRect selectionFrame() const override;
    QRect titleFrame() const override;
    // The tool buttons' frames in the view; empty where the tile has none.
    QRect editButtonFrame() const;
    QRect continueScanButtonFrame() const;
    QRect imageProcessButtonFrame() const;

protected:
    void drawBackground(QPainter& painter) override;
    void drawSelection(QPainter& painter) override;
    void drawPlaceholder(QPainter& painter) override;
    void drawForeground(QPainter& painter) override;
    void drawTitle(QPainter& painter, const QString& title) override;

private:
    QRect tileRect(const QRect& inTile) const;
};

class PanelIBView : public TvIBView {
    Q_OBJECT
public:
    // The title editor's limits and its face on a selected tile.
    static constexpr int kTitleMaxLength = 40;
    static constexpr unsigned kSelectedEditorRGB = 0xFFF9E4;
    // The title editor opens this long after the click on a title.
    static constexpr double kTitleEditDelay = 0.2;
    enum Tool { kEditTool = 0, kContinueScanTool = 1, kImageProcessTool = 2 };

    explicit PanelIBView(QWidget* parent = nullptr);
    ~PanelIBView() override;

    // How many tiles a Ctrl-click may select at most.
    int selectableNumber() const { return mSelectableNumber; }
    void setSelectableNumber(int number) { mSelectableNumber = number; }

    PanelIBViewDataSource* panelDataSource() const;
    int panelType() const;

    // The item whose frame holds the point (viewport coordinates); frame
    // gets that item's frame (empty in gaps). kNotFound in gaps.
    int indexAtPoint(QPoint point, QRect* frame = nullptr) const;

    // The selection that counts: the panels' own flags. Only the tiles that
    // changed are drawn again; the view reloads when any changed.
    void setCellSelectionIndexes(const kdui::IndexSet& indexes);
    kdui::IndexSet cellSelectionIndexes();

    // Reloads the grid after the list changed: ends a title edit and takes
    // the tools away first.
    void reloadPanels();

    // ---- Title editing.
    void showFieldEditor(int index);
    // Ends an edit: the trimmed text becomes the title, the tile is drawn
    // again. Answers true.
    static bool hideFieldEditor();
    static TvTextField* fieldEditor();
    // The browser holding the editor; null when none.
    static PanelIBView* fieldEditorOwner();

    // ---- Hover tools.
    void showTools(int index);
    // Takes the tools out of the browser (all browsers for null).
    static void hideTools(PanelIBView* view);
    static TvToolButton* toolButton(Tool tool);
    static PanelIBView* toolsOwner();
    // Where the mouse is, in the key window: the tools follow it.
    void updateMouseByMove(QPoint viewportPos);

    // The click notification for a tile.
    void postClick(int index);

protected:
    std::unique_ptr<kdui::ImageBrowserCell> newCellForItem(int index) override;
    void drawOverCells(QPainter& painter) override;
    QPixmap dragPixmap(const kdui::IndexSet& indexes) override;
    // Panels only move within their browser: nothing else is offered.
    Qt::DropAction executeDrag(QDrag& drag, Qt::DropActions actions) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void toolAction(Tool tool);
    void redrawPanel(int index);
    static void giveBack(PanelIBView* view);

    int mSelectableNumber = 0;
    QPoint mMouseDown{-1, -1};
    // The grid's own selection before the press, put back after the click.
    kdui::IndexSet mSelectionAtPress;
};
