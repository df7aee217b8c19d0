#include "TempHome.h"
#include "foundation/Preferences.h"
#include "foundation/UserDefaults.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>
#include <thread>

using namespace kdf;

namespace {

TEST(UserDefaults, ValuesReachTheFileMergedOverOtherWriters) {
    kdtest::TempHome home;
    ASSERT_TRUE(writePreferencesFile("d", Dictionary{{"Old", Value(1)}, {"Gone", Value(2)}}));
    UserDefaults defaults("d");
    EXPECT_EQ(defaults.integer("Old"), 1);
    EXPECT_EQ(defaults.string("Old"), std::nullopt); // wrong kind: no value
    EXPECT_TRUE(defaults.set("Name", Value("x")));
    EXPECT_TRUE(defaults.set("Ratio", Value(0.5)));
    defaults.remove("Gone");
    // Another process adds a key meanwhile; it is kept.
    ASSERT_TRUE(updatePreferencesFile("d", [](Dictionary& d) {
        d["Theirs"] = Value(true);
        return true;
    }));
    ASSERT_TRUE(defaults.synchronize());
    const Dictionary expected{
        {"Old", Value(1)}, {"Name", Value("x")}, {"Ratio", Value(0.5)}, {"Theirs", Value(true)}};
    EXPECT_EQ(readPreferencesFile("d").values, expected);
    EXPECT_EQ(defaults.dictionaryRepresentation(), expected);
    EXPECT_EQ(defaults.boolean("Theirs"), true);
}

// A damaged domain file reads as empty and is kept aside at the first write.
TEST(UserDefaults, DamagedDomainFileIsKeptAside) {
    kdtest::TempHome home;
    kdtest::TempHome::writeText(home.config() / "bad.plist", "<plist><dict><key>");
    UserDefaults defaults("bad");
    EXPECT_FALSE(defaults.persistentDomain("bad"));
    EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
    defaults.set("K", Value(1));
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("moved"), std::string::npos);
    EXPECT_EQ(readPreferencesFile("bad").values, (Dictionary{{"K", Value(1)}}));
    int aside = 0;
    for (const auto& e : std::filesystem::directory_iterator(home.config()))
        aside += e.path().filename().string().starts_with("bad.plist.unreadable-") &&
                 kdtest::TempHome::readText(e.path()) == "<plist><dict><key>";
    EXPECT_EQ(aside, 1);
}

TEST(UserDefaults, PointerValuesAreRefusedAtOnce) {
    kdtest::TempHome home;
    UserDefaults defaults("d");
    int x = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(defaults.set("P", Value(Array{Value(Pointer{&x})})));
    ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(defaults.object("P"));
    // Later saves still work.
    EXPECT_TRUE(defaults.set("Q", Value(1)));
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(readPreferencesFile("d").values, (Dictionary{{"Q", Value(1)}}));
}

// A burst of changes is one write, made about a second later without any
// call to synchronize.
TEST(UserDefaults, BurstOfChangesIsWrittenOnceSoonAfter) {
    kdtest::TempHome home;
    UserDefaults defaults("burst");
    const std::string file = preferencesFilePath("burst");
    for (int i = 0; i < 100; ++i) defaults.set("Count", Value(i));
    struct stat st;
    EXPECT_NE(::stat(file.c_str(), &st), 0); // not written yet
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::stat(file.c_str(), &st) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    const ino_t first = st.st_ino; // every atomic write makes a new inode
    std::this_thread::sleep_for(UserDefaults::kWriteDelay + std::chrono::milliseconds(300));
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, first);
    EXPECT_EQ(readPreferencesFile("burst").values, (Dictionary{{"Count", Value(99)}}));
}

TEST(UserDefaults, PendingChangesAreWrittenWhenTheObjectEnds) {
    kdtest::TempHome home;
    {
        UserDefaults defaults("end");
        defaults.set("K", Value("v"));
    }
    EXPECT_EQ(readPreferencesFile("end").values, (Dictionary{{"K", Value("v")}}));
}

// Replacing the domain empties the live object and drops its pending
// changes: nothing cleared comes back.
TEST(UserDefaults, ReplacingTheDomainDropsPendingChanges) {
    kdtest::TempHome home;
    ASSERT_TRUE(writePreferencesFile("r", Dictionary{{"Stored", Value(1)}}));
    {
        UserDefaults defaults("r");
        defaults.set("Pending", Value(2));
        UserDefaults other("unrelated");
        ASSERT_TRUE(other.setPersistentDomain(Dictionary{{"New", Value(3)}}, "r"));
        EXPECT_FALSE(defaults.object("Pending")); // replaced through another object
        EXPECT_EQ(defaults.integer("New"), 3);
        defaults.set("Pending", Value(2));
        ASSERT_TRUE(defaults.setPersistentDomain(Dictionary{{"New", Value(3)}}, "r"));
        EXPECT_FALSE(defaults.object("Pending"));
        EXPECT_FALSE(defaults.object("Stored"));
        EXPECT_EQ(defaults.integer("New"), 3);
        EXPECT_EQ(defaults.persistentDomain("r"), (Dictionary{{"New", Value(3)}}));
    }
    EXPECT_EQ(readPreferencesFile("r").values, (Dictionary{{"New", Value(3)}}));

    UserDefaults defaults("r");
    defaults.set("Pending", Value(4));
    ASSERT_TRUE(defaults.removePersistentDomain("r"));
    EXPECT_FALSE(defaults.object("New"));
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(readPreferencesFile("r").state, PreferencesContent::State::Missing);
    EXPECT_FALSE(defaults.persistentDomain("r"));
}

TEST(UserDefaults, GlobalDomainTellsTheMeasurementSystem) {
    kdtest::TempHome home;
    const std::pair<const char*, const char*> rows[] = {
        {"en_US.UTF-8", "Inches"},
        {"de_DE.UTF-8", "Centimeters"},
        {"ja_JP.UTF-8", "Centimeters"},
        {"C", "Centimeters"},
    };
    UserDefaults defaults("g");
    for (const auto& [locale, units] : rows) {
        home.env().set("LC_ALL", std::nullopt);
        home.env().set("LC_MEASUREMENT", locale);
        EXPECT_EQ(defaults.string(kMeasurementUnitsKey), units) << locale;
    }
    // The application's own value wins.
    defaults.set(kMeasurementUnitsKey, Value("Points"));
    EXPECT_EQ(defaults.string(kMeasurementUnitsKey), "Points");
    EXPECT_FALSE(defaults.dictionaryRepresentation().empty());
    defaults.remove(kMeasurementUnitsKey);
    defaults.synchronize();
}

TEST(UserDefaults, WorkerThreadsSetAndSynchronizeTogether) {
    kdtest::TempHome home;
    UserDefaults defaults("w");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                defaults.set(kdtest::keyOf("t", t, i), Value(i));
                if (i % 5 == 0) defaults.synchronize();
                defaults.object("t0_0");
            }
        });
    for (auto& th : threads) th.join();
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(readPreferencesFile("w").values.size(), 100u);
}

} // namespace
