// User defaults: one application domain held in memory and written back to
// its preferences file in the background, plus a read-only global domain.
#pragma once

#include "foundation/Value.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

namespace kdf {

// The key of the global domain that tells the measurement system.
inline constexpr std::string_view kMeasurementUnitsKey = "AppleMeasurementUnits";

// The global domain: keys every application sees when its own domain lacks
// them. Only "AppleMeasurementUnits": "Centimeters" when the locale's
// LC_MEASUREMENT is metric, else "Inches".
Dictionary globalDomain();

class UserDefaults {
public:
    // The domain of the main bundle's identifier (the executable's name when
    // the bundle has none). Lives until the process exits, when pending
    // changes are written.
    static UserDefaults& standard();

    // A defaults object of its own for a domain (tools and tests).
    explicit UserDefaults(std::string domain);
    virtual ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    const std::string& domain() const { return domain_; }

    // The application's value, else the global domain's.
    std::optional<Value> object(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    std::optional<double> real(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<std::string> string(std::string_view key) const;
    // The application's domain as it stands in memory (without the global).
    Dictionary dictionaryRepresentation() const;

    // Sets a key. A value holding a pointer anywhere is refused (false) and
    // changes nothing: it could never be written.
    bool set(std::string_view key, Value value);
    void remove(std::string_view key);

    // Writes pending changes now, merged over the file's current content,
    // and takes in what other processes wrote meanwhile. Changes are also
    // written about a second after they were made, and when the object ends.
    bool synchronize();

    // Persistent domains by name. Replacing or removing a domain also
    // empties every live defaults object of that domain in this process (the
    // standard one included) and drops its pending changes, so no older copy
    // writes the cleared keys back.
    std::optional<Dictionary> persistentDomain(std::string_view name) const;
    bool setPersistentDomain(const Dictionary& values, std::string_view name);
    bool removePersistentDomain(std::string_view name);

    // How long a change waits for company before it is written.
    static constexpr std::chrono::milliseconds kWriteDelay{800};

private:
    void loadIfNeeded() const;
    void scheduleWriteLocked();
    void writerLoop();
    bool flush();
    void resetContent(const Dictionary& values);
    void resetLive(std::string_view name, const Dictionary& values);

    const std::string domain_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    mutable bool loaded_ = false;
    mutable Dictionary values_;
    std::set<std::string, std::less<>> changed_; // set or removed since the last write
    std::uint64_t generation_ = 0;               // bumped when the domain is replaced
    bool writeDue_ = false;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point dueAt_;
    std::thread writer_;
    std::mutex flushMutex_; // one write at a time, taken before mutex_
};

} // namespace kdf
