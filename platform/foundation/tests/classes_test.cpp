#include <foundation/Bundle.h>
#include <foundation/Object.h>

#include "TempHome.h"
#include "TestNamed.h"

#include <gtest/gtest.h>

using namespace kdf;

namespace {

class MainOwn : public TestNamed {
public:
    std::string which() const override { return "main"; }
};

std::string whichOf(const Class& cls) {
    auto object = cls.createAs<TestNamed>();
    return object ? object->which() : "none";
}

// One fixture: bundles stay loaded for the process's life, so the cases
// run in one order.
TEST(Classes, EachBundleAnswersItsOwnClassesAndTheProgramsComeFirst) {
    auto a = Bundle::atPath(KD_CLASSES_A);
    auto b = Bundle::atPath(KD_CLASSES_B);
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(a->isLoaded());
    EXPECT_FALSE(classFromString("SharedName")); // nothing loaded yet

    ASSERT_TRUE(a->load());
    ASSERT_TRUE(b->load());
    EXPECT_TRUE(a->load()); // once per process
    EXPECT_TRUE(Bundle::atPath(KD_CLASSES_A)->isLoaded());

    struct Case {
        const Bundle* bundle;
        const char* name;
        const char* which;
    };
    const Case cases[] = {
        {a.get(), "SharedName", "A"}, {b.get(), "SharedName", "B"}, {a.get(), "OnlyA", "own A"},
        {b.get(), "OnlyB", "own B"},  {a.get(), "OnlyB", "none"},   {b.get(), "Missing", "none"},
    };
    for (const Case& c : cases) EXPECT_EQ(whichOf(c.bundle->classNamed(c.name)), c.which) << c.name;

    // Searching the process: bundles in load order.
    EXPECT_EQ(whichOf(classFromString("SharedName")), "A");
    EXPECT_EQ(whichOf(classFromString("OnlyB")), "own B");
    EXPECT_FALSE(classFromString("Missing"));

    // The main program's own classes come first.
    registerClass("SharedName", &makeObject<MainOwn>);
    EXPECT_EQ(whichOf(classFromString("SharedName")), "main");
    EXPECT_EQ(whichOf(b->classNamed("SharedName")), "B");
    unregisterClass("SharedName");
    EXPECT_EQ(whichOf(classFromString("SharedName")), "A");

    // The principal class: A names one it has, B one it lacks.
    EXPECT_EQ(whichOf(a->principalClass()), "A");
    EXPECT_FALSE(b->principalClass());
}

TEST(Classes, AFailingFactoryGivesNoObject) {
    auto a = Bundle::atPath(KD_CLASSES_A);
    ASSERT_TRUE(a);
    for (const char* name : {"Throwing", "Nothing"}) {
        Class cls = a->classNamed(name);
        ASSERT_TRUE(cls) << name;
        testing::internal::CaptureStderr();
        EXPECT_EQ(cls.create(), nullptr);
        EXPECT_NE(testing::internal::GetCapturedStderr().find(name), std::string::npos);
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(Class().create(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(Classes, ObjectsThatCannotServeAreSkipped) {
    kdtest::TempHome home;
    // No class list.
    auto plain = Bundle::atPath(KD_TEST_PLUGIN_BUNDLE);
    ASSERT_TRUE(plain);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(plain->load());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("kdf_class_list"), std::string::npos);
    EXPECT_FALSE(plain->isLoaded());
    EXPECT_FALSE(plain->principalClass());

    // Not a shared object; an executable that is missing; none named.
    const auto root = home.root();
    kdtest::TempHome::writeText(root / "Text.bundle/Info.plist",
                                "<plist><dict><key>CFBundleExecutable</key><string>text.so</string>"
                                "<key>NSPrincipalClass</key><string>X</string></dict></plist>");
    kdtest::TempHome::writeText(root / "Text.bundle/text.so", "not an object");
    kdtest::TempHome::writeText(root / "Gone.bundle/Info.plist",
                                "<plist><dict><key>CFBundleExecutable</key><string>gone.so</string></dict></plist>");
    kdtest::TempHome::writeText(root / "Empty.bundle/Info.plist", "<plist><dict/></plist>");
    for (const char* name : {"Text.bundle", "Gone.bundle", "Empty.bundle"}) {
        auto bundle = Bundle::atPath((root / name).string());
        ASSERT_TRUE(bundle) << name;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(bundle->load()) << name;
        EXPECT_FALSE(bundle->principalClass()) << name;
        EXPECT_NE(testing::internal::GetCapturedStderr(), "") << name;
    }
}

} // namespace
