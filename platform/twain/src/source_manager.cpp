#include "source_manager.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "source_search.h"

namespace kd::twain {

class SourceModule {
public:
    // Loads `path` and finds its DS_Entry; on failure returns null and says why.
    static std::shared_ptr<SourceModule> Load(const std::string& path, std::string& why) {
        void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* error = dlerror();
            why = error != nullptr ? error : "not a loadable library";
            return nullptr;
        }
        void* symbol = dlsym(handle, "DS_Entry");
        if (symbol == nullptr) {
            why = "no DS_Entry";
            dlclose(handle);
            return nullptr;
        }
        return std::shared_ptr<SourceModule>(new SourceModule(handle, reinterpret_cast<DSENTRYPROC>(symbol)));
    }

    ~SourceModule() { dlclose(handle_); }
    SourceModule(const SourceModule&) = delete;
    SourceModule& operator=(const SourceModule&) = delete;

    TW_UINT16 Call(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) const {
        return entry_(origin, dg, dat, msg, data);
    }

private:
    SourceModule(void* handle, DSENTRYPROC entry) : handle_(handle), entry_(entry) {}

    void* handle_;
    DSENTRYPROC entry_;
};

namespace {

// Data groups live in the low word of SupportedGroups; the 2.x flags above.
constexpr TW_UINT32 kGroupMask = 0xFFFF;

// Depth of DSM_Entry calls on this thread: a closed source may be unloaded
// only when the outermost call that a host made returns.
thread_local int tCallDepth = 0;

struct DepthGuard {
    DepthGuard() { ++tCallDepth; }
    ~DepthGuard() { --tCallDepth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

bool SameText(const TW_STR32& a, const TW_STR32& b) {
    return std::strncmp(a, b, sizeof(TW_STR32)) == 0;
}

bool SameProduct(const TW_IDENTITY& a, const TW_IDENTITY& b) {
    return SameText(a.Manufacturer, b.Manufacturer) && SameText(a.ProductFamily, b.ProductFamily) &&
           SameText(a.ProductName, b.ProductName);
}

bool IsSourceNotification(TW_UINT16 msg) {
    return msg == MSG_XFERREADY || msg == MSG_CLOSEDSREQ || msg == MSG_CLOSEDSOK || msg == MSG_DEVICEEVENT;
}

TW_HANDLE MemAllocate(TW_UINT32 size) { return std::calloc(size, 1); }
void MemFree(TW_HANDLE handle) { std::free(handle); }
TW_MEMREF MemLock(TW_HANDLE handle) { return handle; }
void MemUnlock(TW_HANDLE) {}

TW_ENTRYPOINT EntryPoints(DSMENTRYPROC entry) {
    TW_ENTRYPOINT points{};
    points.Size = kTwEntryPointSize;
    points.DSM_Entry = entry;
    points.DSM_MemAllocate = MemAllocate;
    points.DSM_MemFree = MemFree;
    points.DSM_MemLock = MemLock;
    points.DSM_MemUnlock = MemUnlock;
    return points;
}

void ReportSkipped(const std::string& path, const std::string& why) {
    std::fprintf(stderr, "KdTwainDsm: skipping data source %s: %s\n", path.c_str(), why.c_str());
}

}  // namespace

SourceManager::SourceManager(DSMENTRYPROC entry, std::vector<std::string> folders)
    : entry_(entry), folders_(std::move(folders)) {}

SourceManager::~SourceManager() = default;

TW_UINT16 SourceManager::Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                               TW_UINT16 msg, TW_MEMREF data) {
    const bool outermost = tCallDepth == 0;
    TW_UINT16 rc;
    bool fromSource = false;
    {
        DepthGuard depth;
        if (origin == nullptr) {
            rc = Fail(origin, TWCC_BADPROTOCOL);
        } else if (dg == DG_CONTROL && (dat == DAT_NULL || (dat == DAT_CALLBACK && msg == MSG_INVOKE_CALLBACK))) {
            fromSource = true;
            rc = FromSource(origin, dest, dat, msg, data);
        } else if (dg == DG_CONTROL &&
                   (dat == DAT_PARENT || dat == DAT_ENTRYPOINT || dat == DAT_CALLBACK || dat == DAT_CALLBACK2 ||
                    (dat == DAT_IDENTITY && msg != MSG_GET) || (dat == DAT_STATUS && dest == nullptr))) {
            rc = ManagerTriplet(origin, dest, dat, msg, data);
        } else if (dest != nullptr) {
            rc = Route(origin, dest, dg, dat, msg, data);
        } else {
            rc = Fail(origin, TWCC_BADPROTOCOL);
        }
    }
    // A source notifying from its own code is still running when it gets the
    // answer, so sources closed meanwhile wait for the host's next call.
    if (outermost && !fromSource) ReleaseRetired();
    return rc;
}

// ---- Calls from a source -----------------------------------------------------------

TW_UINT16 SourceManager::FromSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 dat, TW_UINT16 msg,
                                    TW_MEMREF data) {
    TW_UINT16 message = msg;
    if (dat == DAT_CALLBACK) {
        if (data == nullptr) return Fail(static_cast<pTW_IDENTITY>(nullptr), TWCC_BADVALUE);
        message = static_cast<TW_UINT16>(static_cast<const TW_CALLBACK*>(data)->Message);
    }
    Callback callback;
    TW_IDENTITY host{};
    {
        std::lock_guard lock(mutex_);
        Host* owner = nullptr;
        const Source* source = nullptr;
        for (Host& candidate : hosts_) {
            Source* found = FindSource(candidate, origin->Id);
            if (found != nullptr && found->open) {
                owner = &candidate;
                source = found;
                break;
            }
        }
        if (source == nullptr) {
            condition_ = TWCC_BADPROTOCOL;
            return TWRC_FAILURE;
        }
        if ((dest != nullptr && dest->Id != owner->id) || !IsSourceNotification(message)) {
            condition_ = TWCC_BADPROTOCOL;
            return TWRC_FAILURE;
        }
        callback = source->callback.proc != nullptr ? source->callback : owner->callback;
        if (callback.proc == nullptr) {
            condition_ = TWCC_BADPROTOCOL;
            return TWRC_FAILURE;
        }
        host = owner->identity;
    }
    // The host's own thread is the calling thread: the callback runs now,
    // with no lock held, and may call back into the manager and the source.
    return callback.proc(origin, &host, DG_CONTROL, DAT_NULL, message, reinterpret_cast<TW_MEMREF>(callback.refCon));
}

// ---- Calls for a source ----------------------------------------------------------------

TW_UINT16 SourceManager::Route(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                               TW_MEMREF data) {
    std::shared_ptr<SourceModule> module;
    {
        std::lock_guard lock(mutex_);
        Host* host = FindHost(origin);
        if (host == nullptr) return Fail(host, TWCC_SEQERROR);
        if (!AnyOpen(*host)) return Fail(host, TWCC_SEQERROR);
        Source* source = FindSource(*host, dest->Id);
        if (source == nullptr || !source->open) return Fail(host, TWCC_BADPROTOCOL);
        module = source->open;
    }
    return module->Call(origin, dg, dat, msg, data);
}

// ---- The manager's own triplets ------------------------------------------------------------

TW_UINT16 SourceManager::ManagerTriplet(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 dat, TW_UINT16 msg,
                                        TW_MEMREF data) {
    auto* identity = static_cast<pTW_IDENTITY>(data);
    TW_UINT16 rc = TWRC_FAILURE;
    bool handled = true;
    switch (dat) {
    case DAT_PARENT:
        if (msg == MSG_OPENDSM) {
            rc = OpenDsm(origin);
        } else if (msg == MSG_CLOSEDSM) {
            rc = CloseDsm(origin);
        } else {
            handled = false;
        }
        break;
    case DAT_IDENTITY:
        switch (msg) {
        case MSG_GETFIRST: rc = GetFirst(origin, identity); break;
        case MSG_GETNEXT: rc = GetNext(origin, identity); break;
        case MSG_GETDEFAULT: rc = GetDefault(origin, identity); break;
        case MSG_OPENDS: rc = OpenDs(origin, identity); break;
        case MSG_CLOSEDS: rc = CloseDs(origin, identity); break;
        default: handled = false; break;
        }
        break;
    case DAT_CALLBACK:
    case DAT_CALLBACK2:
        if (msg != MSG_REGISTER_CALLBACK) {
            handled = false;
        } else if (data == nullptr) {
            rc = Fail(origin, TWCC_BADVALUE);
        } else if (dat == DAT_CALLBACK) {
            const auto* record = static_cast<const TW_CALLBACK*>(data);
            rc = RegisterCallback(origin, dest, {reinterpret_cast<TWAINCALLBACKPROC>(record->CallBackProc), record->RefCon});
        } else {
            const auto* record = static_cast<const TW_CALLBACK2*>(data);
            rc = RegisterCallback(origin, dest, {reinterpret_cast<TWAINCALLBACKPROC>(record->CallBackProc), record->RefCon});
        }
        break;
    case DAT_ENTRYPOINT:
        if (msg == MSG_GET) {
            rc = GetEntryPoint(origin, data);
        } else {
            handled = false;
        }
        break;
    case DAT_STATUS:
        if (msg == MSG_GET) return GetStatus(origin, data);
        handled = false;
        break;
    default: handled = false; break;
    }
    if (!handled) return Fail(origin, TWCC_BADPROTOCOL);
    if (rc != TWRC_FAILURE && rc != TWRC_CHECKSTATUS) {
        std::lock_guard lock(mutex_);
        if (Host* host = FindHost(origin)) host->condition = TWCC_SUCCESS;
    }
    return rc;
}

TW_UINT16 SourceManager::OpenDsm(pTW_IDENTITY origin) {
    std::lock_guard lock(mutex_);
    Host* open = FindHost(origin);
    if (open != nullptr && SameProduct(open->identity, *origin)) return Fail(open, TWCC_SEQERROR);
    // The Id the host brings is its own guess; the manager's counter decides.
    Host host;
    host.id = nextId_++;
    origin->Id = host.id;
    origin->SupportedGroups |= DF_DSM2;
    host.identity = *origin;
    hosts_.push_back(std::move(host));
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::CloseDsm(pTW_IDENTITY origin) {
    std::vector<std::pair<TW_UINT32, std::shared_ptr<SourceModule>>> open;
    TW_UINT32 hostId = 0;
    {
        std::lock_guard lock(mutex_);
        Host* host = FindHost(origin);
        if (host == nullptr) return Fail(host, TWCC_SEQERROR);
        hostId = host->id;
        for (const Source& source : host->sources) {
            if (source.open) open.emplace_back(source.id, source.open);
        }
    }
    // The sources still open are closed first. One that refuses (it is still
    // enabled, say) keeps the manager open: unloading it would pull its code
    // from under whatever it still runs.
    bool allClosed = true;
    for (auto& [sourceId, module] : open) {
        TW_IDENTITY identity{};
        {
            std::lock_guard lock(mutex_);
            Host* host = FindHost(origin);
            Source* source = host != nullptr ? FindSource(*host, sourceId) : nullptr;
            if (source == nullptr || source->open != module) continue;
            identity = source->identity;
        }
        if (CloseOpenSource(origin, hostId, sourceId, module, &identity) != TWRC_SUCCESS) allClosed = false;
    }
    std::lock_guard lock(mutex_);
    Host* host = FindHost(origin);
    if (host == nullptr) return TWRC_SUCCESS;  // closed meanwhile from a callback
    if (!allClosed || AnyOpen(*host)) return Fail(host, TWCC_SEQERROR);
    for (auto it = hosts_.begin(); it != hosts_.end(); ++it) {
        if (it->id == hostId) {
            hosts_.erase(it);
            break;
        }
    }
    return TWRC_SUCCESS;
}

void SourceManager::List(pTW_IDENTITY origin) {
    TW_UINT32 hostGroups = 0;
    {
        std::lock_guard lock(mutex_);
        Host* host = FindHost(origin);
        if (host == nullptr) return;
        hostGroups = host->identity.SupportedGroups;
    }
    const std::vector<std::string> files = FindSourceFiles(folders_.empty() ? SourceFolders() : folders_);
    std::vector<Source> found;
    for (const std::string& path : files) {
        Source source;
        source.path = path;
        {
            std::lock_guard lock(mutex_);
            Host* host = FindHost(origin);
            if (host == nullptr) return;  // the host closed the manager meanwhile
            auto [it, added] = host->idsByPath.try_emplace(path, 0);
            if (added) it->second = nextId_++;
            source.id = it->second;
        }
        std::string why;
        std::shared_ptr<SourceModule> module = SourceModule::Load(path, why);
        if (!module) {
            ReportSkipped(path, why);
            continue;
        }
        source.identity.Id = source.id;
        const TW_UINT16 rc = module->Call(origin, DG_CONTROL, DAT_IDENTITY, MSG_GET, &source.identity);
        if (rc != TWRC_SUCCESS) {
            ReportSkipped(path, "identity request failed with return code " + std::to_string(rc));
            continue;
        }
        // The Id is the manager's, whatever the source wrote back.
        source.identity.Id = source.id;
        if ((source.identity.SupportedGroups & hostGroups & kGroupMask & ~DG_CONTROL) == 0) continue;
        found.push_back(std::move(source));
    }

    std::lock_guard lock(mutex_);
    Host* host = FindHost(origin);
    if (host == nullptr) return;
    // Sources the host has open stay listed (and open) even when their file
    // went away or was skipped this time.
    for (Source& old : host->sources) {
        if (!old.open) continue;
        bool kept = false;
        for (Source& fresh : found) {
            if (fresh.id == old.id) {
                fresh.open = std::move(old.open);
                fresh.callback = old.callback;
                kept = true;
                break;
            }
        }
        if (!kept) found.push_back(std::move(old));
    }
    host->sources = std::move(found);
    host->listed = true;
    host->cursor = 0;
}

TW_UINT16 SourceManager::GetFirst(pTW_IDENTITY origin, pTW_IDENTITY out) {
    {
        std::lock_guard lock(mutex_);
        Host* host = FindHost(origin);
        if (host == nullptr) return Fail(host, TWCC_SEQERROR);
        if (out == nullptr) return Fail(host, TWCC_BADVALUE);
    }
    List(origin);
    return GetNext(origin, out);
}

TW_UINT16 SourceManager::GetNext(pTW_IDENTITY origin, pTW_IDENTITY out) {
    std::lock_guard lock(mutex_);
    Host* host = FindHost(origin);
    if (host == nullptr || !host->listed) return Fail(host, TWCC_SEQERROR);
    if (out == nullptr) return Fail(host, TWCC_BADVALUE);
    if (host->cursor >= host->sources.size()) return TWRC_ENDOFLIST;
    *out = host->sources[host->cursor++].identity;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::GetDefault(pTW_IDENTITY origin, pTW_IDENTITY out) {
    bool listed = false;
    {
        std::lock_guard lock(mutex_);
        Host* host = FindHost(origin);
        if (host == nullptr) return Fail(host, TWCC_SEQERROR);
        if (out == nullptr) return Fail(host, TWCC_BADVALUE);
        listed = host->listed;
    }
    if (!listed) List(origin);
    std::lock_guard lock(mutex_);
    Host* host = FindHost(origin);
    if (host == nullptr) return Fail(host, TWCC_SEQERROR);
    // There is no stored choice on this platform: the first source found is
    // the default.
    if (host->sources.empty()) return Fail(host, TWCC_NODS);
    *out = host->sources.front().identity;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::OpenDs(pTW_IDENTITY origin, pTW_IDENTITY identity) {
    bool listed = false;
    {
        std::lock_guard lock(mutex_);
        Host* host = FindHost(origin);
        if (host == nullptr) return Fail(host, TWCC_SEQERROR);
        if (identity == nullptr) return Fail(host, TWCC_BADVALUE);
        listed = host->listed;
    }
    if (!listed) List(origin);

    Source chosen;
    TW_UINT32 hostId = 0;
    {
        std::lock_guard lock(mutex_);
        Host* host = FindHost(origin);
        if (host == nullptr) return Fail(host, TWCC_SEQERROR);
        hostId = host->id;
        const Source* source = nullptr;
        if (identity->Id != 0) {
            source = FindSource(*host, identity->Id);
            if (source == nullptr) return Fail(host, TWCC_BADVALUE);
        } else {
            // No Id: the source named by ProductName, or the default one.
            for (const Source& candidate : host->sources) {
                if (identity->ProductName[0] == '\0' || SameText(candidate.identity.ProductName, identity->ProductName)) {
                    source = &candidate;
                    break;
                }
            }
            if (source == nullptr) return Fail(host, TWCC_NODS);
        }
        if (source->open) return Fail(host, TWCC_SEQERROR);
        chosen.id = source->id;
        chosen.path = source->path;
        chosen.identity = source->identity;
    }

    std::string why;
    std::shared_ptr<SourceModule> module = SourceModule::Load(chosen.path, why);
    if (!module) {
        ReportSkipped(chosen.path, why);
        return Fail(origin, TWCC_NODS);
    }
    TW_UINT16 rc = TWRC_SUCCESS;
    if ((chosen.identity.SupportedGroups & DF_DS2) != 0) {
        // A 2.x source gets the manager's entry and memory functions before
        // anything else, so that it can reach the host from MSG_OPENDS on.
        TW_ENTRYPOINT points = EntryPoints(entry_);
        rc = module->Call(origin, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &points);
    }
    if (rc == TWRC_SUCCESS) {
        *identity = chosen.identity;
        rc = module->Call(origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, identity);
        identity->Id = chosen.id;
    }
    if (rc != TWRC_SUCCESS) {
        // The host asks the manager why: take over the source's own reason.
        const TW_UINT16 condition = SourceCondition(*module, origin);
        std::lock_guard lock(mutex_);
        return Fail(FindHost(origin), condition);
    }

    std::lock_guard lock(mutex_);
    Host* host = FindHost(origin);
    Source* source = host != nullptr && host->id == hostId ? FindSource(*host, chosen.id) : nullptr;
    if (source == nullptr || source->open) {
        // The host closed the manager (or opened this source) from a callback
        // during the open: the source stays closed for this call.
        retired_.push_back(std::move(module));
        return Fail(host, TWCC_SEQERROR);
    }
    source->open = std::move(module);
    source->callback = {};
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::CloseDs(pTW_IDENTITY origin, pTW_IDENTITY identity) {
    std::shared_ptr<SourceModule> module;
    TW_UINT32 hostId = 0;
    {
        std::lock_guard lock(mutex_);
        Host* host = FindHost(origin);
        if (host == nullptr || !AnyOpen(*host)) return Fail(host, TWCC_SEQERROR);
        if (identity == nullptr) return Fail(host, TWCC_BADVALUE);
        Source* source = FindSource(*host, identity->Id);
        if (source == nullptr || !source->open) return Fail(host, TWCC_BADVALUE);
        module = source->open;
        hostId = host->id;
    }
    return CloseOpenSource(origin, hostId, identity->Id, module, identity);
}

TW_UINT16 SourceManager::CloseOpenSource(pTW_IDENTITY origin, TW_UINT32 hostId, TW_UINT32 sourceId,
                                         const std::shared_ptr<SourceModule>& module, pTW_IDENTITY identity) {
    const TW_UINT16 rc = module->Call(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, identity);
    if (rc != TWRC_SUCCESS) {
        const TW_UINT16 condition = SourceCondition(*module, origin);
        std::lock_guard lock(mutex_);
        return Fail(FindHost(origin), condition);
    }
    std::lock_guard lock(mutex_);
    for (Host& host : hosts_) {
        if (host.id != hostId) continue;
        Source* source = FindSource(host, sourceId);
        // Closed already from a callback during MSG_CLOSEDS: nothing left to do.
        if (source != nullptr && source->open == module) {
            retired_.push_back(std::move(source->open));
            source->callback = {};
        }
    }
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::SourceCondition(const SourceModule& module, pTW_IDENTITY origin) {
    TW_STATUS status{};
    if (module.Call(origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS ||
        status.ConditionCode == TWCC_SUCCESS) {
        return TWCC_BUMMER;
    }
    return status.ConditionCode;
}

TW_UINT16 SourceManager::RegisterCallback(pTW_IDENTITY origin, pTW_IDENTITY dest, Callback callback) {
    std::lock_guard lock(mutex_);
    Host* host = FindHost(origin);
    if (host == nullptr) return Fail(host, TWCC_SEQERROR);
    if (callback.proc == nullptr) return Fail(host, TWCC_BADVALUE);
    if (dest == nullptr) {
        host->callback = callback;
        return TWRC_SUCCESS;
    }
    if (!AnyOpen(*host)) return Fail(host, TWCC_SEQERROR);
    Source* source = FindSource(*host, dest->Id);
    if (source == nullptr || !source->open) return Fail(host, TWCC_BADPROTOCOL);
    source->callback = callback;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::GetEntryPoint(pTW_IDENTITY origin, TW_MEMREF data) {
    std::lock_guard lock(mutex_);
    Host* host = FindHost(origin);
    if (host == nullptr) return Fail(host, TWCC_SEQERROR);
    auto* points = static_cast<pTW_ENTRYPOINT>(data);
    if (points == nullptr || points->Size != kTwEntryPointSize) return Fail(host, TWCC_BADVALUE);
    *points = EntryPoints(entry_);
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::GetStatus(pTW_IDENTITY origin, TW_MEMREF data) {
    std::lock_guard lock(mutex_);
    Host* host = FindHost(origin);
    TW_UINT16& condition = host != nullptr ? host->condition : condition_;
    auto* status = static_cast<pTW_STATUS>(data);
    if (status == nullptr) {
        condition = TWCC_BADVALUE;
        return TWRC_FAILURE;
    }
    status->ConditionCode = condition;
    status->Data = 0;
    condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

// ---- Lookups and bookkeeping --------------------------------------------------------------

SourceManager::Host* SourceManager::FindHost(pTW_IDENTITY origin) {
    for (Host& host : hosts_) {
        if (host.id == origin->Id) return &host;
    }
    return nullptr;
}

SourceManager::Source* SourceManager::FindSource(Host& host, TW_UINT32 id) {
    for (Source& source : host.sources) {
        if (source.id == id) return &source;
    }
    return nullptr;
}

bool SourceManager::AnyOpen(const Host& host) {
    for (const Source& source : host.sources) {
        if (source.open) return true;
    }
    return false;
}

TW_UINT16 SourceManager::Fail(Host* host, TW_UINT16 condition) {
    (host != nullptr ? host->condition : condition_) = condition;
    return TWRC_FAILURE;
}

TW_UINT16 SourceManager::Fail(pTW_IDENTITY origin, TW_UINT16 condition) {
    std::lock_guard lock(mutex_);
    return Fail(origin != nullptr ? FindHost(origin) : nullptr, condition);
}

void SourceManager::ReleaseRetired() {
    std::vector<std::shared_ptr<SourceModule>> retired;
    {
        std::lock_guard lock(mutex_);
        retired.swap(retired_);
    }
    // Unloading runs the source's own clean-up: no lock held.
    retired.clear();
}

}  // namespace kd::twain
