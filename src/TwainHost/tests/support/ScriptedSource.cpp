#include "ScriptedSource.h"

#include "TV_TWAINHandler.h"
#include "fake_source_bridge.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace twainhosttest {

namespace {

ScriptedSource* sCurrent = nullptr;
constexpr int kAnyCap = -1;

std::string tripletText(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
    char text[48];
    std::snprintf(text, sizeof text, "%u/0x%X/0x%X", dg, dat, msg);
    return text;
}

TW_UINT16 bridgeEntry(const char* file, pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                      TW_MEMREF data) {
    return sCurrent ? sCurrent->sourceEntry(file, origin, dg, dat, msg, data) : TWRC_FAILURE;
}

void bridgeLoaded(const char*, bool) {}

TW_UINT16 recorder(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                   TW_MEMREF data) {
    if (!sCurrent) return DSM_Entry(origin, dest, dg, dat, msg, data);
    return sCurrent->hostEntry(origin, dest, dg, dat, msg, data);
}

} // namespace

} // namespace twainhosttest

extern "C" {
__attribute__((visibility("default"))) FakeSourceBridge kd_fake_source_bridge = {twainhosttest::bridgeEntry,
                                                                                 twainhosttest::bridgeLoaded};
}

namespace twainhosttest {

std::string HostCall::triplet() const { return tripletText(dg, dat, msg); }

std::string SourceCall::triplet() const { return tripletText(dg, dat, msg); }

ScriptedSource::ScriptedSource() {
    if (sCurrent) throw std::logic_error("one ScriptedSource at a time");
    const char* base = std::getenv("KD_TEST_TMP");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/scripted_source_XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    folder_ = root_ / "twain";
    fs::create_directories(folder_);
    if (const char* old = std::getenv("KD_TWAIN_DS_PATH")) {
        hadPath_ = true;
        oldPath_ = old;
    }
    ::setenv("KD_TWAIN_DS_PATH", folder_.c_str(), 1);
    sCurrent = this;
    TV_TWAINHandler::setDSMEntry(&recorder);
}

ScriptedSource::~ScriptedSource() {
    TV_TWAINHandler::setDSMEntry(nullptr);
    TV_TWAINHandler::setMemoryFunctions(nullptr);
    sCurrent = nullptr;
    if (hadPath_)
        ::setenv("KD_TWAIN_DS_PATH", oldPath_.c_str(), 1);
    else
        ::unsetenv("KD_TWAIN_DS_PATH");
    std::error_code ec;
    fs::remove_all(root_, ec);
}

ScriptedSource* ScriptedSource::current() { return sCurrent; }

void ScriptedSource::place(const std::string& file, const std::string& manufacturer,
                           const std::string& productFamily, const std::string& productName) {
    fs::copy_file(KD_FAKE_SOURCE, folder_ / file, fs::copy_options::overwrite_existing);
    placed_[file] = Placed{manufacturer, productFamily, productName};
}

void ScriptedSource::answer(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, Answer answer) {
    answers_[{dg, dat, msg, kAnyCap}] = std::move(answer);
}

void ScriptedSource::answerCap(TW_UINT16 msg, TW_UINT16 cap, Answer answer) {
    answers_[{DG_CONTROL, DAT_CAPABILITY, msg, cap}] = std::move(answer);
}

void ScriptedSource::answerContainer(TW_UINT16 msg, TW_UINT16 cap, TW_UINT16 conType,
                                     std::vector<std::uint8_t> block) {
    Answer a;
    a.act = [this, conType, block = std::move(block)](SourceCall& call) -> TW_UINT16 {
        auto* record = static_cast<pTW_CAPABILITY>(call.data);
        TW_HANDLE handle = allocate(block.size());
        if (!handle) return TWRC_FAILURE;
        std::memcpy(points_.DSM_MemLock ? points_.DSM_MemLock(handle) : handle, block.data(), block.size());
        if (points_.DSM_MemUnlock) points_.DSM_MemUnlock(handle);
        record->ConType = conType;
        record->hContainer = handle;
        return TWRC_SUCCESS;
    };
    answerCap(msg, cap, std::move(a));
}

void ScriptedSource::answerOneValue(TW_UINT16 msg, TW_UINT16 cap, TW_UINT16 itemType, const void* item,
                                    std::size_t size) {
    std::vector<std::uint8_t> block(kTwOneValueItemOffset + std::max<std::size_t>(size, sizeof(TW_UINT32)));
    std::memcpy(block.data(), &itemType, sizeof itemType);
    std::memcpy(block.data() + kTwOneValueItemOffset, item, size);
    answerContainer(msg, cap, TWON_ONEVALUE, std::move(block));
}

TW_HANDLE ScriptedSource::allocate(std::size_t size) const {
    if (points_.DSM_MemAllocate) return points_.DSM_MemAllocate(static_cast<TW_UINT32>(size));
    return std::calloc(size, 1);
}

TW_UINT16 ScriptedSource::notify(const std::string& file, TW_UINT16 msg) {
    Placed& p = placed_.at(file);
    if (!points_.DSM_Entry) return TWRC_FAILURE;
    return points_.DSM_Entry(&p.self, &p.host, DG_CONTROL, DAT_NULL, msg, nullptr);
}

void ScriptedSource::clearLogs() {
    hostCalls.clear();
    sourceCalls.clear();
}

std::vector<std::string> ScriptedSource::hostTriplets() const {
    std::vector<std::string> out;
    for (const HostCall& c : hostCalls) out.push_back(c.triplet());
    return out;
}

std::vector<std::string> ScriptedSource::sourceTriplets() const {
    std::vector<std::string> out;
    for (const SourceCall& c : sourceCalls) out.push_back(c.triplet());
    return out;
}

const Answer* ScriptedSource::find(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 cap) const {
    if (dat == DAT_CAPABILITY) {
        if (auto it = answers_.find({dg, dat, msg, int(cap)}); it != answers_.end()) return &it->second;
    }
    if (auto it = answers_.find({dg, dat, msg, kAnyCap}); it != answers_.end()) return &it->second;
    return nullptr;
}

TW_UINT16 ScriptedSource::hostEntry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                    TW_UINT16 msg, TW_MEMREF data) {
    HostCall call;
    call.dg = dg;
    call.dat = dat;
    call.msg = msg;
    call.toSource = dest != nullptr;
    call.destId = dest ? dest->Id : 0;
    call.data = data;
    // Logged before the call: callbacks may make further calls meanwhile.
    const std::size_t at = hostCalls.size();
    hostCalls.push_back(call);
    const TW_UINT16 rc = DSM_Entry(origin, dest, dg, dat, msg, data);
    hostCalls[at].rc = rc;
    return rc;
}

TW_UINT16 ScriptedSource::sourceEntry(const char* fileName, pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat,
                                      TW_UINT16 msg, TW_MEMREF data) {
    const std::string file = fileName;
    auto placedIt = placed_.find(file);
    if (placedIt == placed_.end()) return TWRC_FAILURE;
    Placed& p = placedIt->second;

    SourceCall call;
    call.file = file;
    call.dg = dg;
    call.dat = dat;
    call.msg = msg;
    call.data = data;
    if (dg == DG_CONTROL && dat == DAT_CAPABILITY && data) {
        call.capability = *static_cast<const TW_CAPABILITY*>(data);
        if (msg == MSG_SET && call.capability.ConType == TWON_ONEVALUE && call.capability.hContainer) {
            const void* locked =
                points_.DSM_MemLock ? points_.DSM_MemLock(call.capability.hContainer) : call.capability.hContainer;
            const auto* block = static_cast<const std::uint8_t*>(locked);
            std::memcpy(&call.itemType, block, sizeof call.itemType);
            // What the host's block carries: the item, at least one word.
            const std::size_t size = std::max(TV_TWAINHandler::getItemSize(call.itemType), sizeof(TW_UINT32));
            call.item.assign(block + kTwOneValueItemOffset, block + kTwOneValueItemOffset + size);
            if (points_.DSM_MemUnlock) points_.DSM_MemUnlock(call.capability.hContainer);
        }
    }
    sourceCalls.push_back(call);

    if (dg == DG_CONTROL && dat == DAT_IDENTITY && msg == MSG_GET) {
        auto* id = static_cast<pTW_IDENTITY>(data);
        const TW_UINT32 given = id->Id;
        *id = TW_IDENTITY{};
        id->Id = given;
        id->Version = {2, 0, TWLG_USA, TWCY_USA, "2.0"};
        id->ProtocolMajor = 2;
        id->SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
        std::strncpy(id->Manufacturer, p.manufacturer.c_str(), sizeof id->Manufacturer - 1);
        std::strncpy(id->ProductFamily, p.productFamily.c_str(), sizeof id->ProductFamily - 1);
        std::strncpy(id->ProductName, p.productName.c_str(), sizeof id->ProductName - 1);
        return TWRC_SUCCESS;
    }
    if (dg == DG_CONTROL && dat == DAT_ENTRYPOINT && msg == MSG_SET) {
        points_ = *static_cast<pTW_ENTRYPOINT>(data);
        return TWRC_SUCCESS;
    }
    if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET) {
        static_cast<pTW_STATUS>(data)->ConditionCode = p.condition;
        p.condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }

    TW_UINT16 rc = TWRC_SUCCESS;
    TW_UINT16 condition = TWCC_BUMMER;
    if (const Answer* a = find(dg, dat, msg, call.capability.Cap)) {
        condition = a->condition;
        // A copy: what the answer does may log further calls.
        SourceCall asked = call;
        rc = a->act ? a->act(asked) : a->rc;
    }
    if (rc == TWRC_SUCCESS && dg == DG_CONTROL && dat == DAT_IDENTITY && msg == MSG_OPENDS) {
        p.self = *static_cast<pTW_IDENTITY>(data);
        p.host = *origin;
    }
    if (rc == TWRC_FAILURE) p.condition = condition;
    return rc;
}

} // namespace twainhosttest
