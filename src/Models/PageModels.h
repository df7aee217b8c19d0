// Scanned pages: where a page's raw image lies with its thumbnail and
// geometry, and the edit settings of the page being edited in the preview.
// The transfer and file-writing threads set page fields while the main
// thread reads them, so every field is read and written under the model's
// lock.
#pragma once

#include "ImageProvider.h"
#include "LockedFields.h"

#include <string>

class ImageInfoModel : private LockedFields {
public:
    std::string imgInfo_TmpImagePath() const { return get(tmpImagePath_); }
    void setImgInfo_TmpImagePath(std::string v) { put(tmpImagePath_, std::move(v)); }
    QlrUtilsMethod::ImageRef imgInfo_PreThumbImage() const { return get(preThumbImage_); }
    void setImgInfo_PreThumbImage(QlrUtilsMethod::ImageRef v) { put(preThumbImage_, std::move(v)); }
    // Empty until the page was edited.
    std::string imgInfo_DstImagePath() const { return get(dstImagePath_); }
    void setImgInfo_DstImagePath(std::string v) { put(dstImagePath_, std::move(v)); }
    int imgInfo_bpp() const { return get(bpp_); }
    void setImgInfo_bpp(int v) { put(bpp_, v); }
    int imgInfo_Width() const { return get(width_); }
    void setImgInfo_Width(int v) { put(width_, v); }
    int imgInfo_Height() const { return get(height_); }
    void setImgInfo_Height(int v) { put(height_, v); }
    float imgInfo_XRes() const { return get(xRes_); }
    void setImgInfo_XRes(float v) { put(xRes_, v); }
    float imgInfo_YRes() const { return get(yRes_); }
    void setImgInfo_YRes(float v) { put(yRes_, v); }
    bool isConvertedGray() const { return get(isConvertedGray_); }
    void setIsConvertedGray(bool v) { put(isConvertedGray_, v); }
    bool isConvertedBW() const { return get(isConvertedBW_); }
    void setIsConvertedBW(bool v) { put(isConvertedBW_, v); }

private:
    std::string tmpImagePath_;
    QlrUtilsMethod::ImageRef preThumbImage_;
    std::string dstImagePath_;
    int bpp_ = 0;
    int width_ = 0;
    int height_ = 0;
    float xRes_ = 0;
    float yRes_ = 0;
    bool isConvertedGray_ = false;
    bool isConvertedBW_ = false;
};

// A rectangle as fractions of the page.
struct RatioRect {
    float x = 0, y = 0, width = 1, height = 1;
    friend bool operator==(const RatioRect&, const RatioRect&) = default;
};

class EditImageInfoModel : private LockedFields {
public:
    int imageProcessType() const { return get(imageProcessType_); }
    void setImageProcessType(int v) { put(imageProcessType_, v); }
    bool isTypicalMode() const { return get(isTypicalMode_); }
    void setIsTypicalMode(bool v) { put(isTypicalMode_, v); }
    int sampleType() const { return get(sampleType_); }
    void setSampleType(int v) { put(sampleType_, v); }
    int brightnessValue() const { return get(brightnessValue_); }
    void setBrightnessValue(int v) { put(brightnessValue_, v); }
    int contrastValue() const { return get(contrastValue_); }
    void setContrastValue(int v) { put(contrastValue_, v); }
    bool isGray() const { return get(isGray_); }
    void setIsGray(bool v) { put(isGray_, v); }
    bool isBW() const { return get(isBW_); }
    void setIsBW(bool v) { put(isBW_, v); }
    float slantValue() const { return get(slantValue_); }
    void setSlantValue(float v) { put(slantValue_, v); }
    // Read and written as one value: the whole page until cropped.
    RatioRect ratioOfCropInfo() const { return get(ratioOfCropInfo_); }
    void setRatioOfCropInfo(RatioRect v) { put(ratioOfCropInfo_, v); }
    float trim_T() const { return get(trim_T_); }
    void setTrim_T(float v) { put(trim_T_, v); }
    float trim_B() const { return get(trim_B_); }
    void setTrim_B(float v) { put(trim_B_, v); }
    float trim_L() const { return get(trim_L_); }
    void setTrim_L(float v) { put(trim_L_, v); }
    float trim_R() const { return get(trim_R_); }
    void setTrim_R(float v) { put(trim_R_, v); }
    int rotateValue() const { return get(rotateValue_); }
    void setRotateValue(int v) { put(rotateValue_, v); }

private:
    int imageProcessType_ = 0;
    bool isTypicalMode_ = true;
    int sampleType_ = 1;
    int brightnessValue_ = 0;
    int contrastValue_ = 0;
    bool isGray_ = false;
    bool isBW_ = false;
    float slantValue_ = 0;
    RatioRect ratioOfCropInfo_;
    float trim_T_ = 0, trim_B_ = 0, trim_L_ = 0, trim_R_ = 0;
    int rotateValue_ = 0;
};
