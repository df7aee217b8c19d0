// The output writer under the application controller: pages written in
// page order during a scan, a failure in the middle, the output step that
// names and moves the files or hands them to the plug-in.
#include "OutputTestSupport.h"
#include "OutputWriter.h"
#include "CreateTIFF.h"
#include "TiffReadBack.h"

#include "AppMainCntlrFakes.h"

#include <JobModel.h>
#include <OutputModel.h>
#include <QlrUtilsMethod.h>

#include <foundation/File.h>

#include <random>

namespace {

using namespace apptest;
using namespace outtest;
using qlr_output::OutputWriter;

// Hands every page on to the writer after a random pause, so page threads
// finish their own work in any order; the first page waits for the gate.
class DelayingPort : public AppOutputWriterPort {
public:
    explicit DelayingPort(std::shared_ptr<OutputWriter> w) : writer(std::move(w)) {}
    std::shared_ptr<OutputWriter> writer;
    std::mutex lock;
    std::condition_variable opened;
    bool gate = true;
    std::mt19937 random{57};
    void readImgFileForJobScn(const PageParam& p) override {
        {
            std::unique_lock l(lock);
            opened.wait_for(l, std::chrono::seconds(10), [&] { return gate; });
        }
        int ms = 0;
        {
            std::lock_guard l(lock);
            ms = int(random() % 4);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        writer->readImgFileForJobScn(p);
    }
    void readImgFiles() override { writer->readImgFiles(); }
    void maybeSendFileToPlugin() override { writer->maybeSendFileToPlugin(); }
    void initWriteFilePathArray(bool all) override { writer->initWriteFilePathArray(all); }
    void releaseWriteFilePathArray(bool files, bool all) override { writer->releaseWriteFilePathArray(files, all); }
};

class HandOffRegistry : public RegistryDouble {
public:
    int result = 0;
    mutable std::vector<std::vector<std::string>> handed;
    mutable std::vector<bool> windowFlagDuring;
    AppMainCntlr* cntlr = nullptr;

protected:
    int pluginExecuteOperation(std::string_view id, std::string_view guid, const std::vector<std::string>& files,
                               bool fileDelete, QWidget*) const override {
        calls.add("execute:" + std::string(id) + ":" + std::string(guid) + (fileDelete ? ":delete" : ""));
        handed.push_back(files);
        windowFlagDuring.push_back(cntlr && cntlr->isShowedPluginWin());
        return result;
    }
};

class OutputWriterTest : public ControllerTest {
protected:
    fs::path dir;
    fs::path dest;
    std::shared_ptr<OutputWriter> out;
    std::shared_ptr<DelayingPort> port;
    std::shared_ptr<HandOffRegistry> handOff = std::make_shared<HandOffRegistry>();
    std::shared_ptr<JobModel> job;
    std::mutex errorsLock;
    std::vector<kdf::Exception> errors;

    void SetUp() override {
        ControllerTest::SetUp();
        handOff->cntlr = cntlr.get();
        PluginRegistryQueries::setCurrent(handOff);
        dir = scratch(::testing::UnitTest::GetInstance()->current_test_info()->name());
        dest = dir / "dest";
        fs::create_directories(dir / "raw");
        fs::create_directories(dest);
        out = std::make_shared<OutputWriter>(*cntlr);
        out->setErrorPresenter([this](const kdf::Exception& e) {
            std::lock_guard l(errorsLock);
            errors.push_back(e);
        });
        port = std::make_shared<DelayingPort>(out);
        cntlr->setOutputWriterPort(port);
    }
    void TearDown() override {
        // Every page thread has ended before the controller goes.
        runUntil([&] { return cntlr->readImgFileForJobScnCount() == 0; });
        ControllerTest::TearDown();
    }
    std::shared_ptr<OutputModel> output(int format, const std::string& freeName = "Scan") {
        auto o = std::make_shared<OutputModel>();
        o->setFileFormatType(format);
        o->setFreeFileName(freeName);
        o->setIsUseFNSetting(true);
        o->setIsAddDateTime(false);
        o->setIsAddNumber(true);
        o->setDigitType(2);
        o->setStartNum(1);
        o->setSaveType(3);
        o->setFileSavePath(dest.string());
        o->setCompRate_JPEG(1);
        return o;
    }
    // editsFirst: pages arriving only show; they are written by the
    // output's own thread.
    void startJob(std::vector<std::shared_ptr<OutputModel>> outputs, bool editsFirst = false) {
        auto j = std::make_shared<JobModel>();
        j->setIsImageProcess(editsFirst);
        j->setJobOutputModel_List(std::move(outputs));
        cntlr->setTmpCopyJobModel_Scan(j);
        job = cntlr->tmpCopyJobModel_Scan();
        cntlr->initImgInfoArray();
        cntlr->storeAppState(kAppStateScanning);
    }
    std::shared_ptr<OutputModel> current() { return AppMainCntlr::curOutputModelOfJobModel(job.get()); }
    void addPages(int count, int badIndex = -1) {
        for (int i = 0; i < count; ++i)
            cntlr->addImgInfo(rawPage(dir / "raw" / std::to_string(i), i == badIndex ? 16 : 8, 16, 4,
                                      patternRows(8, 16, 4, i * 7)));
    }
    // Pages arrive while the writer is held; the scan ends; then writing.
    void scanPages(int count, int badIndex = -1) {
        {
            std::lock_guard l(port->lock);
            port->gate = false;
        }
        addPages(count, badIndex);
        cntlr->isFinScanAndWritedFile(true, -1);
        {
            std::lock_guard l(port->lock);
            port->gate = true;
        }
        port->opened.notify_all();
        ASSERT_TRUE(runUntil([&] { return cntlr->readImgFileForJobScnCount() == 0; }));
        runOneTurn();
    }
    std::vector<std::string> names(const std::vector<std::string>& paths) {
        std::vector<std::string> v;
        for (const auto& p : paths) v.push_back(fs::path(p).filename().string());
        return v;
    }
};

TEST_F(OutputWriterTest, ScanWritesPagesInOrderThenStepNamesAndMoves) {
    startJob({output(qlr_output::kFormatPNG)});
    scanPages(20);
    EXPECT_EQ(cntlr->appState(), kAppStateScanFinished);
    const auto written = current()->writeFilePathArray();
    ASSERT_EQ(written.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(fs::path(written[std::size_t(i)]).extension(), ".png");
        EXPECT_EQ(decodePNG(readAll(written[std::size_t(i)])).rows, patternRows(8, 16, 4, i * 7)) << i;
    }
    EXPECT_EQ(preview->shown.size(), 20u);

    // The output step: the user's older Scan_002.png stays untouched.
    std::ofstream(dest / "Scan_002.png") << "mine";
    cntlr->storeAppState(kAppStateHandOn);
    out->maybeSendFileToPlugin();
    runOneTurn();
    EXPECT_EQ(cntlr->appState(), kAppStateComplete);
    EXPECT_TRUE(errors.empty());
    const auto finals = current()->writeFilePathArray();
    ASSERT_EQ(finals.size(), 20u);
    EXPECT_EQ(names(finals).front(), "Scan_001.png");
    EXPECT_EQ(names(finals)[1], "Scan_003.png");
    EXPECT_EQ(names(finals).back(), "Scan_021.png");
    EXPECT_EQ(readAll(dest / "Scan_002.png"), "mine");
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(decodePNG(readAll(finals[std::size_t(i)])).rows, patternRows(8, 16, 4, i * 7)) << i;

    // Dropping the page list with its files leaves the user's files alone.
    out->releaseWriteFilePathArray(true, true);
    for (const auto& f : finals) EXPECT_TRUE(fs::exists(f)) << f;
}

TEST_F(OutputWriterTest, FailureMidScanKeepsEarlierPages) {
    startJob({output(qlr_output::kFormatJPEG)});
    scanPages(8, 5);
    EXPECT_EQ(cntlr->appState(), kAppStateScanEnded);
    const auto written = current()->writeFilePathArray();
    ASSERT_EQ(written.size(), 5u);
    for (const auto& f : written) EXPECT_TRUE(fs::exists(f));
    // Nothing else is left in the temporary folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(written[0]).parent_path()), fs::directory_iterator()), 5);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].name(), "Err_UnknownError");
    const kdf::Value* saved = kdf::find(errors[0].userInfo(), "ErrInfo_SavedFileCount");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->toInteger().value_or(-1), 5);
    EXPECT_TRUE(cntlr->isWriteFileCancel());
    EXPECT_EQ(cntlr->countOfImgInfo(), 5);
}

TEST_F(OutputWriterTest, BilevelJpegFailsOnFirstPageWithoutCount) {
    startJob({output(qlr_output::kFormatJPEG)});
    {
        std::lock_guard l(port->lock);
        port->gate = true;
    }
    cntlr->addImgInfo(rawPage(dir / "raw" / "bw", 1, 64, 4, std::vector<std::uint8_t>(32, 0xAA)));
    ASSERT_TRUE(runUntil([&] { return cntlr->readImgFileForJobScnCount() == 0; }));
    runOneTurn();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].name(), "Err_JPEGInvalidParam");
    EXPECT_EQ(kdf::find(errors[0].userInfo(), "ErrInfo_SavedFileCount"), nullptr);
    EXPECT_EQ(cntlr->appState(), kAppStateScanEnded);
}

TEST_F(OutputWriterTest, NameTakenJustBeforeTheMoveIsKept) {
    startJob({output(qlr_output::kFormatPNG, "Race")});
    scanPages(2);
    cntlr->storeAppState(kAppStateHandOn);
    bool raced = false;
    out->setBeforePlaceHook([&](const std::string& target) {
        if (raced) return;
        raced = true;
        std::ofstream(target) << "theirs";
    });
    out->maybeSendFileToPlugin();
    runOneTurn();
    EXPECT_EQ(cntlr->appState(), kAppStateComplete);
    EXPECT_EQ(readAll(dest / "Race_001.png"), "theirs");
    EXPECT_EQ(names(current()->writeFilePathArray()), (std::vector<std::string>{"Race_002.png", "Race_003.png"}));
}

// Two outputs: the first moves its files and hands on to 201; the second
// goes to the plug-in, which fails: 205, its code in the failure, and the
// first output's files stay where the user has them.
TEST_F(OutputWriterTest, TwoOutputsSecondPluginFails) {
    auto first = output(qlr_output::kFormatPNG, "First");
    auto second = output(qlr_output::kFormatJPEG, "Second");
    second->setPluginID("Cloud.plugin");
    second->setPluginGUID("guid-1");
    handOff->plugins["Cloud.plugin"] = {};
    startJob({first, second});
    scanPages(3);
    cntlr->storeAppState(kAppStateHandOn);
    out->maybeSendFileToPlugin();
    EXPECT_EQ(cntlr->appState(), kAppStateConvertNext);
    EXPECT_EQ(job->outputIndex(), 1);
    const auto firstFinals = job->jobOutputModel_List()[0]->writeFilePathArray();
    ASSERT_EQ(firstFinals.size(), 3u);

    // State 201 rewrote every page for the second output on its own
    // thread; its step handed them to the plug-in, which failed.
    handOff->result = -3;
    ASSERT_TRUE(runUntil([&] { return cntlr->appState() == kAppStateHandOnError; }));
    ASSERT_EQ(handOff->handed.size(), 1u);
    EXPECT_EQ(names(handOff->handed[0]), (std::vector<std::string>{"Second_001.jpg", "Second_002.jpg", "Second_003.jpg"}));
    // Renamed where they lay: in the writer's own folder, not the user's.
    EXPECT_NE(fs::path(handOff->handed[0][0]).parent_path(), dest);
    EXPECT_EQ(decodeJPEG(readAll(handOff->handed[0][2])).width, 16);
    EXPECT_EQ(handOff->windowFlagDuring, std::vector<bool>{true});
    EXPECT_FALSE(cntlr->isShowedPluginWin());
    // The scan's copy of the job has its own copy of the plug-in setting.
    EXPECT_EQ(handOff->calls.count("execute:Cloud.plugin:" + current()->pluginGUID() + ":delete"), 1u);
    EXPECT_NE(current()->pluginGUID(), "guid-1");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].name(), "Err_NotPossibleContinue");
    const kdf::Value* code = kdf::find(errors[0].userInfo(), "ErrInfo_PluginErrCodeKey");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->toInteger().value_or(0), -3);

    out->releaseWriteFilePathArray(true, true);
    for (const auto& f : firstFinals) EXPECT_TRUE(fs::exists(f)) << f;
    // The files the plug-in did not take are ours and go.
    for (const auto& f : handOff->handed[0]) EXPECT_FALSE(fs::exists(f)) << f;
}

TEST_F(OutputWriterTest, PluginWithoutObjectOrFiles) {
    auto o = output(qlr_output::kFormatPNG);
    o->setPluginID("Gone.plugin");
    startJob({o});
    cntlr->storeAppState(kAppStateHandOn);
    out->maybeSendFileToPlugin(); // no files
    EXPECT_EQ(cntlr->appState(), kAppStateHandOnError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].name(), "Err_NotFoundFile");
}

// A remake never removes a folder the writer did not make (the Pictures
// fallback) nor files it did not write.
TEST_F(OutputWriterTest, RemakeKeepsForeignFolder) {
    startJob({output(qlr_output::kFormatPNG)});
    const auto pictures = dir / "Pictures";
    fs::create_directories(pictures);
    std::ofstream(pictures / "holiday.png") << "photo";
    current()->setTmpDirForSendPlugin(pictures.string());
    current()->setWriteFilePathArray({(pictures / "holiday.png").string()});
    const auto made = out->remakeTmpDirForSendPlugin();
    ASSERT_TRUE(made);
    EXPECT_NE(*made, pictures.string());
    EXPECT_TRUE(fs::is_directory(*made));
    EXPECT_EQ(readAll(pictures / "holiday.png"), "photo");
    out->releaseWriteFilePathArray(true, true);
    EXPECT_TRUE(fs::exists(pictures / "holiday.png"));
}

TEST_F(OutputWriterTest, DamagedSettingsAndEmptyPages) {
    struct Case {
        const char* name;
        int format;
        int multi;
        int perFile;
        int bpp, width;
        float dpi;
        const char* key;
        std::size_t listed;
    } cases[] = {
        {"format 7", 7, 0, 0, 8, 16, 200, "Err_UnknownError", 0},
        {"zero dpi", qlr_output::kFormatPNG, 0, 0, 8, 16, 0, "Err_UnknownError", 0},
        // Grouping of 0 pages is clamped to 1: every page starts a file.
        {"pdf group 0", qlr_output::kFormatPDF, 1, 0, 8, 16, 200, "", 3},
        {"pdf group 2", qlr_output::kFormatPDF, 1, 2, 8, 16, 200, "", 2},
        {"tiff one file", qlr_output::kFormatTIFF, 0, 0, 8, 16, 200, "", 1},
    };
    for (const auto& c : cases) {
        auto o = output(c.format);
        o->setFileOp_MultiType_PDF(c.multi);
        o->setMultiPageNum_PDF(c.perFile);
        o->setFileOp_MultiType_TIFF(c.multi);
        startJob({o}, true);
        cntlr->storeAppState(kAppStateConvertNext);
        std::vector<std::string> starts;
        for (int f : {qlr_output::kFormatPDF, qlr_output::kFormatTIFF})
            out->setPageFileWriter(f, [&](const qlr_output::PageBitmap&, const std::string* path, int index, bool,
                                          const OutputModel&) {
                if (path) {
                    std::ofstream(*path) << index;
                    starts.push_back(*path);
                }
                return true;
            });
        for (int i = 0; i < 3; ++i)
            cntlr->addImgInfo(rawPage(dir / "raw" / std::to_string(i), c.bpp, c.width, 4,
                                      std::vector<std::uint8_t>(64, 9), c.dpi));
        errors.clear();
        // On the main thread here: the state is set at once; the output
        // step that 202 schedules does not run in this loop.
        out->readImgFiles();
        if (*c.key) {
            ASSERT_EQ(errors.size(), 1u) << c.name;
            EXPECT_EQ(errors[0].name(), c.key) << c.name;
            EXPECT_EQ(cntlr->appState(), kAppStateWriteError) << c.name;
        } else {
            EXPECT_TRUE(errors.empty()) << c.name;
            EXPECT_EQ(cntlr->appState(), kAppStateHandOn) << c.name;
        }
        EXPECT_EQ(current()->writeFilePathArray().size(), c.listed) << c.name;
        EXPECT_EQ(starts.size(), c.listed) << c.name;
        cntlr->releaseImgInfoArray(false);
    }
}

// Multi-page TIFF from the page threads: pages that start at random moments
// still land in their group's file in page order.
TEST_F(OutputWriterTest, TiffGroupsFromPageThreadsKeepPageOrder) {
    ASSERT_TRUE(QlrUtilsMethod::createTmpFolder());
    qlr_output::installTIFFWriter(*out);
    auto o = output(qlr_output::kFormatTIFF);
    o->setFileOp_MultiType_TIFF(1);
    o->setMultiPageNum_TIFF(3);
    startJob({o});
    scanPages(20);
    EXPECT_EQ(cntlr->appState(), kAppStateScanFinished);
    EXPECT_TRUE(errors.empty());
    const auto written = current()->writeFilePathArray();
    ASSERT_EQ(written.size(), 7u);
    int next = 0;
    for (std::size_t f = 0; f < written.size(); ++f) {
        const auto pages = readTiffPages(written[f]);
        ASSERT_EQ(pages.size(), f + 1 < written.size() ? 3u : 2u) << f;
        for (const auto& p : pages) {
            EXPECT_TRUE(p.rows == patternRows(8, 16, 4, next * 7)) << "page " << next;
            ++next;
        }
    }
    QlrUtilsMethod::removeTmpFolder();
}

} // namespace

APPTEST_MAIN()
