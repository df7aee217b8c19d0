// The data source manager behind DSM_Entry: lists the sources found on disk,
// opens and closes them for each host, routes the hosts' triplets to them and
// turns the sources' notifications into calls of the host's callback.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "twain/twain.h"

namespace kd::twain {

// One loaded source file; unloaded when the last reference goes.
class SourceModule;

class SourceManager {
public:
    // `entry` is the DSM_Entry handed to sources and hosts through
    // TW_ENTRYPOINT; `folders` fixes the search folders (by default they are
    // read from the environment at every listing).
    explicit SourceManager(DSMENTRYPROC entry, std::vector<std::string> folders = {});
    ~SourceManager();
    SourceManager(const SourceManager&) = delete;
    SourceManager& operator=(const SourceManager&) = delete;

    TW_UINT16 Entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data);

private:
    struct Callback {
        TWAINCALLBACKPROC proc = nullptr;
        TW_UINTPTR refCon = 0;
    };
    struct Source {
        TW_UINT32 id = 0;
        std::string path;
        TW_IDENTITY identity{};
        std::shared_ptr<SourceModule> open;  // set while the host has it open
        Callback callback;                   // registered for this source
    };
    struct Host {
        TW_UINT32 id = 0;
        TW_IDENTITY identity{};
        std::map<std::string, TW_UINT32> idsByPath;  // a file keeps its Id across listings
        std::vector<Source> sources;
        bool listed = false;
        std::size_t cursor = 0;  // next entry for MSG_GETNEXT
        Callback callback;       // registered without a destination: for all its sources
        TW_UINT16 condition = TWCC_SUCCESS;
    };
    // What a call into a source needs, taken out under the lock.
    struct SourceCall {
        std::shared_ptr<SourceModule> module;
        TW_IDENTITY identity{};
    };

    TW_UINT16 FromSource(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 Route(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data);
    TW_UINT16 ManagerTriplet(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

    TW_UINT16 OpenDsm(pTW_IDENTITY origin);
    TW_UINT16 CloseDsm(pTW_IDENTITY origin);
    TW_UINT16 GetFirst(pTW_IDENTITY origin, pTW_IDENTITY out);
    TW_UINT16 GetNext(pTW_IDENTITY origin, pTW_IDENTITY out);
    TW_UINT16 GetDefault(pTW_IDENTITY origin, pTW_IDENTITY out);
    TW_UINT16 OpenDs(pTW_IDENTITY origin, pTW_IDENTITY identity);
    TW_UINT16 CloseDs(pTW_IDENTITY origin, pTW_IDENTITY identity);
    TW_UINT16 RegisterCallback(pTW_IDENTITY origin, pTW_IDENTITY dest, Callback callback);
    TW_UINT16 GetEntryPoint(pTW_IDENTITY origin, TW_MEMREF data);
    TW_UINT16 GetStatus(pTW_IDENTITY origin, TW_MEMREF data);

    // Loads every source file, asks each for its identity and keeps those
    // that serve one of the host's groups. No lock is held while it runs.
    void List(pTW_IDENTITY origin);
    // Sends MSG_CLOSEDS; on success the source is unloaded once no call of it
    // can still be running.
    TW_UINT16 CloseOpenSource(pTW_IDENTITY origin, TW_UINT32 hostId, TW_UINT32 sourceId,
                              const std::shared_ptr<SourceModule>& module, pTW_IDENTITY identity);
    // Asks a source that refused a request for its condition code.
    static TW_UINT16 SourceCondition(const SourceModule& module, pTW_IDENTITY origin);

    // Lookups, called with the lock held.
    Host* FindHost(pTW_IDENTITY origin);
    static Source* FindSource(Host& host, TW_UINT32 id);
    static bool AnyOpen(const Host& host);

    TW_UINT16 Fail(Host* host, TW_UINT16 condition);
    TW_UINT16 Fail(pTW_IDENTITY origin, TW_UINT16 condition);
    void ReleaseRetired();

    const DSMENTRYPROC entry_;
    const std::vector<std::string> folders_;

    std::mutex mutex_;
    std::vector<Host> hosts_;
    TW_UINT32 nextId_ = 1;
    TW_UINT16 condition_ = TWCC_SUCCESS;  // for callers that are no open host
    // Closed sources wait here until the outermost host call on the thread
    // returns: until then a source's code may still be on the stack.
    std::vector<std::shared_ptr<SourceModule>> retired_;
};

}  // namespace kd::twain
