// The print panel's accessory: the page-layout pop-up (actual size or fit
// to the paper) under its label. The panel's summary shows nothing for it.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class QPushButton;

namespace Ui {
class AccessoryView;
}

namespace sendvia_printer {

// Page layouts, also the pop-up items' tags.
inline constexpr int kPageLayoutRealSize = 0;
inline constexpr int kPageLayoutPaperFit = 1;
// Tags of the accessory's controls.
inline constexpr int kPageLayoutLabelTag = 100;
inline constexpr int kPageLayoutPopUpTag = 101;

// The accessory view: its texts localised, the pop-up's items built, the
// layout mirrored for a right-to-left language.
class AccessoryView : public QWidget {
    Q_OBJECT
public:
    explicit AccessoryView(QWidget* parent = nullptr);
    ~AccessoryView() override;

    QPushButton* popUp() const;
    // Selects the item with the tag; false (nothing changes) when none has it.
    bool selectItemWithTag(int tag);
    int selectedItemTag() const;

private:
    std::unique_ptr<Ui::AccessoryView> ui_;
    int selected_ = kPageLayoutPaperFit;
};

// A view controller for the print panel's accessory.
class TvAccessoryViewController : public QObject {
    Q_OBJECT
public:
    explicit TvAccessoryViewController(AccessoryView* view, QObject* parent = nullptr)
        : QObject(parent), view_(view) {}
    AccessoryView* view() const { return view_; }
    // What the panel's summary lists for the accessory: nothing.
    std::vector<QString> localizedSummaryItems() const { return {}; }

private:
    QPointer<AccessoryView> view_; // not owned
};

} // namespace sendvia_printer
