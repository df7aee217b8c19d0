// Final names: the rule with a fixed clock and the numbering that keeps
// names free.
#include "FileNaming.h"

#include <OutputModel.h>

#include <foundation/Exception.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

using namespace qlr_output;
namespace fs = std::filesystem;

// 9 December 2026, 10:07:03 local time.
std::chrono::system_clock::time_point fixedTime() {
    std::tm tm {};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = 9;
    tm.tm_hour = 10;
    tm.tm_min = 7;
    tm.tm_sec = 3;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

struct Rule {
    std::string free;
    bool use = true, date = false;
    int dateType = 0;
    bool number = false;
    int digitType = 2, start = 1, format = 0;
};

std::shared_ptr<OutputModel> model(const Rule& r) {
    auto m = std::make_shared<OutputModel>();
    m->setFreeFileName(r.free);
    m->setIsUseFNSetting(r.use);
    m->setIsAddDateTime(r.date);
    m->setDateTimeType(r.dateType);
    m->setIsAddNumber(r.number);
    m->setDigitType(r.digitType);
    m->setStartNum(r.start);
    m->setFileFormatType(r.format);
    return m;
}

class FileNames : public ::testing::Test {
protected:
    void SetUp() override { setNameClock(fixedTime); }
    void TearDown() override { setNameClock(nullptr); }
};

TEST_F(FileNames, RuleTable) {
    struct Case {
        Rule rule;
        const char* name;
    } cases[] = {
        {{"Invoice", true, true, 0, true, 2, 1, 0}, "Invoice20261209100703_001.pdf"},
        {{"Scan", true, false, 0, true, 3, 7, 1}, "Scan_0007.tiff"},
        {{"A", true, true, 1, false, 0, 0, 2}, "A12092026100703.jpg"},
        {{"A", true, true, 2, false, 0, 0, 3}, "A09122026100703.png"},
        // Rule off: the free name and the extension whatever the flags.
        {{"Plain", false, true, 0, true, 2, 5, 0}, "Plain.pdf"},
        {{"", true, true, 0, false, 0, 0, 0}, "20261209100703.pdf"},
        // Damaged stored values: digits clamped to 1..6.
        {{"D", true, false, 0, true, 9, 42, 0}, "D_000042.pdf"},
        {{"D", true, false, 0, true, -4, 3, 0}, "D_3.pdf"},
    };
    for (const auto& c : cases) EXPECT_EQ(currentFileName(model(c.rule).get()), c.name) << c.name;
    EXPECT_EQ(currentFileName(nullptr), "");
}

class Numbering : public FileNames {
protected:
    fs::path dir;
    void SetUp() override {
        FileNames::SetUp();
        dir = fs::path(std::getenv("KD_TEST_TMP") ? std::getenv("KD_TEST_TMP") : "/tmp") /
              ("names-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void touch(const std::string& name) { std::ofstream(dir / name) << "x"; }
    // Names of a batch, each "moved" (created) before the next is chosen.
    std::vector<std::string> batch(const OutputModel& out, int files) {
        FinalNameBatch names;
        std::vector<std::string> got;
        for (int i = 0; i < files; ++i) {
            auto p = names.checkFilePath((dir / currentFileName(&out)).string(), out);
            if (!p) {
                got.push_back("-");
                continue;
            }
            touch(fs::path(*p).filename().string());
            got.push_back(fs::path(*p).filename().string());
        }
        return got;
    }
};

TEST_F(Numbering, CounterBatchesAndClashes) {
    auto scan = model({"Scan", true, false, 0, true, 2, 1, 0});
    EXPECT_EQ(batch(*scan, 3), (std::vector<std::string>{"Scan_001.pdf", "Scan_002.pdf", "Scan_003.pdf"}));
    fs::remove_all(dir);
    fs::create_directories(dir);
    touch("Scan_002.pdf");
    EXPECT_EQ(batch(*scan, 3), (std::vector<std::string>{"Scan_001.pdf", "Scan_003.pdf", "Scan_004.pdf"}));
}

TEST_F(Numbering, NoCounter) {
    auto report = model({"Report", true, false, 0, false, 2, 1, 0});
    struct Case {
        std::vector<std::string> existing;
        const char* next;
    } cases[] = {{{}, "Report.pdf"},
                 {{"Report.pdf"}, "Report_001.pdf"},
                 {{"Report.pdf", "Report_001.pdf"}, "Report_002.pdf"}};
    for (const auto& c : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const auto& e : c.existing) touch(e);
        EXPECT_EQ(batch(*report, 1).front(), c.next);
    }
    // The number steps up keeping its digits, widening past all nines.
    const std::pair<const char*, const char*> steps[] = {
        {"Report_099.pdf", "Report_100.pdf"}, {"Report_999.pdf", "Report_1000.pdf"}, {"Report_7.pdf", "Report_8.pdf"}};
    for (auto [from, to] : steps) {
        auto p = checkPathAndAddNumStrForPath((dir / from).string(), true, "Report");
        ASSERT_TRUE(p);
        EXPECT_EQ(fs::path(*p).filename(), to);
    }
    // A free name that itself ends in digits after "_" has no number.
    EXPECT_EQ(numberInPath((dir / "Q_12.pdf").string(), "Q_12"), -1);
    EXPECT_EQ(numberInPath((dir / "Q_12_003.pdf").string(), "Q_12"), 3);
    EXPECT_FALSE(isAddedNumInString("Q_12.pdf", "Q_12"));
    EXPECT_TRUE(isAddedNumInString("Q_12_003.pdf", "Q_12"));
    EXPECT_EQ(numberInPath((dir / "nothere" / "Q_1.pdf").string(), "Q"), -1);
    EXPECT_FALSE(changeNumInPath((dir / "nothere" / "Q_1.pdf").string(), 2, "Q"));
    EXPECT_EQ(fs::path(*changeNumInPath((dir / "Q_01.pdf").string(), 100, "Q")).filename(), "Q_100.pdf");
}

std::string checkKey(const std::string& name, bool isModel, bool use, bool date, bool number) {
    try {
        checkFileNameRule(name, isModel, use, date, number);
    } catch (const kdf::Exception& e) {
        return e.name();
    }
    return "";
}

TEST(FileNameRule, CheckTable) {
    struct Case {
        std::string name;
        bool isModel, use, date, number;
        const char* key;
    } cases[] = {
        {"", true, false, true, true, "Err_NonFileNameForJobScan"},
        {"  .hidden ", true, true, true, false, "Err_HeadCharDotFileName"},
        {"", true, true, false, true, "Err_NonFileNameOnlyNum"},
        {"", true, true, false, false, "Err_NonFileName"},
        {"a/b", true, true, false, false, "Err_InValidFileName"},
        {"", true, true, true, false, ""},
        {"Scan", true, false, false, false, ""},
        // The dialog's rule counts as on whatever the model says.
        {"", false, false, false, true, "Err_NonFileNameOnlyNum"},
        {"", false, false, true, false, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(checkKey(c.name, c.isModel, c.use, c.date, c.number), c.key) << "'" << c.name << "'";
}

TEST(FileNameRule, StartNumberClamp) {
    struct Case {
        std::string text;
        int digits, value;
    } cases[] = {{"000", 3, 1},   {"99", 2, 99},   {"345", 2, 99},          {"7", 4, 7},
                 {"", 3, 1},      {"x", 3, 1},     {"99999999999999999999", 6, 999999},
                 {"\xd9\xa4\xd9\xa2", 3, 42}, {"12", 9, 12}};
    // "\xd9\xa4\xd9\xa2": the Arabic-Indic digits four and two.
    for (const auto& c : cases) EXPECT_EQ(clampStartNumber(c.text, c.digits), c.value) << c.text;
    EXPECT_EQ(paddedNumber(1, 3), "001");
    EXPECT_EQ(paddedNumber(1234, 3), "1234");
}

} // namespace
