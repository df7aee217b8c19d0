// Keyboard navigation of a scrolling list of controls. KFScrollableView is
// the document view of a QScrollArea: it scrolls to a control inside it
// 0.1 s after the control takes keyboard focus (a newer focus change
// replaces the pending scroll), scrolls by arrow keys while it has focus
// itself, and wraps the scroll area in a KFFocusRingView that draws the
// ring while the view has focus.
#pragma once

#include <QPointer>
#include <QWidget>

class QScrollArea;

namespace ComTavrolekKD720 {

class KFFocusRingView final : public QWidget {
public:
    static constexpr int kMargin = 6;
    explicit KFFocusRingView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class KFScrollableView final : public QWidget {
public:
    static constexpr int kFocusMargin = 26;
    static constexpr double kFocusDelay = 0.1;

    explicit KFScrollableView(QWidget* parent = nullptr);
    ~KFScrollableView() override;

    // Wraps the enclosing scroll area in the focus-ring view and starts
    // following focus (the application's focus filter is shared by all
    // views that were set up).
    void setup();
    // Stops following focus; the last view removes the shared filter.
    void terminateView();
    // Scrolls the focused control inside the view into sight with
    // kFocusMargin points above and below, when it is not wholly visible.
    void handleBecomeFirstResponder();

    QScrollArea* enclosingScrollArea() const;
    KFFocusRingView* focusRingView() const { return mFocusRingView; }
    // Whether the shared focus filter is installed (for tests).
    static bool isFocusFilterInstalled();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QPointer<KFFocusRingView> mFocusRingView;
    bool mFollowing = false;
};

} // namespace ComTavrolekKD720
