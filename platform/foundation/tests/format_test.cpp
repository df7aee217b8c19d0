#include "foundation/Exception.h"
#include "foundation/Format.h"
#include "foundation/Uuid.h"

#include <gtest/gtest.h>

#include <set>

using namespace kdf;

namespace {

TEST(FormatLocalized, SubstitutesTypedArguments) {
    struct Row {
        const char* format;
        std::vector<FormatArg> args;
        const char* expected;
    };
    const Row rows[] = {
        {"Error %d occurred", {std::int64_t(-5)}, "Error -5 occurred"},
        {"%u of %ld", {std::int64_t(-1), std::int64_t(1) << 40}, "4294967295 of 1099511627776"},
        {"%lu", {std::uint64_t(18446744073709551615u)}, "18446744073709551615"},
        {"%@ and %s", {std::string("one"), std::string("two")}, "one and two"},
        {"%@ pages", {std::int64_t(3)}, "3 pages"},
        {"%f", {2.5}, "2.500000"},
        {"%.1f MB", {1.25}, "1.2 MB"},
        {"%.0f%%", {99.6}, "100%"},
        {"%.2f", {std::int64_t(7)}, "7.00"},
        {"%2$@ before %1$@", {std::string("a"), std::string("b")}, "b before a"},
        {"100%% done", {}, "100% done"},
        // Without a matching argument the conversion stays as text.
        {"%d and %d", {std::int64_t(1)}, "1 and %d"},
        {"%@", {}, "%@"},
        {"%3$@", {std::string("a")}, "%3$@"},
        {"%d", {std::string("text")}, "%d"},
        {"%s", {std::int64_t(1)}, "%s"},
        // Unknown conversions and a lone percent are plain text.
        {"%x %n %", {std::int64_t(1)}, "%x %n %"},
        {"%.3d", {std::int64_t(1)}, "%.3d"},
        {"", {}, ""},
    };
    for (const auto& r : rows) EXPECT_EQ(formatLocalized(r.format, r.args), r.expected) << r.format;
    EXPECT_EQ(formatLocalized("%@ %d", {std::string("x"), std::int64_t(2)}), "x 2");
}

TEST(Uuid, UpperCaseAndNew) {
    // 8-4-4-4-12 upper-case hex digits, version 4, variant 10xx.
    auto wellFormed = [](const std::string& id) {
        if (id.size() != 36 || id[14] != '4' ||
            std::string("89AB").find(id[19]) == std::string::npos)
            return false;
        for (std::size_t i = 0; i < id.size(); ++i) {
            bool dash = i == 8 || i == 13 || i == 18 || i == 23;
            if (dash ? id[i] != '-'
                     : std::string("0123456789ABCDEF").find(id[i]) == std::string::npos)
                return false;
        }
        return true;
    };
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        std::string id = newUuidString();
        EXPECT_TRUE(wellFormed(id)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(Exception, CarriesNameReasonAndUserInfo) {
    try {
        throw Exception("Err_NotPossibleContinue", "plug-in failed",
                        Dictionary{{"ErrInfo_PluginErrCodeKey", Value(12)}});
    } catch (const std::exception& e) {
        auto* named = dynamic_cast<const Exception*>(&e);
        ASSERT_NE(named, nullptr);
        EXPECT_EQ(named->name(), "Err_NotPossibleContinue");
        EXPECT_EQ(named->reason(), "plug-in failed");
        EXPECT_EQ(named->userInfo().at("ErrInfo_PluginErrCodeKey").toInteger(), 12);
        EXPECT_STREQ(e.what(), "Err_NotPossibleContinue: plug-in failed");
    }
    EXPECT_STREQ(Exception(kMallocExceptionName).what(), kMallocExceptionName);
}

} // namespace
