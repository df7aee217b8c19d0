// The PDF writer: the layer's calls, their order and records through a
// recording double; real files through the layer, in page order from the
// page threads, in bounded memory, and nothing left behind by a failure.
#include "CreatePDF.h"
#include "OutputTestSupport.h"
#include "OutputWriter.h"
#include "PdfReadBack.h"

#include "AppMainCntlrFakes.h"

#include <JobModel.h>
#include <OutputModel.h>

#include <foundation/UserFolders.h>

#include <SpawnSelf.h>

#include <sys/resource.h>

#include <cstring>
#include <random>
#include <sstream>

namespace {

using namespace apptest;
using namespace outtest;
using qlr_output::CreatePDF;
using qlr_output::OutputWriter;
using qlr_output::PageBitmap;
using qlr_output::PdfCalls;

// ---- A recording double of the layer's six calls

struct Recorder {
    std::mutex lock;
    std::vector<std::string> calls;
    std::map<std::string, int> answers;               // by call name; 0 otherwise
    std::map<int, std::vector<std::uint8_t>> records; // submode record bytes by id

    int answer(const std::string& name, std::string entry) {
        std::lock_guard l(lock);
        calls.push_back(std::move(entry));
        auto it = answers.find(name);
        return it == answers.end() ? 0 : it->second;
    }
    std::vector<std::string> take() {
        std::lock_guard l(lock);
        return std::exchange(calls, {});
    }
};

Recorder* g_rec = nullptr;

std::string joined(std::initializer_list<long long> values) {
    std::ostringstream s;
    const char* sep = "";
    for (long long v : values) {
        s << sep << v;
        sep = ",";
    }
    return s.str();
}

PdfCalls recordingCalls() {
    PdfCalls c;
    c.changepath = [](const char* p) {
        return g_rec->answer("changepath", std::string("changepath ") + p);
    };
    c.exmodeset = [](int m, int l, int s) {
        return g_rec->answer("exmodeset", "exmodeset " + joined({m, l, s}));
    };
    c.exopen = [](const char* p, int r, int x) {
        return g_rec->answer("exopen", "exopen " + std::string(p) + " " + joined({r, x}));
    };
    c.submodeset = [](int id, const void* record) {
        const auto* b = static_cast<const std::uint8_t*>(record);
        const std::size_t size = id == ZNTX_SUBMODE_PDFA ? 16 : 8;
        {
            std::lock_guard l(g_rec->lock);
            g_rec->records[id].assign(b, b + size);
        }
        return g_rec->answer("submodeset " + std::to_string(id),
                             "submodeset " + std::to_string(id));
    };
    c.spmake = [](const ZNTX_PAGE* p, const int32_t* r) {
        return g_rec->answer("spmake",
                             "spmake " +
                                 joined({p->rowBytes, p->width, p->height, p->xResolution,
                                         p->yResolution, p->kind, p->reserved1, p->reserved2}) +
                                 " region " + joined({r[0], r[1], r[2], r[3]}));
    };
    c.exclose = [](int x) { return g_rec->answer("exclose", "exclose " + std::to_string(x)); };
    return c;
}

PageBitmap bitmap(int bpp, int width, int height, float dpi = 200, std::uint8_t fill = 0) {
    PageBitmap b;
    b.bpp = bpp;
    b.width = width;
    b.height = height;
    b.xRes = b.yRes = dpi;
    b.bytesPerRow = *qlr_output::bytesPerRow64(bpp, width);
    b.data.assign(b.bytesPerRow * std::size_t(height), fill);
    return b;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    char h[4];
    for (auto b : bytes) {
        std::snprintf(h, sizeof h, "%02x", b);
        s += h;
    }
    return s;
}

class CreatePdfTest : public ControllerTest {
protected:
    Recorder rec;
    std::shared_ptr<CreatePDF> pdf;

    void SetUp() override {
        ControllerTest::SetUp();
        g_rec = &rec;
        pdf = std::make_shared<CreatePDF>(*cntlr, recordingCalls());
        pdf->setPrivateFrameworksPath(std::nullopt);
    }
    void TearDown() override {
        pdf.reset();
        g_rec = nullptr;
        ControllerTest::TearDown();
    }
    std::shared_ptr<OutputModel> pdfOutput(int grouping, int perFile) {
        auto o = std::make_shared<OutputModel>();
        o->setFileFormatType(qlr_output::kFormatPDF);
        o->setFileOp_MultiType_PDF(grouping);
        o->setMultiPageNum_PDF(perFile);
        o->setIsAddOCR(false);
        return o;
    }
    std::string keyOfPage(const PageBitmap& b, const std::string* path, int index, bool last,
                          const OutputModel& o) {
        return keyOf([&] { pdf->writeToPDF(b, path, index, last, o); });
    }
};

// What each setting puts into the layer's calls and records.
TEST_F(CreatePdfTest, RecordsFromTheOutputSettings) {
    struct Case {
        const char* name;
        int bpp, height;
        float dpi;
        int compType, compRate;
        bool pdfa, ocr;
        int langType;
        const char* exmodeset;
        const char* exopen;
        const char* pdfaBytes;
        const char* qualityBytes;
        const char* spmake;
    } cases[] = {
        {"bilevel, rate 3, Chinese (Taiwan), PDF/A", 1, 100, 300, 0, 3, true, true, 9,
         "exmodeset 0,4,256", "exopen /o/a.pdf 1,0", "01001000f00300000000000000000000",
         "0100080032000000", "spmake 2,10,100,300,300,33,0,0 region 0,0,10,100"},
        {"gray 70000 rows, rate 0, unknown language", 8, 70000, 150.9f, 1, 0, false, true, 13,
         "exmodeset 2,2,0", "exopen /o/a.pdf 1,0", "01001000f10100000000000000000000",
         "0100080001000000", "spmake 10,10,65535,150,150,8,0,0 region 0,0,10,65535"},
        {"colour, rate 4, recognition off", 24, 3, 72, 7, 4, false, false, 9, "exmodeset 2,0,0",
         "exopen /o/a.pdf 0,0", "01001000f10100000000000000000000", "0100080019000000",
         "spmake 30,10,3,72,72,136,0,0 region 0,0,10,3"},
        {"rate 1, Turkish", 16, 2, 100, 0, 1, false, true, 12, "exmodeset 0,8192,5",
         "exopen /o/a.pdf 1,0", "01001000f10100000000000000000000", "0100080064000000",
         "spmake 20,10,2,100,100,8,0,0 region 0,0,10,2"},
    };
    const std::string path = "/o/a.pdf";
    cntlr->storeAppState(kAppStateConvertNext);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto o = pdfOutput(0, 1);
        o->setFileOp_CompType(c.compType);
        o->setCompRate_PDF(c.compRate);
        o->setIsPDFA(c.pdfa);
        o->setIsAddOCR(c.ocr);
        o->setFileOp_OCRLangType(c.langType);
        PageBitmap b = bitmap(c.bpp, 10, c.height, c.dpi);
        EXPECT_TRUE(pdf->writeToPDF(b, &path, 0, true, *o));
        EXPECT_EQ(rec.take(), (std::vector<std::string>{c.exmodeset, c.exopen, "submodeset 150",
                                                        "submodeset 50", c.spmake, "exclose 0"}));
        EXPECT_EQ(hex(rec.records[150]), c.pdfaBytes);
        EXPECT_EQ(hex(rec.records[50]), c.qualityBytes);
        EXPECT_FALSE(cntlr->isOpenPDF());
    }
}

// Outside a scan: grouping 2 over five pages opens and closes a file for
// pages 0-1 and 2-3; page 4 opens a third, closed by the last-page flag.
// A known frameworks folder is handed on first with a "/".
TEST_F(CreatePdfTest, GroupsOfTwoOutsideAScan) {
    cntlr->storeAppState(kAppStateConvertNext);
    pdf->setPrivateFrameworksPath("/app/Frameworks");
    auto o = pdfOutput(1, 2);
    const std::string paths[] = {"/o/0.pdf", "/o/1.pdf", "/o/2.pdf", "/o/3.pdf", "/o/4.pdf"};
    const PageBitmap b = bitmap(8, 4, 4);
    std::vector<bool> openAfter;
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(pdf->writeToPDF(b, &paths[i], i, i == 4, *o));
        openAfter.push_back(cntlr->isOpenPDF());
    }
    EXPECT_EQ(openAfter, (std::vector<bool>{true, false, true, false, false}));
    std::vector<std::string> opens, order;
    for (const auto& c : rec.take()) {
        const std::string name = c.substr(0, c.find(' '));
        if (name == "exopen") opens.push_back(c);
        if (name != "submodeset") order.push_back(name);
    }
    EXPECT_EQ(opens, (std::vector<std::string>{"exopen /o/0.pdf 0,0", "exopen /o/2.pdf 0,0",
                                               "exopen /o/4.pdf 0,0"}));
    const std::vector<std::string> file = {"changepath", "exmodeset", "exopen", "spmake"};
    std::vector<std::string> expected;
    for (int f = 0; f < 3; ++f) {
        expected.insert(expected.end(), file.begin(), file.end());
        if (f < 2) expected.push_back("spmake");
        expected.push_back("exclose");
    }
    EXPECT_EQ(order, expected);

    // An empty folder is not handed on.
    pdf->setPrivateFrameworksPath(std::string());
    EXPECT_TRUE(pdf->writeToPDF(b, &paths[0], 0, true, *o));
    EXPECT_EQ(rec.take().front(), "exmodeset 0,0,0");
}

// While scanning, a one-file output stays open after the page flagged last
// until the scan's end closes it; a group's last page closes even then.
TEST_F(CreatePdfTest, ScanLeavesOneFileOpenUntilItsEnd) {
    auto job = std::make_shared<JobModel>();
    auto o = pdfOutput(0, 1);
    job->setJobOutputModel_List({o});
    cntlr->setTmpCopyJobModel_Scan(job);
    auto current = AppMainCntlr::curOutputModelOfJobModel(cntlr->tmpCopyJobModel_Scan().get());
    const std::string path = "/o/scan.pdf";
    const PageBitmap b = bitmap(1, 16, 4);
    for (int state : {kAppStateScanReady, kAppStateScanEnded}) {
        cntlr->storeAppState(state);
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(pdf->writeToPDF(b, &path, i, i == 2, *current));
        EXPECT_TRUE(cntlr->isOpenPDF());
        EXPECT_EQ(rec.take().back(), "spmake 2,16,4,200,200,33,0,0 region 0,0,16,4");

        // Another format: the scan's end leaves the layer alone.
        current->setFileFormatType(qlr_output::kFormatTIFF);
        EXPECT_EQ(pdf->checkClosePDF(), 0);
        EXPECT_TRUE(rec.take().empty());
        current->setFileFormatType(qlr_output::kFormatPDF);
        EXPECT_EQ(pdf->checkClosePDF(), 0);
        EXPECT_EQ(rec.take(), std::vector<std::string>{"exclose 0"});
        EXPECT_FALSE(cntlr->isOpenPDF());
        // Nothing open: nothing to close.
        EXPECT_EQ(pdf->closePDF(), 0);
        EXPECT_TRUE(rec.take().empty());
    }

    current->setFileOp_MultiType_PDF(1);
    current->setMultiPageNum_PDF(3);
    cntlr->storeAppState(kAppStateScanning);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(pdf->writeToPDF(b, &path, i, false, *current));
    const auto calls = rec.take();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "exclose 0"), 1);
    EXPECT_EQ(calls[calls.size() - 6], "exclose 0"); // after page 2, before page 3's file
    EXPECT_TRUE(cntlr->isOpenPDF());
}

// Each call's failure raises its key; a file the layer did not open is
// never written into, one without pages is given up.
TEST_F(CreatePdfTest, EachFailureRaisesItsKey) {
    struct Case {
        const char* call;
        int answer;
        const char* key;
        bool openAfter;
        std::vector<std::string> calls;
    } cases[] = {
        {"changepath", -1, "Err_PDFInitFault", false, {"changepath"}},
        {"exmodeset", -1004, "Err_LoadModuleFailed", false, {"changepath", "exmodeset"}},
        {"exmodeset", -5, "Err_PDFInitFault", false, {"changepath", "exmodeset"}},
        {"exopen", -2, "Err_FileCreateFailed", false, {"changepath", "exmodeset", "exopen"}},
        // A positive answer is no open file: pages added now would be lost
        // while the scan reported them written.
        {"exopen",
         3,
         "Err_FileCreateFailed",
         false,
         {"changepath", "exmodeset", "exopen", "exclose"}},
        {"submodeset 150",
         1,
         "Err_PDFInitFault",
         false,
         {"changepath", "exmodeset", "exopen", "submodeset", "exclose"}},
        {"submodeset 50",
         -1,
         "Err_PDFInitFault",
         false,
         {"changepath", "exmodeset", "exopen", "submodeset", "submodeset", "exclose"}},
        {"spmake",
         -3,
         "Err_FileWriteFailed",
         false,
         {"changepath", "exmodeset", "exopen", "submodeset", "submodeset", "spmake", "exclose"}},
        // A failed close keeps the flag: the file is not complete.
        {"exclose",
         -3,
         "Err_PDFNotOpen",
         true,
         {"changepath", "exmodeset", "exopen", "submodeset", "submodeset", "spmake", "exclose"}},
        {"exclose",
         2,
         "Err_PDFNotOpen",
         true,
         {"changepath", "exmodeset", "exopen", "submodeset", "submodeset", "spmake", "exclose"}},
    };
    cntlr->storeAppState(kAppStateConvertNext);
    pdf->setPrivateFrameworksPath("/fw");
    const std::string path = "/o/f.pdf";
    auto o = pdfOutput(0, 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.answer));
        cntlr->setIsOpenPDF(false);
        rec.answers = {{c.call, c.answer}};
        EXPECT_EQ(keyOfPage(bitmap(24, 3, 3), &path, 0, true, *o), c.key);
        EXPECT_EQ(cntlr->isOpenPDF(), c.openAfter);
        std::vector<std::string> names;
        for (const auto& call : rec.take()) names.push_back(call.substr(0, call.find(' ')));
        EXPECT_EQ(names, c.calls);
    }

    // A page that starts no file goes to the open one; with none open the
    // layer refuses it.
    rec.answers = {{"spmake", ZNTX_ERR_STATE}};
    cntlr->setIsOpenPDF(false);
    EXPECT_EQ(keyOfPage(bitmap(8, 3, 3), nullptr, 1, false, *o), "Err_FileWriteFailed");
    EXPECT_EQ(rec.take().size(), 1u);
    // A first page without a path, or pixels shorter than their rows.
    rec.answers.clear();
    EXPECT_EQ(keyOfPage(bitmap(8, 3, 3), nullptr, 0, false, *o), "Err_MakeFileNameFailed");
    PageBitmap shortPage = bitmap(8, 3, 3);
    shortPage.data.resize(8);
    EXPECT_EQ(keyOfPage(shortPage, &path, 0, false, *o), "Err_UnknownError");
    EXPECT_TRUE(rec.take().empty());
}

// The controller dropped its flag while a file of ours was open in the
// layer (a page list dropped mid-file): the next file still opens.
TEST_F(CreatePdfTest, ForgottenOpenFileDoesNotBlockTheNext) {
    cntlr->storeAppState(kAppStateScanning);
    const std::string path = "/o/f.pdf";
    auto o = pdfOutput(0, 1);
    EXPECT_TRUE(pdf->writeToPDF(bitmap(8, 2, 2), &path, 0, false, *o));
    cntlr->setIsOpenPDF(false);
    rec.take();
    EXPECT_TRUE(pdf->writeToPDF(bitmap(8, 2, 2), &path, 0, false, *o));
    const auto calls = rec.take();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "exclose 0");
    EXPECT_EQ(calls[2], "exopen /o/f.pdf 0,0");
    EXPECT_TRUE(cntlr->isOpenPDF());
}

// ---- Real files through the layer

// Every folder of page files the layer made under the user's temporary
// folder and left behind.
std::vector<fs::path> leftPageFolders() {
    std::vector<fs::path> left;
    const auto base = kdf::userTemporaryFolder();
    if (!base) return left;
    for (const auto& e : fs::directory_iterator(*base))
        if (e.path().filename().string().rfind("pdf-pages.", 0) == 0) left.push_back(e.path());
    return left;
}

class PdfFilesTest : public ControllerTest {
protected:
    fs::path dir;
    std::shared_ptr<OutputWriter> out;
    std::shared_ptr<CreatePDF> pdf;
    std::shared_ptr<JobModel> job;
    std::mutex errorsLock;
    std::vector<std::string> errors;

    void SetUp() override {
        ControllerTest::SetUp();
        dir = scratch(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir / "raw");
        out = std::make_shared<OutputWriter>(*cntlr);
        out->setErrorPresenter([this](const kdf::Exception& e) {
            std::lock_guard l(errorsLock);
            errors.push_back(e.name());
        });
        pdf = std::make_shared<CreatePDF>(*cntlr);
        qlr_output::installPdfWriter(*out, pdf);
    }
    void TearDown() override {
        runUntil([&] { return cntlr->readImgFileForJobScnCount() == 0; });
        out.reset();
        pdf.reset();
        ControllerTest::TearDown();
        fs::remove_all(dir);
    }
    std::shared_ptr<OutputModel> startJob(int grouping, int perFile, int compType,
                                          bool editsFirst) {
        auto o = std::make_shared<OutputModel>();
        o->setFileFormatType(qlr_output::kFormatPDF);
        o->setFileOp_MultiType_PDF(grouping);
        o->setMultiPageNum_PDF(perFile);
        o->setFileOp_CompType(compType);
        o->setIsAddOCR(false);
        auto j = std::make_shared<JobModel>();
        j->setIsImageProcess(editsFirst);
        j->setJobOutputModel_List({o});
        cntlr->setTmpCopyJobModel_Scan(j);
        job = cntlr->tmpCopyJobModel_Scan();
        cntlr->initImgInfoArray();
        return AppMainCntlr::curOutputModelOfJobModel(job.get());
    }
    // A colour page of red-green-blue pixels: red, with the page's index in
    // green.
    std::shared_ptr<ImageInfoModel> colourPage(int index, int width = 24, int height = 8,
                                               float dpi = 150) {
        std::vector<std::uint8_t> rgb(std::size_t(width) * std::size_t(height) * 3, 0);
        for (std::size_t p = 0; p < rgb.size(); p += 3)
            rgb[p] = 0xFF, rgb[p + 1] = std::uint8_t(index * 20);
        return rawPage(dir / "raw" / std::to_string(index), 24, width, height, rgb, dpi);
    }
};

// Written outside a scan (the output's own thread): seven pages in groups
// of three are files of 3, 3 and 1 pages, checked clean, red still red
// after the hand-off in blue-green-red order.
TEST_F(PdfFilesTest, SevenPagesInGroupsOfThree) {
    if (!pdftest::HaveQpdf()) GTEST_SKIP() << "no qpdf";
    auto output = startJob(1, 3, 0, true);
    cntlr->storeAppState(kAppStateConvertNext);
    for (int i = 0; i < 7; ++i) cntlr->addImgInfo(colourPage(i));
    out->readImgFiles();
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(cntlr->isOpenPDF());
    const auto files = output->writeFilePathArray();
    ASSERT_EQ(files.size(), 3u);
    const std::size_t sizes[] = {3, 3, 1};
    int index = 0;
    for (std::size_t f = 0; f < files.size(); ++f) {
        EXPECT_TRUE(pdftest::QpdfCheck(files[f])) << files[f];
        const auto pages = pdftest::ReadPages(files[f]);
        ASSERT_EQ(pages.size(), sizes[f]);
        for (const auto& p : pages) {
            EXPECT_EQ(p.filter, "/FlateDecode");
            EXPECT_NEAR(p.width, 24 * 72.0 / 150, 0.01);
            ASSERT_GE(p.decoded.size(), 3u);
            EXPECT_EQ(std::uint8_t(p.decoded[0]), 0xFF) << index;
            EXPECT_EQ(std::uint8_t(p.decoded[1]), index * 20) << index;
            EXPECT_EQ(std::uint8_t(p.decoded[2]), 0) << index;
            ++index;
        }
    }
    EXPECT_TRUE(leftPageFolders().empty());
}

// Compression by kind and mode, and an A4 page at 300 dpi in points.
TEST_F(PdfFilesTest, EncodingByKindAndMode) {
    if (!pdftest::HaveQpdf()) GTEST_SKIP() << "no qpdf";
    struct Case {
        int bpp, compType, width, height;
        float dpi;
        const char* filter;
    } cases[] = {
        {1, 0, 2480, 3508, 300, "/CCITTFaxDecode"}, {1, 1, 64, 25, 300, "/CCITTFaxDecode"},
        {8, 0, 50, 25, 300, "/FlateDecode"},        {8, 1, 50, 25, 300, "/DCTDecode"},
        {24, 1, 50, 25, 300, "/DCTDecode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.filter) + " " + std::to_string(c.bpp));
        auto output = startJob(0, 1, c.compType, true);
        cntlr->storeAppState(kAppStateConvertNext);
        if (c.bpp == 24) {
            cntlr->addImgInfo(colourPage(0, c.width, c.height, c.dpi));
        } else {
            const std::size_t row = *qlr_output::bytesPerRow64(c.bpp, c.width);
            cntlr->addImgInfo(rawPage(dir / "raw" / "0", c.bpp, c.width, c.height,
                                      std::vector<std::uint8_t>(row * std::size_t(c.height), 0xC8),
                                      c.dpi));
        }
        out->readImgFiles();
        EXPECT_TRUE(errors.empty());
        const auto files = output->writeFilePathArray();
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(pdftest::QpdfCheck(files[0]));
        const auto pages = pdftest::ReadPages(files[0]);
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].filter, c.filter);
        EXPECT_EQ(pages[0].pixelsWide, c.width);
        EXPECT_EQ(pages[0].bits, c.bpp == 1 ? 1 : 8);
        EXPECT_NEAR(pages[0].width, c.width * 72.0 / c.dpi, 1);
        EXPECT_NEAR(pages[0].height, c.height * 72.0 / c.dpi, 1);
        if (c.bpp == 24) {
            std::uint8_t first[3] = {};
            ASSERT_TRUE(pdftest::FirstJpegPixel(pages[0].raw, first));
            EXPECT_GE(first[0], 235);
            EXPECT_LE(first[2], 20);
        }
        cntlr->releaseImgInfoArray(false);
    }
}

// Twelve pages of a scan reach the writer from their page threads after
// random pauses; the one file closed at the scan's end has them in order.
TEST_F(PdfFilesTest, ScanPagesComeOutInOrder) {
    if (!pdftest::HaveQpdf()) GTEST_SKIP() << "no qpdf";
    class Jittering : public AppOutputWriterPort {
    public:
        explicit Jittering(std::shared_ptr<OutputWriter> w) : writer(std::move(w)) {}
        std::shared_ptr<OutputWriter> writer;
        std::mutex lock;
        std::mt19937 random{58};
        void readImgFileForJobScn(const PageParam& p) override {
            int ms = 0;
            {
                std::lock_guard l(lock);
                ms = int(random() % 6);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            writer->readImgFileForJobScn(p);
        }
        void checkClosePDF() override { writer->checkClosePDF(); }
    };
    auto port = std::make_shared<Jittering>(out);
    cntlr->setOutputWriterPort(port);
    auto output = startJob(0, 1, 0, false);
    cntlr->storeAppState(kAppStateScanning);
    for (int i = 0; i < 12; ++i) cntlr->addImgInfo(colourPage(i));
    ASSERT_TRUE(runUntil([&] { return cntlr->readImgFileForJobScnCount() == 0; }));
    runOneTurn();
    EXPECT_TRUE(errors.empty());
    // The scan's end, as the main window reports it.
    EXPECT_TRUE(cntlr->isOpenPDF());
    cntlr->outputWriterPort()->checkClosePDF();
    EXPECT_FALSE(cntlr->isOpenPDF());
    const auto files = output->writeFilePathArray();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(pdftest::QpdfCheck(files[0]));
    const auto pages = pdftest::ReadPages(files[0]);
    ASSERT_EQ(pages.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        ASSERT_GE(pages[std::size_t(i)].decoded.size(), 3u);
        EXPECT_EQ(std::uint8_t(pages[std::size_t(i)].decoded[1]), i * 20) << i;
    }
    EXPECT_TRUE(leftPageFolders().empty());
}

// A close that can't place its file (its folder went away) raises, leaves
// nothing at the target nor any page file, and the earlier file stays
// whole.
TEST_F(PdfFilesTest, FailedCloseLeavesNothing) {
    if (!pdftest::HaveQpdf()) GTEST_SKIP() << "no qpdf";
    cntlr->storeAppState(kAppStateConvertNext);
    auto o = startJob(1, 2, 0, true);
    const fs::path folder = dir / "out";
    fs::create_directories(folder);
    const std::string first = (folder / "first.pdf").string();
    const std::string second = (folder / "second.pdf").string();
    PageBitmap b = bitmap(8, 16, 16, 72, 0x40);
    EXPECT_TRUE(pdf->writeToPDF(b, &first, 0, false, *o));
    EXPECT_TRUE(pdf->writeToPDF(b, nullptr, 1, false, *o));
    EXPECT_TRUE(pdf->writeToPDF(b, &second, 2, false, *o));
    const fs::path moved = dir / "moved";
    fs::rename(folder, moved);
    EXPECT_EQ(keyOf([&] { pdf->writeToPDF(b, nullptr, 3, true, *o); }), "Err_PDFNotOpen");
    EXPECT_TRUE(cntlr->isOpenPDF());
    EXPECT_FALSE(fs::exists(second));
    EXPECT_FALSE(fs::exists(folder));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(moved))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"first.pdf"});
    EXPECT_TRUE(pdftest::QpdfCheck((moved / "first.pdf").string()));
    EXPECT_EQ(pdftest::ReadPages((moved / "first.pdf").string()).size(), 2u);
    EXPECT_TRUE(leftPageFolders().empty());

    // The layer let go of the failed file: the next one opens and closes.
    const std::string third = (moved / "third.pdf").string();
    EXPECT_TRUE(pdf->writeToPDF(b, &third, 0, true, *o));
    EXPECT_FALSE(cntlr->isOpenPDF());
    EXPECT_EQ(pdftest::ReadPages(third).size(), 1u);
}

// ---- Memory: a long one-file output in a process of its own

constexpr const char* kLongCaseVariable = "KD_CREATE_PDF_LONG_CASE";
// 20 x 26 MB = 520 MB of pixels, well over the bound were they all kept.
constexpr int kLongPages = 20;

// In the child: colour A4 pages into one file at mode 0.
int runLongDocument(const char* target) {
    AppMainCntlr cntlr;
    cntlr.storeAppState(kAppStateConvertNext);
    CreatePDF pdf(cntlr);
    OutputModel output;
    output.setFileFormatType(qlr_output::kFormatPDF);
    output.setIsAddOCR(false);
    PageBitmap page = bitmap(24, 2480, 3508, 300);
    const std::string path = target;
    try {
        for (int i = 0; i < kLongPages; ++i) {
            std::fill(page.data.begin(), page.data.end(), std::uint8_t(i * 4));
            pdf.writeToPDF(page, &path, i, i + 1 == kLongPages, output);
        }
    } catch (const kdf::Exception& e) {
        std::fprintf(stderr, "%s\n", e.name().c_str());
        return 1;
    }
    return cntlr.isOpenPDF() ? 1 : 0;
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(CreatePdfMemory, LongDocumentInBoundedMemory) {
    if (!pdftest::HaveQpdf()) GTEST_SKIP() << "no qpdf";
    const fs::path dir = scratch("long");
    const std::string target = (dir / "long.pdf").string();
    EXPECT_EQ(
        kdtest::runSelf({std::string(kLongCaseVariable) + "=" + target}, std::chrono::seconds(300)),
        std::optional<int>(0));
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 300 * 1024) << "peak KB";
    EXPECT_TRUE(pdftest::QpdfCheck(target));
    EXPECT_EQ(pdftest::ReadPages(target).size(), std::size_t(kLongPages));
    fs::remove_all(dir);
}
#endif

} // namespace

int main(int argc, char** argv) {
    if (const char* target = std::getenv(kLongCaseVariable)) {
        const std::string path = target;
        ::unsetenv(kLongCaseVariable);
        return runLongDocument(path.c_str());
    }
    kdtest::TempHome home;
    home.env().set("QT_QPA_PLATFORM", std::string("offscreen"));
    std::filesystem::permissions(home.root() / "run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
