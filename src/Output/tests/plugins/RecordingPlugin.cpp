// A test plug-in built from the kit: the kit's principal behind a wrapper
// that reports every call of the application to the test program, over a
// destination that reports what it is handed. The test program exports
// kd_host_test_record; without it nothing is reported and every send
// succeeds. HOST_TEST_PNG_ONLY builds a printer-like plug-in (PNG only).
#include "PluginKit.h"
#include "Principal.h"

#include <dlfcn.h>

#include <cstdio>
#include <string>

namespace {

// Answers the code a send returns.
using RecordFunction = int (*)(const char* plugin, const char* call, const char* detail);

int record(const char* call, const std::string& detail = {}) {
    static const auto fn =
        reinterpret_cast<RecordFunction>(::dlsym(RTLD_DEFAULT, "kd_host_test_record"));
    return fn ? fn(HOST_TEST_KEY, call, detail.c_str()) : 0;
}

std::string text(const std::optional<std::string>& s) {
    return s.value_or("(none)");
}

class RecordingController final : public kdkit::DestinationController {
public:
    explicit RecordingController(kdkit::UserRef user) : user_(std::move(user)) {}
    int runModal(QWidget*, bool) override { return 1; }
    int runModalPrefs(QWidget*) override { return 1; }
    void setRenameWindowState(bool) override {}
    bool getRenameWindowState() const override { return false; }
    std::optional<std::string> summaryString() override { return std::nullopt; }
    std::int32_t executeOperation(const std::vector<std::string>& files, bool fileDelete,
                                  QWidget* parent) override {
        std::string detail;
        for (const std::string& f : files) detail += f + "\n";
        char parentText[32];
        std::snprintf(parentText, sizeof parentText, "%p", static_cast<void*>(parent));
        detail += std::string(fileDelete ? "delete" : "keep") + " parent=" + parentText;
        return record("send", detail);
    }
    bool isSupportLinkButton() override { return false; }
    std::optional<std::string> linkLable() override { return std::nullopt; }
    std::int32_t clickedLink() override { return 0; }

private:
    kdkit::UserRef user_;
};

std::unique_ptr<kdkit::DestinationController> create(const kdkit::UserRef& user) {
    return std::make_unique<RecordingController>(user ? user : std::make_shared<kdf::Dictionary>());
}

// The kit's principal, every call reported first.
class RecordingPrincipal final : public TvQLRPlugin2 {
public:
    RecordingPrincipal() { record("init"); }
    ~RecordingPrincipal() override { record("dealloc"); }

    std::optional<std::string> getName() noexcept override { return p_.getName(); }
    std::optional<std::string> getTitle() noexcept override { return p_.getTitle(); }
    std::optional<std::string> getDescription() noexcept override { return p_.getDescription(); }
    std::optional<std::string> getVersion() noexcept override { return p_.getVersion(); }
    std::optional<std::string> getIcon() noexcept override { return p_.getIcon(); }
    bool getShowSettingButton() noexcept override { return p_.getShowSettingButton(); }
    bool getShowCommonSettingButton() noexcept override { return p_.getShowCommonSettingButton(); }
    bool getIsExecutable() noexcept override { return p_.getIsExecutable(); }
    TvSvPluginResultCode connect() noexcept override {
        record("connect");
        return p_.connect();
    }
    TvSvPluginResultCode disconnect() noexcept override {
        record("disconnect");
        return p_.disconnect();
    }
    TvSvPluginResultCode createID(std::optional<std::string>* newID) noexcept override {
        const TvSvPluginResultCode rc = p_.createID(newID);
        record("createID", newID ? text(*newID) : "");
        return rc;
    }
    TvSvPluginResultCode deleteID(const std::optional<std::string>& userID) noexcept override {
        record("deleteID", text(userID));
        return p_.deleteID(userID);
    }
    TvSvPluginResultCode copyID(const std::optional<std::string>& sourceID,
                                std::optional<std::string>* newID) noexcept override {
        record("copyID", text(sourceID));
        return p_.copyID(sourceID, newID);
    }
    TvSvPluginResultCode showSettingWithID(const std::optional<std::string>& userID,
                                           QWidget* parent) noexcept override {
        return p_.showSettingWithID(userID, parent);
    }
    TvSvPluginResultCode showCommonSettingWithParentWindow(QWidget* parent) noexcept override {
        return p_.showCommonSettingWithParentWindow(parent);
    }
    TvSvPluginResultCode isSupportedFileType(const std::optional<std::string>& type,
                                             bool* enabled) noexcept override {
        record("isSupportedFileType", text(type));
        return p_.isSupportedFileType(type, enabled);
    }
    TvSvPluginResultCode
    executeOperationWithID(const std::optional<std::string>& userID,
                           const std::optional<std::vector<std::string>>& fileList, bool fileDelete,
                           QWidget* parent) noexcept override {
        record("executeOperationWithID", text(userID));
        return p_.executeOperationWithID(userID, fileList, fileDelete, parent);
    }
    bool getShowSettingSummary() noexcept override { return p_.getShowSettingSummary(); }
    bool getShowFileNameSetting() noexcept override { return p_.getShowFileNameSetting(); }
    bool getShowFileTypeSetting() noexcept override { return p_.getShowFileTypeSetting(); }
    TvSvPluginResultCode
    showSettingSummaryWithID(const std::optional<std::string>& userID,
                             std::optional<std::string>* summary) noexcept override {
        return p_.showSettingSummaryWithID(userID, summary);
    }
    int importSettingFromFolder(const std::optional<std::string>& folder) noexcept override {
        return p_.importSettingFromFolder(folder);
    }
    int exportSettingToFolder(const std::optional<std::string>& folder) noexcept override {
        return p_.exportSettingToFolder(folder);
    }
    TvSvPluginResultCode isSupportLinkButton(const std::optional<std::string>& userID,
                                             bool* enabled) noexcept override {
        return p_.isSupportLinkButton(userID, enabled);
    }
    TvSvPluginResultCode copyLinkLable(const std::optional<std::string>& userID,
                                       std::optional<std::string>* label) noexcept override {
        return p_.copyLinkLable(userID, label);
    }
    TvSvPluginResultCode
    clickedLinkLabel(const std::optional<std::string>& userID) noexcept override {
        return p_.clickedLinkLabel(userID);
    }

private:
    kdkit::Principal p_;
};

} // namespace

const kdkit::BuildConstants& kdkit::buildConstants() {
    static const BuildConstants constants{HOST_TEST_PRINCIPAL, HOST_TEST_KEY, HOST_TEST_KEY ".ID",
                                          "", false};
    return constants;
}

const kdkit::DestinationClass& kdkit::destinationClass() {
    static const DestinationClass destination = [] {
        DestinationClass d;
        if (HOST_TEST_PNG_ONLY) d.supportedFileTypeList = {"png"};
        d.create = &create;
        return d;
    }();
    return destination;
}

KDF_EXPORT_CLASSES({HOST_TEST_PRINCIPAL, &kdf::makeObject<RecordingPrincipal>})
