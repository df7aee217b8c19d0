// A small main window for the scan's tests: the two content views with the
// tagged controls the scan and page actions drive, a page browser over the
// controller's page list and a preview in its scroll area. It is the scan
// part's host (recording what it is asked) and the controller's main-window
// port (handing the scan's calls to the scan part), as the main-window
// controller is.
#pragma once

#include "AppMainCntlr.h"
#include "MainWindowPages.h"
#include "MainWindowScan.h"
#include "PreviewBaseView.h"
#include "TvSlider.h"
#include "TvTextFields.h"

#include <foundation/NotificationCenter.h>
#include <ui/ImageBrowserView.h>
#include <ui/ViewTag.h>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace scantest {

// A recording stand-in for the desktop's opener, put first on PATH: each
// opened path becomes a line of the file it answers.
inline std::filesystem::path installOpener(const std::filesystem::path& home) {
    namespace fs = std::filesystem;
    const fs::path bin = home / "bin";
    fs::create_directories(bin);
    const fs::path record = home / "opened";
    std::ofstream(bin / "xdg-open") << "#!/bin/sh\necho \"$1\" >> '" << record.string() << "'\n";
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    const char* path = std::getenv("PATH");
    setenv("PATH", (bin.string() + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    return record;
}

// The first path the stand-in was asked to open (a file URL as its path).
inline std::filesystem::path firstOpened(const std::filesystem::path& record) {
    std::ifstream in(record);
    std::string line;
    std::getline(in, line);
    if (line.rfind("file://", 0) == 0) line.erase(0, 7);
    return line;
}

// The page browser's items: one plain picture per page of the list.
class PageSource : public kdui::ImageBrowserDataSource {
public:
    explicit PageSource(AppMainCntlr& cntlr) : cntlr_(cntlr) {}
    int numberOfItems(kdui::ImageBrowserView&) override { return cntlr_.countOfImgInfoDict(); }
    kdui::ImageBrowserItem itemAtIndex(kdui::ImageBrowserView&, int index) override {
        QImage image(40, 56, QImage::Format_RGB32);
        image.fill(Qt::white);
        return {image, QString::number(index + 1)};
    }

private:
    AppMainCntlr& cntlr_;
};

class ScanTestWindow : public qlr_main::MainWindowScanHost, public AppMainWindowPort {
public:
    explicit ScanTestWindow(AppMainCntlr& cntlr) : cntlr(cntlr), scan(cntlr, *this), pages(cntlr, *this), source(cntlr) {
        window = std::make_unique<QWidget>();
        window->resize(900, 600);
        auto* grid = new QGridLayout(window.get());
        grid->setContentsMargins(0, 0, 0, 0);
        top = new QWidget(window.get());
        auto* topLayout = new QHBoxLayout(top);
        jobClick = button(top, topLayout, qlr_main::kTagJobPanelClickControl, "Jobs");
        grid->addWidget(top, 0, 0);

        scanView = new QWidget(window.get());
        scanView->hide();
        auto* scanLayout = new QVBoxLayout(scanView);
        auto* bar = new QHBoxLayout();
        scanLayout->addLayout(bar);
        pageNumberOutput = new QSpinBox(scanView);
        kdui::setTag(pageNumberOutput, qlr_main::kTagPageNumberOutput);
        bar->addWidget(pageNumberOutput);
        editButton = button(scanView, bar, qlr_main::kTagEditImageControl, "Edit");
        againButton = button(scanView, bar, qlr_main::kTagScanAgainButton, "Scan again");
        backButton = button(scanView, bar, qlr_main::kTagBackToMainButton, "Back");
        finishButton = button(scanView, bar, qlr_main::kTagFinishButton, "Finish");
        for (int tag : {qlr_main::kTagSelectAllPages, qlr_main::kTagSelectOddPages, qlr_main::kTagSelectEvenPages})
            button(scanView, bar, tag, QString::number(tag));
        slider = new TvSlider(scanView);
        kdui::setTag(slider, qlr_main::kTagScaleSlider);
        slider->setMinValue(1.0);
        slider->setMaxValue(4.0);
        slider->setDoubleValue(1.0);
        bar->addWidget(slider);
        previewToggle = button(scanView, bar, qlr_main::kTagPreviewToggle, "Preview");

        navigation = new QWidget(scanView);
        auto* navLayout = new QHBoxLayout(navigation);
        previousButton = button(navigation, navLayout, qlr_main::kTagPreviousPage, "<");
        pageField = new QLineEdit(navigation);
        kdui::setTag(pageField, qlr_main::kTagPageNumber);
        navLayout->addWidget(pageField);
        nextButton = button(navigation, navLayout, qlr_main::kTagNextPage, ">");
        scanLayout->addWidget(navigation);
        companion = new QLabel("of", scanView);
        kdui::setTag(companion, qlr_main::kTagPageNavigationCompanion);
        scanLayout->addWidget(companion);

        auto* split = new QHBoxLayout();
        scanLayout->addLayout(split, 1);
        browser = new kdui::ImageBrowserView(scanView);
        browser->setCellSize(QSize(60, 80));
        browser->setIntercellSpacing(QSize(10, 10));
        browser->setAllowsMultipleSelection(true);
        browser->setDataSource(&source);
        split->addWidget(browser);
        scroll = new QScrollArea(scanView);
        preview = new PreviewBaseView();
        scroll->setWidget(preview);
        scroll->setWidgetResizable(true);
        split->addWidget(scroll, 1);
        grid->addWidget(scanView, 0, 0);
        scan.connectScanViewActions();
        pages.connectScanViewActions();
    }

    AppMainCntlr& cntlr;
    qlr_main::MainWindowScan scan;
    qlr_main::MainWindowPages pages;
    PageSource source;
    std::unique_ptr<QWidget> window;
    QWidget* top = nullptr;
    QWidget* scanView = nullptr;
    QPushButton* jobClick = nullptr;
    QSpinBox* pageNumberOutput = nullptr;
    QPushButton* editButton = nullptr;
    QPushButton* againButton = nullptr;
    QPushButton* backButton = nullptr;
    QPushButton* finishButton = nullptr;
    QPushButton* previousButton = nullptr;
    QPushButton* nextButton = nullptr;
    QPushButton* previewToggle = nullptr;
    QLineEdit* pageField = nullptr;
    QWidget* navigation = nullptr;
    QLabel* companion = nullptr;
    TvSlider* slider = nullptr;
    kdui::ImageBrowserView* browser = nullptr;
    QScrollArea* scroll = nullptr;
    PreviewBaseView* preview = nullptr;

    // What the host was asked, in order, and the states shown.
    std::vector<std::string> calls;
    std::vector<int> states;
    bool settingCheckPasses = true;
    bool previewShown = true;
    bool editShown = false;
    double columnWidth = 200;
    std::function<void()> onComplete;
    std::map<std::string, TvQLRPlugin2*> plugins;

    // Runs after each recorded call.
    std::function<void(const std::string&)> onCall;
    void record(std::string call) {
        calls.push_back(call);
        if (onCall) onCall(call);
    }

    int count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }

    // ---- The host
    QWidget* mainWindow() override { return window.get(); }
    QWidget* contentView() override { return window.get(); }
    QWidget* topContentView() override { return top; }
    QWidget* scanContentView() override { return scanView; }
    kdui::ImageBrowserView* pageBrowser() override { return browser; }
    PreviewBaseView* previewView() override { return preview; }
    void endProcWindow() override { record("endProc"); }
    void endCompleteWindow() override { record("endComplete"); }
    void hideQlrNavigation() override { record("hideNavigation"); }
    void closePreferencesPanel() override { record("closePrefs"); }
    void hidePanelFieldEditor() override { record("hideFieldEditor"); }
    void setStateInfoStrForProcWin(const std::string& key, const std::string& info) override {
        record("procText:" + key + ":" + info);
    }
    bool checkSettingValue(QWidget* sender, PanelModel&) override {
        record(std::string("check:") + (sender ? std::to_string(kdui::tag(sender)) : "none"));
        return settingCheckPasses;
    }
    void showHideEditImageDisplay(QWidget*, bool isShow, bool isAnime) override {
        editShown = isShow;
        record(std::string("editDisplay:") + (isShow ? "1" : "0") + (isAnime ? "1" : "0"));
    }
    bool isEditImageDisplayShown() override { return editShown; }
    void updateEditImageViews(bool, bool) override { record("editViews"); }
    void cancelEditingImage() override { record("cancelEditing"); }
    void createPreviewImage(int index, bool fit) override {
        record("preview:" + std::to_string(index) + (fit ? ":fit" : ":full"));
    }
    void updatePageDisplay() override { record("pageDisplay"); }
    void imageBrowserSelectionDidChange() override { record("selectionChanged"); }
    void setCellSizeOfPreImageIBView() override { record("cellSize"); }
    void setCurrentOutputNone() override { record("currentOutputNone"); }
    bool isPreviewShown() override { return previewShown; }
    void setPreviewShown(bool shown) override { previewShown = shown; }
    double thumbnailColumnWidth() override { return columnWidth; }
    void setThumbnailColumnWidth(double width) override {
        columnWidth = width;
        record("column:" + std::to_string(int(width)));
    }
    TvQLRPlugin2* pluginObjectByID(const std::string& id) override {
        auto it = plugins.find(id);
        return it == plugins.end() ? nullptr : it->second;
    }
    void openSettingWindowForScanJob() override { record("settingWindow"); }

    // ---- The controller's port
    void updateUIByAppState() override { states.push_back(cntlr.appState()); }
    void scanReadyByTwainCB() override { scan.scanReadyByTwainCB(); }
    void finishScan() override { scan.finishScan(finishButton); }
    void cancelToMain(bool) override { scan.cancelToMain(); }
    void startCompleteWindowByPerform() override {
        record("complete");
        if (onComplete) onComplete();
    }
    void againExeScan(int tag) override { scan.againExeScan(kdui::viewWithTag(scanView, tag)); }
    void panelIBViewClickCell(const kdf::Notification& n) override {
        const kdf::Value* index = n.userInfo() ? kdf::find(*n.userInfo(), kClickCellIndexKey) : nullptr;
        scan.panelIBViewClickCell(unsigned(index ? index->toInteger().value_or(0) : 0));
    }
    void scrollWheelDidChange(const kdf::Notification&) override { pages.scrollWheelDidChange(); }

private:
    static QPushButton* button(QWidget* parent, QBoxLayout* layout, int tag, const QString& title) {
        auto* b = new QPushButton(title, parent);
        kdui::setTag(b, tag);
        layout->addWidget(b);
        return b;
    }
};

} // namespace scantest
