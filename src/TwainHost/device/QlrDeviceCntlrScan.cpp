// Receiving the pages by buffered memory transfer. Each page runs on a
// worker thread of its own; every TWAIN call is made on the main thread,
// where the source expects it, and the worker waits for it. The strips go
// unchanged into the page's raw file and line by line through the scaler
// into the preview; a page that arrived whole becomes a page record for the
// application controller's page list.
//
// Nothing the source fills is trusted: image information, buffer size and
// every strip are checked before a byte is read from the buffer, and a page
// is recorded only after the source said the transfer is done and every
// row of it arrived and reached the disk.
#include "QlrDeviceCntlr.h"

#include "BitmapImage.h"
#include "FG_Zoom.h"
#include "JobModel.h"
#include "PageModels.h"
#include "QlrUtilsMethod.h"
#include "TV_Message.h"

#include <foundation/Bundle.h>
#include <foundation/RunLoop.h>
#include <foundation/Uuid.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>

namespace {

constexpr int kStateScanOverWriting = 102;
constexpr int kStateScanFinished = 103;
constexpr int kStateScanEnded = 104;

constexpr TW_INT16 kResourceFailure = -1;

// Sides beyond this are no page a sheet feeder can deliver.
constexpr TW_INT32 kMaxPageSide = 100000;
// The transfer buffer is never larger than this, whatever the source asks.
constexpr std::uint64_t kMaxTransferBuffer = 64u << 20;
// Strips in a row that bring no rows before the page is given up: a source
// answering success without data must not keep us here for ever.
constexpr int kMaxEmptyStrips = 10000;

constexpr const char* kMemFullKey = "Err_MemFullError";

// Bytes of one row as the source delivers it and the page read-back takes
// it: 1-bit rows padded to whole bytes, no other padding.
std::uint64_t rowBytesOf(TW_INT32 width, TW_INT16 bitsPerPixel) {
    return bitsPerPixel < 8 ? (std::uint64_t(width) + 7) / 8 : std::uint64_t(width) * std::uint64_t(bitsPerPixel / 8);
}

// The image information describes a page we can store and preview: a sane
// size and one of the three layouts with samples that match it.
bool validImageInfo(const TW_IMAGEINFO& info) {
    if (info.ImageWidth <= 0 || info.ImageLength <= 0 || info.ImageWidth > kMaxPageSide ||
        info.ImageLength > kMaxPageSide)
        return false;
    switch (info.BitsPerPixel) {
    case 1: return info.SamplesPerPixel == 1 && info.BitsPerSample[0] == 1 && info.PixelType != TWPT_RGB;
    case 8: return info.SamplesPerPixel == 1 && info.BitsPerSample[0] == 8 && info.PixelType != TWPT_RGB;
    case 24: return info.SamplesPerPixel == 3 && info.BitsPerSample[0] == 8 && info.PixelType == TWPT_RGB;
    default: return false;
    }
}

float fix32ToFloat(const TW_FIX32& f) { return float(f.Whole) + float(f.Frac) / 65536.0f; }

// Writes all bytes; false on any failure (a full disk, a size limit).
bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

// Whether a new file can still be made where the pages go: an empty file
// named by a new UUID, created and removed again.
bool probeDisk(const std::string& folder) {
    const std::string probe = folder + "/" + kdf::newUuidString();
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

} // namespace

// ---- Flags and sizes ---------------------------------------------------------------------

void QlrDeviceCntlr::sizeForPreImg(int* width, int* height, QlrPreviewSize limit) {
    if (!width || !height || *width <= 0 || *height <= 0 || !(limit.width > 0) || !(limit.height > 0)) return;
    const float scale = std::min(float(limit.width) / float(*width), float(limit.height) / float(*height));
    if (scale >= 1.0f) return;
    *width = std::max(1, int(float(*width) * scale));
    *height = std::max(1, int(float(*height) * scale));
}

bool QlrDeviceCntlr::onMainWaiting(std::function<void()> fn) {
    return kdf::RunLoop::performOnMainThread(std::move(fn), true);
}

void QlrDeviceCntlr::joinWorker() {
    // No new page from here on, whatever is still queued.
    terminating_ = true;
    if (worker_.joinable()) {
        // The worker waits for the main thread at every call: let it finish.
        if (kdf::RunLoop::isMainThread()) {
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (isRunningMemXfer() && std::chrono::steady_clock::now() < limit &&
                   !kdf::RunLoop::main().isShutDown())
                kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.01));
        }
        worker_.join();
    }
    kdf::RunLoop::main().cancelPerforms(this);
}

// ---- The calls on the main thread --------------------------------------------------------

void QlrDeviceCntlr::afterSourceCall(TW_INT16 rc) {
    scnErr_ = rc;
    if (delegate_ && delegate_->isScnCancelOnMain()) delegate_->scanCancelOnMainFromDeviveCntlr();
}

void QlrDeviceCntlr::getImageInfoOnMain() {
    afterSourceCall(handler_->messageDS(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &imageInfo_));
}

void QlrDeviceCntlr::getPendingXfersOnMain() {
    afterSourceCall(handler_->messageDS(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pendingXfers_));
}

void QlrDeviceCntlr::getSetupMemXferOnMain() {
    afterSourceCall(handler_->messageDS(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setupMemXfer_));
}

void QlrDeviceCntlr::getImageMemXferOnMain() {
    afterSourceCall(handler_->messageDS(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &imageMemXfer_));
}

void QlrDeviceCntlr::endxferPendingXfersOnMain() {
    afterSourceCall(handler_->messageDS(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pendingXfers_));
}

void QlrDeviceCntlr::resetPendingXfersOnMain() {
    handler_->messageDS(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pendingXfers_);
    scnErr_ = 0;
}

void QlrDeviceCntlr::disableDSOnMain() {
    handler_->disableDS();
    if (!isOpenScnPanel_) getShadingDataOnPassThru();
    scnErr_ = 0;
}

void QlrDeviceCntlr::closeDSOnMain() {
    handler_->closeDS();
    scnErr_ = 0;
}

void QlrDeviceCntlr::sendMSGReset(std::optional<bool> isNormalEnd) {
    if (isNormalEnd && delegate_) {
        int state = kStateScanFinished;
        if (!*isNormalEnd) {
            state = kStateScanEnded;
        } else {
            // Without image processing the pages are written while they
            // arrive: the scan is finished only when the last one is.
            const auto job = delegate_->tmpCopyJobModel_Scan();
            if (!(job && job->isImageProcess()) && !delegate_->isErrInFinalOutput())
                state = delegate_->isFinScanAndWritedFile(true, -1) ? kStateScanFinished : kStateScanOverWriting;
        }
        delegate_->setAppStateNum(state);
        handler_->setDSState(TV_TWAINHandler::kStateSourceEnabled);
    }
    isFinishMSGReset_ = true;
}

// ---- Starting a page ---------------------------------------------------------------------

void QlrDeviceCntlr::xferReady() {
    // Performed later than the source's message: by now the enable may have
    // failed or the source may have been closed on request.
    if (terminating_ || !handler_->isDSEnabled() || isOpenScnPanel_) return;
    if (isRunningMemXfer()) {
        // The previous page's worker still needs the main thread for its
        // last calls: come back instead of waiting here.
        kdf::RunLoop::main().performAfterDelay(this, "xferReady", kdf::Seconds(0.001), [this] { xferReady(); });
        return;
    }
    handler_->setDSState(TV_TWAINHandler::kStateTransferReady);
    setIsRunningMemXfer(true);
    if (worker_.joinable()) worker_.join(); // it has cleared its flag: it is leaving
    try {
        worker_ = std::thread([this] { completeMemoryXfer(); });
    } catch (const std::system_error&) {
        // No thread: the page cannot be received; end the job as failed.
        setIsRunningMemXfer(false);
        handler_->messageDS(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pendingXfers_);
        sendMSGReset(false);
        disableDSOnMain();
        closeDSOnMain();
    }
}

void QlrDeviceCntlr::terminateScan(bool isNormalEnd) {
    onMainWaiting([this, isNormalEnd] { sendMSGReset(isNormalEnd); });
    onMainWaiting([this] { disableDSOnMain(); });
    onMainWaiting([this] { closeDSOnMain(); });
    if (delegate_ && delegate_->isScnCancelOnMain()) delegate_->scanCancelOnMainFromDeviveCntlr();
}

// ---- One page ----------------------------------------------------------------------------

void QlrDeviceCntlr::completeMemoryXfer() {
    QlrDeviceCntlrDelegate* const delegate = delegate_;
    const int index = tmpFileIndex_++;
    const std::optional<std::string> path = QlrUtilsMethod::tmpBaseImageFilePath(index);

    // A waited call on the main thread; once the main loop is gone nothing
    // more reaches the source and the page has failed.
    bool mainAlive = true;
    auto call = [&](void (QlrDeviceCntlr::*method)()) {
        if (mainAlive && onMainWaiting([this, method] { (this->*method)(); })) return true;
        mainAlive = false;
        scnErr_ = TWRC_FAILURE;
        return false;
    };
    auto setStateOnMain = [&](int state) {
        if (delegate && mainAlive) onMainWaiting([delegate, state] { delegate->setAppStateNum(state); });
    };

    int fd = -1;
    bool fileMade = false;
    bool recorded = false;
    bool pageWhole = false; // every row arrived, was written and the disk still takes files
    bool cancelSeen = false;
    TW_INT16 lastCode = TWRC_FAILURE;

    onMainWaiting([this] {
        imageInfo_ = TW_IMAGEINFO{};
        setupMemXfer_ = TW_SETUPMEMXFER{};
        imageMemXfer_ = TW_IMAGEMEMXFER{};
        pendingXfers_ = TW_PENDINGXFERS{};
    });
    scnErr_ = 0;

    [&] {
        if (!call(&QlrDeviceCntlr::getImageInfoOnMain) || scnErr_ != TWRC_SUCCESS) return;
        if (!call(&QlrDeviceCntlr::getPendingXfersOnMain) || scnErr_ != TWRC_SUCCESS) return;
        if (!call(&QlrDeviceCntlr::getSetupMemXferOnMain) || scnErr_ != TWRC_SUCCESS) return;
        const TW_IMAGEINFO info = imageInfo_;
        if (!validImageInfo(info)) {
            scnErr_ = TWRC_FAILURE;
            return;
        }
        const std::uint64_t rowBytes = rowBytesOf(info.ImageWidth, info.BitsPerPixel);

        // The buffer: what the source prefers, within our cap.
        std::uint64_t bufferSize = setupMemXfer_.MaxBufSize;
        if (bufferSize == 0) {
            scnErr_ = kResourceFailure;
            return;
        }
        if (bufferSize > kMaxTransferBuffer) bufferSize = std::max(kMaxTransferBuffer, rowBytes);

        if (!path) {
            scnErr_ = kResourceFailure;
            return;
        }
        fd = ::open(path->c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            scnErr_ = kResourceFailure;
            return;
        }
        fileMade = true;

        std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[bufferSize]);
        if (!buffer) {
            scnErr_ = kResourceFailure;
            return;
        }

        // The preview: its display size fits the main window's preview, its
        // pixels the page browser's limit.
        int displayW = info.ImageWidth, displayH = info.ImageLength;
        int bitmapW = info.ImageWidth, bitmapH = info.ImageLength;
        QlrPreviewSize displayLimit, bitmapLimit;
        if (delegate)
            mainAlive = onMainWaiting([&] {
                displayLimit = delegate->previewSizeByMainWindow(false);
                bitmapLimit = delegate->previewSizeWithLimitationForIKImageBrowserMemLeak(info.BitsPerPixel == 1);
            });
        sizeForPreImg(&displayW, &displayH, displayLimit);
        sizeForPreImg(&bitmapW, &bitmapH, bitmapLimit);
        const int samples = info.SamplesPerPixel;
        auto bitmap = QlrUtilsMethod::BitmapImage::make(
            bitmapW, bitmapH, info.BitsPerSample[0], samples,
            info.PixelType == TWPT_RGB ? QlrUtilsMethod::BitmapImage::ColorSpace::RGB
                                       : QlrUtilsMethod::BitmapImage::ColorSpace::White,
            std::size_t(bitmapW) * std::size_t(samples), double(displayW), double(displayH));
        if (!bitmap) {
            scnErr_ = kResourceFailure;
            return;
        }

        // A scaler that refuses the sizes leaves the page without a
        // preview; the page itself still arrives.
        FG_Zoom zoom;
        bool previewing = zoom.Open(bitmapW, bitmapH, info.ImageWidth, info.ImageLength, info.BitsPerPixel, 2) == 0;
        int previewRows = 0;

        // The strips.
        onMainWaiting([this] { handler_->setDSState(TV_TWAINHandler::kStateTransferring); });
        bool writeFailed = false;
        bool stripFault = false;
        std::uint64_t rowsReceived = 0;
        int emptyStrips = 0;
        for (;;) {
            if (isScanCancel()) {
                cancelSeen = true;
                setStateOnMain(kStateScanEnded);
            }
            imageMemXfer_ = TW_IMAGEMEMXFER{};
            imageMemXfer_.Compression = TWON_DONTCARE16;
            imageMemXfer_.BytesPerRow = TWON_DONTCARE32;
            imageMemXfer_.Columns = TWON_DONTCARE32;
            imageMemXfer_.Rows = TWON_DONTCARE32;
            imageMemXfer_.XOffset = TWON_DONTCARE32;
            imageMemXfer_.YOffset = TWON_DONTCARE32;
            imageMemXfer_.BytesWritten = TWON_DONTCARE32;
            imageMemXfer_.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            imageMemXfer_.Memory.Length = TW_UINT32(bufferSize);
            imageMemXfer_.Memory.TheMem = buffer.get();
            if (!call(&QlrDeviceCntlr::getImageMemXferOnMain)) break;
            lastCode = scnErr_;
            // Only these two carry a strip; anything else ends the page.
            if (lastCode != TWRC_SUCCESS && lastCode != TWRC_XFERDONE) break;

            const TW_IMAGEMEMXFER strip = imageMemXfer_;
            const std::uint64_t stripBytes = std::uint64_t(strip.Rows) * std::uint64_t(strip.BytesPerRow);
            if (strip.Rows == 0 && strip.BytesWritten == 0) {
                if (lastCode == TWRC_SUCCESS && ++emptyStrips >= kMaxEmptyStrips) {
                    stripFault = true;
                    break;
                }
            } else {
                // The strip must be the next rows of this page, in rows of
                // the page's size, inside the buffer: the raw file is read
                // back in rows of that size.
                if (strip.BytesWritten > bufferSize || strip.BytesPerRow != rowBytes ||
                    stripBytes != strip.BytesWritten || strip.YOffset != rowsReceived ||
                    rowsReceived + strip.Rows > std::uint64_t(info.ImageLength)) {
                    stripFault = true;
                    break;
                }
                emptyStrips = 0;
                if (!writeFailed && !writeAll(fd, buffer.get(), strip.BytesWritten)) writeFailed = true;
                if (!writeFailed && previewing) {
                    for (TW_UINT32 r = 0; r < strip.Rows && previewing; ++r) {
                        if (zoom.Send(buffer.get() + std::size_t(r) * rowBytes) != 0) {
                            previewing = false;
                            break;
                        }
                        while (previewRows < bitmapH && zoom.ReadyLines() > 0 &&
                               zoom.Read(bitmap->row(previewRows)) == 0)
                            ++previewRows;
                    }
                }
                rowsReceived += strip.Rows;
            }
            if (lastCode == TWRC_XFERDONE) break;
        }
        buffer.reset();
        zoom.Close();

        const bool closed = ::close(fd) == 0;
        fd = -1;
        if (mainAlive && !cancelSeen && isScanCancel()) {
            cancelSeen = true;
            setStateOnMain(kStateScanEnded);
        }
        if (writeFailed || !closed) {
            scnErr_ = kResourceFailure;
            return;
        }
        if (!mainAlive) return;
        // A page is whole only after the source's transfer-done with every
        // row of it; anything else ends it as failed.
        if (stripFault || (lastCode == TWRC_XFERDONE && rowsReceived != std::uint64_t(info.ImageLength))) {
            scnErr_ = TWRC_FAILURE;
            return;
        }
        if (lastCode != TWRC_XFERDONE) return;
        if (!probeDisk(folderOf(*path))) {
            scnErr_ = kResourceFailure;
            return;
        }
        pageWhole = true;
        if (!delegate || cancelSeen) return;

        try {
            auto record = std::make_shared<ImageInfoModel>();
            record->setImgInfo_TmpImagePath(*path);
            if (previewing && previewRows == bitmapH) record->setImgInfo_PreThumbImage(std::move(bitmap));
            record->setImgInfo_bpp(info.BitsPerPixel);
            record->setImgInfo_Width(info.ImageWidth);
            record->setImgInfo_Height(info.ImageLength);
            record->setImgInfo_XRes(fix32ToFloat(info.XResolution));
            record->setImgInfo_YRes(fix32ToFloat(info.YResolution));
            kdf::RunLoop::performOnMainThread([delegate, record] { delegate->addImgInfo(record); }, false);
        } catch (const std::bad_alloc&) {
            scnErr_ = kResourceFailure;
            return;
        }
        recorded = true;
        if (!call(&QlrDeviceCntlr::endxferPendingXfersOnMain) || scnErr_ != TWRC_SUCCESS) return;
        if (pendingXfers_.Count != 0)
            kdf::RunLoop::main().performAfterDelay(this, "xferReady", kdf::Seconds(0), [this] { xferReady(); });
        else
            terminateScan(true);
    }();
    if (fd >= 0) ::close(fd);

    // Ending after a failure or a cancel.
    const bool failed = !recorded || scnErr_ != 0;
    if (failed) {
        // A whole page that was not recorded (a cancel came) keeps its file,
        // as a recorded one does; a partial page never stays.
        if (fileMade && !recorded && !pageWhole) ::unlink(path->c_str());
        if (scnErr_ == kResourceFailure) {
            setIsScanCancel(true);
            if (delegate) delegate->setIsWriteFileCancel(true);
            const auto request = TV_Message::paramShowPanel("Error", kMemFullKey, std::nullopt, "OK", std::nullopt,
                                                            std::nullopt, TV_Message::kCriticalAlertStyle, 0, true);
            onMainWaiting([this, request] {
                lastAlertKey_ = kMemFullKey;
                TV_Message::performShowPanel(request);
            });
            if (delegate) {
                const std::array<std::string, 2> texts{std::string(),
                                                       kdf::Bundle::main()->localizedString(kMemFullKey)};
                onMainWaiting([delegate, texts] { delegate->setStateInfoStrForProcWinForPfm(texts); });
            }
        }
        if (fileMade && mainAlive) call(&QlrDeviceCntlr::endxferPendingXfersOnMain);
        if (mainAlive) call(&QlrDeviceCntlr::resetPendingXfersOnMain);
        terminateScan(false);
    }

    if (delegate && delegate->isScnCancelOnMain()) delegate->scanCancelOnMainFromDeviveCntlr();
    setIsRunningMemXfer(false);
}
