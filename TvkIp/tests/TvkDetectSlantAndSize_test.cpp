// The detection interface: command protocol, detector states and the size
// gates of the four-corner request.
#include "TvkDetectSlantAndSize.h"

#include "DetectRequestFixture.h"
#include "DetectSize2Duplex.h"
#include "Img2.h"
#include "SideEdgeDark.h"
#include "TestKit.h"
#include "TvkIpError.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A detector that writes what the protocol made it do: I init, B a band
// with an image, b a band without, R results, ~ destruction.
class Probe : public CDetectSlantAndSizeBase {
public:
    explicit Probe(std::string* log, bool bands = true, uint32_t initRc = 0, uint32_t imageRc = 0)
        : m_log(log), m_bands(bands), m_initRc(initRc), m_imageRc(imageRc) {}
    ~Probe() override { *m_log += "~"; }
    bool CanBandProcess() override { return m_bands; }
    uint32_t InitProc(const tagTVKIMAGEINFO*, tagDETECTSLANTSIZEEXBASIC*) override {
        *m_log += "I";
        return m_initRc;
    }
    uint32_t ImageProc(const tagTVKIMAGEINFO* image, tagDETECTSLANTSIZEEXBASIC*) override {
        *m_log += image ? "B" : "b";
        return m_imageRc;
    }
    uint32_t ResultProc(const tagTVKIMAGEINFO*, tagDETECTSLANTSIZEEXBASIC*) override {
        *m_log += "R";
        return 0;
    }

private:
    std::string* m_log;
    bool m_bands;
    uint32_t m_initRc, m_imageRc;
};

tagDETECTSLANTSIZEEXBASIC Basic(uint32_t command, void* handle = nullptr,
                                uint32_t mode = kDssModeOneRadiateEx) {
    tagDETECTSLANTSIZEEXBASIC r{};
    r.cbsize = kDssBasicSize;
    r.dwMode = mode;
    r.pHandle = handle;
    r.dwCommand = command;
    return r;
}

TEST(DetectSlantAndSizeEx, StatesOfTheCommandProtocol) {
    struct Case {
        const char* what;
        std::vector<uint32_t> commands;
        uint32_t initRc, imageRc;
        const char* log;
        uint32_t lastRc;
        int32_t state;
    } cases[] = {
        {"page on a new detector sets it up first", {5}, 0, 0, "IBbR", 0, 5},
        {"a second page gives the results only", {5, 5}, 0, 0, "IBbRR", 0, 5},
        {"page after init", {0, 5}, 0, 0, "IBbR", 0, 5},
        {"bands, then results", {0, 1, 2, 2, 3, 6}, 0, 0, "IBBBBR", 0, 6},
        {"page after bands gives the results", {1, 2, 3, 5}, 0, 0, "BBBR", 0, 5},
        {"results without anything before", {6}, 0, 0, "R", 0, 6},
        {"unknown command", {7}, 0, 0, "", kDssBadRequest, 7},
        {"page after an unknown command", {7, 5}, 0, 0, "R", 0, 5},
        {"failed set-up of a page keeps the new state", {5}, 8, 0, "I", 8, -1},
        {"failed page keeps the state", {0, 5}, 0, 13, "IB", 13, 0},
        {"failed band still moves the state", {0, 1}, 0, 13, "IB", 13, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string log;
        Probe probe(&log, true, c.initRc, c.imageRc);
        const kdtest::TestImage im = kdtest::TestImage::Gray(8, 8);
        uint32_t rc = 0;
        for (uint32_t command : c.commands) {
            tagDETECTSLANTSIZEEXBASIC r = Basic(command, &probe);
            rc = probe.Proc(im.info(), &r);
        }
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(rc, c.lastRc);
        EXPECT_EQ(probe.state(), c.state);
    }
}

TEST(DetectSlantAndSizeEx, EntryRefusals) {
    IpSetLastError(5);
    EXPECT_EQ(DetectSlantAndSizeEx(nullptr, nullptr), kDssBadRequest);
    EXPECT_EQ(IpGetLastError(), 0u);
    const kdtest::TestImage im = kdtest::TestImage::Gray(8, 8);

    // A record shorter than the head and common block is refused for every
    // command, release included, and its detector is left alone.
    for (uint32_t command = 0; command <= 7; ++command) {
        SCOPED_TRACE(command);
        std::string log;
        auto* probe = new Probe(&log);
        tagDETECTSLANTSIZEEXBASIC r = Basic(command, probe);
        r.cbsize = kDssBasicSize - 1;
        EXPECT_EQ(DetectSlantAndSizeEx(im.info(), &r), kDssBadRequest);
        EXPECT_EQ(r.pHandle, probe);
        EXPECT_EQ(log, "");
        EXPECT_EQ(ReleaseSlantSizeExHandle(&r), 0u); // does not look at the size
        EXPECT_EQ(r.pHandle, nullptr);
        EXPECT_EQ(log, "~");
    }

    struct Case {
        const char* what;
        uint32_t command;
        bool withProbe, bands;
        uint32_t mode;
        uint32_t rc;
        const char* log;
        bool handleAfter;
    } cases[] = {
        {"release", 4, true, true, 13, 0, "~", false},
        {"release without a detector", 4, false, true, 13, 0, "", false},
        {"second init", 0, true, true, 13, kDssBadRequest, "", true},
        {"band on a detector without bands", 1, true, false, 13, kDssBadRequest, "", true},
        {"last band on a detector without bands", 3, true, false, 13, kDssBadRequest, "", true},
        {"page on a detector without bands", 5, true, false, 13, 0, "IBbR", true},
        {"band on a new frame detector: made, kept and refused", 1, false, true, 10, kDssBadRequest,
         "", true},
        {"unknown mode", 0, false, true, 9, kDssUnknownMode, "", false},
        {"unknown mode, any command", 5, false, true, 12, kDssUnknownMode, "", false},
        {"the mode of an existing detector is not looked at", 6, true, true, 9, 0, "R", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string log;
        Probe* probe = c.withProbe ? new Probe(&log, c.bands) : nullptr;
        tagDETECTSLANTSIZEEXBASIC r = Basic(c.command, probe, c.mode);
        EXPECT_EQ(DetectSlantAndSizeEx(im.info(), &r), c.rc);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(r.pHandle != nullptr, c.handleAfter);
        ReleaseSlantSizeExHandle(&r);
        EXPECT_EQ(r.pHandle, nullptr);
    }
    EXPECT_EQ(ReleaseSlantSizeExHandle(nullptr), 0u);
}

TEST(DetectSlantAndSizeEx, FirstCallMakesTheFourCornerDetector) {
    const kdtest::TestImage im = kdtest::TestImage::Gray(64, 64, 250);
    // A record that stops after the common block is accepted by the entry;
    // the detector is made and kept, and refuses to start without records.
    Mode13Request m;
    m.req.basic.cbsize = kDssBasicSize;
    EXPECT_EQ(m.run(kDssCmdInit, im.info()), kDssBadRequest);
    ASSERT_NE(m.detector(), nullptr);
    EXPECT_EQ(m.detector()->state(), 0);
    // A band before a successful set-up is refused by the detector.
    EXPECT_EQ(m.run(kDssCmdFirst, im.info()), kDssBadRequest);
    EXPECT_EQ(m.run(kDssCmdRelease, im.info()), 0u);
    EXPECT_EQ(m.req.basic.pHandle, nullptr);

    // Two inits on one record: the second is refused, the first detector
    // stays usable.
    Mode13Request n;
    ASSERT_EQ(n.run(kDssCmdInit, im.info()), 0u);
    auto* first = n.detector();
    EXPECT_EQ(n.run(kDssCmdInit, im.info()), kDssBadRequest);
    EXPECT_EQ(n.detector(), first);
    EXPECT_EQ(n.run(kDssCmdPage, im.info()), 0u);
}

// The way of working that init chose.
enum Way { kSimplex, kDuplex, kBlackBack };

Way WayOf(const CDetectSlantAndSize_OneRadiateEx* d) {
    if (d->m_pSideEdge) return kBlackBack;
    if (d->m_pDuplex) return kDuplex;
    return kSimplex;
}

TEST(DetectSlantAndSizeEx, SizeGatesOfTheFourCornerRequest) {
    const kdtest::TestImage im = kdtest::TestImage::Gray(400, 300, 250);
    struct Case {
        const char* what;
        bool duplex;
        uint32_t request, scanner, scan, setting;
        bool black, carrier;
        uint32_t rc;
        Way way;
        int32_t carrierFlag;
    } cases[] = {
        {"simplex", false, kOneRadiateExSize, kScannerInfoSize, kScanInfoSize, kSettingInfoSize,
         false, false, 0, kSimplex, 0},
        {"black backing", false, kOneRadiateExSize, kScannerInfoSize, kScanInfoSize,
         kSettingInfoSize, true, false, 0, kBlackBack, 0},
        {"black backing wins over duplex", true, kOneRadiateExSize, kScannerInfoSize, kScanInfoSize,
         kSettingInfoSize, true, false, 0, kBlackBack, 0},
        {"scanner record without the backing byte", false, kOneRadiateExSize,
         kScannerInfoBackBlackSize - 1, kScanInfoSize, kSettingInfoSize, true, false, 0, kSimplex,
         0},
        {"scanner record just holding the backing byte", false, kOneRadiateExSize,
         kScannerInfoBackBlackSize, kScanInfoSize, kSettingInfoSize, true, false, 0, kBlackBack, 0},
        {"duplex", true, kOneRadiateExSize, kScannerInfoSize, kScanInfoSize, kSettingInfoSize,
         false, false, 0, kDuplex, 0},
        {"scan record without the carrier-sheet byte", true, kOneRadiateExSize, kScannerInfoSize,
         kScanInfoCarrierSheetSize - 1, kSettingInfoSize, false, true, 0, kDuplex, 0},
        {"carrier-sheet byte read", true, kOneRadiateExSize, kScannerInfoSize,
         kScanInfoCarrierSheetSize, kSettingInfoSize, false, true, 0, kDuplex, 1},
        {"short settings, simplex", false, kOneRadiateExSize, kScannerInfoSize, kScanInfoSize,
         kSettingInfoMinSize - 1, false, false, kIpErrBadArgument, kSimplex, 0},
        {"short settings, duplex", true, kOneRadiateExSize, kScannerInfoSize, kScanInfoSize,
         kSettingInfoMinSize - 1, false, false, kIpErrBadArgument, kDuplex, 0},
        {"short settings, black backing", false, kOneRadiateExSize, kScannerInfoSize, kScanInfoSize,
         kSettingInfoMinSize - 1, true, false, kIpErrBadArgument, kBlackBack, 0},
        {"settings pointer beyond the request is not read", false, kOneRadiateExSettingInfoSize - 1,
         kScannerInfoSize, kScanInfoSize, kSettingInfoMinSize - 1, false, false, 0, kSimplex, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Mode13Request m(c.duplex);
        m.req.basic.cbsize = c.request;
        m.scanner.cbsize = c.scanner;
        m.scanner.bIsBackBlack = c.black;
        m.scan.cbsize = c.scan;
        m.scan.bCarrierSheetMode = c.carrier;
        m.setting.cbsize = c.setting;
        m.scan.pImg = im.info();
        EXPECT_EQ(m.run(kDssCmdInit, im.info()), c.rc);
        ASSERT_NE(m.detector(), nullptr);
        EXPECT_EQ(WayOf(m.detector()), c.way);
        EXPECT_EQ(m.detector()->m_bCarrierSheet, c.carrierFlag);
    }
    // A request without the scan records cannot be set up.
    Mode13Request m;
    m.req.basic.cbsize = kOneRadiateExScanInfoSize - 1;
    EXPECT_EQ(m.run(kDssCmdInit, im.info()), kDssBadRequest);
}

TEST(DetectSlantAndSizeEx, TrimsFromResolutionAndSettings) {
    kdtest::TestImage im = kdtest::TestImage::Gray(400, 300, 250);
    struct Case {
        const char* what;
        bool duplex;
        int32_t shadowID;
        int32_t ydpi;
        int32_t margin2; // revise_margin_front[2]
        int32_t front[4], back[4];
    } cases[] = {
        {"simplex without shadow", false, 0, 300, -1, {11, 11, 11, 22}, {0, 0, 0, 0}},
        {"simplex with shadow", false, 1, 300, -1, {22, 11, 11, 11}, {0, 0, 0, 0}},
        {"simplex, 600 lines an inch", false, 0, 600, -1, {23, 11, 11, 46}, {0, 0, 0, 0}},
        {"a margin of -1 keeps the default", false, 0, 300, -1, {11, 11, 11, 22}, {0, 0, 0, 0}},
        {"a margin replaces the default", false, 0, 300, 5, {11, 11, 5, 22}, {0, 0, 0, 0}},
        {"duplex without shadow", true, 0, 300, -1, {11, 11, 11, 22}, {22, 11, 11, 11}},
        {"duplex with shadow", true, 1, 300, 0, {22, 11, 0, 11}, {11, 11, 11, 22}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        im.info()->lYResolution = c.ydpi;
        Mode13Request m(c.duplex, c.shadowID);
        m.setting.revise_margin_front[2] = c.margin2;
        m.scan.pImg = im.info();
        ASSERT_EQ(m.run(kDssCmdInit, im.info()), 0u);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(m.detector()->m_trimFront[i], c.front[i]) << i;
            EXPECT_EQ(m.detector()->m_trimBack[i], c.back[i]) << i;
        }
    }
}

TEST(DetectSlantAndSizeEx, WholePageOnlyDuplexRefusesBands) {
    const kdtest::TestImage im = kdtest::TestImage::Gray(400, 300, 250);
    for (const uint32_t size : {kSettingInfoProcessFlagSize - 1, kSettingInfoProcessFlagSize}) {
        SCOPED_TRACE(size);
        const bool read = size >= kSettingInfoProcessFlagSize;
        Mode13Request m(true);
        m.setting.cbsize = size;
        m.setting.dwProcessFlag = kProcessWholePageOnly;
        m.scan.pImg = im.info();
        ASSERT_EQ(m.run(kDssCmdInit, im.info()), 0u);
        EXPECT_EQ(m.run(kDssCmdFirst, im.info()), read ? kDssBadRequest : 0u);
        Mode13Request page(true);
        page.setting = m.setting;
        page.scan.pImg = im.info();
        EXPECT_EQ(page.run(kDssCmdPage, im.info()), 0u);
    }
}

} // namespace
