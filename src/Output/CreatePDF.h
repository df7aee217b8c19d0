// The PDF writer of the output writer: drives the PDF layer (libKdPdf) page
// by page, opening a file on the first page of a group and closing it on the
// group's last page, or at the scan's end through checkClosePDF.
#pragma once

#include "PageImage.h"

#include <ZntxPdf.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

class AppMainCntlr;
class OutputModel;

namespace qlr_output {

class OutputWriter;

// The layer's calls, reached through this table so that tests can record
// them; by default the linked layer.
struct PdfCalls {
    ZNTX_changepath_t changepath = nullptr;
    ZNTX_exmodeset_t exmodeset = nullptr;
    ZNTX_exopen_t exopen = nullptr;
    ZNTX_submodeset_t submodeset = nullptr;
    ZNTX_spmake_t spmake = nullptr;
    ZNTX_exclose_t exclose = nullptr;

    static PdfCalls layer();
};

// What the layer answers when one of its modules can't be loaded.
constexpr int kPdfModuleLoadFailed = -1004;

// ---- The records handed to the layer, from the output's settings.

// 33 below 8 bits a pixel, 8 up to 23, 136 from 24.
int pdfPixelKind(int bpp);
// compRate_PDF 1 to 4 → 100, 75, 50, 25; anything else 1.
int pdfImageQuality(int compRate);
// The text-recognition language value and sub-value.
std::pair<int, int> pdfOCRLanguage(bool isAddOCR, int ocrLangType);
// The layer's row count: a taller page is described as 65535 rows.
int pdfLimitedHeight(int height);
// The page descriptor over the bitmap's pixels (which must outlive it).
ZNTX_PAGE pdfPageDescriptor(const PageBitmap& bitmap);
// {0, 0, width, limited height}.
std::array<std::int32_t, 4> pdfRegion(const PageBitmap& bitmap);
ZNTX_SUBMODE_PDFA_RECORD pdfPdfaRecord(bool isPDFA);
ZNTX_SUBMODE_QUALITY_RECORD pdfQualityRecord(int compRate);

class CreatePDF {
public:
    explicit CreatePDF(AppMainCntlr& cntlr, PdfCalls calls = PdfCalls::layer());

    // The folder handed to ZNTX_changepath (a "/" is added); by default the
    // application bundle's private frameworks folder. Empty: not handed.
    void setPrivateFrameworksPath(std::optional<std::string> path);

    // Page `index` of the output: starts a file at path on the first page
    // of a group (path unused otherwise), closes it on the group's last
    // page, or after the last page outside a scan. Raises kdf::Exception
    // named by the failure's key; answers true otherwise.
    bool writeToPDF(const PageBitmap& bitmap, const std::string* path, int index, bool isLastIndex,
                    const OutputModel& output);
    // 0 when nothing was open or the file was closed complete (the open
    // flag is cleared); otherwise the layer's answer, the flag staying set.
    int closePDF();
    // At a scan's end: closes the file left open when the current output
    // is a PDF. Answers closePDF's result (0 when nothing was done).
    int checkClosePDF();

private:
    bool startsFile(const OutputModel& output, int index, bool& closeAfter) const;
    void openFile(const std::string& path, const OutputModel& output);
    void abandonOpenFile();
    int closeLocked();

    AppMainCntlr& cntlr_;
    const PdfCalls calls_;
    std::optional<std::string> frameworksPath_;
    // Page threads take turns, but the scan's end may come from the main
    // thread: one call into the layer at a time.
    std::mutex lock_;
    // A document of ours is open in the layer, whatever the controller's
    // flag says (the controller clears it when it drops a page list).
    bool layerOpen_ = false;
};

// Plugs the PDF writer into the output writer: PDF pages and the close at
// a scan's end.
void installPdfWriter(OutputWriter& writer, std::shared_ptr<CreatePDF> pdf);

} // namespace qlr_output
