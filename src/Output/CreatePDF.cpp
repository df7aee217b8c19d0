#include "CreatePDF.h"

#include "OutputWriter.h"

#include <AppMainCntlr.h>
#include <JobModel.h>
#include <OutputModel.h>

#include <foundation/Bundle.h>
#include <foundation/Exception.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace qlr_output {

namespace {

[[noreturn]] void fail(const char* key) { throw kdf::Exception(key); }

constexpr int kBilevelBelowBpp = 8;
constexpr int kColourFromBpp = 24;
constexpr int kMaxPdfRows = 0xFFFF;
constexpr int kFirstScanState = kAppStateScanReady;
constexpr int kLastScanState = kAppStateScanEnded;

// Quality of the id-50 record by compRate_PDF 1 to 4; every other value is
// the lowest quality.
constexpr int kQualityByRate[] = {100, 75, 50, 25};
constexpr int kQualityOtherwise = 1;

// Text-recognition language value and sub-value by fileOp_OCRLangType.
constexpr std::pair<int, int> kOCRLanguages[] = {
    {3, 0},   // "OCRLang_JE"
    {1, 0},   // "OCRLang_Jap"
    {2, 0},   // "OCRLang_Eng"
    {64, 0},  // "OCRLang_Spa"
    {8, 0},   // "OCRLang_Fre"
    {32, 0},  // "OCRLang_Deu"
    {16, 0},  // "OCRLang_Ity"
    {128, 0}, // "OCRLang_Ned"
    {4, 0},   // "OCRLang_zhCn"
    {4, 256}, // "OCRLang_zhTW"
    {256, 0}, // "OCRLang_Pt"
    {8, 3},   // "OCRLang_Ru"
    {8192, 5} // "OCRLang_Tr"
};
constexpr std::pair<int, int> kOCRLanguageUnknown{2, 0};
constexpr std::pair<int, int> kOCRLanguageOff{0, 0};

// Compression mode of ZNTX_exmodeset by fileOp_CompType (0 none, else high).
int compressionMode(const OutputModel& output) {
    return output.fileOp_CompType() != 0 ? ZNTX_COMPRESSION_HIGH : ZNTX_COMPRESSION_NONE;
}

// Dots per inch as the layer takes them: truncated, and kept inside an int.
std::int32_t truncatedDpi(float dpi) {
    if (!(dpi > 0)) return 0;
    if (dpi >= float(std::numeric_limits<std::int32_t>::max())) return std::numeric_limits<std::int32_t>::max();
    return std::int32_t(dpi);
}

} // namespace

PdfCalls PdfCalls::layer() {
    return PdfCalls{ZNTX_changepath, ZNTX_exmodeset, ZNTX_exopen, ZNTX_submodeset, ZNTX_spmake, ZNTX_exclose};
}

int pdfPixelKind(int bpp) {
    if (bpp < kBilevelBelowBpp) return ZNTX_KIND_BILEVEL;
    if (bpp < kColourFromBpp) return ZNTX_KIND_GRAY;
    return ZNTX_KIND_COLOUR;
}

int pdfImageQuality(int compRate) {
    if (compRate >= 1 && compRate <= int(std::size(kQualityByRate))) return kQualityByRate[compRate - 1];
    return kQualityOtherwise;
}

std::pair<int, int> pdfOCRLanguage(bool isAddOCR, int ocrLangType) {
    if (!isAddOCR) return kOCRLanguageOff;
    if (ocrLangType >= 0 && ocrLangType < int(std::size(kOCRLanguages))) return kOCRLanguages[ocrLangType];
    return kOCRLanguageUnknown;
}

int pdfLimitedHeight(int height) { return std::min(height, kMaxPdfRows); }

ZNTX_PAGE pdfPageDescriptor(const PageBitmap& bitmap) {
    ZNTX_PAGE page{};
    page.data = bitmap.data.data();
    page.rowBytes = bitmap.bytesPerRow > std::size_t(std::numeric_limits<std::int32_t>::max())
                        ? std::numeric_limits<std::int32_t>::max()
                        : std::int32_t(bitmap.bytesPerRow);
    page.width = bitmap.width;
    page.height = pdfLimitedHeight(bitmap.height);
    page.xResolution = truncatedDpi(bitmap.xRes);
    page.yResolution = truncatedDpi(bitmap.yRes);
    page.kind = pdfPixelKind(bitmap.bpp);
    page.reserved1 = 0;
    page.reserved2 = 0;
    return page;
}

std::array<std::int32_t, 4> pdfRegion(const PageBitmap& bitmap) {
    return {0, 0, bitmap.width, pdfLimitedHeight(bitmap.height)};
}

ZNTX_SUBMODE_PDFA_RECORD pdfPdfaRecord(bool isPDFA) {
    return ZNTX_SUBMODE_PDFA_RECORD{ZNTX_SUBMODE_VERSION, ZNTX_SUBMODE_PDFA_LENGTH,
                                    std::uint32_t(isPDFA ? ZNTX_PDFA_MODE_ARCHIVE : ZNTX_PDFA_MODE_PLAIN), 0, 0};
}

ZNTX_SUBMODE_QUALITY_RECORD pdfQualityRecord(int compRate) {
    return ZNTX_SUBMODE_QUALITY_RECORD{ZNTX_SUBMODE_VERSION, ZNTX_SUBMODE_QUALITY_LENGTH,
                                       std::uint32_t(pdfImageQuality(compRate))};
}

CreatePDF::CreatePDF(AppMainCntlr& cntlr, PdfCalls calls) : cntlr_(cntlr), calls_(calls) {
    if (auto bundle = kdf::Bundle::main()) frameworksPath_ = bundle->privateFrameworksPath();
}

void CreatePDF::setPrivateFrameworksPath(std::optional<std::string> path) {
    std::lock_guard lock(lock_);
    frameworksPath_ = std::move(path);
}

bool CreatePDF::startsFile(const OutputModel& output, int index, bool& closeAfter) const {
    if (output.fileOp_MultiType_PDF() == 0) return index == 0;
    // A stored count of 0 or below would divide by zero; the setting's
    // range is 1 to 9999 (the output writer names files by the same rule).
    const int perFile = std::clamp(output.multiPageNum_PDF(), 1, 9999);
    if (index / perFile * perFile + perFile - 1 == index) closeAfter = true;
    return index % perFile == 0;
}

void CreatePDF::openFile(const std::string& path, const OutputModel& output) {
    // A document of ours the controller forgot (its flag was cleared while
    // a file was open) would make the layer refuse every later file.
    if (layerOpen_) abandonOpenFile();

    if (frameworksPath_ && !frameworksPath_->empty() && calls_.changepath((*frameworksPath_ + "/").c_str()) < 0)
        fail("Err_PDFInitFault");
    const auto [language, subValue] = pdfOCRLanguage(output.isAddOCR(), output.fileOp_OCRLangType());
    const int mode = calls_.exmodeset(compressionMode(output), language, subValue);
    if (mode == kPdfModuleLoadFailed) fail("Err_LoadModuleFailed");
    if (mode < 0) fail("Err_PDFInitFault");

    const int opened = calls_.exopen(path.c_str(), output.isAddOCR() ? 1 : 0, 0);
    if (opened < 0) fail("Err_FileCreateFailed");
    layerOpen_ = true;
    if (opened > 0) {
        // Not an open file: pages added now would never be closed into it
        // while the scan reports them written.
        abandonOpenFile();
        fail("Err_FileCreateFailed");
    }
    cntlr_.setIsOpenPDF(true);

    const ZNTX_SUBMODE_PDFA_RECORD pdfa = pdfPdfaRecord(output.isPDFA());
    const ZNTX_SUBMODE_QUALITY_RECORD quality = pdfQualityRecord(output.compRate_PDF());
    if (calls_.submodeset(ZNTX_SUBMODE_PDFA, &pdfa) != 0 || calls_.submodeset(ZNTX_SUBMODE_QUALITY, &quality) != 0) {
        // The file has no page yet: nothing of it is kept.
        abandonOpenFile();
        fail("Err_PDFInitFault");
    }
}

void CreatePDF::abandonOpenFile() {
    const int closed = calls_.exclose(0);
    if (closed != 0) std::fprintf(stderr, "Quillora: an abandoned PDF closed with %d\n", closed);
    layerOpen_ = false;
    cntlr_.setIsOpenPDF(false);
}

bool CreatePDF::writeToPDF(const PageBitmap& bitmap, const std::string* path, int index, bool isLastIndex,
                           const OutputModel& output) {
    std::lock_guard lock(lock_);
    const int state = cntlr_.appState();
    bool closeAfter = isLastIndex;
    // While scanning, the file stays open for the pages still to come; the
    // scan's end closes it.
    if (state >= kFirstScanState && state <= kLastScanState) closeAfter = false;
    const bool starts = startsFile(output, index, closeAfter);
    // The layer reads height rows of bytesPerRow from the pixels.
    if (bitmap.width <= 0 || bitmap.height <= 0 || bitmap.bytesPerRow == 0 ||
        bitmap.data.size() / std::size_t(bitmap.height) < bitmap.bytesPerRow)
        fail("Err_UnknownError");

    if (starts) {
        if (!path || path->empty()) fail("Err_MakeFileNameFailed");
        openFile(*path, output);
    }

    const ZNTX_PAGE page = pdfPageDescriptor(bitmap);
    const std::array<std::int32_t, 4> region = pdfRegion(bitmap);
    if (calls_.spmake(&page, region.data()) < 0) {
        closeLocked();
        fail("Err_FileWriteFailed");
    }
    // Only a complete file counts as written: a positive answer is no
    // close either.
    if (closeAfter && closeLocked() != 0) fail("Err_PDFNotOpen");
    return true;
}

int CreatePDF::closeLocked() {
    if (!cntlr_.isOpenPDF()) return 0;
    const int result = calls_.exclose(0);
    // The layer ends its document whatever it answers.
    layerOpen_ = false;
    if (result == 0) cntlr_.setIsOpenPDF(false);
    return result;
}

int CreatePDF::closePDF() {
    std::lock_guard lock(lock_);
    return closeLocked();
}

int CreatePDF::checkClosePDF() {
    auto job = cntlr_.tmpCopyJobModel_Scan();
    auto output = AppMainCntlr::curOutputModelOfJobModel(job.get());
    if (!output || output->fileFormatType() != kFormatPDF) return 0;
    return closePDF();
}

void installPdfWriter(OutputWriter& writer, std::shared_ptr<CreatePDF> pdf) {
    writer.setPageFileWriter(kFormatPDF, [pdf](const PageBitmap& bitmap, const std::string* path, int index,
                                                bool isLastIndex, const OutputModel& output) {
        return pdf->writeToPDF(bitmap, path, index, isLastIndex, output);
    });
    writer.setCheckClosePDF([pdf] { pdf->checkClosePDF(); });
}

} // namespace qlr_output
