// The common base of every item drawn as a panel in an image browser: input,
// output and job panels, and the preview's page thumbnails.
#pragma once

#include "ImageProvider.h"
#include "LockedFields.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class WholeModel;

class PanelModel : private LockedFields {
public:
    // The browser's representation type: the item hands over an image.
    static constexpr std::string_view kImageRepresentationType = "IKImageBrowserNSImageRepresentationType";

    PanelModel() = default;
    virtual ~PanelModel();
    PanelModel(const PanelModel&) = delete;
    PanelModel& operator=(const PanelModel&) = delete;

    // A fresh model of the receiver's own class with its initial values: the
    // base copies no field, subclasses copy their own.
    virtual std::shared_ptr<PanelModel> clone() const;

    // The title and icons of input, output and job panels; none here.
    virtual std::shared_ptr<WholeModel> wholeModel() const;
    virtual QlrUtilsMethod::ImageRef dispIcon() const;

    // The whole model's title when there is one, else dispImageTitle.
    std::string dispTitle() const;
    void setDispTitle(std::string title);

    QlrUtilsMethod::ImageRef dispImage() const;
    void setDispImage(QlrUtilsMethod::ImageRef image);
    std::string dispImageTitle() const;
    void setDispImageTitle(std::string title);
    int panelSizeType() const;
    void setPanelSizeType(int type);
    bool isSelected() const;
    void setIsSelected(bool selected);

    // The image-browser item: a new UUID at every call, so the browser
    // always redraws the panel.
    std::string imageUID() const;
    std::string_view imageRepresentationType() const { return kImageRepresentationType; }
    QlrUtilsMethod::ImageRef imageRepresentation() const { return dispImage(); }
    std::string imageTitle() const { return dispTitle(); }

    // Replaces each model's title, a localisation key of the bundle presets,
    // by its text in the main bundle; a title without one stays as it is.
    static void loadLocalizedTitle(const std::vector<std::shared_ptr<PanelModel>>& models);

private:
    QlrUtilsMethod::ImageRef dispImage_;
    std::string dispImageTitle_;
    int panelSizeType_ = 1;
    bool isSelected_ = false;
};
