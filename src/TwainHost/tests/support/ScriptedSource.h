// A scripted TWAIN data source under our manager, for the host's tests.
//
// Copies of platform/twain's fake source (which forwards every triplet to
// the test program) are placed in a private search folder; this helper is
// the test program's end of that bridge. It answers the identity, entry
// point, open and close and status triplets itself, everything else by a
// table of answers (success when nothing is scripted), and keeps two logs:
// every call the host made through TV_TWAINHandler (a recorder in front of
// the manager) and every triplet that reached a source.
//
// One instance at a time. Link with qlr_use_scripted_source(<test>).
#pragma once

#include "twain/twain.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace twainhosttest {

// One call of the host, as it went to the manager.
struct HostCall {
    TW_UINT32 dg = 0;
    TW_UINT16 dat = 0;
    TW_UINT16 msg = 0;
    bool toSource = false; // a destination was given
    TW_UINT32 destId = 0;
    TW_MEMREF data = nullptr;
    TW_UINT16 rc = 0;
    // "DG/DAT/MSG" in hexadecimal, such as "1/0x3/0x401".
    std::string triplet() const;
};

// One triplet as a source received it.
struct SourceCall {
    std::string file;
    TW_UINT32 dg = 0;
    TW_UINT16 dat = 0;
    TW_UINT16 msg = 0;
    TW_MEMREF data = nullptr;
    // DAT_CAPABILITY: the record as it arrived, and for MSG_SET the item
    // type and the item bytes of its one-value container.
    TW_CAPABILITY capability{};
    TW_UINT16 itemType = 0;
    std::vector<std::uint8_t> item;
    std::string triplet() const;
};

// How a source answers a triplet. act, when given, may fill the data and
// decides the return code; else rc. A failure sets condition, which the
// next DAT_STATUS reports.
struct Answer {
    TW_UINT16 rc = TWRC_SUCCESS;
    TW_UINT16 condition = TWCC_BUMMER;
    std::function<TW_UINT16(SourceCall&)> act;
};

// A fixed return code.
inline Answer answerCode(TW_UINT16 rc) {
    Answer a;
    a.rc = rc;
    return a;
}
// Decided by act.
inline Answer answerBy(std::function<TW_UINT16(SourceCall&)> act) {
    Answer a;
    a.act = std::move(act);
    return a;
}

class ScriptedSource {
public:
    ScriptedSource();
    ~ScriptedSource();
    ScriptedSource(const ScriptedSource&) = delete;
    ScriptedSource& operator=(const ScriptedSource&) = delete;

    // The private search folder (KD_TWAIN_DS_PATH points at it).
    const std::filesystem::path& folder() const { return folder_; }

    // Places a source file (its name should contain ".ds") with this
    // identity.
    void place(const std::string& file, const std::string& manufacturer, const std::string& productFamily,
               const std::string& productName);

    // Answers for every placed source.
    void answer(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, Answer answer);
    // Answers for one capability (DAT_CAPABILITY with that Cap).
    void answerCap(TW_UINT16 msg, TW_UINT16 cap, Answer answer);
    // A get of cap answered by a container block built here with the
    // manager's memory: ConType conType, the block's bytes as given.
    void answerContainer(TW_UINT16 msg, TW_UINT16 cap, TW_UINT16 conType, std::vector<std::uint8_t> block);
    // A get of cap answered by a one-value container (item offset 2, at
    // least a 32-bit item, as data sources allocate it).
    void answerOneValue(TW_UINT16 msg, TW_UINT16 cap, TW_UINT16 itemType, const void* item, std::size_t size);

    // The source tells its host something (MSG_XFERREADY and so on)
    // through the manager, as a 2.x source does; the answer of the host's
    // callback comes back.
    TW_UINT16 notify(const std::string& file, TW_UINT16 msg);

    // Memory of the manager as the sources were given it; calloc before any
    // source was opened.
    TW_HANDLE allocate(std::size_t size) const;

    std::vector<HostCall> hostCalls;
    std::vector<SourceCall> sourceCalls;
    void clearLogs();
    // The triplets of the host's calls / of what reached the sources.
    std::vector<std::string> hostTriplets() const;
    std::vector<std::string> sourceTriplets() const;

    // Bridge ends (called by the fake sources and the recorder).
    TW_UINT16 sourceEntry(const char* file, pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                          TW_MEMREF data);
    TW_UINT16 hostEntry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                        TW_MEMREF data);
    static ScriptedSource* current();

private:
    struct Placed {
        std::string manufacturer, productFamily, productName;
        TW_IDENTITY self{};
        TW_IDENTITY host{};
        TW_UINT16 condition = TWCC_SUCCESS;
    };
    const Answer* find(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 cap) const;

    std::filesystem::path root_;
    std::filesystem::path folder_;
    std::string oldPath_;
    bool hadPath_ = false;
    std::map<std::string, Placed> placed_;
    std::map<std::tuple<TW_UINT32, TW_UINT16, TW_UINT16, int>, Answer> answers_;
    TW_ENTRYPOINT points_{};
};

} // namespace twainhosttest
