#include "foundation/UserDefaults.h"

#include "foundation/Bundle.h"
#include "foundation/File.h"
#include "foundation/Preferences.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <langinfo.h>
#include <locale.h>

namespace kdf {

namespace {

// Every live defaults object, so that replacing a domain through any of them
// empties all that hold it.
struct LiveObjects {
    std::mutex mutex;
    std::set<UserDefaults*> objects;
};

LiveObjects& liveObjects() {
    static LiveObjects* live = new LiveObjects; // outlives every static object
    return *live;
}

std::string territoryOf(const char* locale) {
    std::string name = locale ? locale : "";
    name = name.substr(0, name.find_first_of(".@"));
    auto underscore = name.find('_');
    return underscore == std::string::npos ? std::string() : name.substr(underscore + 1);
}

bool metricMeasurement() {
    const char* name = nullptr;
    for (const char* var : {"LC_ALL", "LC_MEASUREMENT", "LANG"})
        if (const char* v = std::getenv(var); v && *v) {
            name = v;
            break;
        }
    // A locale object of our own: the process's global locale (which a host
    // program may have set) stays untouched.
    if (locale_t loc = ::newlocale(LC_MEASUREMENT_MASK, name ? name : "C", nullptr)) {
        // glibc: 1 metric, 2 US customary.
        int system = static_cast<int>(*::nl_langinfo_l(_NL_MEASUREMENT_MEASUREMENT, loc));
        ::freelocale(loc);
        return system != 2;
    }
    // Locale not installed: the countries that measure in inches.
    std::string territory = territoryOf(name);
    return !(territory == "US" || territory == "LR" || territory == "MM");
}

} // namespace

Dictionary globalDomain() {
    return Dictionary{
        {std::string(kMeasurementUnitsKey), Value(metricMeasurement() ? "Centimeters" : "Inches")}};
}

UserDefaults& UserDefaults::standard() {
    static UserDefaults standard([] {
        auto bundle = Bundle::main();
        std::string id = bundle->identifier();
        if (id.empty()) {
            char buf[4096];
            ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
            id = n > 0 ? lastComponent(std::string(buf, std::size_t(n))) : "unknown";
        }
        return id;
    }());
    return standard;
}

UserDefaults::UserDefaults(std::string domain) : domain_(std::move(domain)) {
    auto& live = liveObjects();
    std::lock_guard lock(live.mutex);
    live.objects.insert(this);
}

UserDefaults::~UserDefaults() {
    {
        auto& live = liveObjects();
        std::lock_guard lock(live.mutex);
        live.objects.erase(this);
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) writer_.join();
    flush();
}

void UserDefaults::loadIfNeeded() const {
    {
        std::lock_guard lock(mutex_);
        if (loaded_) return;
    }
    // File I/O outside the lock.
    PreferencesContent content = readPreferencesFile(domain_);
    std::lock_guard lock(mutex_);
    if (loaded_) return;
    values_ = std::move(content.values);
    loaded_ = true;
}

std::optional<Value> UserDefaults::object(std::string_view key) const {
    loadIfNeeded();
    {
        std::lock_guard lock(mutex_);
        if (const Value* v = find(values_, key)) return *v;
    }
    Dictionary global = globalDomain();
    if (const Value* v = find(global, key)) return *v;
    return std::nullopt;
}

std::optional<std::int64_t> UserDefaults::integer(std::string_view key) const {
    auto v = object(key);
    return v ? v->toInteger() : std::nullopt;
}

std::optional<double> UserDefaults::real(std::string_view key) const {
    auto v = object(key);
    return v ? v->toReal() : std::nullopt;
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
    auto v = object(key);
    return v ? v->toBool() : std::nullopt;
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    auto v = object(key);
    if (v && v->string()) return *v->string();
    return std::nullopt;
}

Dictionary UserDefaults::dictionaryRepresentation() const {
    loadIfNeeded();
    std::lock_guard lock(mutex_);
    return values_;
}

bool UserDefaults::set(std::string_view key, Value value) {
    if (value.containsPointer()) {
        std::fprintf(stderr, "user defaults: \"%.*s\" not set: a pointer cannot be stored\n",
                     int(key.size()), key.data());
        return false;
    }
    loadIfNeeded();
    std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(key), std::move(value));
    changed_.emplace(key);
    scheduleWriteLocked();
    return true;
}

void UserDefaults::remove(std::string_view key) {
    loadIfNeeded();
    std::lock_guard lock(mutex_);
    if (auto it = values_.find(key); it != values_.end()) values_.erase(it);
    changed_.emplace(key);
    scheduleWriteLocked();
}

void UserDefaults::scheduleWriteLocked() {
    // The first change of a batch sets the time; later ones ride along, so
    // a burst of changes is one write.
    if (!writeDue_) {
        writeDue_ = true;
        dueAt_ = std::chrono::steady_clock::now() + kWriteDelay;
    }
    if (!writer_.joinable() && !stopping_) writer_ = std::thread([this] { writerLoop(); });
    wake_.notify_all();
}

void UserDefaults::writerLoop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!writeDue_) {
            wake_.wait(lock);
            continue;
        }
        if (wake_.wait_until(lock, dueAt_) == std::cv_status::no_timeout && !stopping_)
            continue; // woken early: look again
        if (stopping_) break;
        lock.unlock();
        flush();
        lock.lock();
    }
}

bool UserDefaults::flush() {
    std::lock_guard flushing(flushMutex_);
    Dictionary snapshot;
    std::set<std::string, std::less<>> keys;
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        writeDue_ = false;
        if (changed_.empty()) return true;
        keys.swap(changed_);
        for (const auto& k : keys)
            if (const Value* v = find(values_, k)) snapshot.emplace(k, *v);
        generation = generation_;
    }
    // The file is read, merged and written without holding mutex_, so
    // readers and setters on other threads never wait for the disk.
    bool replaced = false;
    Dictionary merged;
    std::string error;
    bool ok = updatePreferencesFile(
        domain_,
        [&](Dictionary& file) {
            {
                std::lock_guard lock(mutex_);
                if (generation != generation_) {
                    replaced = true; // the domain was replaced meanwhile: these changes are void
                    return false;
                }
            }
            for (const auto& k : keys) {
                if (const Value* v = find(snapshot, k))
                    file.insert_or_assign(k, *v);
                else if (auto it = file.find(k); it != file.end())
                    file.erase(it);
            }
            merged = file;
            return true;
        },
        &error);
    std::lock_guard lock(mutex_);
    if (replaced || generation != generation_) return ok;
    if (!ok) {
        std::fprintf(stderr, "user defaults \"%s\" not saved: %s\n", domain_.c_str(),
                     error.c_str());
        // Keep the changes for the next attempt.
        changed_.insert(keys.begin(), keys.end());
        return false;
    }
    // Take in what other processes wrote, under the changes made meanwhile.
    for (const auto& k : changed_) {
        if (const Value* v = find(values_, k))
            merged.insert_or_assign(k, *v);
        else if (auto it = merged.find(k); it != merged.end())
            merged.erase(it);
    }
    values_ = std::move(merged);
    loaded_ = true;
    return true;
}

bool UserDefaults::synchronize() {
    loadIfNeeded();
    if (!flush()) return false;
    // Nothing pending: still take in the file's current content.
    PreferencesContent content = readPreferencesFile(domain_);
    std::lock_guard lock(mutex_);
    if (content.state == PreferencesContent::State::Loaded && changed_.empty())
        values_ = std::move(content.values);
    return true;
}

std::optional<Dictionary> UserDefaults::persistentDomain(std::string_view name) const {
    PreferencesContent content = readPreferencesFile(name);
    if (content.state != PreferencesContent::State::Loaded) return std::nullopt;
    return std::move(content.values);
}

void UserDefaults::resetContent(const Dictionary& values) {
    std::lock_guard lock(mutex_);
    ++generation_;
    values_ = values;
    changed_.clear();
    writeDue_ = false;
    loaded_ = true;
}

void UserDefaults::resetLive(std::string_view name, const Dictionary& values) {
    auto& live = liveObjects();
    std::lock_guard lock(live.mutex);
    for (UserDefaults* object : live.objects)
        if (object->domain_ == name) object->resetContent(values);
}

bool UserDefaults::setPersistentDomain(const Dictionary& values, std::string_view name) {
    for (const auto& [k, v] : values)
        if (v.containsPointer()) return false;
    // The live object is emptied first: a write of its older changes that
    // is under way sees the new generation and drops them.
    resetLive(name, values);
    return writePreferencesFile(name, values);
}

bool UserDefaults::removePersistentDomain(std::string_view name) {
    resetLive(name, {});
    return removePreferencesFile(name);
}

} // namespace kdf
