// A small plug-in host for the tests: loads a kit test bundle the way the
// application does and reads the stub destination's controller counts.
#pragma once

#include "TempHome.h"

#include <foundation/Bundle.h>
#include <foundation/UserDefaults.h>
#include <plugin/TvQLRPlugin.h>

#include <QApplication>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kdtest {

// A private home and an offscreen application for the whole program: the
// standard user defaults live as long as the process.
class PluginTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        home_ = std::make_unique<TempHome>();
        home_->env().set("QT_QPA_PLATFORM", "offscreen");
        home_->env().set("LANGUAGE", "en");
        static int argc = 1;
        static char name[] = "plugin_test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        app_.reset();
        home_.reset();
    }
    static TempHome& home() { return *instance().home_; }
    static PluginTestEnvironment& instance() {
        static PluginTestEnvironment* environment = [] {
            auto* e = new PluginTestEnvironment;
            ::testing::AddGlobalTestEnvironment(e);
            return e;
        }();
        return *environment;
    }

private:
    std::unique_ptr<TempHome> home_;
    std::unique_ptr<QApplication> app_;
};

struct LoadedPlugin {
    std::shared_ptr<const kdf::Bundle> bundle;
    std::unique_ptr<TvQLRPlugin2> plugin;

    // Controllers the stub destination made so far and still has alive.
    std::pair<int, int> controllerCounts() const {
        void* handle = ::dlopen(bundle->executablePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!handle) return {-1, -1};
        using Counts = void (*)(int*, int*);
        auto counts = reinterpret_cast<Counts>(::dlsym(handle, "kd_stub_controller_counts"));
        ::dlclose(handle);
        int made = -1, alive = -1;
        if (counts) counts(&made, &alive);
        return {made, alive};
    }
};

// As the application's plug-in host does it: bundle by path, load, the
// principal class as the interface.
inline LoadedPlugin loadPlugin(const std::string& name) {
    LoadedPlugin loaded;
    loaded.bundle = kdf::Bundle::atPath(std::string(KD_PLUGIN_TEST_FOLDER) + "/" + name + ".plugin");
    if (!loaded.bundle || !loaded.bundle->load()) return loaded;
    loaded.plugin = loaded.bundle->principalClass().createAs<TvQLRPlugin2>();
    return loaded;
}

inline void setPluginsDefaults(const std::optional<kdf::Value>& value) {
    auto& defaults = kdf::UserDefaults::standard();
    if (value)
        defaults.set(kTvPluginsDefaultsKey, *value);
    else
        defaults.remove(kTvPluginsDefaultsKey);
}

inline std::optional<kdf::Value> pluginsDefaults() {
    return kdf::UserDefaults::standard().object(kTvPluginsDefaultsKey);
}

} // namespace kdtest
