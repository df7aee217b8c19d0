// The settings panels read and set their controls by tag inside a container
// view through these functions, and the form loader dresses every loaded
// control with ResourcePeeker. A missing control makes each function do
// nothing and answer -1 or nothing.
//
// Controls as the panels see them:
// - a pop-up is a QComboBox whose items carry their tag (kItemTagRole) and
//   represented object (kItemObjectRole) as item data;
// - a matrix is a tagged widget holding a QButtonGroup, read by index;
// - an image view is a QLabel whose [normal, disabled] pair is kept in the
//   kImagePairProperty property (a list of two QPixmaps).
#pragma once

#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

namespace ComTavrolekKD720 {

inline constexpr int kItemTagRole = Qt::UserRole + 40;
inline constexpr int kItemObjectRole = Qt::UserRole + 41;
inline constexpr const char* kImagePairProperty = "kdImagePair";
// The step of a slider's arrow keys (the alternate increment).
inline constexpr const char* kAltIncrementProperty = "kdAltIncrement";

// Selected index of a pop-up or matrix, else the integer value; -1 without control.
int GetItemIntValue(QWidget* view, int tag);
// Pop-ups and matrices: selects the index when it is in range; others: the integer value.
void SetItemIntValue(QWidget* view, int tag, int value);
// Tag of a pop-up's selected item; -1 without control or items.
int GetMenuItemIntValue(QWidget* view, int tag);
// Selects the first item of a pop-up with the item tag, when there is one.
void SetMenuItemIntValue(QWidget* view, int tag, int itemTag);
// Index of the first item of a pop-up with the item tag, or nothing.
std::optional<int> GetMenuItemWithTag(QWidget* view, int tag, int itemTag);
void SetItemHidden(QWidget* view, int tag, bool hidden);
// For an image view with an image pair, also shows the normal image when
// enabled and the disabled one when not.
void SetItemEnabled(QWidget* view, int tag, bool enabled);
void SetItemString(QWidget* view, int tag, const QString& text);
std::optional<QString> GetItemString(QWidget* view, int tag);

// Reading order: true when a comes before b. Tops closer than or equal to
// 8 points are one row, ordered by x.
bool ArrangeView(const QWidget* a, const QWidget* b);
// The view, then each child's own deep list in reading order; a scroll
// area's children are those of its document view.
std::vector<QWidget*> GetDeepSubViews(QWidget* view);

// Applies the text directives of a loaded control's title ("Title$$FNSZ:10")
// and gives sliders their alternate increment of 1.
void ResourcePeeker(QObject* object);

} // namespace ComTavrolekKD720
