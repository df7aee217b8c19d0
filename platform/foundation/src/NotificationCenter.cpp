#include "foundation/NotificationCenter.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace kdf {

struct ObserverToken::Entry {
    std::string name;
    const void* sender;
    NotificationObserver observer;
    std::atomic<bool> alive{true};
    std::weak_ptr<NotificationCenter::State> center;
};

struct NotificationCenter::State {
    std::mutex mutex;
    std::vector<std::shared_ptr<ObserverToken::Entry>> entries; // registration order

    void erase(const ObserverToken::Entry* entry) {
        std::lock_guard lock(mutex);
        std::erase_if(entries, [&](const auto& e) { return e.get() == entry; });
    }
};

ObserverToken::ObserverToken(ObserverToken&& other) noexcept : entry_(std::move(other.entry_)) {}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
        remove();
        entry_ = std::move(other.entry_);
    }
    return *this;
}

ObserverToken::~ObserverToken() {
    remove();
}

void ObserverToken::remove() {
    if (!entry_) return;
    entry_->alive = false;
    if (auto center = entry_->center.lock()) center->erase(entry_.get());
    entry_.reset();
}

NotificationCenter::NotificationCenter() : state_(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers of static objects may go away after it.
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

ObserverToken NotificationCenter::addObserver(std::string name, NotificationObserver observer,
                                              const void* sender) {
    auto entry = std::make_shared<ObserverToken::Entry>();
    entry->name = std::move(name);
    entry->sender = sender;
    entry->observer = std::move(observer);
    entry->center = state_;
    std::lock_guard lock(state_->mutex);
    state_->entries.push_back(entry);
    return ObserverToken(std::move(entry));
}

void NotificationCenter::post(std::string_view name, const void* sender, const Value* object,
                              Dictionary* userInfo) {
    // The observers of this post are those registered now; the lock is not
    // held while they run.
    std::vector<std::shared_ptr<ObserverToken::Entry>> targets;
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& e : state_->entries)
            if (e->name == name && (!e->sender || e->sender == sender)) targets.push_back(e);
    }
    const Notification note(name, sender, object, userInfo);
    for (const auto& e : targets)
        if (e->alive) e->observer(note);
}

} // namespace kdf
