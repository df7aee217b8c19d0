// The data source manager driven as a host drives it, with copies of a fake
// data source placed in temporary search folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_source_bridge.h"
#include "twain/twain.h"

namespace fs = std::filesystem;

namespace {

// ---- The fake sources' behaviour, one entry per file name -------------------------

struct Behaviour {
    TW_UINT32 groups = DG_CONTROL | DG_IMAGE | DF_DS2;
    TW_UINT16 identityRc = TWRC_SUCCESS;
    bool rewritesId = false;                  // writes its own Id into MSG_GET's record
    TW_UINT16 openCondition = TWCC_SUCCESS;   // not success: MSG_OPENDS fails with it
    TW_UINT16 closeCondition = TWCC_SUCCESS;  // not success: MSG_CLOSEDS fails with it
    std::function<TW_UINT16(const std::string& file)> onEnable;
};

struct SourceState {
    TW_IDENTITY self{};  // as given at MSG_OPENDS
    TW_IDENTITY host{};  // the origin of MSG_OPENDS
    TW_ENTRYPOINT points{};
    TW_UINT16 condition = TWCC_SUCCESS;
};

std::map<std::string, Behaviour> gBehaviour;
std::map<std::string, SourceState> gState;
std::vector<std::string> gJournal;

std::string Describe(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
    if (dg == DG_CONTROL && dat == DAT_IDENTITY && msg == MSG_GET) return "identity";
    if (dg == DG_CONTROL && dat == DAT_IDENTITY && msg == MSG_OPENDS) return "open";
    if (dg == DG_CONTROL && dat == DAT_IDENTITY && msg == MSG_CLOSEDS) return "close";
    if (dg == DG_CONTROL && dat == DAT_ENTRYPOINT && msg == MSG_SET) return "entrypoint";
    if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET) return "status";
    if (dg == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_ENABLEDS) return "enable";
    return std::to_string(dg) + "/" + std::to_string(dat) + "/" + std::to_string(msg);
}

TW_UINT16 FakeEntry(const char* fileName, pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data) {
    const std::string file = fileName;
    gJournal.push_back(file + " " + Describe(dg, dat, msg));
    const Behaviour& behaviour = gBehaviour[file];
    SourceState& state = gState[file];
    const std::string what = Describe(dg, dat, msg);
    if (what == "identity") {
        auto* id = static_cast<pTW_IDENTITY>(data);
        const TW_UINT32 given = id->Id;
        *id = TW_IDENTITY{};
        id->Id = behaviour.rewritesId ? 999 : given;
        id->Version = {1, 0, TWLG_USA, TWCY_USA, "1.0"};
        id->ProtocolMajor = 2;
        id->SupportedGroups = behaviour.groups;
        std::strcpy(id->Manufacturer, "Test Maker");
        std::strcpy(id->ProductFamily, "Fake");
        std::strncpy(id->ProductName, file.c_str(), sizeof id->ProductName - 1);
        return behaviour.identityRc;
    }
    if (what == "entrypoint") {
        state.points = *static_cast<pTW_ENTRYPOINT>(data);
        return TWRC_SUCCESS;
    }
    if (what == "open" || what == "close") {
        const TW_UINT16 condition = what == "open" ? behaviour.openCondition : behaviour.closeCondition;
        if (condition != TWCC_SUCCESS) {
            state.condition = condition;
            return TWRC_FAILURE;
        }
        if (what == "open") {
            state.self = *static_cast<pTW_IDENTITY>(data);
            state.host = *origin;
        }
        return TWRC_SUCCESS;
    }
    if (what == "status") {
        static_cast<pTW_STATUS>(data)->ConditionCode = state.condition;
        state.condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (what == "enable" && behaviour.onEnable) return behaviour.onEnable(file);
    return TWRC_SUCCESS;
}

void FakeLoaded(const char* file, bool isLoaded) { gJournal.push_back(std::string(file) + (isLoaded ? " load" : " unload")); }

}  // namespace

extern "C" {
__attribute__((visibility("default"))) FakeSourceBridge kd_fake_source_bridge = {FakeEntry, FakeLoaded};
}

namespace {

bool Journaled(const std::string& line) {
    return std::find(gJournal.begin(), gJournal.end(), line) != gJournal.end();
}

// The journal lines of one file, without the file name.
std::vector<std::string> JournalOf(const std::string& file) {
    std::vector<std::string> lines;
    for (const std::string& line : gJournal) {
        if (line.rfind(file + " ", 0) == 0) lines.push_back(line.substr(file.size() + 1));
    }
    return lines;
}

// ---- The host's callback --------------------------------------------------------------

struct CallbackSeen {
    int calls = 0;
    TW_UINT32 originId = 0;
    std::string originProduct;
    TW_UINT32 destId = 0;
    TW_UINT32 dg = 0;
    TW_UINT16 dat = 0xFFFF;
    TW_UINT16 msg = 0;
    TW_MEMREF data = nullptr;
};
CallbackSeen gSeen;
std::function<void()> gInsideCallback;  // what the callback does before answering
constexpr TW_UINT16 kCallbackAnswer = 0x4321;

TW_UINT16 HostCallback(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                       TW_MEMREF data) {
    ++gSeen.calls;
    gSeen.originId = origin->Id;
    gSeen.originProduct = origin->ProductName;
    gSeen.destId = dest->Id;
    gSeen.dg = dg;
    gSeen.dat = dat;
    gSeen.msg = msg;
    gSeen.data = data;
    if (gInsideCallback) gInsideCallback();
    return kCallbackAnswer;
}

// A source telling its host something, the way a 2.x source does.
TW_UINT16 Notify(const std::string& file, TW_UINT16 msg) {
    SourceState& state = gState[file];
    return state.points.DSM_Entry(&state.self, &state.host, DG_CONTROL, DAT_NULL, msg, nullptr);
}

class DsmTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("KD_TEST_TMP");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/twain_dsm_XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        UseFolders("search");
        gBehaviour.clear();
        gState.clear();
        gJournal.clear();
        gSeen = {};
        gInsideCallback = nullptr;
        host_ = HostIdentity();
    }

    void TearDown() override {
        for (auto& [file, behaviour] : gBehaviour) behaviour.closeCondition = TWCC_SUCCESS;
        gInsideCallback = nullptr;
        DSM_Entry(&host_, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr);
        unsetenv("KD_TWAIN_DS_PATH");
        fs::remove_all(root_);
    }

    static TW_IDENTITY HostIdentity() {
        TW_IDENTITY id{};
        id.Id = 1;  // a host's guess; the manager assigns the real one
        id.Version = {1, 0, TWLG_USA, TWCY_USA, "4.0"};
        id.ProtocolMajor = 2;
        id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
        std::strcpy(id.Manufacturer, "Test Host Maker");
        std::strcpy(id.ProductFamily, "Test");
        std::strcpy(id.ProductName, "Host");
        return id;
    }

    // Search folders relative to the test's root, separated by colons.
    void UseFolders(const std::string& folders) {
        std::string value;
        std::size_t start = 0;
        while (start <= folders.size()) {
            const std::size_t colon = std::min(folders.find(':', start), folders.size());
            if (!value.empty()) value += ':';
            value += root_ + "/" + folders.substr(start, colon - start);
            start = colon + 1;
        }
        setenv("KD_TWAIN_DS_PATH", value.c_str(), 1);
    }

    // Copies a built object to `relative` under the root; returns its file name.
    std::string Place(const std::string& relative, const char* from = KD_FAKE_SOURCE) {
        const fs::path to = fs::path(root_) / relative;
        fs::create_directories(to.parent_path());
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        return to.filename().string();
    }

    void Write(const std::string& relative, const std::string& text) {
        const fs::path to = fs::path(root_) / relative;
        fs::create_directories(to.parent_path());
        std::ofstream(to) << text;
    }

    void Link(const std::string& relative, const std::string& target) {
        const fs::path at = fs::path(root_) / relative;
        fs::create_directories(at.parent_path());
        fs::create_symlink(fs::path(root_) / target, at);
    }

    TW_UINT16 Manager(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        return DSM_Entry(&host_, nullptr, DG_CONTROL, dat, msg, data);
    }

    TW_UINT16 ToSource(pTW_IDENTITY source, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        return DSM_Entry(&host_, source, DG_CONTROL, dat, msg, data);
    }

    TW_UINT16 ToSourceCallback(pTW_IDENTITY source, TW_CALLBACK2* record) {
        return DSM_Entry(&host_, source, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, record);
    }

    // The manager's condition code, which reading clears.
    TW_UINT16 Condition() {
        TW_STATUS status{};
        EXPECT_EQ(Manager(DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        return status.ConditionCode;
    }

    void OpenManager() { ASSERT_EQ(Manager(DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS); }

    std::vector<TW_IDENTITY> List() {
        std::vector<TW_IDENTITY> found;
        TW_IDENTITY id{};
        for (TW_UINT16 rc = Manager(DAT_IDENTITY, MSG_GETFIRST, &id); rc == TWRC_SUCCESS;
             rc = Manager(DAT_IDENTITY, MSG_GETNEXT, &id)) {
            found.push_back(id);
        }
        return found;
    }

    std::vector<std::string> ListNames() {
        std::vector<std::string> names;
        for (const TW_IDENTITY& id : List()) names.emplace_back(id.ProductName);
        return names;
    }

    // Lists, then opens the source named `file`.
    TW_IDENTITY Open(const std::string& file) {
        for (TW_IDENTITY id : List()) {
            if (file == id.ProductName) {
                EXPECT_EQ(Manager(DAT_IDENTITY, MSG_OPENDS, &id), TWRC_SUCCESS);
                return id;
            }
        }
        ADD_FAILURE() << file << " not listed";
        return {};
    }

    std::string root_;
    TW_IDENTITY host_{};
};

// ---- Finding and listing ------------------------------------------------------------------

TEST_F(DsmTest, SearchRulesDecideWhatIsListed) {
    struct Case {
        std::string name;
        std::function<void()> place;
        std::string folders;
        std::vector<std::string> listed;
        std::vector<std::string> reported;  // texts standard error must hold (empty: nothing printed)
    };
    const std::vector<Case> cases = {
        {"source in a sub-folder", [&] { Place("c1/sub/deep/in_sub.ds"); }, "c1", {"in_sub.ds"}, {}},
        {"'.ds' inside a longer name",
         [&] {
             Place("c2/vendor.ds.so");
             Place("c2/vendor.so");
         },
         "c2", {"vendor.ds.so"}, {}},
        {"links are not followed",
         [&] {
             Place("outside/real.ds");
             Link("c3/link.ds", "outside/real.ds");
             Link("c3/folder", "outside");
         },
         "c3", {}, {}},
        {"name order, upper case first, sub-folders in place",
         [&] {
             Place("c4/b.ds");
             Place("c4/a.ds");
             Place("c4/c/c.ds");
             Place("c4/B.ds");
             Place("c4/d.ds");
         },
         "c4", {"B.ds", "a.ds", "b.ds", "c.ds", "d.ds"}, {}},
        {"folders of the path in their order",
         [&] {
             Place("c5/second/a.ds");
             Place("c5/first/z.ds");
         },
         "c5/first:c5/missing:c5/second", {"z.ds", "a.ds"}, {}},
        {"a .ds that is not a shared object",
         [&] {
             Write("c6/text.ds", "not a library\n");
             Place("c6/zz.ds");
         },
         "c6", {"zz.ds"}, {"text.ds"}},
        {"a shared object without DS_Entry",
         [&] {
             Place("c7/noentry.ds", KD_FAKE_NO_ENTRY);
             Place("c7/zzz.ds");
         },
         "c7", {"zzz.ds"}, {"noentry.ds", "DS_Entry"}},
        {"a source that refuses its identity",
         [&] {
             gBehaviour["refuses.ds"].identityRc = TWRC_FAILURE;
             Place("c8/refuses.ds");
             Place("c8/willing.ds");
         },
         "c8", {"willing.ds"}, {"refuses.ds"}},
        {"a source for other groups than the host's",
         [&] {
             gBehaviour["audio.ds"].groups = DG_CONTROL | DG_AUDIO | DF_DS2;
             gBehaviour["control.ds"].groups = DG_CONTROL;
             Place("c9/audio.ds");
             Place("c9/control.ds");
             Place("c9/image.ds");
         },
         "c9", {"image.ds"}, {}},
    };
    OpenManager();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.place();
        UseFolders(c.folders);
        testing::internal::CaptureStderr();
        const std::vector<std::string> listed = ListNames();
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(listed, c.listed);
        if (c.reported.empty()) {
            EXPECT_EQ(printed, "");
        }
        for (const std::string& text : c.reported) EXPECT_NE(printed.find(text), std::string::npos) << printed;
    }
}

TEST_F(DsmTest, ListingAsksEachSourceWithItsIdPresetAndUnloadsIt) {
    gBehaviour["liar.ds"].rewritesId = true;
    Place("search/a.ds");
    Place("search/liar.ds");
    OpenManager();
    EXPECT_NE(host_.Id, 0u);
    EXPECT_NE(host_.SupportedGroups & DF_DSM2, 0u);
    const std::vector<TW_IDENTITY> listed = List();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(JournalOf("a.ds"), (std::vector<std::string>{"load", "identity", "unload"}));
    // Ids are the manager's: distinct, not the host's, and not what a source claims.
    EXPECT_NE(listed[0].Id, listed[1].Id);
    EXPECT_NE(listed[1].Id, 999u);
    for (const TW_IDENTITY& id : listed) EXPECT_NE(id.Id, host_.Id);
    // A second listing keeps the Ids.
    const std::vector<TW_IDENTITY> again = List();
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0].Id, listed[0].Id);
    EXPECT_EQ(again[1].Id, listed[1].Id);
    TW_IDENTITY past{};
    EXPECT_EQ(Manager(DAT_IDENTITY, MSG_GETNEXT, &past), TWRC_ENDOFLIST);

    TW_IDENTITY chosen{};
    EXPECT_EQ(Manager(DAT_IDENTITY, MSG_GETDEFAULT, &chosen), TWRC_SUCCESS);
    EXPECT_STREQ(chosen.ProductName, "a.ds");
}

TEST_F(DsmTest, NoSourcesEndsTheListAndHasNoDefault) {
    OpenManager();
    TW_IDENTITY id{};
    EXPECT_EQ(Manager(DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_ENDOFLIST);
    EXPECT_EQ(Manager(DAT_IDENTITY, MSG_GETDEFAULT, &id), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_NODS);
}

// ---- Opening and closing ---------------------------------------------------------------------

TEST_F(DsmTest, OpenHandsEntryPointsOnlyToTwoXSourcesFirst) {
    struct Case {
        std::string file;
        TW_UINT32 groups;
        std::vector<std::string> journal;
    };
    const std::vector<Case> cases = {
        {"v2.ds", DG_CONTROL | DG_IMAGE | DF_DS2, {"load", "entrypoint", "open"}},
        {"v1.ds", DG_CONTROL | DG_IMAGE, {"load", "open"}},
    };
    for (const Case& c : cases) {
        gBehaviour[c.file].groups = c.groups;
        Place("search/" + c.file);
    }
    OpenManager();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        gJournal.clear();
        TW_IDENTITY listedId{};
        for (const TW_IDENTITY& id : List()) {
            if (c.file == id.ProductName) listedId = id;
        }
        gJournal.clear();
        TW_IDENTITY id = listedId;
        ASSERT_EQ(Manager(DAT_IDENTITY, MSG_OPENDS, &id), TWRC_SUCCESS);
        EXPECT_EQ(JournalOf(c.file), c.journal);
        EXPECT_EQ(id.Id, listedId.Id);
        EXPECT_EQ(gState[c.file].self.Id, listedId.Id);
        EXPECT_EQ(gState[c.file].host.Id, host_.Id);

        ASSERT_EQ(Manager(DAT_IDENTITY, MSG_CLOSEDS, &id), TWRC_SUCCESS);
        EXPECT_EQ(JournalOf(c.file).back(), "unload");
    }
    const TW_ENTRYPOINT& points = gState["v2.ds"].points;
    // Packed records: fields are copied out, never bound to references.
    const TW_UINT32 size = points.Size;
    const DSMENTRYPROC entry = points.DSM_Entry;
    EXPECT_EQ(size, kTwEntryPointSize);
    EXPECT_EQ(entry, &DSM_Entry);
    TW_HANDLE block = points.DSM_MemAllocate(32);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(points.DSM_MemLock(block), block);
    EXPECT_EQ(static_cast<const char*>(block)[31], 0);
    points.DSM_MemUnlock(block);
    points.DSM_MemFree(block);
}

TEST_F(DsmTest, OpenByNameOrDefaultWhenNoId) {
    Place("search/first.ds");
    Place("search/second.ds");
    OpenManager();
    TW_IDENTITY byName{};
    std::strcpy(byName.ProductName, "second.ds");
    ASSERT_EQ(Manager(DAT_IDENTITY, MSG_OPENDS, &byName), TWRC_SUCCESS);
    EXPECT_STREQ(byName.ProductName, "second.ds");
    EXPECT_NE(byName.Id, 0u);
    TW_IDENTITY byDefault{};
    ASSERT_EQ(Manager(DAT_IDENTITY, MSG_OPENDS, &byDefault), TWRC_SUCCESS);
    EXPECT_STREQ(byDefault.ProductName, "first.ds");
    TW_IDENTITY missing{};
    std::strcpy(missing.ProductName, "third.ds");
    EXPECT_EQ(Manager(DAT_IDENTITY, MSG_OPENDS, &missing), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_NODS);
}

TEST_F(DsmTest, FailedOpenPassesTheSourcesReasonAndUnloadsIt) {
    for (const TW_UINT16 condition : {TWCC_NODS, TWCC_MAXCONNECTIONS}) {
        SCOPED_TRACE(condition);
        const std::string file = "fails" + std::to_string(condition) + ".ds";
        gBehaviour[file].openCondition = condition;
        Place("search/" + file);
        TW_IDENTITY host = HostIdentity();
        ASSERT_EQ(DSM_Entry(&host, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_SUCCESS);
        host_ = host;
        gJournal.clear();
        TW_IDENTITY id{};
        std::strcpy(id.ProductName, file.c_str());
        EXPECT_EQ(Manager(DAT_IDENTITY, MSG_OPENDS, &id), TWRC_FAILURE);
        EXPECT_EQ(Condition(), condition);
        EXPECT_EQ(JournalOf(file), (std::vector<std::string>{"load", "identity", "unload", "load", "entrypoint",
                                                             "open", "status", "unload"}));
        // Still state 3: nothing is open to talk to.
        TW_STATUS status{};
        EXPECT_EQ(ToSource(&id, DAT_STATUS, MSG_GET, &status), TWRC_FAILURE);
        EXPECT_EQ(Condition(), TWCC_SEQERROR);
        EXPECT_EQ(Manager(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
    }
}

TEST_F(DsmTest, SourceRefusingToCloseStaysOpenAndLoaded) {
    gBehaviour["busy.ds"].closeCondition = TWCC_SEQERROR;
    Place("search/busy.ds");
    OpenManager();
    TW_IDENTITY id = Open("busy.ds");
    gJournal.clear();
    EXPECT_EQ(Manager(DAT_IDENTITY, MSG_CLOSEDS, &id), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    EXPECT_EQ(Manager(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_FAILURE);
    EXPECT_FALSE(Journaled("busy.ds unload"));
    TW_STATUS status{};
    EXPECT_EQ(ToSource(&id, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);

    gBehaviour["busy.ds"].closeCondition = TWCC_SUCCESS;
    EXPECT_EQ(Manager(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
    EXPECT_TRUE(Journaled("busy.ds unload"));
}

TEST_F(DsmTest, ClosingTheManagerClosesOpenSources) {
    Place("search/a.ds");
    Place("search/b.ds");
    OpenManager();
    TW_IDENTITY a = Open("a.ds");
    Open("b.ds");
    ASSERT_EQ(Manager(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
    for (const std::string file : {"a.ds", "b.ds"}) {
        const std::vector<std::string> lines = JournalOf(file);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "close");
        EXPECT_EQ(lines.back(), "unload");
    }
    // Back in state 2.
    TW_STATUS status{};
    EXPECT_EQ(ToSource(&a, DAT_STATUS, MSG_GET, &status), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_SEQERROR);
    TW_IDENTITY id{};
    EXPECT_EQ(Manager(DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_FAILURE);
}

// ---- Callbacks -----------------------------------------------------------------------------------

TEST_F(DsmTest, TransferReadyReachesTheHostsCallbackAndItsAnswerTheSource) {
    struct Case {
        std::string name;
        TW_UINT16 dat;
        bool forTheSource;  // registered with the source as destination
    };
    const std::vector<Case> cases = {
        {"DAT_CALLBACK for all sources", DAT_CALLBACK, false},
        {"DAT_CALLBACK2 for all sources", DAT_CALLBACK2, false},
        {"DAT_CALLBACK2 for one source", DAT_CALLBACK2, true},
    };
    Place("search/scanner.ds");
    int refCon = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host_ = HostIdentity();
        OpenManager();
        TW_IDENTITY source{};
        TW_UINTPTR expectedRefCon = 0;
        auto registerCallback = [&](pTW_IDENTITY dest) {
            if (c.dat == DAT_CALLBACK) {
                TW_CALLBACK record{reinterpret_cast<TW_MEMREF>(&HostCallback), 0xC0FFEE01, 0};
                expectedRefCon = record.RefCon;
                return DSM_Entry(&host_, dest, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &record);
            }
            TW_CALLBACK2 record{reinterpret_cast<TW_MEMREF>(&HostCallback), reinterpret_cast<TW_UINTPTR>(&refCon), 0};
            expectedRefCon = record.RefCon;
            return DSM_Entry(&host_, dest, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &record);
        };
        if (!c.forTheSource) {
            ASSERT_EQ(registerCallback(nullptr), TWRC_SUCCESS);
        }
        source = Open("scanner.ds");
        if (c.forTheSource) {
            ASSERT_EQ(registerCallback(&source), TWRC_SUCCESS);
        }

        TW_UINT16 answerSeenBySource = 0;
        gBehaviour["scanner.ds"].onEnable = [&](const std::string& file) {
            answerSeenBySource = Notify(file, MSG_XFERREADY);
            return answerSeenBySource;
        };
        // The callback talks to the source again before it answers.
        gInsideCallback = [&] {
            TW_STATUS status{};
            EXPECT_EQ(ToSource(&source, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        };
        gSeen = {};
        gJournal.clear();
        TW_USERINTERFACE ui{0, 0, nullptr};
        EXPECT_EQ(ToSource(&source, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), kCallbackAnswer);
        EXPECT_EQ(answerSeenBySource, kCallbackAnswer);
        EXPECT_EQ(gSeen.calls, 1);
        EXPECT_EQ(gSeen.originId, source.Id);
        EXPECT_EQ(gSeen.originProduct, "scanner.ds");
        EXPECT_EQ(gSeen.destId, host_.Id);
        EXPECT_EQ(gSeen.dg, DG_CONTROL);
        EXPECT_EQ(gSeen.dat, DAT_NULL);
        EXPECT_EQ(gSeen.msg, MSG_XFERREADY);
        EXPECT_EQ(reinterpret_cast<TW_UINTPTR>(gSeen.data), expectedRefCon);
        EXPECT_EQ(JournalOf("scanner.ds"), (std::vector<std::string>{"enable", "status"}));
        gInsideCallback = nullptr;
        ASSERT_EQ(Manager(DAT_PARENT, MSG_CLOSEDSM, nullptr), TWRC_SUCCESS);
    }
}

TEST_F(DsmTest, OlderInvokeCallbackIsDeliveredLikeANotification) {
    Place("search/old.ds");
    OpenManager();
    TW_CALLBACK record{reinterpret_cast<TW_MEMREF>(&HostCallback), 7, 0};
    ASSERT_EQ(Manager(DAT_CALLBACK, MSG_REGISTER_CALLBACK, &record), TWRC_SUCCESS);
    Open("old.ds");
    SourceState& state = gState["old.ds"];
    TW_CALLBACK invoke{nullptr, 0, static_cast<TW_INT16>(MSG_CLOSEDSREQ)};
    EXPECT_EQ(state.points.DSM_Entry(&state.self, nullptr, DG_CONTROL, DAT_CALLBACK, MSG_INVOKE_CALLBACK, &invoke),
              kCallbackAnswer);
    EXPECT_EQ(gSeen.dat, DAT_NULL);
    EXPECT_EQ(gSeen.msg, MSG_CLOSEDSREQ);
    EXPECT_EQ(gSeen.destId, host_.Id);
    EXPECT_EQ(reinterpret_cast<TW_UINTPTR>(gSeen.data), 7u);
}

TEST_F(DsmTest, NotificationsThatCannotBeDeliveredFail) {
    Place("search/lonely.ds");
    OpenManager();
    Open("lonely.ds");
    SourceState& state = gState["lonely.ds"];
    // No callback registered yet.
    EXPECT_EQ(Notify("lonely.ds", MSG_XFERREADY), TWRC_FAILURE);

    TW_CALLBACK2 record{reinterpret_cast<TW_MEMREF>(&HostCallback), 0, 0};
    ASSERT_EQ(Manager(DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &record), TWRC_SUCCESS);
    TW_IDENTITY stranger = state.host;
    stranger.Id += 100;
    TW_IDENTITY notOpen = state.self;
    notOpen.Id += 100;
    EXPECT_EQ(state.points.DSM_Entry(&state.self, &stranger, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr),
              TWRC_FAILURE);
    EXPECT_EQ(state.points.DSM_Entry(&notOpen, &state.host, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr),
              TWRC_FAILURE);
    EXPECT_EQ(state.points.DSM_Entry(&state.self, &state.host, DG_CONTROL, DAT_NULL, MSG_GET, nullptr),
              TWRC_FAILURE);
    EXPECT_EQ(state.points.DSM_Entry(&state.self, nullptr, DG_CONTROL, DAT_CALLBACK, MSG_INVOKE_CALLBACK, nullptr),
              TWRC_FAILURE);
    EXPECT_EQ(gSeen.calls, 0);
    EXPECT_EQ(Notify("lonely.ds", MSG_DEVICEEVENT), kCallbackAnswer);
}

TEST_F(DsmTest, CallbackMayCloseTheSourceThatIsCallingIt) {
    Place("search/closer.ds");
    OpenManager();
    TW_CALLBACK2 record{reinterpret_cast<TW_MEMREF>(&HostCallback), 0, 0};
    ASSERT_EQ(Manager(DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &record), TWRC_SUCCESS);
    TW_IDENTITY source = Open("closer.ds");
    gInsideCallback = [&] {
        TW_IDENTITY id = source;
        EXPECT_EQ(Manager(DAT_IDENTITY, MSG_CLOSEDS, &id), TWRC_SUCCESS);
        // The source's code is still running below this callback.
        EXPECT_FALSE(Journaled("closer.ds unload"));
    };

    // Inside a host's call: unloaded when that call returns.
    gBehaviour["closer.ds"].onEnable = [](const std::string& file) { return Notify(file, MSG_XFERREADY); };
    gJournal.clear();
    TW_USERINTERFACE ui{0, 0, nullptr};
    EXPECT_EQ(ToSource(&source, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), kCallbackAnswer);
    EXPECT_TRUE(Journaled("closer.ds unload"));

    // From the source's own code (a timer, say): unloaded at the host's next call.
    source = Open("closer.ds");
    gJournal.clear();
    EXPECT_EQ(Notify("closer.ds", MSG_CLOSEDSREQ), kCallbackAnswer);
    EXPECT_EQ(JournalOf("closer.ds"), std::vector<std::string>{"close"});
    EXPECT_EQ(Condition(), TWCC_SUCCESS);
    EXPECT_EQ(JournalOf("closer.ds"), (std::vector<std::string>{"close", "unload"}));
}

// ---- States and bad input ---------------------------------------------------------------------------

TEST_F(DsmTest, TripletsInTheWrongStateOrWithBadRecordsFailAndTheManagerGoesOn) {
    Place("search/target.ds");
    TW_IDENTITY id{};
    TW_STATUS status{};
    TW_CALLBACK2 noProc{nullptr, 0, 0};
    TW_CALLBACK2 proc{reinterpret_cast<TW_MEMREF>(&HostCallback), 0, 0};
    TW_ENTRYPOINT shortPoints{};
    shortPoints.Size = kTwEntryPointSize - 4;
    TW_IDENTITY unknown{};
    unknown.Id = 0x7FFFFFF0;

    struct Case {
        std::string name;
        std::function<TW_UINT16()> call;
        TW_UINT16 condition;
    };
    // State 2: the manager is not open for this host.
    const std::vector<Case> closed = {
        {"list", [&] { return Manager(DAT_IDENTITY, MSG_GETFIRST, &id); }, TWCC_SEQERROR},
        {"close manager", [&] { return Manager(DAT_PARENT, MSG_CLOSEDSM, nullptr); }, TWCC_SEQERROR},
        {"register", [&] { return Manager(DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &proc); }, TWCC_SEQERROR},
        {"to a source", [&] { return ToSource(&unknown, DAT_STATUS, MSG_GET, &status); }, TWCC_SEQERROR},
        {"no origin", [&] { return DSM_Entry(nullptr, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr); },
         TWCC_BADPROTOCOL},
    };
    // State 3: the manager is open, no source is.
    const std::vector<Case> open = {
        {"open again", [&] { return Manager(DAT_PARENT, MSG_OPENDSM, nullptr); }, TWCC_SEQERROR},
        {"next before first", [&] { return Manager(DAT_IDENTITY, MSG_GETNEXT, &id); }, TWCC_SEQERROR},
        {"list into nothing", [&] { return Manager(DAT_IDENTITY, MSG_GETFIRST, nullptr); }, TWCC_BADVALUE},
        {"default into nothing", [&] { return Manager(DAT_IDENTITY, MSG_GETDEFAULT, nullptr); }, TWCC_BADVALUE},
        {"open nothing", [&] { return Manager(DAT_IDENTITY, MSG_OPENDS, nullptr); }, TWCC_BADVALUE},
        {"open an unknown Id", [&] { id = unknown; return Manager(DAT_IDENTITY, MSG_OPENDS, &id); }, TWCC_BADVALUE},
        {"close with none open", [&] { return Manager(DAT_IDENTITY, MSG_CLOSEDS, &unknown); }, TWCC_SEQERROR},
        {"to a source with none open", [&] { return ToSource(&unknown, DAT_STATUS, MSG_GET, &status); },
         TWCC_SEQERROR},
        {"register no record", [&] { return Manager(DAT_CALLBACK, MSG_REGISTER_CALLBACK, nullptr); }, TWCC_BADVALUE},
        {"register no procedure", [&] { return Manager(DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &noProc); },
         TWCC_BADVALUE},
        {"register for a closed source", [&] { return ToSourceCallback(&unknown, &proc); }, TWCC_SEQERROR},
        {"entry points with a wrong size", [&] { return Manager(DAT_ENTRYPOINT, MSG_GET, &shortPoints); },
         TWCC_BADVALUE},
        {"entry points into nothing", [&] { return Manager(DAT_ENTRYPOINT, MSG_GET, nullptr); }, TWCC_BADVALUE},
        {"status into nothing", [&] { return Manager(DAT_STATUS, MSG_GET, nullptr); }, TWCC_BADVALUE},
        {"unknown manager triplet", [&] { return Manager(DAT_PARENT, MSG_GET, nullptr); }, TWCC_BADPROTOCOL},
        {"identity of the manager", [&] { return Manager(DAT_IDENTITY, MSG_GET, &id); }, TWCC_BADPROTOCOL},
        {"user selection", [&] { return Manager(DAT_IDENTITY, MSG_USERSELECT, &id); }, TWCC_BADPROTOCOL},
    };
    // State 4: a source is open.
    const std::vector<Case> withSource = {
        {"to an unknown source", [&] { return ToSource(&unknown, DAT_STATUS, MSG_GET, &status); }, TWCC_BADPROTOCOL},
        {"close an unknown source", [&] { return Manager(DAT_IDENTITY, MSG_CLOSEDS, &unknown); }, TWCC_BADVALUE},
        {"close nothing", [&] { return Manager(DAT_IDENTITY, MSG_CLOSEDS, nullptr); }, TWCC_BADVALUE},
        {"register for an unknown source", [&] { return ToSourceCallback(&unknown, &proc); }, TWCC_BADPROTOCOL},
    };
    auto run = [&](const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(c.call(), TWRC_FAILURE);
            EXPECT_EQ(Condition(), c.condition);
            EXPECT_EQ(Condition(), TWCC_SUCCESS);  // reading cleared it
        }
    };
    run(closed);
    OpenManager();
    run(open);
    TW_IDENTITY source = Open("target.ds");
    run(withSource);

    // Still working: the source answers through the manager and closes.
    EXPECT_EQ(ToSource(&source, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    EXPECT_EQ(Manager(DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    EXPECT_EQ(Manager(DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_SUCCESS);
}

TEST_F(DsmTest, HostGetsTheEntryPoints) {
    OpenManager();
    TW_ENTRYPOINT points{};
    points.Size = kTwEntryPointSize;
    ASSERT_EQ(Manager(DAT_ENTRYPOINT, MSG_GET, &points), TWRC_SUCCESS);
    const DSMENTRYPROC entry = points.DSM_Entry;
    const DSM_MEMALLOCATE allocate = points.DSM_MemAllocate;
    const DSM_MEMFREE release = points.DSM_MemFree;
    EXPECT_EQ(entry, &DSM_Entry);
    ASSERT_NE(allocate, nullptr);
    ASSERT_NE(release, nullptr);
    TW_HANDLE block = allocate(8);
    EXPECT_NE(block, nullptr);
    release(block);
}

}  // namespace
