// The kit's print view: the print run asks it for one page after another,
// and it draws one image per page, either fitted into the printable area or
// at its own size in the middle of the page. It reads no files: a delegate
// supplies each page's image when that page is asked for, so one image is
// held at a time. The view is flipped (y grows downwards) and its frame is
// the whole paper, in points.
#pragma once

#include <QImage>
#include <QRectF>

#include <chrono>

class QPainter;

namespace kdkit {

// Supplies the image of a page (0-based index); a null image when there is
// none.
class RenderingViewDelegate {
public:
    virtual ~RenderingViewDelegate();
    virtual QImage readPrintImage(int pageIndex) = 0;
};

// What the running print operation tells the view about the page, in
// points of the view's flipped space.
struct RenderingPrintSettings {
    double scalingFactor = 1.0;
    QRectF imageablePageBounds; // the printable area of the paper
    double leftMargin = 0;
    double topMargin = 0;
};

class RenderingView {
public:
    explicit RenderingView(const QRectF& frame);
    RenderingView(const RenderingView&) = delete;
    RenderingView& operator=(const RenderingView&) = delete;

    RenderingViewDelegate* delegate() const { return mDelegate; }
    void setDelegate(RenderingViewDelegate* delegate) { mDelegate = delegate; } // not owned
    const QImage& drawImage() const { return mDrawImage; }
    // Keeps the image and marks the view for redisplay; the same image
    // again changes nothing.
    void setDrawImage(const QImage& image);
    int printCount() const { return mPrintCount; }
    void setPrintCount(int count) { mPrintCount = count; }
    bool isPageFit() const { return mIsPageFit; }
    void setIsPageFit(bool fit) { mIsPageFit = fit; }
    bool isFlipped() const { return true; }
    QRectF frame() const { return mFrame; }
    QRectF bounds() const { return {QPointF(0, 0), mFrame.size()}; }
    bool needsDisplay() const { return mNeedsDisplay; }
    void setNeedsDisplay(bool needs) { mNeedsDisplay = needs; }

    // The pages are 1 to printCount.
    bool knowsPageRange(int* first, int* length) const;
    // Page 0 or less: the zero rectangle, the delegate is not asked.
    // Otherwise the delegate's image for page - 1 becomes the view's image
    // (a null answer keeps the previous one), and every page is the whole
    // view.
    QRectF rectForPage(int page);
    // The document bracket of the print run, each with its pause.
    void beginDocument();
    void endDocument();
    // The rectangle the image is drawn into, in the coordinates drawRect
    // draws in; none without an image gives the zero size. A scaling
    // factor that is not a positive finite number counts as 1.0.
    QRectF drawingBounds(const RenderingPrintSettings& settings) const;
    // Draws the current image into drawingBounds; the painter is left as
    // it was.
    void drawRect(QPainter& painter, const RenderingPrintSettings& settings) const;

    // The pause of beginDocument and endDocument (1 s; tests set 0).
    static void setDocumentPause(std::chrono::milliseconds pause);
    static std::chrono::milliseconds documentPause();

    // The factor the drawing uses: 1.0 for zero, negative or not finite.
    static double usableScale(double scalingFactor);

private:
    QRectF mFrame;
    RenderingViewDelegate* mDelegate = nullptr;
    QImage mDrawImage;
    int mPrintCount = 0;
    bool mIsPageFit = true;
    bool mNeedsDisplay = false;
};

} // namespace kdkit
