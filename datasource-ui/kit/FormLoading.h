// Loading a compiled form for its owner as one routine: instantiate it
// (which sets the owner's outlets), localise its texts, then walk every
// loaded widget, children before parents, with the given function (the
// settings window passes ResourcePeeker). Dressing comes after
// localisation because the directives live in the translated texts.
// Compiled forms keep no process-wide state while they load, so loads
// need no guard against each other.
#pragma once

#include <QWidget>

#include <functional>

namespace ComTavrolekKD720 {

using ViewFunction = std::function<void(QWidget*)>;

// Walks the view's child widgets in child order, depth first, calling the
// function on each after its own children, and last on the view itself.
void PeekSubviews(QWidget* view, const ViewFunction& function);

// Whether one of the view's direct children takes focus by Tab.
bool IsFullKeyboardAccessInView(const QWidget* view);

// What a loaded view does on its own once its form is built: the
// focus-following views wrap their scroll areas and start following focus.
void AwakeFromForm(QWidget* owner);

template <class Form>
void LoadBundleForm(Form& form, QWidget* owner, const ViewFunction& localize, const ViewFunction& peek) {
    form.setupUi(owner);
    AwakeFromForm(owner);
    if (localize) localize(owner);
    if (peek) PeekSubviews(owner, peek);
}

} // namespace ComTavrolekKD720
