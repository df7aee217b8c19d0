// The virtual KD-720: a scanner made inside the process that the USB layer
// offers like a real one. It answers the command set over the bulk pipes
// (command container, data phase, status), feeds sheets that exist only as
// images, delivers raw sensor lines through the sensor model, serves its
// blocks and calibration references, and injects faults.
//
// Every method is safe to call from any thread: the data source's thread, the
// reader thread and a test's control calls all reach the same state under one
// lock.
#pragma once

#include "KdSensorModel.h"
#include "VirtualConfig.h"
#include "VirtualPages.h"
#include "kdusb/KdUsb.h"

#include <array>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kdvirtual {

// Sense codes the scanner answers with: key << 16 | ASC << 8 | ASCQ.
namespace sense {
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kNotReady = 0x020400;
inline constexpr std::uint32_t kNoDocument = 0x033A00;
inline constexpr std::uint32_t kJam = 0x038000;
inline constexpr std::uint32_t kCoverOpen = 0x038001;
inline constexpr std::uint32_t kDoubleFeed = 0x038101;
inline constexpr std::uint32_t kSkew = 0x038102;
inline constexpr std::uint32_t kHardware = 0x044400;
inline constexpr std::uint32_t kUnknownOpcode = 0x052000;
inline constexpr std::uint32_t kAddressOutOfRange = 0x052100;
inline constexpr std::uint32_t kInvalidCdbField = 0x052400;
inline constexpr std::uint32_t kInvalidParameter = 0x052600;
inline constexpr std::uint32_t kSequence = 0x052C00;
inline constexpr std::uint32_t kPowerOn = 0x062900;
} // namespace sense

// Light-curve block at this scanner address, this many bytes.
inline constexpr std::uint32_t kLightCurveAddress = 0x10080000;
inline constexpr std::uint32_t kLightCurveSize = 0x80000;
// Full sensor width in dots of the 600 dpi base resolution, and in 1/1200 inch.
inline constexpr std::uint32_t kMaxWidthDots = 5184;
inline constexpr std::uint32_t kFullWidth1200 = kMaxWidthDots * 2;
// Maximum length: 3 m in dots of the 600 dpi base resolution.
inline constexpr std::uint32_t kMaxLengthDots = 70866;
// Over-scan margin before the leading and after the trailing edge (1/1200 inch).
inline constexpr std::int32_t kOverScan1200 = 472;
inline constexpr std::size_t kShadingRecordSize = 10244;

struct CommandRecord {
    std::uint8_t opcode = 0;
    std::array<std::uint8_t, 12> cdb{};
    std::vector<std::uint8_t> data; // the data container's data, for commands with one
    std::uint32_t answer = 0;       // sense answered (0: good status)
};

struct WindowRecord {
    std::uint8_t id = 0;
    std::uint16_t xres = 0, yres = 0;
    std::int32_t left = 0, top = 0;
    std::uint32_t width = 0, length = 0;
    std::uint8_t composition = 0, bitsPerPixel = 0;
    std::array<std::uint8_t, 52> wire{};
};

struct ShadingRecord {
    std::vector<std::uint8_t> bytes; // the whole 10244-byte record
};

// The page information of the last page (all in 1/1200 inch).
struct PageInfo {
    std::uint32_t lengthRead = 0, topMargin = 0, bottomMargin = 0, sheetWidth = 0;
};

class VirtualKd720 : public kdusb::InProcessDevice {
public:
    // index gives the location id (two devices differ). Sheets come from the
    // config (generated or its pages folder); a refused folder is reported in
    // `error` and leaves the hopper empty.
    VirtualKd720(const VirtualConfig& config, int index, std::string& error);
    ~VirtualKd720() override;

    // The USB side.
    std::uint16_t vendorId() const override { return kVendorId; }
    std::uint16_t productId() const override { return kProductId; }
    bool attached() const override;
    kdusb::Result open(bool& interfaceOpened) override;
    void close() override;
    std::uint32_t locationId() const override;
    kdusb::Result bulkRead(kdusb::PipeRef pipe, void* buffer, std::size_t& size, std::uint32_t noDataMs,
                           std::uint32_t completionMs) override;
    kdusb::Result bulkWrite(kdusb::PipeRef pipe, const void* buffer, std::size_t& size,
                            std::uint32_t noDataMs, std::uint32_t completionMs) override;
    kdusb::Result clearStall(kdusb::PipeRef pipe) override;

    // The control handle of tests.
    void addSheet(Sheet sheet);              // to the end of the hopper (its number is kept)
    int hopperCount() const;
    bool sheetInPath() const;
    void pressKey(int key);                  // the panel key READ 4 reports next
    bool injectFault(std::string_view text, std::string& error); // as "fault=" takes it
    void injectFault(const FaultSpec& fault);
    void closeCover();
    void disconnect();
    void reconnect();
    bool coverOpen() const;
    bool jammed() const;
    // Raw pages kept: with this on, a fed sheet's page is drawn and encoded
    // whole at once and kept, by sheet number, with the set-up it was made
    // for (windows, scan modes, registers, offset); the same sheet fed again
    // with the same set-up sends the kept lines. Benchmarks use it to keep
    // drawing out of a timed scan. Off (the default): pages are drawn a strip
    // at a time as they are read.
    void keepRawPages(bool on);
    struct KeptPage {
        std::shared_ptr<const std::vector<std::uint8_t>> raw;
        double seconds = 0;   // what drawing and encoding it took
    };
    // The kept page of a sheet; none: raw is null.
    KeptPage keptRawPage(int sheet) const;

    // What the device received and holds.
    std::vector<CommandRecord> commandLog() const;
    std::map<int, WindowRecord> windows() const;
    std::map<int, std::array<std::uint8_t, 20>> scanModePages() const; // by page code
    std::vector<std::array<std::uint8_t, 40>> adjustData() const;      // every SET ADJUST DATA
    kdsensor::Registers registers() const;
    std::vector<ShadingRecord> shadingRecords() const;
    std::array<std::uint8_t, 128> serviceBlock() const;
    std::array<std::uint8_t, 128> settingsBlock() const;
    std::uint32_t sheetCounter() const;
    std::vector<int> deliveredSheets() const; // sheet numbers of whole pages, in order
    PageInfo lastPageInfo() const;
    const kdsensor::SensorModel& model() const { return m_model; }
    const VirtualConfig& config() const { return m_config; }
    // The light-curve block GET MEMORY serves.
    std::vector<std::uint8_t> lightCurveBlock() const;

private:
    enum class Phase { Command, DataOut, DataIn, Status, ParameterStatus };
    enum class DataKind { Buffer, Image };
    struct Page;

    kdusb::Result transferFault(const FaultSpec& f);
    bool takeFault(Where where, std::uint64_t n, std::uint8_t opcode, FaultSpec& out);
    void applyStateFault(const FaultSpec& f, std::uint32_t& answer);
    void beginCommand(const std::uint8_t* cdb);
    void finishDataOut(const std::uint8_t* data, std::size_t n);
    void answerIn(std::vector<std::uint8_t> data);
    std::uint32_t startScan(const std::vector<std::uint8_t>& ids);
    std::uint32_t feed();
    std::uint32_t makePage(const Sheet* sheet, const std::vector<int>& ids, bool calibration, bool lit);
    std::size_t deliverImage(std::uint8_t* out, std::size_t want, bool shortRead,
                             std::unique_lock<std::mutex>& lock);
    void endPage(bool delivered);
    std::vector<std::uint8_t> readBlock(std::uint8_t code, std::uint16_t qualifier, std::size_t len,
                                        std::uint32_t& answer);
    const std::vector<std::uint8_t>& curveBlock() const;
    bool continuousMode() const;
    bool overScan() const;
    bool backOnly() const;   // scan-mode page 0x32 asks for the back side alone
    bool continueOnDoubleFeed() const;

    mutable std::mutex m_mutex;
    VirtualConfig m_config;
    int m_index;
    kdsensor::SensorModel m_model;

    // Paper.
    std::deque<Sheet> m_hopper;
    std::optional<Sheet> m_path;
    std::uint32_t m_counter = 0;
    std::vector<int> m_delivered;

    // Connection and protocol.
    bool m_attached = true, m_open = false;
    bool m_unitAttention = false;
    Phase m_phase = Phase::Command;
    std::array<std::uint8_t, 12> m_cdb{};
    std::size_t m_dataOutLength = 0;
    DataKind m_dataKind = DataKind::Buffer;
    std::vector<std::uint8_t> m_dataIn;
    std::size_t m_askLength = 0;
    std::uint32_t m_answer = 0;        // status of the current command
    std::uint32_t m_forced = 0;        // a fault's answer for the current command
    bool m_eom = false, m_ili = false;
    std::uint32_t m_info = 0;
    std::uint32_t m_sense = 0;         // what REQUEST SENSE reports
    bool m_senseEom = false, m_senseIli = false;
    std::uint32_t m_senseInfo = 0;
    bool m_stalled[3] = {false, false, false};
    bool m_timedOut = false, m_cleared[3] = {false, false, false};
    std::uint64_t m_commands = 0, m_reads = 0;
    std::vector<FaultSpec> m_faults;
    std::vector<CommandRecord> m_log;

    // Device state.
    bool m_cover = false, m_jam = false;
    int m_key = 0;
    std::map<int, WindowRecord> m_windows;
    std::map<int, std::array<std::uint8_t, 20>> m_modes;
    kdsensor::Registers m_registers;
    std::vector<std::array<std::uint8_t, 40>> m_adjust;
    std::vector<ShadingRecord> m_shading;
    std::array<std::uint8_t, 128> m_service{}, m_settings{};
    mutable std::vector<std::uint8_t> m_curve;

    // Kept raw pages.
    struct RawKey {
        int sheet = 0;
        std::vector<int> ids;
        WindowRecord window;
        bool overScan = false;
        kdsensor::Registers registers;
        std::int32_t offsetUm = 0;
        bool operator==(const RawKey& o) const;
    };
    bool m_keepRaw = false;
    std::vector<std::pair<RawKey, KeptPage>> m_kept;

    // Scanning.
    bool m_batch = false, m_stopBatch = false, m_singleDone = false;
    std::vector<int> m_scanIds; // windows of the image scan
    std::unique_ptr<Page> m_page;
    PageInfo m_info0;
    int m_pageDoneLeft = 0;
};

// The virtual scanners this process's selection made (empty when none), and
// why the selection offers none when its settings were refused ("" otherwise).
std::vector<std::shared_ptr<VirtualKd720>> selectedVirtualScanners();
std::string selectionError();

} // namespace kdvirtual
