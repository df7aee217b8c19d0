// Making the main window's controller: its windows from their forms, the
// lookups by tag, and its registration with the application controller.
#include "MainWindowController.h"

#include "ui_AboutWindow.h"
#include "ui_CompleteWindow.h"
#include "ui_ProcessWindow.h"
#include "ui_SettingFooterView.h"
#include "ui_SettingInputView.h"
#include "ui_SettingOptionView.h"
#include "ui_SettingOutputView.h"
#include "ui_SettingTabView.h"
#include "ui_SettingWholeView.h"

#include <AppMainCntlr.h>
#include <TvAnimationImageView.h>
#include <TvBackgroundViews.h>
#include <TvPopoverWindow.h>
#include <TvTextFields.h>
#include <TvWindow.h>

#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <QAbstractButton>
#include <QMainWindow>

namespace {

// A flat window holding a form in its content view, sized to the form.
template <class Form>
TvFlatWindow* makeFlatWindow(const char* name, QPointer<TvFlatWindowContentView>& content) {
    auto* window = new TvFlatWindow;
    window->setObjectName(QString::fromLatin1(name));
    auto* view = new TvFlatWindowContentView(window, TvFlatWindowContentView::Panel);
    Form form;
    form.setupUi(view);
    window->resize(view->size());
    view->move(0, 0);
    window->setBaseAlpha(kFlatWindowAlpha);
    content = view;
    return window;
}

// A setting-window section from its form, hidden until the window stacks it.
template <class Form>
QWidget* makeSection(QWidget* parent, const char* name) {
    auto* view = new QWidget(parent);
    Form form;
    form.setupUi(view);
    view->setObjectName(QString::fromLatin1(name));
    view->hide();
    return view;
}

} // namespace

MainWindowController::MainWindowController(AppMainCntlr& cntlr, QWidget* mainWindow)
    : mCntlr(cntlr), mMainWindow(mainWindow) {
    loadWindows();
}

void MainWindowController::loadWindows() {
    mProcessWindow = makeFlatWindow<Ui::ProcessWindow>("ProcessWindow", mProcessContent);
    mAnimationImageView = mProcessContent->findChild<TvAnimationImageView*>(QStringLiteral("AnimationImageView"));

    mCompleteWindow = makeFlatWindow<Ui::CompleteWindow>("CompleteWindow", mCompleteContent);
    // It floats above the main window, opaque under the mouse.
    mCompleteWindow->setWindowFlag(Qt::WindowStaysOnTopHint);
    mCompleteContent->setIsChangeAlpha(true);
    if (QWidget* first = completeItem(kCompFirstRowTag)) mCompFirstRowTop = first->y();
    if (auto* close = qobject_cast<QAbstractButton*>(completeItem(kCompCloseButtonTag))) {
        QObject::connect(close, &QAbstractButton::clicked, close, [this, close] { actionFromCompleteWindow(close); });
    }

    mAboutWindow = new TvWindow;
    mAboutWindow->setObjectName(QStringLiteral("AboutWindow"));
    Ui::AboutWindow about;
    about.setupUi(mAboutWindow);

    // Its sections are filled by the panel setting window; the alert pause
    // needs the window itself.
    mSettingWindow = new TvPopoverWindow;
    mSettingWindow->setObjectName(QStringLiteral("SettingWindow"));
    QWidget* body = mSettingWindow->contentView();
    makeSection<Ui::Setting_Tab_View>(body, kSettingTabView);
    makeSection<Ui::Setting_Input_View>(body, kSettingInputView);
    makeSection<Ui::Setting_Output_View>(body, kSettingOutputView);
    makeSection<Ui::Setting_Option_View>(body, kSettingOptionView);
    makeSection<Ui::Setting_Whole_View>(body, kSettingWholeView);
    makeSection<Ui::Setting_FooterView>(body, kSettingFooterView);
}

QWidget* MainWindowController::settingSection(const char* name) const {
    return mSettingWindow ? mSettingWindow->findChild<QWidget*>(QString::fromLatin1(name)) : nullptr;
}

std::shared_ptr<MainWindowController> MainWindowController::install(AppMainCntlr& cntlr, QWidget* mainWindow) {
    auto controller = std::make_shared<MainWindowController>(cntlr, mainWindow);
    cntlr.setMainWindowPort(controller);
    MainWindowCntlr::setProcessWindow(controller);
    return controller;
}

void MainWindowController::uninstall() {
    if (MainWindowCntlr::processWindow().get() == this) MainWindowCntlr::setProcessWindow(nullptr);
    if (mCntlr.mainWindowPort().get() == this) mCntlr.setMainWindowPort(nullptr);
}

QWidget* MainWindowController::aboutWindow() { return mAboutWindow; }

QWidget* MainWindowController::contentView() const {
    if (auto* main = qobject_cast<QMainWindow*>(mMainWindow.data()); main && main->centralWidget())
        return main->centralWidget();
    return mMainWindow;
}

QWidget* MainWindowController::processItem(int tag) const { return kdui::viewWithTag(mProcessContent, tag); }
QWidget* MainWindowController::completeItem(int tag) const { return kdui::viewWithTag(mCompleteContent, tag); }
QWidget* MainWindowController::aboutItem(int tag) const { return kdui::viewWithTag(mAboutWindow, tag); }
QWidget* MainWindowController::mainItem(int tag) const { return kdui::viewWithTag(mMainWindow, tag); }

void MainWindowController::actionFromCompleteWindow(QWidget* /*sender*/) {}

void MainWindowController::setContentViewNeedsDisplay() {
    if (QWidget* view = contentView()) view->update();
}

void MainWindowController::displayContentViewIfNeeded() {
    if (QWidget* view = contentView(); view && view->isVisible()) view->repaint();
}

void MainWindowController::displayProcessAnimationIfNeeded() {
    if (mAnimationImageView && mAnimationImageView->isVisible()) mAnimationImageView->update();
}

bool MainWindowController::isVisibleSettingWindow() const { return mSettingWindow && mSettingWindow->isVisible(); }
