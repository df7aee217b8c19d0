// Menus built from key lists and the view-animation descriptions and rate
// limit.
#include "AppBundleFixture.h"
#include "AppMainCntlrUIKit.h"

#include <foundation/RunLoop.h>
#include <ui/ViewTag.h>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QWidget>

#include <filesystem>

namespace {

kdf::Array listOf(std::initializer_list<kdf::Value> values) { return kdf::Array(values); }

struct Seen {
    std::vector<int> tags;
};

class Menus : public ::testing::Test {
protected:
    void SetUp() override {
        bundle.writeStrings("en", {{"Menu_Scan", "Scan"}, {"Menu_Save", "Save"}, {"Menu_Mail", "Mail"}});
    }
    std::vector<int> tags() const {
        std::vector<int> out;
        for (QAction* a : menu.actions()) out.push_back(a->isSeparator() ? -1 : kdui::tag(a));
        return out;
    }
    std::vector<QString> titles() const {
        std::vector<QString> out;
        for (QAction* a : menu.actions()) out.push_back(a->isSeparator() ? QString("---") : a->text());
        return out;
    }

    modeltest::AppBundleFixture bundle;
    QMenu menu;
    QObject target;
    std::vector<int> triggered;
    std::function<void(QAction*)> action = [this](QAction* a) { triggered.push_back(kdui::tag(a)); };
};

TEST_F(Menus, TagsFollowTheRunningIndexAndExplicitNumbers) {
    const int base = 2 * 65536;
    const kdf::Array list = listOf({"Menu_Scan", kdf::Value(listOf({"Menu_Save", 10})), "Menu_Mail"});
    AppMainCntlrUIKit::setMenuItemStringList(&menu, &list, &target, action, 2, true);
    EXPECT_EQ(tags(), (std::vector<int>{base + 0, base + 10, base + 11}));
    EXPECT_EQ(titles(), (std::vector<QString>{"Scan", "Save", "Mail"}));
    for (QAction* a : menu.actions()) EXPECT_TRUE(a->shortcut().isEmpty());

    menu.actions()[1]->trigger();
    EXPECT_EQ(triggered, (std::vector<int>{base + 10}));
}

TEST_F(Menus, SeparatorsCountAndInertItemsDoNothing) {
    const kdf::Array list = listOf({"Menu_Scan", "separatorItem",
                                    kdf::Value(listOf({"Menu_Save", 5, true})), "Missing_Key", kdf::Value(42)});
    AppMainCntlrUIKit::setMenuItemStringList(&menu, &list, &target, action, 1, true);
    // A separator takes index 1; the unknown key shows as itself; an element
    // that is no text adds nothing but still counts.
    EXPECT_EQ(tags(), (std::vector<int>{65536 + 0, -1, 65536 + 5, 65536 + 6}));
    EXPECT_EQ(titles(), (std::vector<QString>{"Scan", "---", "Save", "Missing_Key"}));
    QAction* inert = menu.actions()[2];
    EXPECT_FALSE(inert->isEnabled());
    inert->trigger();
    EXPECT_TRUE(triggered.empty());

    // Without keys the texts are the titles and "separatorItem" is a title too.
    AppMainCntlrUIKit::setMenuItemStringList(&menu, &list, &target, action, 0, false);
    EXPECT_EQ(titles(), (std::vector<QString>{"Menu_Scan", "separatorItem", "Menu_Save", "Missing_Key"}));
    EXPECT_EQ(tags(), (std::vector<int>{0, 1, 5, 6}));
}

TEST_F(Menus, MissingArgumentsLeaveTheMenuAlone) {
    menu.addAction("kept");
    const kdf::Array list = listOf({"Menu_Scan"});
    AppMainCntlrUIKit::setMenuItemStringList(nullptr, &list, &target, action, 0, true);
    AppMainCntlrUIKit::setMenuItemStringList(&menu, nullptr, &target, action, 0, true);
    AppMainCntlrUIKit::setMenuItemStringList(&menu, &list, nullptr, action, 0, true);
    AppMainCntlrUIKit::setMenuItemStringList(&menu, &list, &target, nullptr, 0, true);
    EXPECT_EQ(titles(), (std::vector<QString>{"kept"}));
}

TEST(Animations, AtMostOneEvery0_7SecondsOnTheSteadyClock) {
    kdf::TestClock clock;
    // Whatever an earlier test left: start from an accepted animation.
    clock.advance(kdf::Seconds(10));
    ASSERT_TRUE(AppMainCntlrUIKit::isValidAnimation());
    clock.advance(kdf::Seconds(0.5));
    EXPECT_FALSE(AppMainCntlrUIKit::isValidAnimation());
    clock.advance(kdf::Seconds(0.3));  // 0.8 s after the first
    EXPECT_TRUE(AppMainCntlrUIKit::isValidAnimation());
    EXPECT_FALSE(AppMainCntlrUIKit::isValidAnimation());
    clock.advance(kdf::Seconds(0.7));
    EXPECT_TRUE(AppMainCntlrUIKit::isValidAnimation());
}

TEST(Animations, Descriptions) {
    QWidget view;
    const QRect from(0, 0, 100, 50), to(20, 10, 200, 80);
    const kdui::ViewAnimation move = AppMainCntlrUIKit::viewAnimInfo(&view, from, to);
    EXPECT_EQ(move.target, &view);
    EXPECT_EQ(move.startFrame, from);
    EXPECT_EQ(move.endFrame, to);
    EXPECT_EQ(move.effect, kdui::ViewAnimation::Effect::None);

    const kdui::ViewAnimation in = AppMainCntlrUIKit::fadeInOutInfo(true, &view);
    EXPECT_EQ(in.target, &view);
    EXPECT_EQ(in.effect, kdui::ViewAnimation::Effect::FadeIn);
    EXPECT_FALSE(in.startFrame);
    EXPECT_EQ(AppMainCntlrUIKit::fadeInOutInfo(false, &view).effect, kdui::ViewAnimation::Effect::FadeOut);

    auto* gone = new QWidget;
    const kdui::ViewAnimation late = AppMainCntlrUIKit::fadeInOutInfo(false, gone);
    delete gone;
    EXPECT_TRUE(late.target.isNull());
}

} // namespace

int main(int argc, char** argv) {
    kdtest::TempHome home;
    home.env().set("QT_QPA_PLATFORM", std::string("offscreen"));
    std::filesystem::permissions(home.root() / "run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
