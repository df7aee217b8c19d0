// The controller's side of the page preview: each arriving page becomes a
// thumbnail item and the shown page; the shown page is drawn from its raw
// file through the line scaler (or from its edited file), fitted to the
// screen or enlarged; the page counter and the scan information (colour
// mode, side, output type, file name, output pagination) follow.
//
// It reaches the controller's page list and job copy through PreviewPages,
// the scan screen through its outlets and the controls' tags, and the main
// window's and edit mode's calls through PreviewNeighbours. It is the
// controller's preview port, and the page browser's data source and
// delegate. Main thread only.
#pragma once

#include "AppMainCntlrPorts.h"
#include "ImageIBView.h"

#include <QImage>
#include <QPointer>
#include <QRectF>
#include <QSize>
#include <QString>

#include <memory>
#include <set>
#include <optional>
#include <string>
#include <vector>

class AppMainCntlr;
class ImageInfoModel;
class JobModel;
class PanelModel;
class PreviewBaseView;
class QObject;
class QWidget;

// What the preview keeps in and reads from the application controller.
class PreviewPages {
public:
    virtual ~PreviewPages();
    // The thumbnail items, one per shown page, in page order.
    virtual std::vector<std::shared_ptr<PanelModel>> preImageModel_List() const = 0;
    virtual void setPreImageModel_List(std::vector<std::shared_ptr<PanelModel>> items) = 0;
    virtual int preDisplayIndex() const = 0;
    virtual void setPreDisplayIndex(int index) = 0;
    // The page list (taken under its lock); null outside it.
    virtual std::shared_ptr<ImageInfoModel> imgInfoAtIndex(int index) const = 0;
    virtual int countOfImgInfoDict() = 0;
    // The job the scan runs on; null outside a scan.
    virtual std::shared_ptr<JobModel> tmpCopyJobModel_Scan() = 0;
    // Pages are arriving (states 100 and 101).
    virtual bool isExeScningState() = 0;
    // The page browser's edits of the page list (under its lock): see
    // AppMainCntlr::moveImgInfos and removeImgInfos.
    virtual bool moveImgInfos(const std::set<int>& /*indexes*/, int /*destination*/) { return false; }
    virtual int removeImgInfos(const std::set<int>& /*indexes*/) { return 0; }
};
// The application controller's page list and fields.
std::shared_ptr<PreviewPages> pagesOfController(AppMainCntlr& cntlr);

// Calls the preview makes on the main window, the edit mode and the edit
// bridge; until they are connected these do nothing (the resize scales
// smoothly).
class PreviewNeighbours {
public:
    virtual ~PreviewNeighbours();
    // The main window's zoom with no sender: zoom 1, no straightening, the
    // whole page.
    virtual void changeScale() {}
    virtual void cancelEditingImage() {}
    virtual void revertEditingImage() {}
    // An edited page scaled to the preview's size; null when it cannot be.
    virtual QImage resizeImage(const QImage& image, QSize size);
    // The process window's two lines; none leaves a line as it is.
    virtual void setStateInfoStrForProcWin(const std::optional<std::string>& state,
                                           const std::optional<std::string>& info);
};

// The scan screen's views the preview works with; any may be missing.
struct PreviewOutlets {
    QPointer<QWidget> mainWindow;
    QPointer<QWidget> scanContentView; // holds the tagged controls
    QPointer<QWidget> scanHeaderView;
    QPointer<QWidget> scanInfoView;
    QPointer<QWidget> outputPagination; // the group of tags 4036 to 4038
    QPointer<PreviewBaseView> previewView;
    QPointer<ImageIBView> pageBrowser;
};

class PreviewCntlr : public AppPreviewPort, public ImageIBViewDataSource, public kdui::ImageBrowserDelegate {
public:
    // Tags of the scan screen's controls.
    enum Tag : int {
        kShownPageField = 4004,
        kPageCountLabel = 4005,
        kRevertButton = 4020,
        kColorModeText = 4031,
        kReaderSideText = 4032,
        kOutputTypeBox = 4033,
        kOutputTypeText = 4034,
        kFileNameText = 4035,
        kPreviousOutputButton = 4036,
        kShownOutputField = 4037,
        kNextOutputButton = 4038,
        kFinishButton = 4042,
        kProcessPaneButton = 4100,
        kTransformPaneButton = 4200,
        kRotatePaneButton = 4300,
    };
    // Between the output-type box and the pagination group.
    static constexpr int kPaginationGap = 7;
    // The last thumbnail is scrolled to this far below the visible top.
    static constexpr int kScrollMargin = 10;

    PreviewCntlr(std::shared_ptr<PreviewPages> pages, std::shared_ptr<PreviewNeighbours> neighbours,
                 PreviewOutlets outlets);
    ~PreviewCntlr() override;

    const PreviewOutlets& outlets() const { return mOutlets; }
    // Connects the browser (data source and delegate) and keeps it.
    void setPageBrowser(ImageIBView* browser);

    // ---- The controller's preview port.
    // Shows an arriving page: only a parameter with both its index and its
    // page counts.
    void displayOfPreview(const PageParam& param) override;
    void renewTempArrayOfPre() override;
    void revertEditingImage() override;
    // By the tag of the button that asks (0: no button): 4036 the previous
    // output, 4038 the next one; no button shows the output being
    // processed.
    void setCurrentOutput(int senderTag) override;
    void clearPreviewImage() override;
    void reloadPageBrowser() override;

    // ---- The preview's own steps.
    void setupPreviewByStartScan() override;
    void restorePreviewByEndScan() override;
    void savePreviewImage(const PageParam& param);
    void updatePageDisplay();
    void createPreviewImage(int index, bool isFitSize);
    void updateControls();
    void showScanInfo();
    // A pagination button's action (null or another object: no button).
    void setCurrentOutputBySender(QObject* sender);

    // The area pages are fitted into, from the main window's screen.
    QSizeF availableArea() const;

    // ---- The page browser's data source and delegate.
    int numberOfItems(kdui::ImageBrowserView& view) override;
    kdui::ImageBrowserItem itemAtIndex(kdui::ImageBrowserView& view, int index) override;
    bool isShownItem(kdui::ImageBrowserView& view, int index) override;
    void selectionDidChange(kdui::ImageBrowserView& view) override;
    // Page moves and removals, mirrored into the page list; the shown page
    // stays shown where it went. A removal asks first.
    bool moveItems(kdui::ImageBrowserView& view, const kdui::IndexSet& indexes, int destination) override;
    bool removeItems(kdui::ImageBrowserView& view, const kdui::IndexSet& indexes) override;

private:
    QWidget* control(int tag) const;
    void moveCurrentOutput(std::optional<int> buttonTag);

    std::shared_ptr<PreviewPages> mPages;
    std::shared_ptr<PreviewNeighbours> mNeighbours;
    PreviewOutlets mOutlets;
    kdui::IndexSet mPreviousSelection;
};
