#include "PanelIBView.h"

#include "AppMainCntlrPorts.h"
#include "JobModel.h"
#include "PanelTile.h"
#include "QlrUtilsMethod.h"
#include "QlrUtilsMethodUI.h"
#include "TvButtons.h"
#include "TvTextFields.h"
#include "TvUI.h"

#include <foundation/Bundle.h>
#include <foundation/NotificationCenter.h>
#include <foundation/RunLoop.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace {

constexpr const char* kShowFieldEditorKey = "showFieldEditor";
constexpr const char* kOpenSettingKey = "openSettingWindow";
constexpr int kContinueImageIndex = 10;
constexpr int kProcessImageIndex = 11;

// The process-wide editor and tools, and who holds them now. They are made
// without a parent on first use and deleted before the application object
// goes.
struct Shared {
    QPointer<TvTextField> editor;
    QPointer<PanelIBView> editorOwner;
    int editorIndex = -1;
    bool ending = false;
    std::array<QPointer<TvToolButton>, 3> tools;
    QPointer<PanelIBView> toolsOwner;
    int toolsIndex = -1;
    bool cleanupAdded = false;
};

Shared& shared() {
    static Shared s;
    return s;
}

void deleteShared() {
    Shared& s = shared();
    delete s.editor.data();
    for (auto& tool : s.tools) delete tool.data();
}

void addCleanup() {
    Shared& s = shared();
    if (s.cleanupAdded) return;
    s.cleanupAdded = true;
    qAddPostRoutine(deleteShared);
}

QString localized(const char* key) {
    return QString::fromStdString(kdf::localizedMainString(key));
}

bool rtlOf(const QWidget* view) { return view->layoutDirection() == Qt::RightToLeft; }

// The text the editor leaves as the title: trimmed at both ends, "" for
// nothing.
std::string editedTitle(const QString& text) {
    return QlrUtilsMethod::deleteSpaceHeadAndTail(text.toStdString()).value_or(std::string());
}

} // namespace

// ---- PanelIBCell

std::shared_ptr<PanelModel> PanelIBCell::panel() const {
    auto* browser = dynamic_cast<PanelIBView*>(view());
    PanelIBViewDataSource* source = browser ? browser->panelDataSource() : nullptr;
    return source ? source->panelAtIndex(*browser, index()) : nullptr;
}

QRect PanelIBCell::imageFrame() const {
    const QRect base = kdui::ImageBrowserCell::imageFrame();
    auto model = panel();
    const QSize size = model ? PanelTile::makePanelSize(*model, model->panelSizeType()) : QSize();
    if (size.isEmpty()) return base;
    const QPoint centre = frame().center();
    return QRect(centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height());
}

QRect PanelIBCell::selectionFrame() const { return imageFrame().adjusted(-5, -5, 5, 5); }

QRect PanelIBCell::tileRect(const QRect& inTile) const {
    return inTile.isEmpty() ? QRect() : inTile.translated(imageFrame().topLeft());
}

QRect PanelIBCell::titleFrame() const {
    auto model = panel();
    return model ? tileRect(PanelTile::titleFrame(*model, model->panelSizeType(), rtlOf(view()))) : QRect();
}

QRect PanelIBCell::editButtonFrame() const {
    auto model = panel();
    return model ? tileRect(PanelTile::editButtonFrame(*model, model->panelSizeType(), rtlOf(view())))
                 : QRect();
}

QRect PanelIBCell::continueScanButtonFrame() const {
    auto model = panel();
    return model ? tileRect(PanelTile::continueScanButtonFrame(*model, model->panelSizeType(), rtlOf(view())))
                 : QRect();
}

QRect PanelIBCell::imageProcessButtonFrame() const {
    auto model = panel();
    return model ? tileRect(PanelTile::imageProcessButtonFrame(*model, model->panelSizeType(), rtlOf(view())))
                 : QRect();
}

void PanelIBCell::drawBackground(QPainter& painter) {
    // A soft shadow along the tile's outline, 2 below it.
    if (imageSize().isEmpty()) return;
    const QPainterPath outline =
        PanelTile::contentsPathWithFrame(QRectF(imageFrame()).translated(0, 2), rtlOf(view()));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(outline, QColor(0, 0, 0, 26));
    painter.restore();
}

void PanelIBCell::drawSelection(QPainter&) {}

void PanelIBCell::drawPlaceholder(QPainter& painter) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(255, 255, 255, 77));
    painter.setPen(QPen(QColor(255, 255, 255, 230), 2));
    painter.drawRoundedRect(QRectF(imageFrame()).adjusted(1, 1, -1, -1), 10, 10);
    painter.restore();
}

void PanelIBCell::drawForeground(QPainter& painter) {
    if (!isSelected()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(TvUI::colorWithDeviceRGB(kRingRGB), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(PanelTile::contentsPathWithFrame(QRectF(imageFrame()).adjusted(1.5, 1.5, -1.5, -1.5),
                                                      rtlOf(view())));
    painter.restore();
}

// The title is part of the tile picture.
void PanelIBCell::drawTitle(QPainter&, const QString&) {}

// ---- PanelIBView

PanelIBView::PanelIBView(QWidget* parent) : TvIBView(parent) {
    viewport()->setMouseTracking(true);
}

PanelIBView::~PanelIBView() {
    kdf::RunLoop::main().cancelPerforms(this);
    giveBack(this);
}

void PanelIBView::giveBack(PanelIBView* view) {
    Shared& s = shared();
    if (s.editor && s.editorOwner == view) {
        // The typed title is kept; there is no browser left to reload.
        auto model = view->panelDataSource() ? view->panelDataSource()->panelAtIndex(*view, s.editorIndex) : nullptr;
        s.ending = true;
        if (model) model->setDispTitle(editedTitle(s.editor->text()));
        s.editor->hide();
        s.editor->setParent(nullptr);
        s.editorOwner = nullptr;
        s.editorIndex = -1;
        s.ending = false;
    }
    hideTools(view);
}

PanelIBViewDataSource* PanelIBView::panelDataSource() const {
    return dynamic_cast<PanelIBViewDataSource*>(dataSource());
}

int PanelIBView::panelType() const {
    auto* source = panelDataSource();
    return source ? source->panelTypeOfView(*this) : -1;
}

int PanelIBView::indexAtPoint(QPoint point, QRect* frame) const {
    const int index = kdui::ImageBrowserView::indexAtPoint(point);
    if (frame) *frame = itemFrameAtIndex(index);
    return index;
}

std::unique_ptr<kdui::ImageBrowserCell> PanelIBView::newCellForItem(int) { return std::make_unique<PanelIBCell>(); }

void PanelIBView::redrawPanel(int index) {
    auto* source = panelDataSource();
    auto model = source ? source->panelAtIndex(*this, index) : nullptr;
    if (model) PanelTile::createPanelImage(*model, model->panelSizeType());
}

void PanelIBView::setCellSelectionIndexes(const kdui::IndexSet& indexes) {
    auto* source = panelDataSource();
    if (!source) return;
    bool changed = false;
    const int count = source->numberOfItems(*this);
    for (int i = 0; i < count; ++i) {
        auto model = source->panelAtIndex(*this, i);
        if (!model) continue;
        const bool selected = indexes.count(i) > 0;
        if (model->isSelected() == selected) continue;
        model->setIsSelected(selected);
        PanelTile::createPanelImage(*model, model->panelSizeType());
        changed = true;
    }
    if (changed) reloadPanels();
}

kdui::IndexSet PanelIBView::cellSelectionIndexes() {
    kdui::IndexSet out;
    auto* source = panelDataSource();
    if (!source) return out;
    const int count = source->numberOfItems(*this);
    for (int i = 0; i < count; ++i)
        if (auto model = source->panelAtIndex(*this, i); model && model->isSelected()) out.insert(i);
    return out;
}

void PanelIBView::reloadPanels() {
    hideTools(this);
    if (fieldEditorOwner() == this) hideFieldEditor();
    reloadData();
}

void PanelIBView::postClick(int index) {
    if (index < 0) return;
    kdf::Dictionary userInfo{{kClickCellIndexKey, kdf::Value(unsigned(index))}};
    kdf::NotificationCenter::defaultCenter().post(kPanelIBViewClickCellNotification, static_cast<QWidget*>(this),
                                                  nullptr, &userInfo);
}

// ---- Keys and clicks

void PanelIBView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space: {
        const kdui::IndexSet selection = selectionIndexes();
        setCellSelectionIndexes(selection);
        // With nothing selected there is no tile to run.
        if (!selection.empty()) postClick(*selection.begin());
        event->accept();
        return;
    }
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        // Panels are never removed from the keyboard.
        event->accept();
        return;
    default: TvIBView::keyPressEvent(event);
    }
}

void PanelIBView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) mMouseDown = event->position().toPoint();
    mSelectionAtPress = selectionIndexes();
    TvIBView::mousePressEvent(event);
}

void PanelIBView::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    const int index = indexAtPoint(pos);
    kdui::ImageBrowserCell* cell = index == kNotFound ? nullptr : cellForItemAtIndex(index);
    const QRect title = cell ? cell->titleFrame() : QRect();
    const bool command = event->modifiers() & Qt::ControlModifier;
    const kdui::IndexSet before = mSelectionAtPress;
    const bool left = event->button() == Qt::LeftButton;
    TvIBView::mouseReleaseEvent(event);
    // The grid's own selection never follows clicks.
    setSelectionIndexes(before, false);

    const QPoint down = mMouseDown;
    if (left) mMouseDown = QPoint(-1, -1);
    if (!left || pos != down || index == kNotFound) return;
    if (title.contains(pos)) {
        kdf::RunLoop::main().cancelPerforms(this, kShowFieldEditorKey);
        QPointer<PanelIBView> self(this);
        kdf::RunLoop::main().performAfterDelay(this, kShowFieldEditorKey, kdf::Seconds(kTitleEditDelay),
                                               [self, index] {
                                                   if (self) self->showFieldEditor(index);
                                               });
        return;
    }
    postClick(index);
    kdui::IndexSet selection = cellSelectionIndexes();
    if (command) {
        if (selection.count(index))
            selection.erase(index);
        else if (int(selection.size()) < mSelectableNumber)
            selection.insert(index);
    } else {
        selection = {index};
    }
    setCellSelectionIndexes(selection);
}

// ---- Hover tools

void PanelIBView::mouseMoveEvent(QMouseEvent* event) {
    TvIBView::mouseMoveEvent(event);
    if (event->buttons() == Qt::NoButton) updateMouseByMove(event->position().toPoint());
}

bool PanelIBView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Leave) hideTools(this);
    return TvIBView::viewportEvent(event);
}

void PanelIBView::updateMouseByMove(QPoint pos) {
    if (!window() || !window()->isActiveWindow()) return;
    if (!viewport()->rect().contains(pos)) return;
    const int index = indexAtPoint(pos);
    if (index == kNotFound) return;
    auto* source = panelDataSource();
    if (source && source->panelAtIndex(*this, index)) showTools(index);
}

TvToolButton* PanelIBView::toolButton(Tool tool) {
    Shared& s = shared();
    auto& slot = s.tools[std::size_t(tool)];
    if (!slot) {
        addCleanup();
        auto* button = new TvToolButton();
        button->setExcludeKeyViewLoop(true);
        if (tool == kEditTool) {
            button->setCell(std::make_unique<TvRoundedButtonCell>());
        } else {
            const bool cont = tool == kContinueScanTool;
            button->setCell(std::make_unique<TvImageButtonCell>(
                cont ? kContinueImageIndex : kProcessImageIndex,
                localized(cont ? "Tooltip_AddScanOnOff" : "Tooltip_EditImageOnOff")));
            button->setCheckable(true);
            button->setToolTip(localized(cont ? "Tooltip_AddScanOnOff" : "Tooltip_EditImageOnOff"));
        }
        QObject::connect(button, &QAbstractButton::clicked, button, [tool] {
            if (PanelIBView* owner = shared().toolsOwner) owner->toolAction(tool);
        });
        slot = button;
    }
    return slot;
}

PanelIBView* PanelIBView::toolsOwner() { return shared().toolsOwner; }

void PanelIBView::showTools(int index) {
    auto* source = panelDataSource();
    if (!source || source->isShowDarkShieldView()) return;
    auto* cell = dynamic_cast<PanelIBCell*>(cellForItemAtIndex(index));
    auto model = cell ? cell->panel() : nullptr;
    if (!model) return;
    auto* job = dynamic_cast<JobModel*>(model.get());
    const QRect frames[3] = {cell->editButtonFrame(), cell->continueScanButtonFrame(),
                             cell->imageProcessButtonFrame()};
    Shared& s = shared();
    if (s.toolsOwner && s.toolsOwner != this) hideTools(s.toolsOwner);
    for (int i = 0; i < 3; ++i) {
        TvToolButton* existing = s.tools[std::size_t(i)];
        if (frames[i].isEmpty()) {
            if (existing && existing->parentWidget() == viewport()) {
                existing->hide();
                existing->setParent(nullptr);
            }
            continue;
        }
        TvToolButton* button = toolButton(Tool(i));
        if (button->parentWidget() != viewport()) button->setParent(viewport());
        button->setGeometry(frames[i]);
        if (job && i == kContinueScanTool) button->setChecked(job->isContinueScan());
        if (job && i == kImageProcessTool) button->setChecked(job->isImageProcess());
        button->show();
        button->raise();
    }
    s.toolsOwner = this;
    s.toolsIndex = index;
}

void PanelIBView::hideTools(PanelIBView* view) {
    Shared& s = shared();
    for (auto& tool : s.tools) {
        if (!tool || !tool->parentWidget()) continue;
        if (view && tool->parentWidget() != view->viewport()) continue;
        tool->hide();
        tool->setParent(nullptr);
    }
    if (!view || s.toolsOwner == view) {
        s.toolsOwner = nullptr;
        s.toolsIndex = -1;
    }
}

void PanelIBView::toolAction(Tool tool) {
    const int index = shared().toolsIndex;
    auto* source = panelDataSource();
    auto model = source ? source->panelAtIndex(*this, index) : nullptr;
    if (!model) return;
    if (tool == kEditTool) {
        const int type = panelType();
        auto& loop = kdf::RunLoop::main();
        loop.cancelPerforms(this, kOpenSettingKey);
        QPointer<PanelIBView> self(this);
        loop.performAfterDelay(this, kOpenSettingKey, kdf::Seconds(0), [self, type, index] {
            if (self && self->panelDataSource()) self->panelDataSource()->openSettingWindow(type, index);
        });
        return;
    }
    auto* job = dynamic_cast<JobModel*>(model.get());
    if (!job) return;
    if (tool == kContinueScanTool)
        job->setIsContinueScan(!job->isContinueScan());
    else
        job->setIsImageProcess(!job->isImageProcess());
    PanelTile::createPanelImage(*job, job->panelSizeType());
    reloadPanels();
    showTools(index);
}

// ---- Title editing

TvTextField* PanelIBView::fieldEditor() {
    Shared& s = shared();
    if (!s.editor) {
        addCleanup();
        auto* editor = new TvTextField();
        editor->setFrame(true);
        editor->setFont(TvUI::systemFont(16));
        editor->setAlignment(Qt::AlignCenter);
        editor->setInvalidCharsInString(QStringLiteral("\r\n"));
        editor->setValidLength(kTitleMaxLength);
        editor->setAutoFillBackground(true);
        QObject::connect(editor, &QLineEdit::editingFinished, editor, [] { hideFieldEditor(); });
        s.editor = editor;
    }
    return s.editor;
}

PanelIBView* PanelIBView::fieldEditorOwner() { return shared().editorOwner; }

void PanelIBView::showFieldEditor(int index) {
    hideFieldEditor();
    auto* cell = cellForItemAtIndex(index);
    auto* source = panelDataSource();
    auto model = source ? source->panelAtIndex(*this, index) : nullptr;
    if (!cell || !model) return;
    TvTextField* editor = fieldEditor();
    Shared& s = shared();
    QPalette palette = editor->palette();
    palette.setColor(QPalette::Base, TvUI::colorWithDeviceRGB(model->isSelected() ? kSelectedEditorRGB : 0xFFFFFF));
    editor->setPalette(palette);
    editor->setParent(viewport());
    editor->setGeometry(cell->titleFrame());
    editor->setText(QString::fromStdString(model->dispTitle()));
    s.editorOwner = this;
    s.editorIndex = index;
    editor->show();
    editor->setFocus(Qt::OtherFocusReason);
}

bool PanelIBView::hideFieldEditor() {
    Shared& s = shared();
    if (s.ending || !s.editor || !s.editorOwner) return true;
    s.ending = true;
    PanelIBView* owner = s.editorOwner;
    const int index = s.editorIndex;
    auto* source = owner->panelDataSource();
    auto model = source ? source->panelAtIndex(*owner, index) : nullptr;
    if (model) model->setDispTitle(editedTitle(s.editor->text()));
    s.editor->hide();
    s.editor->setParent(nullptr);
    s.editorOwner = nullptr;
    s.editorIndex = -1;
    if (model) PanelTile::createPanelImage(*model, model->panelSizeType());
    owner->reloadData();
    s.ending = false;
    return true;
}

// ---- Painting, scrolling, dragging

void PanelIBView::drawOverCells(QPainter& painter) { TvIBView::drawOverCells(painter); }

void PanelIBView::resizeEvent(QResizeEvent* event) {
    hideTools(this);
    TvIBView::resizeEvent(event);
}

void PanelIBView::scrollContentsBy(int dx, int dy) {
    hideTools(this);
    TvIBView::scrollContentsBy(dx, dy);
    Shared& s = shared();
    if (s.editor && s.editorOwner == this)
        if (auto* cell = cellForItemAtIndex(s.editorIndex)) s.editor->setGeometry(cell->titleFrame());
}

QPixmap PanelIBView::dragPixmap(const kdui::IndexSet& indexes) {
    if (indexes.empty()) return {};
    // The tile under the mouse when it is dragged, else the first.
    int index = indexAtPoint(mMouseDown);
    if (index == kNotFound || !indexes.count(index)) index = *indexes.begin();
    auto* source = panelDataSource();
    auto model = source ? source->panelAtIndex(*this, index) : nullptr;
    QImage image = model ? PanelTile::displayImage(*model) : QImage();
    if (image.isNull()) return TvIBView::dragPixmap(indexes);
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (model->isSelected()) {
        // A faint orange veil with a 2-pixel orange border.
        const bool rtl = rtlOf(this);
        const QRectF whole(0, 0, image.width(), image.height());
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath outline = PanelTile::contentsPathWithFrame(whole, rtl);
        painter.fillPath(outline, QColor::fromRgbF(1.0f, 200.0f / 255, 0, 0.1f));
        QPainterPath ring;
        ring.addRect(whole);
        ring = ring.subtracted(PanelTile::contentsPathWithFrame(whole.adjusted(2, 2, -2, -2), rtl));
        painter.setClipPath(ring);
        painter.fillPath(outline, QColor(253, 161, 40));
    }
    kdui::ImageBrowserCell* cell = cellForItemAtIndex(index);
    const QSize size = cell ? cell->imageFrame().size() : image.size();
    return QPixmap::fromImage(image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

Qt::DropAction PanelIBView::executeDrag(QDrag& drag, Qt::DropActions) {
    return TvIBView::executeDrag(drag, Qt::MoveAction);
}
