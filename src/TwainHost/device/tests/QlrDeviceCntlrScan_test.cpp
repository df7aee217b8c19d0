// Receiving the pages: scripted strip sequences under our manager (records,
// raw files, end states and the calls made), the preview against the scaler
// alone, the one-worker-at-a-time rule with a live main loop, and KD720.ds
// on the virtual scanner (three duplex sheets, a jam, a disconnect, a full
// disk).
#include "QlrDeviceCntlr.h"

#include "AppMainCntlrDSInfo.h"
#include "BitmapImage.h"
#include "FG_Zoom.h"
#include "InputModel.h"
#include "JobModel.h"
#include "KdUIController.h"
#include "ModelTestSupport.h"
#include "QuietDeviceDelegate.h"
#include "PageModels.h"
#include "QlrUtilsMethod.h"
#include "RecordingUIController.h"
#include "ScriptedSource.h"
#include "KD720TestBundle.h"
#include "TempHome.h"

#include <foundation/Bundle.h>
#include <foundation/Object.h>
#include <foundation/RunLoop.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using twainhosttest::answerBy;
using twainhosttest::HostCall;
using twainhosttest::ScriptedSource;
using twainhosttest::SourceCall;
using QlrUtilsMethod::BitmapImage;

namespace {

constexpr const char* kSourceFile = "Scripted.ds";
constexpr const char* kMaker = "Test Maker";
constexpr const char* kFamily = "Test Family";
constexpr const char* kProduct = "Test Product";

// Runs the main loop until done() or the time is up; false on time-out, so
// a hang fails instead of blocking.
bool runUntil(const std::function<bool()>& done, double seconds) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        kdf::RunLoop::main().runMode(kdf::RunLoopMode::Default, kdf::Seconds(0.005));
    }
    return true;
}

// The application controller as the transfer sees it; the worker calls
// some of it from its own thread.
class PageDelegate : public QuietDeviceDelegate {
public:
    QlrPreviewSize displayLimit{};
    QlrPreviewSize bitmapLimit{};
    std::shared_ptr<JobModel> job;
    bool errInFinalOutput = false;
    bool finishedWriting = true;
    // Called when the worker asks about a cancel from its own thread.
    std::function<void()> onWorkerAsk;

    void setAppState(int s) override { add("state " + std::to_string(s)); }
    void setAppStateNum(int s) override {
        EXPECT_TRUE(kdf::RunLoop::isMainThread());
        add("stateNum " + std::to_string(s));
    }
    bool isScnCancelOnMain() override {
        if (!kdf::RunLoop::isMainThread() && onWorkerAsk) onWorkerAsk();
        return false;
    }
    void scanCancelOnMainFromDeviveCntlr() override { add("cancelOnMain"); }
    QlrPreviewSize previewSizeByMainWindow(bool) override { return displayLimit; }
    QlrPreviewSize previewSizeWithLimitationForIKImageBrowserMemLeak(bool) override { return bitmapLimit; }
    void addImgInfo(std::shared_ptr<ImageInfoModel> info) override {
        EXPECT_TRUE(kdf::RunLoop::isMainThread());
        std::lock_guard lock(mutex_);
        records.push_back(std::move(info));
        log_.push_back("addImgInfo");
    }
    void setIsWriteFileCancel(bool v) override { add(v ? "writeFileCancel YES" : "writeFileCancel NO"); }
    void setStateInfoStrForProcWinForPfm(const std::array<std::string, 2>& texts) override {
        EXPECT_TRUE(kdf::RunLoop::isMainThread());
        add("procText [" + texts[0] + "] " + texts[1]);
    }
    std::shared_ptr<JobModel> tmpCopyJobModel_Scan() override { return job; }
    bool isErrInFinalOutput() override { return errInFinalOutput; }
    bool isFinScanAndWritedFile(bool isFinScan, int index) override {
        EXPECT_TRUE(isFinScan);
        EXPECT_EQ(index, -1);
        return finishedWriting;
    }

    void add(std::string s) {
        std::lock_guard lock(mutex_);
        log_.push_back(std::move(s));
    }
    void clearLog() {
        std::lock_guard lock(mutex_);
        log_.clear();
    }
    std::vector<std::string> log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    // The last application state set, or 0.
    int endState() const {
        std::lock_guard lock(mutex_);
        for (auto it = log_.rbegin(); it != log_.rend(); ++it)
            if (it->rfind("stateNum ", 0) == 0) return std::stoi(it->substr(9));
        return 0;
    }
    std::vector<std::shared_ptr<ImageInfoModel>> records;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> log_;
};

// ---- A scripted page source -------------------------------------------------------------

struct Strip {
    TW_UINT16 rc = TWRC_SUCCESS;
    TW_UINT32 rows = 0;
    // Departures from a well-formed strip.
    std::optional<TW_UINT32> bytesPerRow, yOffset, bytesWritten;
    bool cancelAfter = false; // the user cancels once this strip arrived
};

struct Page {
    TW_INT32 width = 40, length = 12;
    TW_INT16 bpp = 8, spp = 1, bps = 8, pixelType = TWPT_GRAY;
    TW_FIX32 xRes{300, 0}, yRes{300, 0};
    TW_UINT32 maxBufSize = 1u << 20;
    std::vector<Strip> strips; // the last one repeats
};

std::uint64_t rowBytes(const Page& p) {
    return p.bpp < 8 ? (std::uint64_t(p.width) + 7) / 8 : std::uint64_t(p.width) * std::uint64_t(p.bpp / 8);
}

std::uint8_t pattern(int page, std::uint64_t row, std::uint64_t i) {
    return std::uint8_t(row * 31 + i * 7 + std::uint64_t(page) * 13 + (row * i >> 3));
}

// The whole page as the pattern makes it.
std::vector<std::uint8_t> pageBytes(int index, const Page& p) {
    const std::uint64_t bpr = rowBytes(p);
    std::vector<std::uint8_t> out(std::size_t(bpr * std::uint64_t(p.length)));
    for (std::uint64_t r = 0; r < std::uint64_t(p.length); ++r)
        for (std::uint64_t i = 0; i < bpr; ++i) out[std::size_t(r * bpr + i)] = pattern(index, r, i);
    return out;
}

class PageSource {
public:
    PageSource(ScriptedSource& source, QlrDeviceCntlr* cntlr, std::vector<Page> pages)
        : pages_(std::move(pages)), cntlr_(cntlr) {
        source.answer(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, answerBy([this](SourceCall& c) {
                          const Page& p = pages_.at(page_);
                          auto* info = static_cast<pTW_IMAGEINFO>(c.data);
                          info->XResolution = p.xRes;
                          info->YResolution = p.yRes;
                          info->ImageWidth = p.width;
                          info->ImageLength = p.length;
                          info->SamplesPerPixel = p.spp;
                          info->BitsPerSample[0] = p.bps;
                          info->BitsPerPixel = p.bpp;
                          info->PixelType = p.pixelType;
                          strip_ = 0;
                          rowsSent_ = 0;
                          if (onInfo) onInfo(page_);
                          return TW_UINT16(TWRC_SUCCESS);
                      }));
        source.answer(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, answerBy([this](SourceCall& c) {
                          auto* setup = static_cast<pTW_SETUPMEMXFER>(c.data);
                          setup->MinBufSize = 1;
                          setup->MaxBufSize = pages_.at(page_).maxBufSize;
                          setup->Preferred = setup->MaxBufSize;
                          return TW_UINT16(TWRC_SUCCESS);
                      }));
        auto count = [this](SourceCall& c, bool end) {
            if (end) ++page_;
            static_cast<pTW_PENDINGXFERS>(c.data)->Count = TW_UINT16(pages_.size() - std::min(page_, pages_.size()));
            return TW_UINT16(TWRC_SUCCESS);
        };
        source.answer(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, answerBy([count](SourceCall& c) { return count(c, false); }));
        source.answer(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER,
                      answerBy([count](SourceCall& c) { return count(c, true); }));
        source.answer(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, answerBy([this](SourceCall& c) {
                          auto* x = static_cast<pTW_IMAGEMEMXFER>(c.data);
                          bufferLengths.push_back(x->Memory.Length);
                          const Page& p = pages_.at(page_);
                          const Strip s = p.strips.at(std::min(strip_, p.strips.size() - 1));
                          ++strip_;
                          const std::uint64_t bpr = s.bytesPerRow.value_or(TW_UINT32(rowBytes(p)));
                          const std::uint64_t y = s.yOffset.value_or(TW_UINT32(rowsSent_));
                          auto* mem = static_cast<std::uint8_t*>(x->Memory.TheMem);
                          for (std::uint64_t r = 0; r < s.rows; ++r)
                              for (std::uint64_t i = 0; i < bpr; ++i)
                                  if (r * bpr + i < x->Memory.Length) mem[r * bpr + i] = pattern(int(page_), y + r, i);
                          x->Compression = 0; // uncompressed
                          x->BytesPerRow = TW_UINT32(bpr);
                          x->Columns = TW_UINT32(p.width);
                          x->Rows = s.rows;
                          x->XOffset = 0;
                          x->YOffset = TW_UINT32(y);
                          x->BytesWritten = s.bytesWritten.value_or(TW_UINT32(s.rows * bpr));
                          rowsSent_ += s.rows;
                          if (s.cancelAfter) cntlr_->setIsScanCancel(true);
                          return s.rc;
                      }));
    }

    std::function<void(std::size_t page)> onInfo;
    std::vector<TW_UINT32> bufferLengths;

private:
    std::vector<Page> pages_;
    QlrDeviceCntlr* cntlr_;
    std::size_t page_ = 0;
    std::size_t strip_ = 0;
    std::uint64_t rowsSent_ = 0;
};

// The calls made to the source and the manager for the pages, by name.
std::vector<std::string> pageCalls(const ScriptedSource& source) {
    std::vector<std::string> out;
    for (const HostCall& c : source.hostCalls) {
        const char* name = nullptr;
        if (c.dat == DAT_IMAGEINFO) name = "info";
        else if (c.dat == DAT_SETUPMEMXFER) name = "setup";
        else if (c.dat == DAT_IMAGEMEMXFER) name = "mem";
        else if (c.dat == DAT_PENDINGXFERS)
            name = c.msg == MSG_GET ? "pending" : c.msg == MSG_ENDXFER ? "endxfer" : c.msg == MSG_RESET ? "reset" : "?";
        else if (c.dat == DAT_USERINTERFACE && c.msg == MSG_DISABLEDS) name = "disable";
        else if (c.dat == DAT_IDENTITY && c.msg == MSG_CLOSEDS) name = "close";
        if (name) out.push_back(name);
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> repeat(std::vector<std::string> head, const std::string& item, int n,
                                std::vector<std::string> tail) {
    for (int i = 0; i < n; ++i) head.push_back(item);
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

class Scan : public ::testing::Test {
protected:
    void SetUp() override {
        AppMainCntlrDSInfo::setCurrentDSInfo(
            std::make_shared<const kdf::Dictionary>(identityDict(kMaker, kFamily, kProduct)));
        QlrDeviceCntlr::setApplicationDelegate(&delegate);
        ASSERT_TRUE(QlrUtilsMethod::createTmpFolder());
        source.place(kSourceFile, kMaker, kFamily, kProduct);
    }
    void TearDown() override {
        QlrDeviceCntlr::terminateDeviceCntlr();
        QlrDeviceCntlr::setApplicationDelegate(nullptr);
        AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
    }
    QlrDeviceCntlr& cntlr() { return *QlrDeviceCntlr::sharedDeviceCntlr(); }

    fs::path pageFile(int index) { return *QlrUtilsMethod::tmpBaseImageFilePath(index); }

    // Opens for a scan and sends MSG_XFERREADY; true when the job ended
    // (an end state set and the worker gone) in time.
    bool scan(PageSource&) {
        if (!cntlr().openDS(std::make_shared<InputModel>(), false, true)) return false;
        cntlr().resetTmpFileIndex();
        source.clearLogs();
        delegate.clearLog();
        source.notify(kSourceFile, MSG_XFERREADY);
        return runUntil([&] { return delegate.endState() != 0 && !cntlr().isRunningMemXfer(); }, 30);
    }

    kdtest::TempHome home;
    modeltest::ScopedController services;
    ScriptedSource source;
    PageDelegate delegate;
};

// ---- Strip sequences ----------------------------------------------------------------------

Strip strip(TW_UINT16 rc, TW_UINT32 rows) {
    Strip s;
    s.rc = rc;
    s.rows = rows;
    return s;
}
template <class F> Strip strip(TW_UINT16 rc, TW_UINT32 rows, F change) {
    Strip s = strip(rc, rows);
    change(s);
    return s;
}

const std::vector<std::string> kWholeCalls = {"info", "pending", "setup"};
// A failed page after n strips.
std::vector<std::string> failedAfter(int strips, bool fileMade = true) {
    return repeat(kWholeCalls, "mem", strips,
                  fileMade ? std::vector<std::string>{"endxfer", "reset", "disable", "close"}
                           : std::vector<std::string>{"reset", "disable", "close"});
}

struct StripCase {
    const char* name;
    Page page;
    bool recorded;
    bool fileKept;
    int endState;
    std::vector<std::string> calls;
};

class StripSequence : public Scan, public ::testing::WithParamInterface<StripCase> {};

TEST_P(StripSequence, RecordsFileEndStateAndCalls) {
    const StripCase& c = GetParam();
    PageSource pages(source, &cntlr(), {c.page});
    ASSERT_TRUE(scan(pages));
    EXPECT_EQ(delegate.endState(), c.endState);
    EXPECT_TRUE(cntlr().isFinishMSGReset());
    EXPECT_FALSE(cntlr().twHandler()->isDSOpen());
    EXPECT_EQ(pageCalls(source), c.calls);
    ASSERT_EQ(delegate.records.size(), c.recorded ? 1u : 0u);
    const auto bytes = fileBytes(pageFile(0));
    EXPECT_EQ(bytes.has_value(), c.fileKept);
    if (bytes) {
        EXPECT_TRUE(*bytes == pageBytes(0, c.page));
    }
    if (c.recorded) {
        const ImageInfoModel& r = *delegate.records[0];
        EXPECT_EQ(r.imgInfo_TmpImagePath(), pageFile(0).string());
        EXPECT_EQ(r.imgInfo_bpp(), c.page.bpp);
        EXPECT_EQ(r.imgInfo_Width(), c.page.width);
        EXPECT_EQ(r.imgInfo_Height(), c.page.length);
        EXPECT_EQ(r.imgInfo_XRes(), float(c.page.xRes.Whole) + float(c.page.xRes.Frac) / 65536.0f);
        EXPECT_EQ(r.imgInfo_YRes(), float(c.page.yRes.Whole) + float(c.page.yRes.Frac) / 65536.0f);
        EXPECT_TRUE(r.imgInfo_PreThumbImage());
    }
    // No alert unless our own resources failed.
    EXPECT_FALSE(cntlr().lastAlertKey());
    const auto log = delegate.log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "writeFileCancel YES"), 0);
}

Page pageOf(std::vector<Strip> strips, std::function<void(Page&)> change = {}) {
    Page p;
    p.strips = std::move(strips);
    if (change) change(p);
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StripSequence,
    ::testing::Values(
        StripCase{"XferDoneOnTheFirstStrip",
                  pageOf({strip(TWRC_XFERDONE, 12)}, [](Page& p) { p.xRes = {150, 32768}; }), true, true, 103,
                  repeat(kWholeCalls, "mem", 1, {"endxfer", "disable", "close"})},
        StripCase{"ThreeStrips", pageOf({strip(0, 4), strip(0, 4), strip(TWRC_XFERDONE, 4)}), true, true, 103,
                  repeat(kWholeCalls, "mem", 3, {"endxfer", "disable", "close"})},
        StripCase{"EmptyStripsBetweenAndAnEmptyLastStrip",
                  pageOf({strip(0, 0), strip(0, 6), strip(0, 0), strip(0, 6), strip(TWRC_XFERDONE, 0)}), true, true,
                  103, repeat(kWholeCalls, "mem", 5, {"endxfer", "disable", "close"})},
        StripCase{"CheckStatusMidway", pageOf({strip(0, 4), strip(TWRC_CHECKSTATUS, 4)}), false, false, 104,
                  failedAfter(2)},
        StripCase{"FailureMidway", pageOf({strip(0, 4), strip(TWRC_FAILURE, 0)}), false, false, 104, failedAfter(2)},
        StripCase{"SourceCancelsMidway", pageOf({strip(0, 4), strip(TWRC_CANCEL, 0)}), false, false, 104,
                  failedAfter(2)},
        StripCase{"XferDoneBeforeTheLastRow", pageOf({strip(0, 4), strip(TWRC_XFERDONE, 4)}), false, false, 104,
                  failedAfter(2)},
        StripCase{"BytesWrittenAboveTheBuffer",
                  pageOf({strip(0, 5), strip(TWRC_XFERDONE, 7)}, [](Page& p) { p.maxBufSize = 160; }), false, false,
                  104, failedAfter(1)},
        StripCase{"RowsTimesBytesPerRowAboveBytesWritten",
                  pageOf({strip(0, 4, [](Strip& s) { s.bytesWritten = 100; }), strip(TWRC_XFERDONE, 8)}), false, false,
                  104, failedAfter(1)},
        StripCase{"BytesWrittenAboveTheRows",
                  pageOf({strip(0, 4, [](Strip& s) { s.bytesWritten = 161; }), strip(TWRC_XFERDONE, 8)}), false, false,
                  104, failedAfter(1)},
        StripCase{"RowsPastTheImageLength", pageOf({strip(0, 8), strip(TWRC_XFERDONE, 8)}), false, false, 104,
                  failedAfter(2)},
        StripCase{"YOffsetNotTheNextRow",
                  pageOf({strip(0, 4), strip(0, 4, [](Strip& s) { s.yOffset = 5; }), strip(TWRC_XFERDONE, 4)}), false,
                  false, 104, failedAfter(2)},
        StripCase{"BytesPerRowOtherThanTheRow",
                  pageOf({strip(TWRC_XFERDONE, 12, [](Strip& s) { s.bytesPerRow = 41; })}), false, false, 104,
                  failedAfter(1)},
        StripCase{"EmptyStripsForEver", pageOf({strip(0, 4), strip(0, 0)}), false, false, 104,
                  failedAfter(1 + 10000)},
        // Capped at 64 MiB.
        StripCase{"MaxBufSizeAllOnes",
                  pageOf({strip(TWRC_XFERDONE, 12)}, [](Page& p) { p.maxBufSize = 0xFFFFFFFF; }), true, true, 103,
                  repeat(kWholeCalls, "mem", 1, {"endxfer", "disable", "close"})},
        // The user cancels: the page is not recorded; a whole page keeps
        // its file, a page the source cancelled does not.
        StripCase{"CancelMidwayPageWhole",
                  pageOf({strip(0, 4, [](Strip& s) { s.cancelAfter = true; }), strip(0, 4), strip(TWRC_XFERDONE, 4)}),
                  false, true, 104, failedAfter(3)},
        StripCase{"CancelMidwaySourceCancels",
                  pageOf({strip(0, 4, [](Strip& s) { s.cancelAfter = true; }), strip(TWRC_CANCEL, 0)}), false, false,
                  104, failedAfter(2)},
        // Image information the page cannot be stored by: nothing is made.
        StripCase{"WidthZero", pageOf({strip(TWRC_XFERDONE, 12)}, [](Page& p) { p.width = 0; }), false, false, 104,
                  failedAfter(0, false)},
        StripCase{"LengthNegative", pageOf({strip(TWRC_XFERDONE, 12)}, [](Page& p) { p.length = -12; }), false, false,
                  104, failedAfter(0, false)},
        StripCase{"WidthBeyondAnyPage", pageOf({strip(TWRC_XFERDONE, 12)}, [](Page& p) { p.width = 2000000; }), false,
                  false, 104, failedAfter(0, false)},
        StripCase{"SixteenBitsPerPixel",
                  pageOf({strip(TWRC_XFERDONE, 12)},
                         [](Page& p) {
                             p.bpp = 16;
                             p.bps = 16;
                         }),
                  false, false, 104, failedAfter(0, false)},
        StripCase{"SamplesThatDoNotMatch",
                  pageOf({strip(TWRC_XFERDONE, 12)},
                         [](Page& p) {
                             p.bpp = 24;
                             p.pixelType = TWPT_RGB;
                         }),
                  false, false, 104, failedAfter(0, false)},
        StripCase{"GrayCalledColour", pageOf({strip(TWRC_XFERDONE, 12)}, [](Page& p) { p.pixelType = TWPT_RGB; }),
                  false, false, 104, failedAfter(0, false)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Scan, TheBufferIsCappedAndACancelSetsTheEndStateAtEveryLaterStrip) {
    Page capped = pageOf({strip(TWRC_XFERDONE, 12)}, [](Page& p) { p.maxBufSize = 0xFFFFFFFF; });
    PageSource pages(source, &cntlr(), {capped});
    ASSERT_TRUE(scan(pages));
    EXPECT_EQ(pages.bufferLengths, std::vector<TW_UINT32>{64u << 20});

    Page cancelled =
        pageOf({strip(0, 3, [](Strip& s) { s.cancelAfter = true; }), strip(0, 3), strip(0, 3), strip(TWRC_XFERDONE, 3)});
    PageSource again(source, &cntlr(), {cancelled});
    ASSERT_TRUE(scan(again));
    // Three later strips and the end of the job.
    EXPECT_EQ(delegate.log(),
              (std::vector<std::string>{"stateNum 104", "stateNum 104", "stateNum 104", "stateNum 104"}));
}

TEST_F(Scan, ABufferSizeOfZeroIsAResourceFailureWithTheMemoryAlert) {
    PageSource pages(source, &cntlr(), {pageOf({strip(TWRC_XFERDONE, 12)}, [](Page& p) { p.maxBufSize = 0; })});
    ASSERT_TRUE(scan(pages));
    EXPECT_EQ(cntlr().lastAlertKey(), std::optional<std::string>("Err_MemFullError"));
    const std::string text = kdf::Bundle::main()->localizedString("Err_MemFullError");
    EXPECT_EQ(delegate.log(),
              (std::vector<std::string>{"writeFileCancel YES", "procText [] " + text, "stateNum 104"}));
    EXPECT_TRUE(cntlr().isScanCancel());
    EXPECT_EQ(pageCalls(source), failedAfter(0, false));
    EXPECT_FALSE(fs::exists(pageFile(0)));
}

// ---- End states ---------------------------------------------------------------------------

struct EndCase {
    const char* name;
    std::optional<bool> normal;
    bool hasJob, imageProcess, errInFinal, finishedWriting;
    int state; // 0: none
};

class EndState : public Scan, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndState, FollowsTheJobAndTheWriting) {
    const EndCase& c = GetParam();
    ASSERT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), false, true));
    if (c.hasJob) {
        delegate.job = std::make_shared<JobModel>();
        delegate.job->setIsImageProcess(c.imageProcess);
    }
    delegate.errInFinalOutput = c.errInFinal;
    delegate.finishedWriting = c.finishedWriting;
    cntlr().setIsFinishMSGReset(false);
    cntlr().twHandler()->setDSState(TV_TWAINHandler::kStateTransferring);
    cntlr().sendMSGReset(c.normal);
    EXPECT_EQ(delegate.endState(), c.state);
    EXPECT_EQ(cntlr().curDSState(),
              c.state ? TV_TWAINHandler::kStateSourceEnabled : TV_TWAINHandler::kStateTransferring);
    EXPECT_TRUE(cntlr().isFinishMSGReset());
    // Clearing the cancel clears the finish-reset flag with it.
    cntlr().setIsScanCancel(false);
    EXPECT_FALSE(cntlr().isFinishMSGReset());
}

INSTANTIATE_TEST_SUITE_P(Cases, EndState,
                         ::testing::Values(EndCase{"Failed", false, true, false, false, true, 104},
                                           EndCase{"NoNumber", std::nullopt, true, false, false, true, 0},
                                           EndCase{"ImageProcessing", true, true, true, false, false, 103},
                                           EndCase{"WrittenWhileScanning", true, true, false, false, true, 103},
                                           EndCase{"StillWriting", true, true, false, false, false, 102},
                                           EndCase{"NoJobCountsAsWriting", true, false, false, false, false, 102},
                                           EndCase{"ErrorInTheOutput", true, true, false, true, false, 103}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Preview ------------------------------------------------------------------------------

struct SizeCase {
    const char* name;
    int w, h;
    QlrPreviewSize limit;
    int wantW, wantH;
};

class PreviewSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(PreviewSize, FitsShrinkingOnlyAndNeverBelowOne) {
    const SizeCase& c = GetParam();
    int w = c.w, h = c.h;
    QlrDeviceCntlr::sizeForPreImg(&w, &h, c.limit);
    EXPECT_EQ(w, c.wantW);
    EXPECT_EQ(h, c.wantH);
}

INSTANTIATE_TEST_SUITE_P(Cases, PreviewSize,
                         ::testing::Values(SizeCase{"Smaller", 2000, 1000, {500, 500}, 500, 250},
                                           SizeCase{"SmallerByHeight", 1000, 4000, {500, 500}, 125, 500},
                                           SizeCase{"Larger", 100, 50, {500, 500}, 100, 50},
                                           SizeCase{"ASideTruncatedToZero", 10000, 10, {100, 100}, 100, 1},
                                           SizeCase{"Truncates", 999, 999, {100, 100}, 100, 100},
                                           SizeCase{"NoLimit", 2000, 1000, {0, 500}, 2000, 1000},
                                           SizeCase{"NoWidth", 0, 1000, {100, 100}, 0, 1000}),
                         [](const auto& info) { return std::string(info.param.name); });

struct PreviewCase {
    const char* name;
    Page page;
};

class Preview : public Scan, public ::testing::WithParamInterface<PreviewCase> {};

TEST_P(Preview, EqualsTheScalerOverTheWholePage) {
    const PreviewCase& c = GetParam();
    delegate.displayLimit = {30, 30};
    delegate.bitmapLimit = {64, 64};
    PageSource pages(source, &cntlr(), {c.page});
    ASSERT_TRUE(scan(pages));
    ASSERT_EQ(delegate.records.size(), 1u);
    const auto bitmap =
        std::dynamic_pointer_cast<const BitmapImage>(delegate.records[0]->imgInfo_PreThumbImage());
    ASSERT_TRUE(bitmap);

    int bw = c.page.width, bh = c.page.length, dw = bw, dh = bh;
    QlrDeviceCntlr::sizeForPreImg(&bw, &bh, delegate.bitmapLimit);
    QlrDeviceCntlr::sizeForPreImg(&dw, &dh, delegate.displayLimit);
    EXPECT_EQ(bitmap->pixelsWide(), bw);
    EXPECT_EQ(bitmap->pixelsHigh(), bh);
    EXPECT_EQ(bitmap->width(), dw);
    EXPECT_EQ(bitmap->height(), dh);
    EXPECT_EQ(bitmap->bitsPerPixel(), c.page.bpp);
    EXPECT_EQ(bitmap->colorSpace(),
              c.page.pixelType == TWPT_RGB ? BitmapImage::ColorSpace::RGB : BitmapImage::ColorSpace::White);
    EXPECT_EQ(bitmap->bytesPerRow(), std::size_t(bw) * std::size_t(c.page.spp));

    // The scaler alone over the whole page.
    const auto whole = pageBytes(0, c.page);
    const std::size_t outRow = bitmap->usedBytesPerRow();
    std::vector<std::uint8_t> want(outRow * std::size_t(bh));
    FG_Zoom zoom;
    ASSERT_EQ(zoom.Open(bw, bh, c.page.width, c.page.length, c.page.bpp, 2), 0);
    int got = 0;
    for (int r = 0; r < c.page.length; ++r) {
        ASSERT_EQ(zoom.Send(whole.data() + std::size_t(r) * rowBytes(c.page)), 0);
        while (got < bh && zoom.ReadyLines() > 0 && zoom.Read(want.data() + std::size_t(got) * outRow) == 0) ++got;
    }
    zoom.Close();
    ASSERT_EQ(got, bh);
    for (int y = 0; y < bh; ++y)
        ASSERT_EQ(std::memcmp(bitmap->row(y), want.data() + std::size_t(y) * outRow, outRow), 0) << "row " << y;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Preview,
    ::testing::Values(PreviewCase{"OneBit", pageOf({strip(0, 50), strip(0, 1), strip(TWRC_XFERDONE, 99)},
                                                   [](Page& p) {
                                                       p.width = 203;
                                                       p.length = 150;
                                                       p.bpp = p.bps = 1;
                                                       p.pixelType = TWPT_BW;
                                                   })},
                      PreviewCase{"Rgb", pageOf({strip(0, 33), strip(TWRC_XFERDONE, 57)},
                                                [](Page& p) {
                                                    p.width = 121;
                                                    p.length = 90;
                                                    p.bpp = 24;
                                                    p.spp = 3;
                                                    p.pixelType = TWPT_RGB;
                                                })}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- One worker at a time -----------------------------------------------------------------

TEST_F(Scan, TheNextPageStartsOnlyAfterThePreviousWorkerEndedWhileTheMainLoopRuns) {
    std::mutex m;
    std::vector<std::string> events;
    auto note = [&](std::string s) {
        std::lock_guard lock(m);
        if (s == "tick" && !events.empty() && events.back() == "tick") return;
        events.push_back(std::move(s));
    };
    PageSource pages(source, &cntlr(), {pageOf({strip(TWRC_XFERDONE, 12)}), pageOf({strip(TWRC_XFERDONE, 12)})});
    pages.onInfo = [&](std::size_t page) { note("info " + std::to_string(page)); };
    // The worker lingers at its last question while the main loop must go on.
    delegate.onWorkerAsk = [&] {
        note("worker ends");
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        note("worker ended");
    };
    auto timer = kdf::RunLoop::main().scheduleTimer(kdf::Seconds(0.005), true, kdf::RunLoopMode::Default,
                                                    [&](kdf::Timer&) { note("tick"); });
    ASSERT_TRUE(scan(pages));
    timer->invalidate();
    ASSERT_EQ(delegate.records.size(), 2u);
    EXPECT_EQ(delegate.endState(), 103);
    std::vector<std::string> order;
    {
        std::lock_guard lock(m);
        order = events;
    }
    // Page 1's worker ended before page 2's information was asked, and the
    // main loop ran while it lingered.
    const auto firstEnd = std::find(order.begin(), order.end(), "worker ends");
    ASSERT_NE(firstEnd, order.end());
    EXPECT_EQ(*(firstEnd + 1), "tick");
    EXPECT_EQ(*(firstEnd + 2), "worker ended");
    const auto second = std::find(order.begin(), order.end(), "info 1");
    ASSERT_NE(second, order.end());
    EXPECT_LT(firstEnd - order.begin(), second - order.begin());
    EXPECT_TRUE(fileBytes(pageFile(0)) == pageBytes(0, pageOf({})));
    EXPECT_TRUE(fileBytes(pageFile(1)) == pageBytes(1, pageOf({})));
    EXPECT_EQ(delegate.records[1]->imgInfo_TmpImagePath(), pageFile(1).string());
}

TEST_F(Scan, ATransferReadyAfterTheSourceClosedStartsNothing) {
    PageSource pages(source, &cntlr(), {pageOf({strip(TWRC_XFERDONE, 12)})});
    ASSERT_TRUE(cntlr().openDS(std::make_shared<InputModel>(), false, true));
    // The close request arrives first; the transfer-ready comes late.
    source.notify(kSourceFile, MSG_CLOSEDSREQ);
    source.notify(kSourceFile, MSG_XFERREADY);
    runUntil([] { return false; }, 0.1);
    cntlr().xferReady();
    EXPECT_FALSE(cntlr().isRunningMemXfer());
    for (const auto& call : pageCalls(source)) EXPECT_NE(call, "info");
    EXPECT_TRUE(delegate.records.empty());
}


// ---- The real stack ----------------------------------------------------------------------

// The window double the data source makes; what it was asked outlives it.
std::mutex gWindowLock;
std::vector<std::string> gWindowCalls;
class TrackedWindow : public RecordingUIController {
public:
    ~TrackedWindow() override {
        std::lock_guard lock(gWindowLock);
        gWindowCalls.insert(gWindowCalls.end(), calls.begin(), calls.end());
    }
};

// Every call the host makes passes here first; a hook may act before one.
std::function<void(TW_UINT16 dat, TW_UINT16 msg)> gBeforeCall;
TW_UINT16 hookedEntry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                      TW_MEMREF data) {
    if (gBeforeCall) gBeforeCall(dat, msg);
    return DSM_Entry(origin, dest, dg, dat, msg, data);
}

// KD720.ds on the virtual scanner, with the recording window in place of
// its own.
class KD720Stack {
public:
    explicit KD720Stack(const std::string& virtualScanner) {
        installKD720WithRecordingWindow(home, virtualScanner);
        kdf::registerClass(kUIControllerClassName, &kdf::makeObject<TrackedWindow>);
        {
            std::lock_guard lock(gWindowLock);
            gWindowCalls.clear();
        }
        services->productName = "Tavro KD-720 TWAIN";
        AppMainCntlrDSInfo::setCurrentDSInfo(std::make_shared<const kdf::Dictionary>(
            identityDict("Tavrolek Document Systems", "Tavro KD-720 Driver", "Tavro KD-720 TWAIN")));
        QlrDeviceCntlr::setApplicationDelegate(&delegate);
        TV_TWAINHandler::setDSMEntry(hookedEntry);
        created = QlrUtilsMethod::createTmpFolder();
    }
    ~KD720Stack() {
        QlrDeviceCntlr::terminateDeviceCntlr();
        TV_TWAINHandler::setDSMEntry(nullptr);
        gBeforeCall = nullptr;
        QlrDeviceCntlr::setApplicationDelegate(nullptr);
        AppMainCntlrDSInfo::setCurrentDSInfo(nullptr);
        kdf::unregisterClass(kUIControllerClassName);
    }

    // A duplex black-and-white scan at 200 dpi, run until the job ended
    // and the source is closed.
    bool scan() {
        QlrDeviceCntlr& cntlr = *QlrDeviceCntlr::sharedDeviceCntlr();
        auto model = std::make_shared<InputModel>();
        model->setIsUseDriverSetting(false);
        model->setScnStColorType(5);
        model->setScnStResolutionType(7);
        model->setScnStReaderSideType(2);
        if (!cntlr.openDS(model, false, true)) return false;
        return runUntil(
            [&] {
                return delegate.endState() != 0 && !cntlr.isRunningMemXfer() && !cntlr.twHandler()->isDSOpen();
            },
            180);
    }

    // The raw files of the work folder, by name.
    std::vector<std::string> pageFiles() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(fs::path(*QlrUtilsMethod::tmpBaseImageFilePath(0)).parent_path()))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    // Empty when every record's file holds its whole page.
    std::string wholePages() const {
        std::string why;
        for (const auto& r : delegate.records) {
            const std::uint64_t bpr = r->imgInfo_bpp() < 8 ? (std::uint64_t(r->imgInfo_Width()) + 7) / 8
                                                           : std::uint64_t(r->imgInfo_Width()) * std::uint64_t(r->imgInfo_bpp() / 8);
            std::error_code ec;
            const auto size = fs::file_size(r->imgInfo_TmpImagePath(), ec);
            if (ec || size != bpr * std::uint64_t(r->imgInfo_Height()) || r->imgInfo_Height() <= 0)
                why += r->imgInfo_TmpImagePath() + " holds " + std::to_string(size) + " bytes; ";
            if (!r->imgInfo_PreThumbImage()) why += r->imgInfo_TmpImagePath() + " has no preview; ";
        }
        return why;
    }

    bool sourceAlerted() const {
        std::lock_guard lock(gWindowLock);
        return std::any_of(gWindowCalls.begin(), gWindowCalls.end(),
                           [](const std::string& c) { return c.rfind("runAlert", 0) == 0; });
    }

    kdtest::TempHome home;
    modeltest::ScopedController services;
    PageDelegate delegate;
    bool created = false;
};

std::vector<std::string> names(int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back("tmpImg_" + std::to_string(i));
    return out;
}

TEST(RealStack, ThreeDuplexSheetsGiveSixWholePages) {
    KD720Stack stack("sheets=3");
    ASSERT_TRUE(stack.created);
    ASSERT_TRUE(stack.scan());
    EXPECT_EQ(stack.delegate.endState(), 103);
    ASSERT_EQ(stack.delegate.records.size(), 6u);
    EXPECT_EQ(stack.wholePages(), "");
    for (const auto& r : stack.delegate.records) {
        EXPECT_EQ(r->imgInfo_bpp(), 1);
        EXPECT_NEAR(r->imgInfo_XRes(), 200, 0.01);
    }
    EXPECT_EQ(stack.pageFiles(), names(6));
    EXPECT_FALSE(QlrDeviceCntlr::sharedDeviceCntlr()->lastAlertKey());
}

struct FaultCase {
    const char* name;
    const char* scanner;
};

class ScannerFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ScannerFault, OnTheSecondSheetKeepsTheFirstSheetWholeAndEndsTheScan) {
    KD720Stack stack(GetParam().scanner);
    ASSERT_TRUE(stack.created);
    ASSERT_TRUE(stack.scan());
    EXPECT_EQ(stack.delegate.endState(), 104);
    ASSERT_EQ(stack.delegate.records.size(), 2u);
    EXPECT_EQ(stack.wholePages(), "");
    // No partial page stays behind.
    EXPECT_EQ(stack.pageFiles(), names(2));
    // The source told the user itself; we add no alert of our own.
    EXPECT_TRUE(stack.sourceAlerted());
    EXPECT_FALSE(QlrDeviceCntlr::sharedDeviceCntlr()->lastAlertKey());
}

INSTANTIATE_TEST_SUITE_P(Cases, ScannerFault,
                         ::testing::Values(FaultCase{"Jam", "sheets=3;fault=jam@s2:0.5"},
                                           FaultCase{"Disconnect", "sheets=3;fault=disconnect@s2:0.5"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The full disk runs in a fresh process of this program: the file-size
// limit it sets holds for the whole process.
constexpr const char* kFullDiskVariable = "KD_SCAN_TEST_FULL_DISK";

// In the fresh process: the third page meets a file-size limit. Empty when
// everything was as it should be.
std::string fullDiskCase() {
    ::signal(SIGXFSZ, SIG_IGN);
    KD720Stack stack("sheets=3");
    if (!stack.created) return "no work folder";
    int infos = 0;
    gBeforeCall = [&](TW_UINT16 dat, TW_UINT16) {
        if (dat != DAT_IMAGEINFO || ++infos != 3) return;
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 100000;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    std::string why;
    if (!stack.scan()) return "the scan did not end";
    if (stack.delegate.endState() != 104) why += "end state " + std::to_string(stack.delegate.endState()) + "; ";
    if (stack.delegate.records.size() != 2) why += std::to_string(stack.delegate.records.size()) + " records; ";
    why += stack.wholePages();
    if (stack.pageFiles() != names(2)) {
        why += "files:";
        for (const auto& f : stack.pageFiles()) why += " " + f;
        why += "; ";
    }
    if (QlrDeviceCntlr::sharedDeviceCntlr()->lastAlertKey() != std::optional<std::string>("Err_MemFullError"))
        why += "no memory alert; ";
    const auto log = stack.delegate.log();
    if (std::find(log.begin(), log.end(), "writeFileCancel YES") == log.end()) why += "writing not cancelled; ";
    return why;
}

TEST(RealStack, AFullDiskKeepsTheEarlierPagesAndRemovesTheFailedOne) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string assignment = std::string(kFullDiskVariable) + "=1";
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    env.push_back(assignment.data());
    env.push_back(nullptr);
    char* argv[] = {const_cast<char*>(self.c_str()), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, env.data()), 0);
    int status = 0;
    bool ended = false;
    for (int waited = 0; waited < 240 * 20 && !ended; ++waited) {
        ended = waitpid(child, &status, WNOHANG) == child;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ended) {
        ::kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the full-disk case hung";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "see the case's output above";
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv(kFullDiskVariable)) {
        ::unsetenv(kFullDiskVariable);
        const std::string why = fullDiskCase();
        if (!why.empty()) std::fprintf(stderr, "full disk: %s\n", why.c_str());
        return why.empty() ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
