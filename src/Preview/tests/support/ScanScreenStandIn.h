// A small stand-in of the scan screen for the preview's tests and pictures
// (with a page list of its own):
// a header with the page counter and the edit and finish buttons, the page
// browser, the preview in its scroll area, and an information bar with the
// colour mode, side, output-type box, file name and output pagination, each
// control carrying the tag the preview finds it by. Absolute geometry,
// mirrored in right-to-left layout like the real forms.
#pragma once

#include "ImageIBView.h"
#include "JobModel.h"
#include "PageModels.h"
#include "PanelModel.h"
#include "PreviewBaseView.h"
#include "PreviewCntlr.h"
#include "QlrUtilsMethodUI.h"
#include "TvSlider.h"

#include <ui/ViewTag.h>

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QWidget>

#include <memory>
#include <vector>

namespace preview_test {

// The controller's page list and fields, held here.
class FakePages : public PreviewPages {
public:
    std::vector<std::shared_ptr<PanelModel>> items;
    std::vector<std::shared_ptr<ImageInfoModel>> pages;
    std::shared_ptr<JobModel> job;
    int shown = -1;
    bool scanning = false;

    std::vector<std::shared_ptr<PanelModel>> preImageModel_List() const override { return items; }
    void setPreImageModel_List(std::vector<std::shared_ptr<PanelModel>> v) override { items = std::move(v); }
    int preDisplayIndex() const override { return shown; }
    void setPreDisplayIndex(int index) override { shown = index; }
    std::shared_ptr<ImageInfoModel> imgInfoAtIndex(int index) const override {
        return index >= 0 && std::size_t(index) < pages.size() ? pages[std::size_t(index)] : nullptr;
    }
    int countOfImgInfoDict() override { return int(pages.size()); }
    std::shared_ptr<JobModel> tmpCopyJobModel_Scan() override { return job; }
    bool isExeScningState() override { return scanning; }
};

struct ScanScreenStandIn {
    QWidget* content = nullptr;
    QWidget* header = nullptr;
    QWidget* info = nullptr;
    QWidget* pagination = nullptr;
    QFrame* outputBox = nullptr;
    QLineEdit* pageField = nullptr;
    QLabel* pageCount = nullptr;
    QLineEdit* outputField = nullptr;
    QPushButton* previousOutput = nullptr;
    QPushButton* nextOutput = nullptr;
    ImageIBView* browser = nullptr;
    QScrollArea* previewArea = nullptr;
    PreviewBaseView* preview = nullptr;

    static constexpr int kWidth = 900;
    static constexpr int kHeight = 560;
    static constexpr int kHeaderHeight = 44;
    static constexpr int kInfoHeight = 56;
    static constexpr int kBrowserWidth = 190;

    PreviewOutlets outlets() const {
        PreviewOutlets o;
        o.mainWindow = content;
        o.scanContentView = content;
        o.scanHeaderView = header;
        o.scanInfoView = info;
        o.outputPagination = pagination;
        o.previewView = preview;
        o.pageBrowser = browser;
        return o;
    }
};

template <class W>
W* tagged(W* widget, int tag) {
    kdui::setTag(widget, tag);
    return widget;
}

inline QLabel* infoLabel(QWidget* parent, int tag, QRect frame) {
    auto* label = tagged(new QLabel(parent), tag);
    label->setGeometry(frame);
    label->setStyleSheet(QStringLiteral("color: #E8E8E8;"));
    return label;
}

// The whole stand-in as one top-level widget (owned by the caller).
inline ScanScreenStandIn makeScanScreen() {
    using S = ScanScreenStandIn;
    S s;
    s.content = new QWidget;
    s.content->resize(S::kWidth, S::kHeight);
    s.content->setAutoFillBackground(true);
    QPalette palette = s.content->palette();
    palette.setColor(QPalette::Window, QColor(0x2E, 0x2E, 0x2E));
    s.content->setPalette(palette);

    s.header = new QWidget(s.content);
    s.header->setGeometry(0, 0, S::kWidth, S::kHeaderHeight);
    s.pageField = tagged(new QLineEdit(s.header), PreviewCntlr::kShownPageField);
    s.pageField->setGeometry(S::kBrowserWidth + 20, 10, 44, 24);
    s.pageField->setAlignment(Qt::AlignRight);
    s.pageCount = tagged(new QLabel(s.header), PreviewCntlr::kPageCountLabel);
    s.pageCount->setGeometry(S::kBrowserWidth + 68, 10, 50, 24);
    s.pageCount->setStyleSheet(QStringLiteral("color: #E8E8E8;"));
    int x = S::kWidth - 4 * 86;
    for (auto [tag, title] : {std::pair{PreviewCntlr::kProcessPaneButton, "Process"},
                              std::pair{PreviewCntlr::kTransformPaneButton, "Transform"},
                              std::pair{PreviewCntlr::kRotatePaneButton, "Rotate"},
                              std::pair{PreviewCntlr::kRevertButton, "Revert"}}) {
        auto* button = tagged(new QPushButton(QString::fromLatin1(title), s.header), tag);
        button->setGeometry(x, 8, 80, 28);
        x += 86;
    }

    s.browser = new ImageIBView(s.content);
    s.browser->setGeometry(0, S::kHeaderHeight, S::kBrowserWidth, S::kHeight - S::kHeaderHeight - S::kInfoHeight);
    s.browser->setCellSize(QSize(150, 170));
    s.browser->setIntercellSpacing(QSize(10, 10));
    s.browser->setCellsTitled(true);
    s.browser->setAllowsMultipleSelection(true);
    s.browser->setAllowsEmptySelection(false);
    s.browser->setBackgroundColor(QColor(0xA0, 0xA0, 0xA0));
    s.browser->setVerticalScrollBar(new TvScroller(Qt::Vertical));

    s.previewArea = new QScrollArea(s.content);
    s.previewArea->setFrameShape(QFrame::NoFrame);
    s.previewArea->setGeometry(S::kBrowserWidth, S::kHeaderHeight, S::kWidth - S::kBrowserWidth,
                               S::kHeight - S::kHeaderHeight - S::kInfoHeight);
    s.previewArea->setVerticalScrollBar(new TvScroller(Qt::Vertical));
    s.previewArea->setHorizontalScrollBar(new TvScroller(Qt::Horizontal));
    s.previewArea->setBackgroundRole(QPalette::Dark);
    QPalette dark = s.previewArea->palette();
    dark.setColor(QPalette::Dark, QColor(0x50, 0x50, 0x50));
    s.previewArea->setPalette(dark);
    s.preview = new PreviewBaseView;
    s.previewArea->setWidget(s.preview);

    s.info = new QWidget(s.content);
    s.info->setGeometry(0, S::kHeight - S::kInfoHeight, S::kWidth, S::kInfoHeight);
    infoLabel(s.info, PreviewCntlr::kColorModeText, QRect(8, 6, 186, 20));
    infoLabel(s.info, PreviewCntlr::kReaderSideText, QRect(8, 28, 186, 20));
    s.outputBox = tagged(new QFrame(s.info), PreviewCntlr::kOutputTypeBox);
    s.outputBox->setFrameShape(QFrame::Box);
    s.outputBox->setStyleSheet(QStringLiteral("QFrame { border: 1px solid #888888; }"));
    s.outputBox->setGeometry(200, 4, 560, 48);
    infoLabel(s.outputBox, PreviewCntlr::kOutputTypeText, QRect(8, 3, 540, 20))->setStyleSheet(
        QStringLiteral("color: #E8E8E8; border: none;"));
    infoLabel(s.outputBox, PreviewCntlr::kFileNameText, QRect(8, 24, 540, 20))->setStyleSheet(
        QStringLiteral("color: #E8E8E8; border: none;"));
    s.pagination = new QWidget(s.info);
    s.pagination->setGeometry(780, 14, 108, 28);
    s.previousOutput = tagged(new QPushButton(QStringLiteral("<"), s.pagination), PreviewCntlr::kPreviousOutputButton);
    s.previousOutput->setGeometry(0, 0, 28, 28);
    s.outputField = tagged(new QLineEdit(s.pagination), PreviewCntlr::kShownOutputField);
    s.outputField->setGeometry(32, 2, 44, 24);
    s.outputField->setAlignment(Qt::AlignCenter);
    s.nextOutput = tagged(new QPushButton(QStringLiteral(">"), s.pagination), PreviewCntlr::kNextOutputButton);
    s.nextOutput->setGeometry(80, 0, 28, 28);
    auto* finish = tagged(new QPushButton(QStringLiteral("Finish"), s.header), PreviewCntlr::kFinishButton);
    finish->setGeometry(S::kBrowserWidth + 130, 8, 80, 28);

    QlrUtilsMethod::layoutLeftToRight(s.content);
    return s;
}

} // namespace preview_test
