// Test doubles for the models: the controller's answers about the current
// data source, an image provider that records the names it is asked for,
// and a forked child for cases that need fresh standard user defaults.
#pragma once

#include "AppControllerServices.h"
#include "DeviceTables.h"
#include "ImageProvider.h"

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace modeltest {

class ControllerDouble : public AppControllerServices {
public:
    std::string productName = kDummyProductName;
    bool isAPDS = false;
    bool photoMode = true;
    // Products without a choice of scan side.
    std::set<std::string> oneSided;
    bool currentOneSided = false;
    bool settingWindowShown = false;

    std::string dsProductName() const override { return productName; }
    bool dsIsAPDS() const override { return isAPDS; }
    bool supportsCAPOnDevice(std::uint16_t cap) const override {
        return cap == kCapPhotoMode ? photoMode : true;
    }
    bool supportsScanSide(const std::optional<std::string>& product) const override {
        if (!product) return !currentOneSided;
        return !oneSided.count(*product);
    }
    bool settingWindowVisible() const override { return settingWindowShown; }
};

// Registers a double for the scope of a test; the defaults come back after.
struct ScopedController {
    std::shared_ptr<ControllerDouble> answers = std::make_shared<ControllerDouble>();
    ScopedController() { AppControllerServices::setCurrent(answers); }
    ~ScopedController() { AppControllerServices::setCurrent(nullptr); }
    ControllerDouble* operator->() { return answers.get(); }
};

class NamedImage : public QlrUtilsMethod::Image {
public:
    explicit NamedImage(std::string n) : name(std::move(n)) {}
    int width() const override { return 1; }
    int height() const override { return 1; }
    std::string name;
};

// Knows the bundle images whose names it is given; image files and file
// icons come back tagged with the path they were made from.
class ImageProviderDouble : public QlrUtilsMethod::ImageProvider {
public:
    std::set<std::string> bundleNames;
    QlrUtilsMethod::ImageRef bundleImage(const std::string& name) override {
        return bundleNames.count(name) ? std::make_shared<NamedImage>(name) : nullptr;
    }
    QlrUtilsMethod::ImageRef imageFromFile(const std::string& path) override {
        return path.starts_with("/images/") ? std::make_shared<NamedImage>("file:" + path) : nullptr;
    }
    QlrUtilsMethod::ImageRef fileIcon(const std::string& path) override {
        return std::make_shared<NamedImage>("icon:" + path);
    }
    QlrUtilsMethod::ImageRef folderIcon() override { return nullptr; }
};

inline std::string nameOf(const QlrUtilsMethod::ImageRef& image) {
    auto named = std::dynamic_pointer_cast<const NamedImage>(image);
    return named ? named->name : std::string();
}

struct ScopedImages {
    std::shared_ptr<ImageProviderDouble> provider = std::make_shared<ImageProviderDouble>();
    ScopedImages() { QlrUtilsMethod::setImageProvider(provider); }
    ~ScopedImages() { QlrUtilsMethod::setImageProvider(nullptr); }
};

// Runs body in a child process (fresh process-wide user defaults); the
// child's exit code is body's result, 100 for an exception.
template <class F> int inChild(F&& body) {
    ::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        int code = 100;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace modeltest
