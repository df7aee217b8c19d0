#include "MainTopDisplay.h"

#include "AppMainCntlr.h"
#include "MainWindowController.h"
#include "MainWindowNib.h"
#include "MainWindowScanHost.h"

#include <AppModel.h>
#include <QlrUtilsMethod.h>
#include <TV_FuncUI.h>

#include <foundation/Bundle.h>
#include <ui/FrameChange.h>
#include <ui/ViewAnimation.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QPixmap>

#include <algorithm>
#include <vector>

namespace qlr_main {
namespace {

// Lays the stored type out again whenever the top content view changes
// size: the frames of each type say which parts stretch and which keep
// their width at an edge.
class ResizeRule : public QObject {
public:
    ResizeRule(QWidget* top, std::function<void()> relayout) : QObject(top), relayout_(std::move(relayout)) {
        top->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent() && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutDirectionChange))
            relayout_();
        return false;
    }

private:
    std::function<void()> relayout_;
};

std::string localized(const char* key) {
    return kdf::localizedMainString(key);
}

// An Info.plist value that is a string; anything else shows nothing.
std::string infoString(const char* key) {
    const auto value = QlrUtilsMethod::objectFromInfoDict(key);
    const std::string* text = value ? value->string() : nullptr;
    return text ? *text : std::string();
}

} // namespace

QRect mirroredFrame(const QRect& r, int parentWidth) {
    return {parentWidth - r.x() - r.width(), r.y(), r.width(), r.height()};
}

TopDisplayFrames topDisplayFrames(int type, QSize top, int headerHeight, bool rightToLeft) {
    const int w = std::max(0, top.width()), h = std::max(0, top.height());
    const int hh = std::clamp(headerHeight, 0, h);
    const int strip = std::min(kTopStripWidth, w);
    // The favourite area keeps its width unless the view is too narrow to
    // leave the step-scan area a strip.
    const int fav = std::clamp(std::min(kFavoriteAreaWidth, w - strip), 0, std::max(0, w));
    const int step = std::max(0, w - fav);
    // Everything in the top content view's coordinates first.
    QRect stepSub, stepHeader, stepBase, favSub, favHeader, favBase;
    switch (type) {
    case kTopDispStepScan:
        stepSub = {0, 0, w, h};
        stepHeader = {0, 0, w - strip, hh};
        stepBase = {0, hh, w, h - hh};
        favSub = {w - strip, 0, fav, hh};
        favHeader = {w - strip, 0, fav, hh};
        favBase = {w - strip, hh, fav, h - hh};
        break;
    case kTopDispFavorite:
        favSub = {0, 0, w, h};
        favHeader = {strip, 0, w - strip, hh};
        favBase = {0, hh, w, h - hh};
        stepSub = {strip - step, 0, step, hh};
        stepHeader = {strip - step, 0, step, hh};
        stepBase = {-step, hh, step, h - hh};
        break;
    default:
        stepSub = {0, 0, step, h};
        stepHeader = {0, 0, step, hh};
        stepBase = {0, hh, step, h - hh};
        favSub = {step, 0, fav, h};
        favHeader = {step, 0, fav, hh};
        favBase = {step, hh, fav, h - hh};
        break;
    }
    if (rightToLeft) {
        for (QRect* r : {&stepSub, &stepHeader, &stepBase, &favSub, &favHeader, &favBase}) *r = mirroredFrame(*r, w);
    }
    // Headers and base views in their sub-view's coordinates.
    const QPoint stepOrigin = stepSub.topLeft(), favOrigin = favSub.topLeft();
    return {stepSub, stepHeader.translated(-stepOrigin), stepBase.translated(-stepOrigin),
            favSub,  favHeader.translated(-favOrigin),   favBase.translated(-favOrigin)};
}

int nextTopDisplayType(int oldType, int buttonTag) {
    if (buttonTag == kToStepScanButtonTag) return oldType == kTopDispFavorite ? kTopDispBoth : kTopDispStepScan;
    if (buttonTag == kToFavoriteScanButtonTag) return oldType == kTopDispStepScan ? kTopDispBoth : kTopDispFavorite;
    return oldType;
}

struct MainTopDisplay::Views {
    QWidget* top = nullptr;
    QWidget* stepSub = nullptr;
    QWidget* stepHeader = nullptr;
    QWidget* stepBase = nullptr;
    QWidget* favSub = nullptr;
    QWidget* favHeader = nullptr;
    QWidget* favBase = nullptr;
    bool complete() const { return top && stepSub && stepHeader && stepBase && favSub && favHeader && favBase; }
};

MainTopDisplay::MainTopDisplay(AppMainCntlr& cntlr, MainWindowController& window, MainWindowScanHost& host)
    : cntlr_(cntlr), window_(window), host_(host) {
    takeOverLayout();
    connectButtons();
}

MainTopDisplay::~MainTopDisplay() { delete resizeRule_.data(); }

MainTopDisplay::Views MainTopDisplay::views() const {
    const QWidget* w = window_.mainWindow();
    Views v;
    v.top = MainWindowNib::outlet(w, kTopContentView);
    v.stepSub = MainWindowNib::outlet(w, kTopStepScanSubView);
    v.stepHeader = MainWindowNib::outlet(w, "Top_StepHeaderView");
    v.stepBase = MainWindowNib::outlet(w, "Top_StepScan_BaseView");
    v.favSub = MainWindowNib::outlet(w, kTopFavoritScanSubView);
    v.favHeader = MainWindowNib::outlet(w, "Top_FavoritHeaderView");
    v.favBase = MainWindowNib::outlet(w, "Top_FavoritScan_BaseView");
    return v;
}

void MainTopDisplay::takeOverLayout() {
    const Views v = views();
    if (!v.complete()) return;
    top_ = v.top;
    for (QWidget* w : {v.top, v.stepSub, v.favSub}) delete w->layout();
    resizeRule_ = new ResizeRule(v.top, [this] {
        if (!animating_) layoutForType(storedDisplayType());
    });
    layoutForType(displayTypeOfViews());
}

void MainTopDisplay::connectButtons() {
    for (int tag : {kToStepScanButtonTag, kToFavoriteScanButtonTag}) {
        auto* button = qobject_cast<QAbstractButton*>(kdui::viewWithTag(top_, tag));
        if (!button) continue;
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [this, button] { updateMainTopDisplay(button, true); });
    }
}

int MainTopDisplay::storedDisplayType() const {
    const auto model = cntlr_.appModel();
    const int type = model ? model->mainTopDispType() : kTopDispStepScan;
    return type >= kTopDispStepScan && type <= kTopDispFavorite ? type : kTopDispBoth;
}

int MainTopDisplay::displayTypeOfViews() const {
    const Views v = views();
    if (!v.complete()) return storedDisplayType();
    const bool stepShown = !v.stepBase->isHidden(), favShown = !v.favBase->isHidden();
    // The favourite area alone shows its base view and hides the step-scan
    // one, so that the type read off the views is the type laid out.
    if (stepShown && !favShown) return kTopDispStepScan;
    if (!stepShown) return kTopDispFavorite;
    return kTopDispBoth;
}

void MainTopDisplay::layoutForType(int type) {
    const Views v = views();
    if (!v.complete()) return;
    const int headerHeight = std::max(v.stepHeader->sizeHint().height(), v.favHeader->sizeHint().height());
    const TopDisplayFrames f =
        topDisplayFrames(type, v.top->size(), headerHeight, v.top->layoutDirection() == Qt::RightToLeft);
    v.stepSub->setGeometry(f.stepSub);
    v.stepHeader->setGeometry(f.stepHeader);
    v.stepBase->setGeometry(f.stepBase);
    v.favSub->setGeometry(f.favSub);
    v.favHeader->setGeometry(f.favHeader);
    v.favBase->setGeometry(f.favBase);
    v.stepBase->setVisible(type != kTopDispFavorite);
    v.favBase->setVisible(type != kTopDispStepScan);
    // The area whose strip lies over the other one takes the clicks there.
    (type == kTopDispFavorite ? v.stepSub : v.favSub)->raise();
}

void MainTopDisplay::updateMainTopDisplay(QWidget* sender, bool isAnime) {
    window_.endEditingPanelTitle();
    if (!cntlr_.isMainTopState()) return;
    const Views v = views();
    if (!v.complete()) return;

    int oldType = storedDisplayType();
    int newType = oldType;
    if (sender) {
        newType = nextTopDisplayType(oldType, kdui::tag(sender));
        if (newType == oldType) {
            kdui::postFrameDidChange(v.top);
            return;
        }
    } else {
        oldType = displayTypeOfViews();
    }
    if (isAnime && !AppMainCntlr::isValidAnimation()) return;

    if (isAnime) {
        const int headerHeight = std::max(v.stepHeader->sizeHint().height(), v.favHeader->sizeHint().height());
        const TopDisplayFrames f =
            topDisplayFrames(newType, v.top->size(), headerHeight, v.top->layoutDirection() == Qt::RightToLeft);
        std::vector<kdui::ViewAnimation> animations;
        const auto move = [&](QWidget* view, const QRect& end) {
            if (view->geometry() != end) animations.push_back(AppMainCntlr::viewAnimInfo(view, view->geometry(), end));
        };
        // The area that comes in fades in at its new place; the one that
        // goes fades out where it is. Between the two single areas both
        // fade at once.
        const auto fade = [&](QWidget* base, bool shown, const QRect& end) {
            if (shown == !base->isHidden()) {
                move(base, end);
                return;
            }
            if (shown) {
                base->setGeometry(end);
                base->show();
            }
            animations.push_back(AppMainCntlr::fadeInOutInfo(shown, base));
        };
        // A strip that comes to lie over the other area is on top during
        // the move already.
        (newType == kTopDispFavorite ? v.stepSub : v.favSub)->raise();
        move(v.stepSub, f.stepSub);
        move(v.stepHeader, f.stepHeader);
        move(v.favSub, f.favSub);
        move(v.favHeader, f.favHeader);
        fade(v.stepBase, newType != kTopDispFavorite, f.stepBase);
        fade(v.favBase, newType != kTopDispStepScan, f.favBase);
        animating_ = true;
        kdui::runViewAnimations(animations, kViewAnimationSeconds, true);
        animating_ = false;
        // Faded views end hidden; the opacity effect is not kept.
        for (QWidget* base : {v.stepBase, v.favBase}) base->setGraphicsEffect(nullptr);
    }
    // The end state, also after an animation (its fades end hidden or shown
    // here, and a resize during the run is caught up).
    layoutForType(newType);

    if (QWidget* toStep = kdui::viewWithTag(v.top, kToStepScanButtonTag)) toStep->setEnabled(newType != kTopDispStepScan);
    if (QWidget* toFav = kdui::viewWithTag(v.top, kToFavoriteScanButtonTag)) toFav->setEnabled(newType != kTopDispFavorite);
    if (const auto model = cntlr_.appModel()) model->setMainTopDispType(newType);
    if (QWidget* main = window_.mainWindow()) TV_Func::setNextKeyViewsAtWindow(main);
    kdui::postFrameDidChange(v.top);
}

void MainTopDisplay::initAboutWindow() {
    QFont bold = QApplication::font();
    bold.setBold(true);
    QFont label = QApplication::font();
    if (label.pointSizeF() > 2) label.setPointSizeF(label.pointSizeF() - 2);
    const auto setLabel = [&](int tag, const QFont& font, const std::string& text) {
        auto* field = qobject_cast<QLabel*>(window_.aboutItem(tag));
        if (!field) return;
        field->setFont(font);
        field->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        field->setText(QString::fromStdString(text));
    };
    setLabel(kAboutNameTag, bold, infoString("CFBundleName"));
    setLabel(kAboutVersionTag, label, "Version " + infoString("CFBundleShortVersionString"));
    setLabel(kAboutRightsTag, label, infoString("NSHumanReadableCopyright"));
    if (auto* button = qobject_cast<QAbstractButton*>(window_.aboutItem(kAboutLicenceTag)))
        button->setText(QString::fromStdString(localized("About_Licence")));
    if (auto* icon = qobject_cast<QLabel*>(window_.aboutItem(kAboutIconTag))) {
        QPixmap image;
        const std::string iconFile = infoString("CFBundleIconFile");
        if (!iconFile.empty()) {
            auto bundle = kdf::Bundle::main();
            const std::string path = bundle ? bundle->pathForResource(iconFile, "") : std::string();
            if (!path.empty()) image.load(QString::fromStdString(path));
        }
        if (image.isNull()) {
            const QIcon appIcon = QApplication::windowIcon();
            if (!appIcon.isNull()) image = appIcon.pixmap(icon->size().isEmpty() ? QSize(128, 128) : icon->size());
        }
        if (!image.isNull()) icon->setPixmap(image.scaled(icon->size().isEmpty() ? image.size() : icon->size(),
                                                          Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
}

} // namespace qlr_main
