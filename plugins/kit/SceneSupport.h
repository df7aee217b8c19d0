// Pictures of the destination windows: the kit's forms filled with the
// texts of a built plug-in bundle (KD_PLUGIN_SCENE_FOLDER names the folder
// of the built plug-ins), laid out as the controllers lay them out.
#pragma once

#include <QlrUtilsMethodUI.h>

#include <foundation/Bundle.h>

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

#include <memory>
#include <string>

namespace kdkit::scenes {

class Texts {
public:
    explicit Texts(const char* plugin)
        : bundle_(kdf::Bundle::atPath(std::string(KD_PLUGIN_SCENE_FOLDER) + "/" + plugin + ".plugin")) {}
    QString operator()(const std::string& key) const {
        return QString::fromStdString(bundle_ ? bundle_->localizedString(key) : key);
    }
    // The form's window with every text looked up by the key it holds.
    template <class Form>
    QWidget* window(Form& form) const {
        auto* w = new QWidget(nullptr, Qt::Dialog);
        form.setupUi(w);
        if (!w->windowTitle().isEmpty()) w->setWindowTitle((*this)(w->windowTitle().toStdString()));
        for (QLabel* label : w->findChildren<QLabel*>())
            if (!label->text().isEmpty()) label->setText((*this)(label->text().toStdString()));
        for (QAbstractButton* button : w->findChildren<QAbstractButton*>())
            if (!button->text().isEmpty()) button->setText((*this)(button->text().toStdString()));
        return w;
    }

private:
    std::shared_ptr<const kdf::Bundle> bundle_;
};

inline QWidget* laidOut(QWidget* window) {
    QlrUtilsMethod::layoutLeftToRight(window);
    return window;
}

} // namespace kdkit::scenes
