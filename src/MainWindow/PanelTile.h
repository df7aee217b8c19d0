// The pictures of the main window's panels: each input, output and job
// panel is drawn once per change (selection, title, option, size) into a
// tile picture stored as the panel's display image, which the panel
// browsers only show. Tiles come in three sizes (size type 0 small, 1
// medium, 2 large); larger tiles show more (scanner-button badge, the job's
// option toggles, the settings summary).
//
// Geometry is in Qt's pixels with y running down; boxes measured from the
// top edge are used as they stand. Right-to-left layout mirrors the tile
// (large corner, button frames, the input tile's option icons). Main
// thread only.
#pragma once

#include <QImage>
#include <QPainterPath>
#include <QRect>
#include <QSize>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class InputModel;
class OutputModel;
class PanelModel;

class PanelTile {
public:
    // Panel kinds as the browsers number them.
    enum Kind { kInput = 0, kOutput = 1, kJob = 2, kUnknown = -1 };

    // Side of the square box every icon is fitted into.
    static constexpr int kIconSide = 68;
    // Corner radii of the outline and the control-point factor of a corner.
    static constexpr double kSmallRadius = 4;
    static constexpr double kLargeRadius = 19;
    static constexpr double kCurveFactor = 0.553;
    static constexpr int kTitleStripHeight = 19;

    // The tile colours.
    static constexpr unsigned kRimRGB = 0xDCDCDC;
    static constexpr unsigned kSelectedRimRGB = 0xFFA200;
    static constexpr unsigned kFaceRGB = 0xFFFFFF;
    static constexpr unsigned kSelectedFaceRGB = 0xFFF9E4;
    static constexpr unsigned kTitleRGB = 0x101010;
    static constexpr unsigned kBadgeTextRGB = 0x707070;

    // The scanner-button values in badge order: value of button n is
    // kButtonValues[n - 1].
    static constexpr int kButtonValues[9] = {1, 2, 4, 8, 16, 32, 64, 128, 256};
    // The 1-based button of a value, 0 for any other value.
    static int buttonOrdinal(int scanBtnStatus);

    static Kind kindOf(const PanelModel& panel);

    // Size by kind, size type and (jobs) number of outputs; empty for any
    // other kind, size type or a job with 0 or more than 3 outputs.
    static QSize makePanelSize(const PanelModel& panel, int sizeType);
    static QSize panelSize(Kind kind, int sizeType, int outputs);

    // The closed outline of a tile: corners of radius 4, the lower trailing
    // corner 19 (lower right, lower left in right-to-left layout).
    static QPainterPath contentsPathWithFrame(const QRectF& rect, bool rightToLeft);

    // The picture of the panel at that size type; null for a zero size.
    static QImage contentsForPanel(const PanelModel& panel, int sizeType);
    // Draws and stores the picture and the size type in the panel (nothing
    // when there is no picture).
    static void createPanelImage(PanelModel& panel, int sizeType);
    static void createPanelImageWithList(const std::vector<std::shared_ptr<PanelModel>>& list, int sizeType);
    // The panel's stored picture; null when none.
    static QImage displayImage(const PanelModel& panel);

    // Icons fitted into 68 x 68, cached by file path.
    static QImage getInputIcon(const PanelModel& panel);
    static QImage getOutputIcon(const OutputModel& output);
    static void clearIconCache();
    static int iconCacheSize();
    // An image file decoded straight to its size fitted into 68 x 68 (a
    // huge file is never held whole); null when it cannot be read.
    static QImage fittedImageFromFile(const QString& path);

    // Mirrors rect within parent (x -> parent width - (x + width)) in
    // right-to-left layout; unchanged otherwise.
    static QRect calcLayoutDirectionPosition(const QRect& rect, const QRect& parent, bool rightToLeft);

    // Inside the tile (origin at the tile's top left). Empty when the tile
    // has no such button.
    static QRect editButtonFrame(const PanelModel& panel, int sizeType, bool rightToLeft);
    static QRect continueScanButtonFrame(const PanelModel& panel, int sizeType, bool rightToLeft);
    static QRect imageProcessButtonFrame(const PanelModel& panel, int sizeType, bool rightToLeft);
    // The title strip inside the tile.
    static QRect titleFrame(const PanelModel& panel, int sizeType, bool rightToLeft);

    // The icon boxes of a job tile: the input box and one per output.
    struct JobBoxes {
        QRect input;
        std::vector<QRect> outputs;
        int arrowTop = 0;
    };
    static JobBoxes jobBoxes(int sizeType, int outputs, const QSize& tile, bool rightToLeft);
    // The icon box of an input or output tile.
    static QRect iconBox(Kind kind, int sizeType, const QSize& tile);
    // Where the scan badge and its ordinal stand on a job tile.
    static QRect scanBadgeFrame(const QSize& badge, const QSize& tile, bool rightToLeft);
    static QRect ordinalFrame(const QRect& badge, bool rightToLeft);
    // The text drawn as ordinal: "" when the value is not a button value.
    static QString ordinalText(int scanBtnStatus);
    // Whether a job tile of that size type shows the scan badge.
    static bool showsScanBadge(int scanBtnStatus, int sizeType);
};
