// The output panel: how scanned pages become files (name rule, format and
// its options, OCR language, destination folder) or which send-to plug-in
// receives them. Stored flat in a settings dictionary beside its whole
// model's keys.
#pragma once

#include "PanelModel.h"
#include "WholeModel.h"

#include <foundation/Value.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class OutputModel : public PanelModel {
public:
    static constexpr const char* kIsSelectedKey = "Output_IsSelectedKey";
    static constexpr const char* kPluginIDKey = "Output_PluginIDKey";
    static constexpr const char* kPluginGUIDKey = "Output_PluginGUIDKey";
    static constexpr const char* kFreeFileNameKey = "Output_FreeFileNameKey";
    static constexpr const char* kIsUseFNSettingKey = "Output_IsUseFNSettingKey";
    static constexpr const char* kIsAddDateTimeKey = "Output_IsAddDateTimeKey";
    static constexpr const char* kDateTimeTypeKey = "Output_DateTimeTypeKey";
    static constexpr const char* kIsAddNumberKey = "Output_IsAddNumberKey";
    static constexpr const char* kDigitTypeKey = "Output_DigitTypeKey";
    static constexpr const char* kStartNumKey = "Output_StartNumKey";
    static constexpr const char* kFileFormatTypeKey = "Output_FileFormatTypeKey";
    static constexpr const char* kFileOp_MultiType_PDFKey = "Output_FileOp_MultiType_PDFKey";
    static constexpr const char* kMultiPageNum_PDFKey = "Output_MultiPageNum_PDFKey";
    static constexpr const char* kIsPDFAKey = "Output_IsPDFAKey";
    static constexpr const char* kFileOp_CompTypeKey = "Output_FileOp_CompTypeKey";
    static constexpr const char* kCompRate_PDFKey = "Output_CompRate_PDFKey";
    static constexpr const char* kIsAddOCRKey = "Output_IsAddOCRKey";
    static constexpr const char* kFileOp_OCRLangTypeKey = "Output_FileOp_OCRLangTypeKey";
    static constexpr const char* kFileOp_MultiType_TIFFKey = "Output_FileOp_MultiType_TIFFKey";
    static constexpr const char* kMultiPageNum_TIFFKey = "Output_MultiPageNum_TIFFKey";
    static constexpr const char* kCompRate_JPEGKey = "Output_CompRate_JPEGKey";
    static constexpr const char* kSaveTypeKey = "Output_SaveTypeKey";
    static constexpr const char* kFileSavePathKey = "Output_FileSavePathKey";

    // File formats and destinations.
    enum FileFormat { kFormatPDF = 0, kFormatTIFF = 1, kFormatJPEG = 2, kFormatPNG = 3 };
    enum SaveType { kSavePictures = 0, kSaveDocuments = 1, kSaveDesktop = 2 };

    // The initial values (date order and OCR language by the user's language).
    OutputModel();
    // The initial values, then every key of the dictionary (null: the
    // standard user defaults) holding a value of the right kind and range.
    explicit OutputModel(const kdf::Dictionary* dict);

    // Anything that is not an array gives an empty list; elements that are
    // not dictionaries are skipped.
    static std::vector<std::shared_ptr<OutputModel>> modelListFromDictList(const kdf::Value* list);
    static kdf::Array dictListFromModelList(const std::vector<std::shared_ptr<OutputModel>>& models);

    // Writes every key and the whole model's (null: the user defaults); the
    // destination folder only when one is set.
    void saveOutputModel(kdf::Dictionary* dict) const;

    // A new output with the stored settings and a copy of the whole model
    // (use count 0); selection and run-time fields start afresh.
    std::shared_ptr<PanelModel> clone() const override;
    std::shared_ptr<OutputModel> copy() const;
    // Copies the settings from pluginID to fileSavePath (not the whole model
    // nor the selection); nothing when either is null.
    static void copydataOutputModel(const OutputModel* src, OutputModel* dst);

    // By the user's language: date order 3 for "ja", 1 for "en", 0 for
    // Chinese and Korean, else 2; OCR language by the language table, else
    // English (2).
    static int defaultDateTimeType();
    static int defaultOCRLangType();

    // The output hands its pages to a plug-in.
    bool isValidPlugin() const;

    // Localised format name ("" for an unknown type) and its panel image
    // (null for an unknown type).
    std::string dispFileFormatType() const;
    QlrUtilsMethod::ImageRef dispFileFormatImage() const;
    // The user's icon when chosen, else the standard one.
    QlrUtilsMethod::ImageRef dispIcon() const override;

    std::shared_ptr<WholeModel> wholeModel() const override { return output_WholeModel(); }
    std::shared_ptr<WholeModel> output_WholeModel() const;
    void setOutput_WholeModel(std::shared_ptr<WholeModel> m);

    std::string pluginID() const;
    void setPluginID(std::string v);
    std::string pluginGUID() const;
    void setPluginGUID(std::string v);
    std::string freeFileName() const;
    void setFreeFileName(std::string v);
    // None when no folder or an empty path is stored; else the stored path
    // with a leading "~" or "~/" expanded to the home folder.
    std::optional<std::string> fileSavePath() const;
    // The path as stored.
    std::optional<std::string> storedFileSavePath() const;
    void setFileSavePath(std::optional<std::string> v);

    bool isUseFNSetting() const { return isUseFNSetting_; }
    void setIsUseFNSetting(bool v) { isUseFNSetting_ = v; }
    bool isAddDateTime() const { return isAddDateTime_; }
    void setIsAddDateTime(bool v) { isAddDateTime_ = v; }
    int dateTimeType() const { return dateTimeType_; }
    void setDateTimeType(int v) { dateTimeType_ = v; }
    bool isAddNumber() const { return isAddNumber_; }
    void setIsAddNumber(bool v) { isAddNumber_ = v; }
    int digitType() const { return digitType_; }
    void setDigitType(int v) { digitType_ = v; }
    int startNum() const { return startNum_; }
    void setStartNum(int v) { startNum_ = v; }
    int fileFormatType() const { return fileFormatType_; }
    void setFileFormatType(int v) { fileFormatType_ = v; }
    int fileOp_MultiType_PDF() const { return fileOp_MultiType_PDF_; }
    void setFileOp_MultiType_PDF(int v) { fileOp_MultiType_PDF_ = v; }
    int multiPageNum_PDF() const { return multiPageNum_PDF_; }
    void setMultiPageNum_PDF(int v) { multiPageNum_PDF_ = v; }
    bool isPDFA() const { return isPDFA_; }
    void setIsPDFA(bool v) { isPDFA_ = v; }
    int fileOp_CompType() const { return fileOp_CompType_; }
    void setFileOp_CompType(int v) { fileOp_CompType_ = v; }
    int compRate_PDF() const { return compRate_PDF_; }
    void setCompRate_PDF(int v) { compRate_PDF_ = v; }
    bool isAddOCR() const { return isAddOCR_; }
    void setIsAddOCR(bool v) { isAddOCR_ = v; }
    int fileOp_OCRLangType() const { return fileOp_OCRLangType_; }
    void setFileOp_OCRLangType(int v) { fileOp_OCRLangType_ = v; }
    int fileOp_MultiType_TIFF() const { return fileOp_MultiType_TIFF_; }
    void setFileOp_MultiType_TIFF(int v) { fileOp_MultiType_TIFF_ = v; }
    int multiPageNum_TIFF() const { return multiPageNum_TIFF_; }
    void setMultiPageNum_TIFF(int v) { multiPageNum_TIFF_ = v; }
    int compRate_JPEG() const { return compRate_JPEG_; }
    void setCompRate_JPEG(int v) { compRate_JPEG_ = v; }
    int saveType() const { return saveType_; }
    void setSaveType(int v) { saveType_ = v; }

    // Run-time fields of the output writer and plug-in host: never stored
    // nor copied.
    std::optional<kdf::Array> tmpEditingPluginInfoList() const;
    void setTmpEditingPluginInfoList(std::optional<kdf::Array> v);
    std::optional<std::string> tmpDirForSendPlugin() const;
    void setTmpDirForSendPlugin(std::optional<std::string> v);
    std::vector<std::string> writeFilePathArray() const;
    void setWriteFilePathArray(std::vector<std::string> v);

private:
    // Calls visit(key, member) for every stored number and flag, so the
    // loader, the saver and the copies walk one list.
    template <class Visit> static void forEachNumber(Visit&& visit);
    void copySettingsFrom(const OutputModel& src);

    // Guards the object fields, which the output writer's thread reads and
    // writes while the main thread may edit the panel.
    mutable std::mutex lock_;
    std::shared_ptr<WholeModel> wholeModel_ = std::make_shared<WholeModel>();
    std::string pluginID_;
    std::string pluginGUID_;
    std::string freeFileName_;
    bool isUseFNSetting_ = true;
    bool isAddDateTime_ = true;
    int dateTimeType_ = 0;
    bool isAddNumber_ = false;
    int digitType_ = 2;
    int startNum_ = 1;
    int fileFormatType_ = kFormatPDF;
    int fileOp_MultiType_PDF_ = 0;
    int multiPageNum_PDF_ = 1;
    bool isPDFA_ = false;
    int fileOp_CompType_ = 0;
    int compRate_PDF_ = 3;
    bool isAddOCR_ = true;
    int fileOp_OCRLangType_ = 2;
    int fileOp_MultiType_TIFF_ = 0;
    int multiPageNum_TIFF_ = 1;
    int compRate_JPEG_ = 3;
    int saveType_ = kSavePictures;
    std::optional<std::string> fileSavePath_;
    std::optional<kdf::Array> tmpEditingPluginInfoList_;
    std::optional<std::string> tmpDirForSendPlugin_;
    std::vector<std::string> writeFilePathArray_;
};
