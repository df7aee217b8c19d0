// The kit's principal class as the application sees it: loaded from its
// bundle, cast to the plug-in interface, driven through the protocol.
#include "PluginTestHost.h"

#include <QWidget>

#include <filesystem>

namespace {

using kdf::Array;
using kdf::Dictionary;
using kdf::Value;
using kdtest::LoadedPlugin;
using kdtest::loadPlugin;
using kdtest::pluginsDefaults;
using kdtest::setPluginsDefaults;

const auto& gEnvironment = kdtest::PluginTestEnvironment::instance();

// The entry of a plug-in key under "Plugins" as stored now.
const Dictionary* storedEntry(const std::optional<Value>& plugins, const char* key) {
    const Dictionary* all = plugins ? plugins->dictionary() : nullptr;
    const Value* entry = all ? kdf::find(*all, key) : nullptr;
    return entry ? entry->dictionary() : nullptr;
}

const Array* storedUsers(const std::optional<Value>& plugins, const char* key) {
    const Dictionary* entry = storedEntry(plugins, key);
    const Value* users = entry ? kdf::find(*entry, "UserList") : nullptr;
    return users ? users->array() : nullptr;
}

Value pluginsWith(const char* key, Value entry) {
    Dictionary all;
    all[key] = std::move(entry);
    return Value(std::move(all));
}

Value entryWithUsers(Array users) {
    Dictionary entry;
    entry["UserList"] = Value(std::move(users));
    return Value(std::move(entry));
}

// "E621E1F8-C36C-495A-93FC-0C247A3E6E5F": groups of 8, 4, 4, 4 and 12
// upper-case hexadecimal digits.
bool isUpperCaseUuid(const std::string& id) {
    if (id.size() != 36) return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

class PluginHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        docs = new LoadedPlugin(loadPlugin("KitTestDocs"));
        printer = new LoadedPlugin(loadPlugin("KitTestPrinter"));
    }
    static void TearDownTestSuite() {
        delete docs;
        delete printer;
    }
    void SetUp() override {
        ASSERT_TRUE(docs->plugin);
        ASSERT_TRUE(printer->plugin);
        setPluginsDefaults(std::nullopt);
    }
    // A printer user whose dictionary holds the extra keys.
    std::string printerUser(Dictionary extra) {
        Dictionary user = std::move(extra);
        user["AppUser.ID"] = "USER-1";
        setPluginsDefaults(pluginsWith("SendviaPrinter", entryWithUsers({Value(std::move(user))})));
        EXPECT_EQ(printer->plugin->connect(), kTvSvPluginSuccess);
        return "USER-1";
    }
    static LoadedPlugin* docs;
    static LoadedPlugin* printer;
    QWidget parent;
};
LoadedPlugin* PluginHost::docs = nullptr;
LoadedPlugin* PluginHost::printer = nullptr;

TEST_F(PluginHost, LoadsCastsAndAnswersFromItsOwnBundle) {
    EXPECT_EQ(docs->bundle->principalClass().name(), "TvSendviaTestDocs");
    EXPECT_EQ(docs->plugin->getName(), "Test Docs");
    EXPECT_EQ(docs->plugin->getTitle(), "Test cloud");
    EXPECT_EQ(docs->plugin->getVersion(), "3.1");
    const std::optional<std::string> icon = docs->plugin->getIcon();
    ASSERT_TRUE(icon);
    EXPECT_TRUE(std::filesystem::is_regular_file(*icon)) << *icon;
    EXPECT_EQ(std::filesystem::path(*icon).filename(), "KitTest.png");
    // The second kit plug-in in the same process keeps its own texts.
    EXPECT_EQ(printer->plugin->getName(), "Test Printer");
    EXPECT_EQ(printer->plugin->getDescription(), "Sends the files to Test printer.");
    EXPECT_TRUE(docs->plugin->getShowCommonSettingButton());
    EXPECT_FALSE(printer->plugin->getShowCommonSettingButton());
    EXPECT_FALSE(printer->plugin->getShowFileNameSetting());
    EXPECT_TRUE(printer->plugin->getIsExecutable());
    EXPECT_EQ(printer->plugin->importSettingFromFolder("/tmp"), 1);

    // The kit stays local to each plug-in: nothing of it is exported for
    // another plug-in to bind to.
    for (const LoadedPlugin* loaded : {docs, printer}) {
        void* handle = ::dlopen(loaded->bundle->executablePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_TRUE(handle);
        EXPECT_FALSE(::dlsym(handle, "_ZN5kdkit12pluginBundleEv"));
        EXPECT_FALSE(::dlsym(handle, "_ZN5kdkit14buildConstantsEv"));
        EXPECT_TRUE(::dlsym(handle, "kdf_class_list"));
        ::dlclose(handle);
    }
}

TEST_F(PluginHost, CreateCopyDeleteWithCodesAndOutValues) {
    TvQLRPlugin2& p = *printer->plugin;
    // Another plug-in's entry is there; this one has none.
    setPluginsDefaults(pluginsWith("SendviaMail", entryWithUsers({Value(Dictionary{{"AppUser.ID", "MAIL"}})})));
    ASSERT_EQ(p.connect(), kTvSvPluginSuccess);

    std::optional<std::string> first;
    ASSERT_EQ(p.createID(&first), kTvSvPluginSuccess);
    ASSERT_TRUE(first);
    EXPECT_TRUE(isUpperCaseUuid(*first)) << *first;
    EXPECT_EQ(p.createID(nullptr), kTvSvPluginSuccess);

    std::optional<std::string> copy = "stale";
    EXPECT_EQ(p.copyID("NO-SUCH-ID", &copy), kTvSvPluginNotFoundID);
    EXPECT_FALSE(copy);
    copy = "stale";
    EXPECT_EQ(p.copyID(std::nullopt, &copy), kTvSvPluginNotFoundID);
    EXPECT_FALSE(copy);
    ASSERT_EQ(p.copyID(first, &copy), kTvSvPluginSuccess);
    ASSERT_TRUE(copy);
    EXPECT_NE(*copy, *first);

    EXPECT_EQ(p.deleteID("NO-SUCH-ID"), kTvSvPluginNotFoundID);
    EXPECT_EQ(p.deleteID(std::nullopt), kTvSvPluginNotFoundID);
    EXPECT_EQ(p.deleteID(first), kTvSvPluginSuccess);
    EXPECT_EQ(p.deleteID(first), kTvSvPluginNotFoundID);

    ASSERT_EQ(p.disconnect(), kTvSvPluginSuccess);
    const std::optional<Value> stored = pluginsDefaults();
    // The other plug-in's entry is kept; this one has two users, the copy
    // with every key of its source under its own ID; no rename flag.
    ASSERT_TRUE(storedUsers(stored, "SendviaMail"));
    EXPECT_EQ(storedUsers(stored, "SendviaMail")->size(), 1u);
    const Array* users = storedUsers(stored, "SendviaPrinter");
    ASSERT_TRUE(users);
    ASSERT_EQ(users->size(), 2u);
    const Dictionary& copied = *(*users)[1].dictionary();
    EXPECT_EQ(*kdf::find(copied, "AppUser.ID")->string(), *copy);
    EXPECT_TRUE(kdf::find(copied, "Stub.Setup"));
    EXPECT_FALSE(kdf::find(*storedEntry(stored, "SendviaPrinter"), "ShowRenameWindow"));

    // connect starts from an empty list: reading the same entry twice does
    // not double it.
    ASSERT_EQ(p.connect(), kTvSvPluginSuccess);
    ASSERT_EQ(p.connect(), kTvSvPluginSuccess);
    ASSERT_EQ(p.disconnect(), kTvSvPluginSuccess);
    EXPECT_EQ(storedUsers(pluginsDefaults(), "SendviaPrinter")->size(), 2u);
}

TEST_F(PluginHost, UnknownUserGivesNotFoundEverywhereWithOutValuesReset) {
    TvQLRPlugin2& p = *printer->plugin;
    printerUser({});
    const std::optional<std::string> unknown = "NO-SUCH-ID";
    EXPECT_EQ(p.showSettingWithID(unknown, &parent), kTvSvPluginNotFoundID);
    EXPECT_EQ(p.executeOperationWithID(unknown, std::vector<std::string>{"/tmp/a.png"}, true, &parent),
              kTvSvPluginNotFoundID);
    EXPECT_EQ(p.clickedLinkLabel(unknown), kTvSvPluginNotFoundID);
    bool link = true;
    EXPECT_EQ(p.isSupportLinkButton(unknown, &link), kTvSvPluginNotFoundID);
    EXPECT_FALSE(link);
    std::optional<std::string> label = "stale";
    EXPECT_EQ(p.copyLinkLable(unknown, &label), kTvSvPluginNotFoundID);
    EXPECT_FALSE(label);
    std::optional<std::string> summary;
    EXPECT_EQ(p.showSettingSummaryWithID(unknown, &summary), kTvSvPluginNotFoundID);
    EXPECT_EQ(summary, "");
    EXPECT_EQ(printer->controllerCounts().second, 0);
}

TEST_F(PluginHost, SupportedFileTypesAreCaseSensitive) {
    struct Case {
        LoadedPlugin* plugin;
        std::optional<std::string> type;
        bool supported;
    };
    const Case cases[] = {
        {printer, "png", true}, {printer, "PNG", false}, {printer, "pdf", false},     {printer, std::nullopt, false},
        {docs, "pdf", true},    {docs, "tiff", true},    {docs, "jpeg", false},       {docs, "Pdf", false},
    };
    for (const Case& c : cases) {
        bool enabled = !c.supported;
        EXPECT_EQ(c.plugin->plugin->isSupportedFileType(c.type, &enabled), kTvSvPluginSuccess);
        EXPECT_EQ(enabled, c.supported) << c.type.value_or("(none)");
    }
    EXPECT_EQ(printer->plugin->isSupportedFileType("png", nullptr), kTvSvPluginSuccess);
}

TEST_F(PluginHost, ExecuteChecksItsArgumentsBeforeMakingAController) {
    TvQLRPlugin2& p = *printer->plugin;
    const std::string id = printerUser({});
    const int madeBefore = printer->controllerCounts().first;
    using Files = std::optional<std::vector<std::string>>;
    EXPECT_EQ(p.executeOperationWithID(id, Files(std::vector<std::string>{}), true, &parent),
              TvSvPluginResultCode(0x8FFC0207u));
    EXPECT_EQ(p.executeOperationWithID(id, Files(std::nullopt), true, &parent), kTvSvPluginFailExecuteOperation);
    EXPECT_EQ(p.executeOperationWithID(id, Files(std::vector<std::string>{"/tmp/a.png"}), true, nullptr),
              kTvSvPluginFailExecuteOperation);
    EXPECT_EQ(p.executeOperationWithID(std::nullopt, Files(std::vector<std::string>{"/tmp/a.png"}), true, &parent),
              kTvSvPluginFailExecuteOperation);
    EXPECT_EQ(printer->controllerCounts().first, madeBefore);

    EXPECT_EQ(p.executeOperationWithID(id, Files(std::vector<std::string>{"/tmp/a.png", "/tmp/b.png"}), true, &parent),
              kTvSvPluginSuccess);
    EXPECT_EQ(printer->controllerCounts(), std::make_pair(madeBefore + 1, 0));
    ASSERT_EQ(p.disconnect(), kTvSvPluginSuccess);
    const Dictionary& user = *(*storedUsers(pluginsDefaults(), "SendviaPrinter"))[0].dictionary();
    EXPECT_EQ(kdf::find(user, "Stub.SentFiles")->toInteger(), 2);
}

TEST_F(PluginHost, DestinationFailuresBecomeTheMethodsCodes) {
    TvQLRPlugin2& p = *printer->plugin;
    const std::vector<std::string> files{"/tmp/a.png"};
    // The send's own code passes through.
    std::string id = printerUser({{"Stub.ExecuteResult", Value(int(0x8FFC020Au))}});
    EXPECT_EQ(p.executeOperationWithID(id, files, false, &parent), kTvSvPluginFailSend);

    // Anything thrown (a standard exception, or not even that) and a window
    // that cannot be made give the method's code, and every controller is
    // released.
    for (const char* how : {"Stub.Throw", "Stub.ThrowInt", "Stub.NoWindow"}) {
        SCOPED_TRACE(how);
        id = printerUser({{how, true}});
        EXPECT_EQ(p.executeOperationWithID(id, files, false, &parent), kTvSvPluginFailExecuteOperation);
        EXPECT_EQ(p.showSettingWithID(id, &parent), kTvSvPluginFailShowSetting);
        std::optional<std::string> summary = "stale";
        EXPECT_EQ(p.showSettingSummaryWithID(id, &summary), kTvSvPluginFailSummary);
        EXPECT_EQ(summary, "");
        bool link = true;
        EXPECT_EQ(p.isSupportLinkButton(id, &link), kTvSvPluginFailLinkButton);
        EXPECT_FALSE(link);
        std::optional<std::string> label = "stale";
        EXPECT_EQ(p.copyLinkLable(id, &label), kTvSvPluginFailLinkLabel);
        EXPECT_FALSE(label);
        EXPECT_EQ(p.clickedLinkLabel(id), kTvSvPluginFailClickedLink);
        EXPECT_EQ(printer->controllerCounts().second, 0);
    }

    id = printerUser({{"Stub.Link", true}, {"Stub.LinkLabel", "Open"}, {"Stub.ClickResult", Value(int(0x8FFC020Eu))}});
    bool link = false;
    EXPECT_EQ(p.isSupportLinkButton(id, &link), kTvSvPluginSuccess);
    EXPECT_TRUE(link);
    std::optional<std::string> label;
    EXPECT_EQ(p.copyLinkLable(id, &label), kTvSvPluginSuccess);
    EXPECT_EQ(label, "Open");
    EXPECT_EQ(p.clickedLinkLabel(id), kTvSvPluginFailClickedLink);
    EXPECT_EQ(p.showSettingWithID(id, &parent), kTvSvPluginSuccess);
}

TEST_F(PluginHost, SummaryFormatsTheDestinationOrIsEmpty) {
    TvQLRPlugin2& p = *docs->plugin;
    Array users;
    users.push_back(Value(Dictionary{{"GoogleDocsUser.ID", "WITH"}, {"Stub.Summary", "/home/x/Scans %d"}}));
    users.push_back(Value(Dictionary{{"GoogleDocsUser.ID", "WITHOUT"}}));
    users.push_back(Value(Dictionary{{"GoogleDocsUser.ID", "MARKED"},
                                     {"GoogleDocsUser.SyncPath", "VersionUpError:CloudNotSpecify:Scans"}}));
    setPluginsDefaults(pluginsWith("SendviaGoogleDocs", entryWithUsers(std::move(users))));
    ASSERT_EQ(p.connect(), kTvSvPluginSuccess);
    std::optional<std::string> summary;
    EXPECT_EQ(p.showSettingSummaryWithID("WITH", &summary), kTvSvPluginSuccess);
    EXPECT_EQ(summary, "Folder: /home/x/Scans %d");
    EXPECT_EQ(p.showSettingSummaryWithID("WITHOUT", &summary), kTvSvPluginSuccess);
    EXPECT_EQ(summary, "");
    EXPECT_EQ(p.showSettingSummaryWithID("MARKED", &summary), kTvSvPluginSuccess);
    EXPECT_EQ(summary, "Please set the destination again.");
    EXPECT_EQ(p.showSettingSummaryWithID("WITH", nullptr), kTvSvPluginSuccess);
}

TEST_F(PluginHost, RenameFlagOnlyInTheCloudBuildAndEntryBuiltAnew) {
    TvQLRPlugin2& p = *docs->plugin;
    Dictionary entry;
    entry["UserList"] = Value(Array{});
    entry["ShowRenameWindow"] = false;
    entry["Obsolete"] = "dropped";
    setPluginsDefaults(pluginsWith("SendviaGoogleDocs", Value(std::move(entry))));
    ASSERT_EQ(p.connect(), kTvSvPluginSuccess);
    // The stub's common settings window turns the flag over and confirms.
    EXPECT_EQ(p.showCommonSettingWithParentWindow(&parent), kTvSvPluginSuccess);
    ASSERT_EQ(p.disconnect(), kTvSvPluginSuccess);
    const Dictionary* stored = storedEntry(pluginsDefaults(), "SendviaGoogleDocs");
    ASSERT_TRUE(stored);
    EXPECT_EQ(kdf::find(*stored, "ShowRenameWindow")->toBool(), true);
    EXPECT_FALSE(kdf::find(*stored, "Obsolete"));
    EXPECT_EQ(docs->controllerCounts().second, 0);
}

TEST_F(PluginHost, OldEntryConvertsAtConnectAndIsStoredAtDisconnect) {
    TvQLRPlugin2& p = *docs->plugin;
    const std::filesystem::path root = kdtest::PluginTestEnvironment::home().root() / "Google Drive";
    std::filesystem::create_directories(root / "x" / "y" / "INVOICES");
    std::filesystem::create_directories(root / "a" / "Dup");
    std::filesystem::create_directories(root / "b" / "dup");
    std::filesystem::create_directory_symlink(root, root / "x" / "back");
    Array old;
    old.push_back(Value(Dictionary{{"GoogleDocUser.ID", "ONCE"}, {"GoogleDocUser.TargetCollectionName", "Invoices"}}));
    old.push_back(Value(Dictionary{{"GoogleDocUser.ID", "TWICE"}, {"GoogleDocUser.TargetCollectionName", "dup"}}));
    const Value oldPlugins = pluginsWith("SendviaGoogleDocs", Value(old));
    setPluginsDefaults(oldPlugins);
    ASSERT_EQ(p.connect(), kTvSvPluginSuccess);
    // Not written back by connect.
    EXPECT_EQ(pluginsDefaults(), oldPlugins);
    std::optional<std::string> summary;
    EXPECT_EQ(p.showSettingSummaryWithID("ONCE", &summary), kTvSvPluginSuccess);
    EXPECT_EQ(summary, "Folder: " + (root / "x" / "y" / "INVOICES").string());
    EXPECT_EQ(p.showSettingSummaryWithID("TWICE", &summary), kTvSvPluginSuccess);
    EXPECT_EQ(summary, "Please set the destination again.");

    ASSERT_EQ(p.disconnect(), kTvSvPluginSuccess);
    const Array* users = storedUsers(pluginsDefaults(), "SendviaGoogleDocs");
    ASSERT_TRUE(users);
    ASSERT_EQ(users->size(), 2u);
    EXPECT_EQ(*kdf::find(*(*users)[1].dictionary(), "GoogleDocsUser.SyncPath")->string(),
              "VersionUpError:CloudNotSpecify:dup");
    // The current form is read as it is the next time.
    ASSERT_EQ(p.connect(), kTvSvPluginSuccess);
    EXPECT_EQ(p.showSettingSummaryWithID("ONCE", &summary), kTvSvPluginSuccess);
    EXPECT_EQ(summary, "Folder: " + (root / "x" / "y" / "INVOICES").string());
    std::filesystem::remove_all(root);
}

TEST_F(PluginHost, MalformedPluginsGiveAFilteredListAndSuccess) {
    TvQLRPlugin2& p = *printer->plugin;
    Array mixed;
    mixed.push_back(Value(5));
    mixed.push_back(Value(Dictionary{{"AppUser.ID", 7}}));
    mixed.push_back(Value(Dictionary{{"Other", "no id"}}));
    mixed.push_back(Value(Dictionary{{"AppUser.ID", "GOOD"}}));
    struct Case {
        const char* what;
        std::optional<Value> plugins;
        std::size_t users;
    };
    const Case cases[] = {
        {"missing", std::nullopt, 0},
        {"not a dictionary", Value("Plugins"), 0},
        {"entry of the wrong kind", pluginsWith("SendviaPrinter", Value(5)), 0},
        {"an old-form array in a build without conversion", pluginsWith("SendviaPrinter", Value(Array{})), 0},
        {"user list of the wrong kind", pluginsWith("SendviaPrinter", Value(Dictionary{{"UserList", "x"}})), 0},
        {"users of the wrong kind", pluginsWith("SendviaPrinter", entryWithUsers(mixed)), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setPluginsDefaults(c.plugins);
        EXPECT_EQ(p.connect(), kTvSvPluginSuccess);
        EXPECT_EQ(p.deleteID("GOOD"), c.users ? kTvSvPluginSuccess : kTvSvPluginNotFoundID);
        EXPECT_EQ(p.disconnect(), kTvSvPluginSuccess);
        const Array* users = storedUsers(pluginsDefaults(), "SendviaPrinter");
        ASSERT_TRUE(users);
        EXPECT_TRUE(users->empty());
    }
}

} // namespace
