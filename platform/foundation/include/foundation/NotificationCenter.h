// The notification centre: observers register for a name (optionally for
// one sender) and are called synchronously, on the posting thread, in the
// order they registered.
#pragma once

#include "foundation/Value.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kdf {

// Posted when the application is about to end.
inline constexpr const char* kApplicationWillTerminateNotification =
    "NSApplicationWillTerminateNotification";

class Notification {
public:
    Notification(std::string_view name, const void* sender, const Value* object, Dictionary* userInfo)
        : name_(name), sender_(sender), object_(object), userInfo_(userInfo) {}

    std::string_view name() const { return name_; }
    // Identity of the poster, for filtering only; may be null.
    const void* sender() const { return sender_; }
    // The object value; null when the post had none.
    const Value* object() const { return object_; }
    // The poster's user info, by reference, so an observer can write its
    // answer into it (the poster reads it after the post); null when none.
    // It comes from other code: check the kinds you read.
    Dictionary* userInfo() const { return userInfo_; }

private:
    std::string_view name_;
    const void* sender_;
    const Value* object_;
    Dictionary* userInfo_;
};

using NotificationObserver = std::function<void(const Notification&)>;

class NotificationCenter;

// Keeps an observer registered. Once it is removed (or the token is
// destroyed) no post calls it again, also not a post already under way; a
// call that another thread had already begun may still be running.
class ObserverToken {
public:
    ObserverToken() = default;
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ~ObserverToken();

    void remove();
    explicit operator bool() const { return entry_ != nullptr; }

    struct Entry;

private:
    friend class NotificationCenter;
    explicit ObserverToken(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
    std::shared_ptr<Entry> entry_;
};

// Adding, removing and posting are safe from any thread; no lock is held
// while observers run, so an observer may post, add and remove.
class NotificationCenter {
public:
    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    static NotificationCenter& defaultCenter();

    // Observe name; with a sender, only that sender's posts. An observer
    // added during a post is not called for that post.
    [[nodiscard]] ObserverToken addObserver(std::string name, NotificationObserver observer,
                                            const void* sender = nullptr);

    // Calls the observers of name (and of this sender) before it returns.
    // object may be null; userInfo, when given, is the poster's own
    // dictionary, which observers may write into.
    void post(std::string_view name, const void* sender = nullptr, const Value* object = nullptr,
              Dictionary* userInfo = nullptr);
    void post(std::string_view name, const void* sender, const Value& object, Dictionary* userInfo = nullptr) {
        post(name, sender, &object, userInfo);
    }

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace kdf
