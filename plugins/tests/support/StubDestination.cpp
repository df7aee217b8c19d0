// A destination controller for testing the kit: it does what the user's
// dictionary says ("Stub.*" keys) and counts the controllers it made and
// the ones still alive, so tests can see that each call releases its
// controller. STUB_CLOUD 1 builds it as a cloud destination (rename window,
// common settings), 0 as a printer-like one (PNG only).
#include "PluginKit.h"

#include <atomic>
#include <stdexcept>

namespace {

std::atomic<int> gMade{0};
std::atomic<int> gAlive{0};

const kdf::Value* value(const kdkit::UserRef& user, const char* key) {
    return user ? kdf::find(*user, key) : nullptr;
}

bool flag(const kdkit::UserRef& user, const char* key) {
    const kdf::Value* v = value(user, key);
    return v && v->toBool().value_or(false);
}

std::optional<std::string> text(const kdkit::UserRef& user, const char* key) {
    const kdf::Value* v = value(user, key);
    if (!v || !v->string()) return std::nullopt;
    return *v->string();
}

class StubController final : public kdkit::DestinationController {
public:
    explicit StubController(kdkit::UserRef user) : user_(std::move(user)) {
        ++gMade;
        ++gAlive;
    }
    ~StubController() override { --gAlive; }

    int runModal(QWidget*, bool isCheckInstall) override {
        maybeThrow();
        (*user_)["Stub.Shown"] = isCheckInstall;
        return 1;
    }
    int runModalPrefs(QWidget*) override {
        rename_ = !rename_;
        return 1;
    }
    void setRenameWindowState(bool state) override { rename_ = state; }
    bool getRenameWindowState() const override { return rename_; }
    std::optional<std::string> summaryString() override {
        maybeThrow();
        if (auto summary = text(user_, "Stub.Summary")) return summary;
        return text(user_, "GoogleDocsUser.SyncPath");
    }
    std::int32_t executeOperation(const std::vector<std::string>& files, bool fileDelete, QWidget*) override {
        maybeThrow();
        (*user_)["Stub.SentFiles"] = static_cast<long long>(files.size());
        (*user_)["Stub.FileDelete"] = fileDelete;
        if (flag(user_, "Stub.FlipRename")) rename_ = !rename_;
        const kdf::Value* result = value(user_, "Stub.ExecuteResult");
        return result ? std::int32_t(result->toInteger().value_or(0)) : 0;
    }
    bool isSupportLinkButton() override {
        maybeThrow();
        return flag(user_, "Stub.Link");
    }
    std::optional<std::string> linkLable() override {
        maybeThrow();
        return text(user_, "Stub.LinkLabel");
    }
    std::int32_t clickedLink() override {
        maybeThrow();
        const kdf::Value* result = value(user_, "Stub.ClickResult");
        return result ? std::int32_t(result->toInteger().value_or(0)) : 0;
    }

private:
    void maybeThrow() const {
        if (flag(user_, "Stub.Throw")) throw std::runtime_error("stub destination failed");
        if (flag(user_, "Stub.ThrowInt")) throw 42;
    }
    kdkit::UserRef user_;
    bool rename_ = false;
};

void setupData(kdf::Dictionary& user) { user["Stub.Setup"] = true; }

std::unique_ptr<kdkit::DestinationController> create(const kdkit::UserRef& user) {
    if (user && flag(user, "Stub.NoWindow")) return nullptr;
    return std::make_unique<StubController>(user ? user : std::make_shared<kdf::Dictionary>());
}

} // namespace

const kdkit::DestinationClass& kdkit::destinationClass() {
    static const DestinationClass destination = [] {
        DestinationClass d;
        d.isRenameWindow = STUB_CLOUD;
        d.isShowCommonSettingButton = STUB_CLOUD;
        d.isShowFileNameSetting = STUB_CLOUD;
        d.isShowFileTypeSetting = STUB_CLOUD;
        if (!STUB_CLOUD) d.supportedFileTypeList = {"png"};
        d.setupData = &setupData;
        d.create = &create;
        return d;
    }();
    return destination;
}

// Read by the tests through dlsym.
extern "C" __attribute__((visibility("default"))) void kd_stub_controller_counts(int* made, int* alive) {
    *made = gMade.load();
    *alive = gAlive.load();
}
