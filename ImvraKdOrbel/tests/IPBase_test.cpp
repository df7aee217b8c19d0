#include "IPBase.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace Tvk;
using namespace Tvk::Imvra;

namespace {

// Records every call as "name:height" (0 for an empty image); a name listed
// in failOn returns failCode.
class RecordingStage : public CIPBase {
public:
    explicit RecordingStage(std::vector<std::string>& log) : m_log(log) {}
    const char* getName() const override { return "Recording"; }
    int IP(CImg& img) override { return note("IP", img); }
    int IPFirst(CImg& img) override { return note("IPFirst", img); }
    int IPMiddle(CImg& img) override { return note("IPMiddle", img); }
    int IPLast(CImg& img) override { return note("IPLast", img); }
    int setInfo(CImg& img, void*) override { return note("setInfo", img); }
    int setInfoFirst(CImg& img, void*) override { return note("setInfoFirst", img); }
    int setInfoMiddle(CImg& img, void*) override { return note("setInfoMiddle", img); }
    int setInfoLast(CImg& img, void*) override { return note("setInfoLast", img); }

    std::string failOn;
    int failCode = RTN_PAR;

private:
    int note(const char* what, CImg& img) {
        m_log.push_back(std::string(what) + ":" +
                        std::to_string(img.isNull() ? 0 : img.info().lHeight));
        return failOn == what ? failCode : RTN_OK;
    }
    std::vector<std::string>& m_log;
};

CImg Band(int32_t h, uint8_t tag = 1) {
    CImg b;
    if (h > 0) {
        EXPECT_TRUE(b.createImg(4, h, 8, 1, 0, 300, 300));
        std::memset(b.info().lpImage, tag, b.info().tImageSize);
    }
    return b;
}

// One call of a band sequence: the state and the band height (0: empty).
struct Step {
    int state;
    int32_t height;
};

std::vector<std::string> Drive(int mode, const std::vector<Step>& steps) {
    std::vector<std::string> log;
    CIPController<RecordingStage> c;
    c.setStage(new RecordingStage(log), mode);
    for (const Step& s : steps) {
        CImg img = Band(s.height);
        int r = RTN_OK;
        switch (s.state) {
        case IMAGE_WHOLE:
            r = c.IPComplete(img, nullptr);
            break;
        case IMAGE_FIRST:
            c.setFirst();
            r = c.IPMiddle(img, nullptr);
            break;
        case IMAGE_MIDDLE:
            r = c.IPMiddle(img, nullptr);
            break;
        case IMAGE_LAST:
            r = c.IPLast(img, nullptr);
            break;
        }
        EXPECT_EQ(r, RTN_OK);
    }
    EXPECT_TRUE(c.first());
    EXPECT_TRUE(c.bands().empty());
    return log;
}

using Calls = std::vector<std::string>;

} // namespace

TEST(CIPController, BandSequencesByMode) {
    struct Case {
        const char* what;
        int mode;
        std::vector<Step> steps;
        Calls expect;
    };
    const Case cases[] = {
        {"whole image", 0, {{IMAGE_WHOLE, 5}}, {"setInfo:5", "IP:5"}},
        {"three bands, mode 0",
         0,
         {{IMAGE_FIRST, 3}, {IMAGE_MIDDLE, 2}, {IMAGE_LAST, 1}},
         {"setInfoFirst:3", "IPFirst:3", "setInfoMiddle:2", "IPMiddle:2", "setInfoLast:1",
          "IPLast:1"}},
        {"empty last band skipped in mode 0",
         0,
         {{IMAGE_FIRST, 3}, {IMAGE_LAST, 0}},
         {"setInfoFirst:3", "IPFirst:3"}},
        {"empty last band passed in mode 2",
         2,
         {{IMAGE_FIRST, 3}, {IMAGE_LAST, 0}},
         {"setInfoFirst:3", "IPFirst:3", "setInfoLast:0", "IPLast:0"}},
        {"empty last band passed in mode 3",
         3,
         {{IMAGE_FIRST, 3}, {IMAGE_LAST, 0}},
         {"setInfoFirst:3", "IPFirst:3", "setInfoLast:0", "IPLast:0"}},
        {"mode 4 runs once on the joined page",
         4,
         {{IMAGE_FIRST, 3}, {IMAGE_MIDDLE, 2}, {IMAGE_LAST, 0}},
         {"setInfo:5", "IP:5"}},
        {"empty middle bands skipped, first waits for a band",
         0,
         {{IMAGE_FIRST, 0}, {IMAGE_MIDDLE, 0}, {IMAGE_MIDDLE, 2}, {IMAGE_LAST, 1}},
         {"setInfoFirst:2", "IPFirst:2", "setInfoLast:1", "IPLast:1"}},
        {"last band without a first is the whole page",
         2,
         {{IMAGE_FIRST, 0}, {IMAGE_LAST, 4}},
         {"setInfo:4", "IP:4"}},
        {"mode 4 page of empty bands gives an empty image",
         4,
         {{IMAGE_FIRST, 0}, {IMAGE_LAST, 0}},
         {"setInfo:0", "IP:0"}},
        {"mode 4 drops bands of a page without a last band",
         4,
         {{IMAGE_FIRST, 3}, {IMAGE_MIDDLE, 2}, {IMAGE_FIRST, 4}, {IMAGE_LAST, 1}},
         {"setInfo:5", "IP:5"}},
        {"two pages in a row restart at the first band",
         0,
         {{IMAGE_FIRST, 3}, {IMAGE_LAST, 1}, {IMAGE_FIRST, 2}, {IMAGE_LAST, 2}},
         {"setInfoFirst:3", "IPFirst:3", "setInfoLast:1", "IPLast:1", "setInfoFirst:2", "IPFirst:2",
          "setInfoLast:2", "IPLast:2"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Drive(c.mode, c.steps), c.expect) << c.what;
}

TEST(CIPController, Mode4HandsEmptyBandsOnAndTheJoinedPageAtTheEnd) {
    std::vector<std::string> log;
    CIPController<RecordingStage> c;
    c.setStage(new RecordingStage(log), IPMODE_WHOLE_PAGE);
    CImg a = Band(3, 7), b = Band(2, 8), last;
    c.setFirst();
    EXPECT_EQ(c.IPMiddle(a, nullptr), RTN_OK);
    EXPECT_TRUE(a.isNull());
    EXPECT_EQ(c.IPMiddle(b, nullptr), RTN_OK);
    EXPECT_EQ(c.IPLast(last, nullptr), RTN_OK);
    ASSERT_EQ(last.info().lHeight, 5);
    EXPECT_EQ(last.info().lpImage[0], 7);
    EXPECT_EQ(last.info().lpImage[4 * 4], 8);
}

TEST(CIPController, ErrorsAndPageReset) {
    std::vector<std::string> log;
    CIPController<RecordingStage> c;
    auto* stage = new RecordingStage(log);
    c.setStage(stage, IPMODE_BAND);

    // An error at the first band still clears first.
    stage->failOn = "IPFirst";
    CImg a = Band(3);
    c.setFirst();
    EXPECT_EQ(c.IPMiddle(a, nullptr), RTN_PAR);
    EXPECT_FALSE(c.first());
    CImg b = Band(2);
    EXPECT_EQ(c.IPMiddle(b, nullptr), RTN_OK);
    EXPECT_EQ(log.back(), "IPMiddle:2");

    // A refused setting stops the call; the page still ends.
    stage->failOn = "setInfoLast";
    CImg d = Band(1);
    EXPECT_EQ(c.IPLast(d, nullptr), RTN_PAR);
    EXPECT_EQ(log.back(), "setInfoLast:1");
    EXPECT_TRUE(c.first());
}

TEST(CIPController, Mode4PushFailureGivesItsCode) {
    std::vector<std::string> log;
    CIPController<RecordingStage> c;
    c.setStage(new RecordingStage(log), IPMODE_WHOLE_PAGE);
    CImg a = Band(3);
    c.setFirst();
    ASSERT_EQ(c.IPMiddle(a, nullptr), RTN_OK);
    CImg wide;
    ASSERT_TRUE(wide.createImg(6, 2, 8, 1, 0, 300, 300));
    EXPECT_EQ(c.IPMiddle(wide, nullptr), RTN_PAR);
    EXPECT_FALSE(wide.isNull()); // the band stays with the caller
    EXPECT_TRUE(c.bands().empty());

    c.setFirst();
    CImg b = Band(3);
    ASSERT_EQ(c.IPMiddle(b, nullptr), RTN_OK);
    CImg wideLast;
    ASSERT_TRUE(wideLast.createImg(6, 2, 8, 1, 0, 300, 300));
    EXPECT_EQ(c.IPLast(wideLast, nullptr), RTN_PAR);
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(c.first());
    EXPECT_TRUE(c.bands().empty());
}

TEST(CIPController, NoStageAndClear) {
    CIPController<RecordingStage> c;
    CImg a = Band(2);
    EXPECT_EQ(c.IPComplete(a, nullptr), RTN_MEM);
    c.clear();
    std::vector<std::string> log;
    c.setStage(new RecordingStage(log), IPMODE_WHOLE_PAGE);
    c.setFirst();
    ASSERT_EQ(c.IPMiddle(a, nullptr), RTN_OK);
    c.clear();
    EXPECT_EQ(c.stage(), nullptr);
    EXPECT_TRUE(c.bands().empty());
}

namespace {
class Doubler : public CIPSameOnEveryBand {
public:
    const char* getName() const override { return "Doubler"; }
    int setInfo(CImg&, void*) override { return RTN_OK; }
    int setInfoFirst(CImg& i, void* p) override { return setInfo(i, p); }
    int setInfoMiddle(CImg&, void*) override { return RTN_OK; }
    int setInfoLast(CImg&, void*) override { return RTN_OK; }

protected:
    int process(CImg& img) override {
        for (uint32_t i = 0; i < img.info().tImageSize; ++i) img.info().lpImage[i] *= 2;
        return RTN_OK;
    }
};
} // namespace

TEST(CIPController, SameOnEveryBandStage) {
    CIPController<CIPBase> c;
    c.setStage(new Doubler, IPMODE_BAND);
    CImg a = Band(2, 3), b = Band(1, 5);
    c.setFirst();
    ASSERT_EQ(c.IPMiddle(a, nullptr), RTN_OK);
    ASSERT_EQ(c.IPLast(b, nullptr), RTN_OK);
    EXPECT_EQ(a.info().lpImage[0], 6);
    EXPECT_EQ(b.info().lpImage[0], 10);
}
