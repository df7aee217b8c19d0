// The page list: pages written in index order, the counters, the page
// thread count, the raw-file clean-up and the one cancel per scan.
#include "AppMainCntlrFakes.h"

#include "QlrUtilsMethod.h"

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <numeric>
#include <random>
#include <set>

namespace {

using namespace apptest;
using Log = std::vector<std::string>;
namespace fs = std::filesystem;

class AppPageList : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        auto job = std::make_shared<JobModel>();
        job->setIsImageProcess(false); // pages go to writing
        cntlr->setTmpCopyJobModel_Scan(job);
        cntlr->initImgInfoArray();
        log.take();
    }
    static std::shared_ptr<ImageInfoModel> page(const std::string& path = {}) {
        auto p = std::make_shared<ImageInfoModel>();
        p->setImgInfo_TmpImagePath(path);
        return p;
    }
    bool waitThreadsDone() {
        return runUntil([&] { return cntlr->readImgFileForJobScnCount() == 0; });
    }
};

// Page threads that take random times still write in page order; the scan
// counts as written exactly once, after the last page.
TEST_F(AppPageList, WrittenInIndexOrderAndFinishedOnce) {
    constexpr int kPages = 20;
    std::mutex lock;
    std::vector<int> order;
    std::vector<std::pair<int, bool>> answers; // (written count, answer)
    std::mt19937 random(48);
    std::vector<int> delays;
    for (int i = 0; i < kPages; ++i) delays.push_back(int(random() % 6));
    writer->onPage = [&](const PageParam& p) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delays[std::size_t(p.index)]));
        const bool done = cntlr->isFinScanAndWritedFile(false, p.index);
        std::lock_guard g(lock);
        order.push_back(p.index);
        answers.emplace_back(p.index + 1, done);
    };
    for (int i = 0; i < kPages; ++i) cntlr->addImgInfo(page());
    const bool atEnd = cntlr->isFinScanAndWritedFile(true, -1);
    ASSERT_TRUE(waitThreadsDone());

    std::vector<int> want(kPages);
    std::iota(want.begin(), want.end(), 0);
    EXPECT_EQ(order, want);
    int yes = atEnd ? 1 : 0;
    for (const auto& [count, answer] : answers) {
        if (!answer) continue;
        ++yes;
        EXPECT_EQ(count, kPages);
    }
    EXPECT_EQ(yes, 1);
    EXPECT_EQ(cntlr->countWritedFile(), kPages);
}

// The thread count includes a page the moment addImgInfo returns.
TEST_F(AppPageList, ThreadCountedBeforeItStarts) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    writer->onPage = [&](const PageParam&) {
        std::unique_lock l(m);
        cv.wait_for(l, std::chrono::seconds(10), [&] { return release; });
    };
    cntlr->addImgInfo(page());
    EXPECT_EQ(cntlr->readImgFileForJobScnCount(), 1);
    cntlr->addImgInfo(page());
    EXPECT_EQ(cntlr->readImgFileForJobScnCount(), 2);
    {
        std::lock_guard l(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(waitThreadsDone());
    EXPECT_EQ(log.count("write:0") + log.count("write:1"), 2u);
}

// Releasing the list while pages wait for their turn: they give up, the
// list's lock stays usable, later pages are dropped.
TEST_F(AppPageList, ReleaseWhilePagesWait) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    std::atomic<bool> firstRunning{false};
    writer->onPage = [&](const PageParam& p) {
        if (p.index != 0) return;
        firstRunning = true;
        std::unique_lock l(m);
        cv.wait_for(l, std::chrono::seconds(10), [&] { return release; });
    };
    for (int i = 0; i < 5; ++i) cntlr->addImgInfo(page());
    ASSERT_TRUE(runUntil([&] { return firstRunning.load(); }));
    cntlr->releaseImgInfoArray(false);
    {
        std::lock_guard l(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(waitThreadsDone());
    EXPECT_EQ(log.count("write:0"), 1u);
    for (int i = 1; i < 5; ++i) EXPECT_EQ(log.count("write:" + std::to_string(i)), 0u) << i;

    cntlr->addImgInfo(page());
    EXPECT_EQ(cntlr->countOfImgInfoDict(), 0);
    EXPECT_EQ(cntlr->readImgFileForJobScnCount(), 0);
    EXPECT_FALSE(cntlr->tmpCopyJobModel_Scan());
    EXPECT_EQ(cntlr->preDisplayIndex(), -1);
}

TEST_F(AppPageList, LookupsAndCounters) {
    for (int i = 0; i < 3; ++i) cntlr->addImgInfo(page("p" + std::to_string(i)));
    ASSERT_TRUE(waitThreadsDone());
    for (auto [index, found] : {std::pair{-1, false}, {0, true}, {2, true}, {3, false}, {1 << 30, false}}) {
        auto p = cntlr->imgInfoAtIndex(index);
        EXPECT_EQ(bool(p), found) << index;
        if (p) {
            EXPECT_EQ(p->imgInfo_TmpImagePath(), "p" + std::to_string(index));
        }
    }

    cntlr->clearIsFinScanAndWritedFile();
    struct Step {
        bool fin;
        int index;
        bool answer;
        int written;
        bool flag;
    };
    for (const Step& s : {Step{false, 0, false, 1, false}, Step{true, -1, false, 1, true},
                          Step{false, 2, true, 3, true}, Step{false, 1, false, 2, true},
                          Step{false, -1, false, 2, false}, Step{true, -1, false, 2, true},
                          Step{false, 2, true, 3, true}}) {
        EXPECT_EQ(cntlr->isFinScanAndWritedFile(s.fin, s.index), s.answer) << s.index;
        EXPECT_EQ(cntlr->countWritedFile(), s.written);
        EXPECT_EQ(cntlr->isFinScanLastIndex(), s.flag);
    }
    cntlr->clearIsFinScan();
    EXPECT_FALSE(cntlr->isFinScanLastIndex());
    EXPECT_EQ(cntlr->countWritedFile(), 3);
    cntlr->clearIsFinScanAndWritedFile();
    EXPECT_EQ(cntlr->countWritedFile(), 0);
}

// Pages of a job that edits them first only reach the preview.
TEST_F(AppPageList, EditedJobsOnlyShowPages) {
    cntlr->tmpCopyJobModel_Scan()->setIsImageProcess(true);
    cntlr->addImgInfo(page());
    cntlr->addImgInfo(nullptr);
    cntlr->tmpCopyJobModel_Scan()->setIsImageProcess(false);
    cntlr->setIsErrInFinalOutput(true);
    cntlr->addImgInfo(page());
    EXPECT_EQ(preview->shown, (std::vector<int>{0, 1}));
    EXPECT_EQ(cntlr->readImgFileForJobScnCount(), 0);
    EXPECT_EQ(cntlr->countOfImgInfoDict(), 2);
}

TEST_F(AppPageList, DisusedRawFilesAndDroppedPages) {
    ASSERT_TRUE(QlrUtilsMethod::createTmpFolder());
    const auto folder = QlrUtilsMethod::createAndTmpImgFolderPath();
    ASSERT_TRUE(folder);
    auto touch = [&](const std::string& name) { std::ofstream(fs::path(*folder) / name) << "x"; };
    auto names = [&] {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(*folder)) out.insert(e.path().filename().string());
        return out;
    };
    cntlr->tmpCopyJobModel_Scan()->setIsImageProcess(true);
    for (int i = 0; i < 4; ++i) {
        touch("tmpImg_" + std::to_string(i));
        cntlr->addImgInfo(page(*folder + "/tmpImg_" + std::to_string(i)));
    }
    for (const char* other : {"tmpImg_9", "notes.txt", "scan.tiff", "old_tmpImg"}) touch(other);

    // Without a write cancel the list stays; unused raw files go.
    cntlr->removeImgInfoByIndexOver(1);
    EXPECT_EQ(cntlr->countOfImgInfoDict(), 4);
    EXPECT_EQ(names(), (std::set<std::string>{"tmpImg_0", "tmpImg_1", "tmpImg_2", "tmpImg_3", "notes.txt",
                                              "scan.tiff"}));
    EXPECT_EQ(log.count("renew"), 1u);

    cntlr->setIsWriteFileCancel(true);
    cntlr->removeImgInfoByIndexOver(-1);
    EXPECT_EQ(cntlr->countOfImgInfoDict(), 4);
    cntlr->removeImgInfoByIndexOver(1);
    EXPECT_EQ(cntlr->countOfImgInfoDict(), 2);
    EXPECT_EQ(names(), (std::set<std::string>{"tmpImg_0", "tmpImg_1", "notes.txt", "scan.tiff"}));
    EXPECT_EQ(log.count("renew"), 2u);
}

// Cancels reported by several threads during one scan reach the main
// thread once; in the ready and scanning states only once the source was
// told; outside the scan never.
TEST_F(AppPageList, OneCancelReachesTheMainThread) {
    struct Case {
        int state;
        int threads;
        std::size_t reached;
    };
    for (const Case& c : {Case{102, 3, 1}, Case{150, 2, 1}, Case{100, 3, 0}, Case{101, 1, 0}, Case{0, 2, 0},
                          Case{200, 2, 0}}) {
        cntlr->setIsInvalidScanCancelOnMain(false);
        cntlr->setIsWriteFileCancel(false);
        cntlr->storeAppState(c.state);
        log.take();
        std::atomic<int> done{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < c.threads; ++i)
            threads.emplace_back([&] {
                cntlr->scanCancelOnMainFromDeviveCntlr();
                ++done;
            });
        EXPECT_TRUE(runUntil([&] { return done.load() == c.threads; }));
        for (auto& t : threads) t.join();
        EXPECT_EQ(log.count("cancelOnMain"), c.reached) << c.state;
        EXPECT_EQ(cntlr->isWriteFileCancel(), c.reached == 1) << c.state;
        EXPECT_EQ(cntlr->isInvalidScanCancelOnMain(), c.reached == 1) << c.state;
    }
}

} // namespace

APPTEST_MAIN()
