#include <foundation/NotificationCenter.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace kdf;

namespace {

TEST(NotificationCenter, SenderFilters) {
    const int senderA = 0, senderB = 0;
    struct Case {
        const char* observedName;
        const void* observedSender;
        const char* postedName;
        const void* postedSender;
        bool delivered;
    };
    const Case cases[] = {
        {"Ping", nullptr, "Ping", nullptr, true},   // any sender, none posted
        {"Ping", nullptr, "Ping", &senderA, true},  // any sender
        {"Ping", &senderA, "Ping", &senderA, true}, // that sender
        {"Ping", &senderA, "Ping", &senderB, false},
        {"Ping", &senderA, "Ping", nullptr, false},
        {"Ping", nullptr, "Pong", nullptr, false}, // other name
        {"Ping", nullptr, "ping", nullptr, false}, // names are exact
    };
    for (const Case& c : cases) {
        NotificationCenter center;
        int calls = 0;
        auto token = center.addObserver(c.observedName, [&](const Notification&) { ++calls; }, c.observedSender);
        center.post(c.postedName, c.postedSender);
        EXPECT_EQ(calls, c.delivered ? 1 : 0) << c.observedName << " " << c.postedName;
    }
}

TEST(NotificationCenter, DeliversInRegistrationOrderWithObjectAndSender) {
    NotificationCenter center;
    std::vector<int> order;
    const int sender = 0;
    auto t1 = center.addObserver("N", [&](const Notification& n) {
        ASSERT_NE(n.object(), nullptr);
        EXPECT_EQ(n.object()->toBool(), std::optional<bool>(true));
        EXPECT_EQ(n.sender(), &sender);
        EXPECT_EQ(n.name(), "N");
        EXPECT_EQ(n.userInfo(), nullptr);
        order.push_back(1);
    });
    auto t2 = center.addObserver("N", [&](const Notification&) { order.push_back(2); });
    auto t3 = center.addObserver("N", [&](const Notification&) { order.push_back(3); });
    center.post("N", &sender, Value(true));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(NotificationCenter, ObserverWritesItsAnswerIntoTheUserInfo) {
    NotificationCenter center;
    auto token = center.addObserver("XferReadyNotification", [](const Notification& n) {
        // Check the kinds: the user info comes from other code.
        Dictionary* info = n.userInfo();
        if (!info) return;
        auto it = info->find("Result");
        if (it == info->end()) return;
        if (Dictionary* result = it->second.mutableDictionary()) (*result)["Code"] = 7;
    });
    Dictionary info{{"Result", Dictionary{}}};
    center.post("XferReadyNotification", nullptr, nullptr, &info);
    const Value* code = find(*info["Result"].dictionary(), "Code");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->toInteger(), std::optional<std::int64_t>(7));

    // A "Result" of the wrong kind is left alone.
    Dictionary wrong{{"Result", 3}};
    center.post("XferReadyNotification", nullptr, nullptr, &wrong);
    EXPECT_EQ(wrong["Result"], Value(3));
}

TEST(NotificationCenter, RemovalAndAdditionDuringAPost) {
    NotificationCenter center;
    std::vector<std::string> calls;
    ObserverToken second;
    ObserverToken added;
    auto first = center.addObserver("N", [&](const Notification&) {
        calls.push_back("first");
        second.remove(); // removed during the post: not called afterwards
        if (!added)
            added = center.addObserver("N", [&](const Notification&) { calls.push_back("added"); });
    });
    second = center.addObserver("N", [&](const Notification&) { calls.push_back("second"); });
    center.post("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"first"})); // the one added was not called for this post
    calls.clear();
    center.post("N");
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "added"}));
}

TEST(NotificationCenter, AnObserverMayPostAndRemoveItself) {
    NotificationCenter center;
    std::vector<std::string> calls;
    ObserverToken self;
    auto inner = center.addObserver("Inner", [&](const Notification&) { calls.push_back("inner"); });
    self = center.addObserver("Outer", [&](const Notification&) {
        calls.push_back("outer");
        center.post("Inner");
        self.remove();
    });
    center.post("Outer");
    center.post("Outer");
    EXPECT_EQ(calls, (std::vector<std::string>{"outer", "inner"}));
}

TEST(NotificationCenter, TokenRemovesOnDestructionAndOutlivesTheCenter) {
    int calls = 0;
    ObserverToken outliving;
    {
        NotificationCenter center;
        {
            auto token = center.addObserver("N", [&](const Notification&) { ++calls; });
            center.post("N");
        }
        center.post("N");
        outliving = center.addObserver("N", [&](const Notification&) { ++calls; });
    }
    outliving.remove(); // the centre is gone: nothing to do, no crash
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, ThreadsAddRemoveAndPostAtOnce) {
    NotificationCenter& center = NotificationCenter::defaultCenter();
    std::atomic<int> delivered{0};
    auto steady = center.addObserver("Stress", [&](const Notification&) { ++delivered; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                auto token = center.addObserver("Stress", [](const Notification& n) {
                    if (Dictionary* info = n.userInfo()) (*info)["seen"] = true;
                });
                Dictionary info;
                center.post("Stress", nullptr, nullptr, &info);
                EXPECT_EQ(info.count("seen"), 1u);
                token.remove();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(delivered.load(), 4 * 500);
}

} // namespace
