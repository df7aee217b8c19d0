#include "ui/FrameChange.h"

#include "TempHome.h"

#include <foundation/NotificationCenter.h>

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace {

TEST(FrameChange, PostsOnMoveAndResizeWhileAsked) {
    QWidget window;
    auto* child = new QWidget(&window);
    auto* other = new QWidget(&window);
    window.show();
    std::vector<const void*> senders;
    kdf::ObserverToken token = kdf::NotificationCenter::defaultCenter().addObserver(
        kdui::kViewFrameDidChangeNotification, [&](const kdf::Notification& n) { senders.push_back(n.sender()); });

    child->move(5, 5);
    EXPECT_TRUE(senders.empty()) << "not asked yet";
    kdui::setPostsFrameChangedNotifications(child, true);
    kdui::setPostsFrameChangedNotifications(child, true); // once only
    EXPECT_TRUE(kdui::postsFrameChangedNotifications(child));
    child->move(10, 10);
    child->resize(40, 30);
    other->move(3, 3);
    EXPECT_EQ(senders, (std::vector<const void*>{child, child}));

    kdui::setPostsFrameChangedNotifications(child, false);
    EXPECT_FALSE(kdui::postsFrameChangedNotifications(child));
    child->resize(50, 30);
    EXPECT_EQ(senders.size(), 2u);
    kdui::postFrameDidChange(other);
    EXPECT_EQ(senders.back(), other) << "a post by hand";
}

} // namespace

int main(int argc, char** argv) {
    kdtest::TempHome home;
    home.env().set("QT_QPA_PLATFORM", "offscreen");
    std::filesystem::permissions(home.root() / "run", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
