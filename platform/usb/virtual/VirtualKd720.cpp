#include "VirtualKd720.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <tuple>

namespace kdvirtual {

namespace {

using kdusb::Result;
constexpr kdusb::PipeRef kPipeIn = 1, kPipeOut = 2;
constexpr std::size_t kCommandContainer = 24, kHeader = 12;
// The status of a READ that ends a page: check condition with sense key 0.
constexpr std::uint32_t kEndOfPage = 0x01000000;

std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
std::uint32_t be24(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0]) << 16 | p[1] << 8 | p[2]; }
std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
void put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}
void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void le16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void le32(std::uint8_t* p, std::uint32_t v) {
    le16(p, v);
    le16(p + 2, v >> 16);
}

// memcpy that accepts empty buffers (whose data() may be null).
void copyBytes(void* dst, const void* src, std::size_t n) {
    if (n > 0) std::memcpy(dst, src, n);
}

bool isTransferKind(FaultKind k) {
    return k == FaultKind::Timeout || k == FaultKind::Stall || k == FaultKind::ShortRead ||
           k == FaultKind::Disconnect;
}

std::uint32_t senseOf(const FaultSpec& f) {
    switch (f.kind) {
    case FaultKind::Jam: return sense::kJam;
    case FaultKind::DoubleFeed: return sense::kDoubleFeed;
    case FaultKind::Cover: return sense::kCoverOpen;
    case FaultKind::Skew: return sense::kSkew;
    case FaultKind::Hardware: return sense::kHardware;
    case FaultKind::NotReady: return sense::kNotReady;
    case FaultKind::Sense: return f.sense;
    case FaultKind::UnitAttention: return sense::kPowerOn;
    case FaultKind::Stall: return f.senseGiven ? f.sense : sense::kSequence;
    default: return 0;
    }
}

// Commands whose CDB says how many bytes their data container carries.
bool dataOutLength(const std::uint8_t* cdb, std::size_t& n) {
    switch (cdb[0]) {
    case 0x1B: n = cdb[4]; return true;            // SCAN
    case 0x24: n = be24(cdb + 6); return true;     // SET WINDOW
    case 0x2A: n = be24(cdb + 6); return true;     // SEND
    case 0xD6: n = cdb[4]; return true;            // DEFINE SCAN MODE
    case 0xE1: n = be24(cdb + 6); return true;     // SET ADJUST DATA
    default: return false;
    }
}

} // namespace

struct VirtualKd720::Page {
    bool calibration = false;
    kdsensor::ScanFormat format;
    // The sheet's sides are rendered a strip at a time as the encoder asks.
    Sheet sheet;
    struct Strip {
        std::vector<std::uint8_t> pixels;
        int first = -1, count = 0;
    } strips[2];
    kdsensor::SideImage frontImage, backImage;
    std::unique_ptr<kdsensor::RawPageEncoder> encoder;
    std::vector<std::uint8_t> fixed;       // calibration lines
    std::shared_ptr<const std::vector<std::uint8_t>> kept; // a kept raw page
    std::size_t lineBytes = 0;
    int lines = 0;
    std::uint64_t total = 0, pos = 0;
    std::uint64_t faultAt = UINT64_MAX;     // byte where a sheet fault strikes
    FaultSpec fault;
    bool doubleFeedAtEnd = false;
    int emptyReads = 0;                     // READs left that bring nothing (fault nodata)
    PageInfo info;
    std::chrono::steady_clock::time_point start;
    std::vector<std::uint8_t> line;
    int lineIndex = -1;
};

VirtualKd720::VirtualKd720(const VirtualConfig& config, int index, std::string& error)
    : m_config(config), m_index(index), m_model(config.seed) {
    std::vector<Sheet> sheets;
    if (!config.pagesDir.empty()) {
        if (!sheetsFromFolder(config.pagesDir, config.pagesDpi, sheets, error)) sheets.clear();
    } else {
        sheets = generatedSheets(config);
    }
    for (FaultSpec& f : m_config.faults) {
        if (f.kind == FaultKind::NoPaper && f.where == Where::Sheet && f.n >= 1)
            sheets.resize(std::min<std::size_t>(sheets.size(), static_cast<std::size_t>(f.n - 1)));
        else m_faults.push_back(f);
    }
    m_hopper.assign(std::make_move_iterator(sheets.begin()), std::make_move_iterator(sheets.end()));
    put32(m_service.data(), static_cast<std::uint32_t>(config.offsetUm));
    put32(m_service.data() + 60, config.layout == 1 ? 3 : 0);
    std::memcpy(m_service.data() + 108, config.serial.data(), std::min<std::size_t>(16, config.serial.size()));
    put32(m_settings.data() + 16, 355600);
    put16(m_settings.data() + 44, 32768);
}

VirtualKd720::~VirtualKd720() = default;

bool VirtualKd720::attached() const {
    std::lock_guard lock(m_mutex);
    return m_attached;
}

Result VirtualKd720::open(bool& interfaceOpened) {
    std::lock_guard lock(m_mutex);
    if (!m_attached) return kdusb::kNoDevice;
    m_open = true;
    interfaceOpened = true;
    m_unitAttention = m_config.unitAttention;
    m_phase = Phase::Command;
    return kdusb::kSuccess;
}

void VirtualKd720::close() {
    std::lock_guard lock(m_mutex);
    m_open = false;
    m_phase = Phase::Command;
}

std::uint32_t VirtualKd720::locationId() const { return 0x7D000000u | static_cast<std::uint32_t>(m_index + 1) << 20; }

// ---- faults ----

bool VirtualKd720::takeFault(Where where, std::uint64_t n, std::uint8_t opcode, FaultSpec& out) {
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        const bool hit = it->where == where &&
                         (where == Where::Opcode ? it->opcode == opcode : static_cast<std::uint64_t>(it->n) == n);
        if (hit) {
            out = *it;
            m_faults.erase(it);
            return true;
        }
    }
    return false;
}

Result VirtualKd720::transferFault(const FaultSpec& f) {
    switch (f.kind) {
    case FaultKind::Timeout:
        m_timedOut = true;
        m_cleared[kPipeIn] = m_cleared[kPipeOut] = false;
        m_phase = Phase::Command;
        return kdusb::kTransactionTimeout;
    case FaultKind::Disconnect:
        m_attached = false;
        m_phase = Phase::Command;
        return kdusb::kNoDevice;
    default: // stall
        m_stalled[kPipeIn] = m_stalled[kPipeOut] = true;
        m_sense = senseOf(f);
        m_senseEom = m_senseIli = false;
        m_senseInfo = 0;
        m_phase = Phase::Command;
        return kdusb::kPipeStalled;
    }
}

// Faults that change the device's state; `answer` gets the sense they give.
void VirtualKd720::applyStateFault(const FaultSpec& f, std::uint32_t& answer) {
    switch (f.kind) {
    case FaultKind::Jam:
        m_jam = true;
        if (m_page && !m_page->calibration) m_page.reset(); // the sheet stays in the path
        break;
    case FaultKind::DoubleFeed:
        m_batch = false;
        break;
    case FaultKind::Cover: m_cover = true; break;
    case FaultKind::NoPaper: m_hopper.clear(); return;
    case FaultKind::UnitAttention: break;
    default: break;
    }
    answer = senseOf(f);
}

// ---- the pipes ----

Result VirtualKd720::bulkWrite(kdusb::PipeRef pipe, const void* buffer, std::size_t& size, std::uint32_t,
                               std::uint32_t) {
    std::lock_guard lock(m_mutex);
    const std::size_t given = size;
    size = 0;
    if (!m_attached) return kdusb::kNoDevice;
    if (!m_open || pipe != kPipeOut || !buffer) return kdusb::kBadArgument;
    if (m_timedOut) return kdusb::kTransactionTimeout;
    if (m_stalled[pipe]) return kdusb::kPipeStalled;
    const auto* b = static_cast<const std::uint8_t*>(buffer);
    auto sequenceStall = [&] {
        FaultSpec f;
        f.kind = FaultKind::Stall;
        return transferFault(f);
    };
    if (m_phase == Phase::Command) {
        if (given != kCommandContainer || be32(b) != 20 || be16(b + 4) != 1 || be16(b + 6) != 0x9000)
            return sequenceStall();
        ++m_commands;
        FaultSpec f;
        // The page-done byte is READ with data type code 0xA1 after a page.
        const bool pageDone = b[12] == 0x28 && b[14] == 0xA1 && !m_delivered.empty();
        const bool hit = takeFault(Where::Command, m_commands, 0, f) || takeFault(Where::Opcode, 0, b[12], f) ||
                         (pageDone && takeFault(Where::PageDone, static_cast<std::uint64_t>(m_delivered.back()), 0, f));
        m_forced = 0;
        if (hit) {
            if (f.kind == FaultKind::ShortRead) {
                f.where = Where::Read;
                f.n = static_cast<int>(m_reads + 1);
                m_faults.push_back(f);
            } else if (isTransferKind(f.kind)) {
                return transferFault(f);
            } else {
                applyStateFault(f, m_forced);
            }
        }
        size = given;
        beginCommand(b + 12);
        return kdusb::kSuccess;
    }
    if (m_phase == Phase::DataOut) {
        if (given < kHeader || be16(b + 4) != 2 || be16(b + 6) != 0xB000 || be32(b) != given - 4 ||
            given - kHeader != m_dataOutLength)
            return sequenceStall();
        size = given;
        finishDataOut(b + kHeader, given - kHeader);
        return kdusb::kSuccess;
    }
    // A command or data while status or data-in is due.
    return sequenceStall();
}

Result VirtualKd720::bulkRead(kdusb::PipeRef pipe, void* buffer, std::size_t& size, std::uint32_t,
                              std::uint32_t) {
    std::unique_lock lock(m_mutex);
    const std::size_t want = size;
    size = 0;
    if (!m_attached) return kdusb::kNoDevice;
    if (!m_open || pipe != kPipeIn || !buffer) return kdusb::kBadArgument;
    if (m_timedOut) return kdusb::kTransactionTimeout;
    if (m_stalled[pipe]) return kdusb::kPipeStalled;
    ++m_reads;
    FaultSpec f;
    bool shortRead = false;
    if (takeFault(Where::Read, m_reads, 0, f)) {
        if (f.kind == FaultKind::ShortRead) shortRead = true;
        else if (isTransferKind(f.kind)) return transferFault(f);
        else if (m_phase == Phase::DataIn || m_phase == Phase::Status) {
            applyStateFault(f, m_answer);
            m_dataIn.clear();
            m_dataKind = DataKind::Buffer;
        }
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (m_phase == Phase::DataIn) {
        if (m_dataKind == DataKind::Image && m_answer == 0) {
            size = deliverImage(out, std::min(want, m_askLength), shortRead, lock);
            if (!m_attached) return kdusb::kNoDevice;
            if (m_timedOut) return kdusb::kTransactionTimeout;
            if (m_stalled[pipe]) return kdusb::kPipeStalled;
        } else {
            std::size_t n = std::min(want, m_dataIn.size());
            if (shortRead && n > 1) n /= 2;
            copyBytes(out, m_dataIn.data(), n);
            size = n;
            if (!m_log.empty() && m_log.back().data.empty()) m_log.back().data.assign(out, out + n);
        }
        m_phase = Phase::Status;
        return kdusb::kSuccess;
    }
    if (m_phase == Phase::Status || m_phase == Phase::ParameterStatus) {
        if (want < 4) return kdusb::kBadArgument;
        const bool check = m_phase == Phase::Status && m_answer != 0;
        const std::uint32_t answer = m_answer == kEndOfPage ? 0 : m_answer;
        put32(out, check ? 2u : 0u);
        size = 4;
        if (m_phase == Phase::ParameterStatus) {
            m_phase = Phase::DataOut;
            return kdusb::kSuccess;
        }
        if (check) {
            m_sense = answer;
            m_senseEom = m_eom;
            m_senseIli = m_ili;
            m_senseInfo = m_info;
        }
        if (!m_log.empty()) m_log.back().answer = answer;
        m_phase = Phase::Command;
        return kdusb::kSuccess;
    }
    // A read while a command or its data is due.
    FaultSpec stall;
    stall.kind = FaultKind::Stall;
    return transferFault(stall);
}

Result VirtualKd720::clearStall(kdusb::PipeRef pipe) {
    std::lock_guard lock(m_mutex);
    if (!m_attached) return kdusb::kNoDevice;
    if (pipe != kPipeIn && pipe != kPipeOut) return kdusb::kBadArgument;
    m_stalled[pipe] = false;
    m_cleared[pipe] = true;
    if (m_timedOut && m_cleared[kPipeIn] && m_cleared[kPipeOut]) m_timedOut = false;
    m_phase = Phase::Command;
    return kdusb::kSuccess;
}

// ---- commands ----

void VirtualKd720::answerIn(std::vector<std::uint8_t> data) {
    m_dataKind = DataKind::Buffer;
    m_dataIn = std::move(data);
    m_phase = Phase::DataIn;
}

void VirtualKd720::beginCommand(const std::uint8_t* cdb) {
    std::copy(cdb, cdb + 12, m_cdb.begin());
    CommandRecord rec;
    rec.opcode = cdb[0];
    rec.cdb = m_cdb;
    m_log.push_back(rec);
    m_answer = m_forced;
    m_eom = m_ili = false;
    m_info = 0;
    m_dataIn.clear();
    m_dataKind = DataKind::Buffer;
    const std::uint8_t op = cdb[0];
    const bool exempt = op == 0x03 || op == 0x12;
    if (m_answer == 0 && !exempt) {
        if (m_unitAttention) {
            m_unitAttention = false;
            m_answer = sense::kPowerOn;
        } else if (m_cover) {
            m_answer = sense::kCoverOpen;
        }
    }
    if (op == 0x03) m_unitAttention = false;
    std::size_t outLen = 0;
    if (op == 0xE5) { // SET SCAN PARAMETER: status, then its data, then status
        m_dataOutLength = cdb[8];
        m_phase = Phase::ParameterStatus;
        return;
    }
    if (dataOutLength(cdb, outLen)) {
        m_dataOutLength = outLen;
        m_phase = Phase::DataOut;
        return;
    }
    m_phase = Phase::Status;
    const bool refused = m_answer != 0;
    switch (op) {
    case 0x00: // TEST UNIT READY
        if (!refused && m_jam) m_answer = sense::kJam;
        return;
    case 0x03: { // REQUEST SENSE
        std::vector<std::uint8_t> s(cdb[4], 0);
        std::uint8_t full[14] = {0x70};
        full[2] = static_cast<std::uint8_t>((m_sense >> 16 & 0x0F) | (m_senseEom ? 0x40 : 0) | (m_senseIli ? 0x20 : 0));
        put32(full + 3, m_senseInfo);
        full[7] = 6;
        full[12] = static_cast<std::uint8_t>(m_sense >> 8);
        full[13] = static_cast<std::uint8_t>(m_sense);
        copyBytes(s.data(), full, std::min<std::size_t>(s.size(), 14));
        m_sense = 0;
        m_senseEom = m_senseIli = false;
        m_senseInfo = 0;
        answerIn(std::move(s));
        m_answer = 0;
        return;
    }
    case 0x12: { // INQUIRY
        std::vector<std::uint8_t> d(cdb[4], 0);
        if (refused) return answerIn({});
        std::uint8_t full[64] = {};
        if (cdb[1] & 1) {
            if (cdb[2] != 0xF0) {
                m_answer = sense::kInvalidCdbField;
                return answerIn({});
            }
            full[0] = 6;
            full[1] = 0xF0;
            put16(full + 5, 600);
            put16(full + 7, 600);
            put32(full + 20, kMaxWidthDots);
            put32(full + 24, kMaxLengthDots);
            full[31] = m_config.ultrasonic ? 0x40 : 0;
        } else {
            full[0] = 6;
            std::memcpy(full + 8, "TAVRO   ", 8);
            std::memcpy(full + 16, "KD-720 Virtual  ", 16);
            std::memcpy(full + 32, "1.00", 4);
        }
        copyBytes(d.data(), full, std::min<std::size_t>(d.size(), 64));
        return answerIn(std::move(d));
    }
    case 0x16: case 0x17: case 0xC7: // RESERVE, RELEASE, ERROR CLEAR
        return;
    case 0x25: { // GET WINDOW
        if (refused) return answerIn({});
        std::vector<std::uint8_t> d(be24(cdb + 6), 0);
        const auto it = m_windows.find(cdb[5]);
        if (it != m_windows.end())
            copyBytes(d.data(), it->second.wire.data(), std::min<std::size_t>(d.size(), 52));
        return answerIn(std::move(d));
    }
    case 0x28: { // READ
        const std::size_t len = be24(cdb + 6);
        if (refused) return answerIn({});
        if (cdb[2] == 0x00 && be16(cdb + 4) == 0) {
            m_dataKind = DataKind::Image;
            m_askLength = len;
            m_dataIn.clear();
            m_phase = Phase::DataIn;
            return;
        }
        return answerIn(readBlock(cdb[2], be16(cdb + 4), len, m_answer));
    }
    case 0x31: { // OBJECT POSITION
        if (refused) return;
        if (cdb[1] == 1) {
            if (!m_path) {
                if (m_hopper.empty()) {
                    m_answer = sense::kNoDocument;
                    return;
                }
                m_path = std::move(m_hopper.front());
                m_hopper.pop_front();
            }
        } else if (cdb[1] == 4) {
            m_path.reset(); // a jammed sheet is ejected, never delivered
            m_page.reset();
            m_jam = false;
            m_batch = false;
        } else if (cdb[1] != 0) {
            m_answer = sense::kInvalidCdbField;
        }
        return;
    }
    case 0x3B: { // GET MEMORY
        if (refused) return answerIn({});
        const std::uint32_t addr = be32(cdb + 2);
        const std::size_t len = be16(cdb + 7);
        if (addr < kLightCurveAddress || addr - kLightCurveAddress > kLightCurveSize ||
            len > kLightCurveSize - (addr - kLightCurveAddress)) {
            m_answer = sense::kAddressOutOfRange;
            return answerIn({});
        }
        const auto* p = curveBlock().data() + (addr - kLightCurveAddress);
        return answerIn(std::vector<std::uint8_t>(p, p + len));
    }
    case 0xC5: { // GET SCANNER STATUS
        std::vector<std::uint8_t> d(cdb[4], 0);
        if (!d.empty())
            d[0] = static_cast<std::uint8_t>((m_hopper.empty() ? 0 : 0x04) | (m_cover ? 0x01 : 0));
        return answerIn(refused ? std::vector<std::uint8_t>() : std::move(d));
    }
    case 0xD8: // STOP BATCH
        if (!refused) m_stopBatch = true;
        return;
    default:
        if (!refused) m_answer = sense::kUnknownOpcode;
        return;
    }
}

void VirtualKd720::finishDataOut(const std::uint8_t* d, std::size_t n) {
    CommandRecord& rec = m_log.back();
    rec.data.assign(d, d + n);
    m_phase = Phase::Status;
    if (m_answer != 0) return;
    switch (m_cdb[0]) {
    case 0x1B: // SCAN
        m_answer = startScan(std::vector<std::uint8_t>(d, d + n));
        return;
    case 0x24: { // SET WINDOW
        if (n != 52 || be16(d + 6) != 44) {
            m_answer = sense::kInvalidParameter;
            return;
        }
        const std::uint8_t* w = d + 8;
        WindowRecord r;
        r.id = w[0];
        r.xres = be16(w + 2);
        r.yres = be16(w + 4);
        r.left = static_cast<std::int32_t>(be32(w + 6));
        r.top = static_cast<std::int32_t>(be32(w + 10));
        r.width = be32(w + 14);
        r.length = be32(w + 18);
        r.composition = w[25];
        r.bitsPerPixel = w[26];
        std::memcpy(r.wire.data(), d, 52);
        if (r.id > 1) {
            m_answer = sense::kInvalidParameter;
            return;
        }
        m_windows[r.id] = r;
        return;
    }
    case 0x2A: { // SEND
        const std::uint8_t type = m_cdb[2];
        const std::uint16_t q = be16(m_cdb.data() + 4);
        if (type == 0x8C && n == 128 && (q == 0 || q == 1)) {
            std::memcpy((q == 0 ? m_service : m_settings).data(), d, 128);
        } else if (type == 0x90 && q == 0 && n == kShadingRecordSize && (d[0] & ~0x4Du) == 0 &&
                   (d[0] >> 2 & 3) <= 2) {
            m_shading.push_back(ShadingRecord{std::vector<std::uint8_t>(d, d + n)});
        } else {
            m_answer = sense::kInvalidCdbField;
        }
        return;
    }
    case 0xD6: // DEFINE SCAN MODE
        if (n != 20 || d[5] != 0x0E) {
            m_answer = sense::kInvalidParameter;
            return;
        }
        std::copy(d, d + 20, m_modes[d[4]].begin());
        return;
    case 0xE1: { // SET ADJUST DATA
        if (n != 40) {
            m_answer = sense::kInvalidParameter;
            return;
        }
        std::array<std::uint8_t, 40> a;
        std::copy(d, d + 40, a.begin());
        m_adjust.push_back(a);
        for (int s = 0; s < 2; ++s) {
            const std::uint8_t* p = d + 20 * s;
            kdsensor::SideRegisters& r = s == 0 ? m_registers.front : m_registers.back;
            for (int c = 0; c < 3; ++c) {
                r.gain[static_cast<std::size_t>(c)] = p[c];
                r.offset[static_cast<std::size_t>(c)] = p[4 + c];
                r.led[static_cast<std::size_t>(c)] = be16(p + 8 + 2 * c);
            }
        }
        return;
    }
    case 0xE5: // SET SCAN PARAMETER: kept in the log only
        if (n != 16) m_answer = sense::kInvalidParameter;
        return;
    default:
        return;
    }
}

std::vector<std::uint8_t> VirtualKd720::readBlock(std::uint8_t code, std::uint16_t q, std::size_t len,
                                                  std::uint32_t& answer) {
    std::vector<std::uint8_t> d(len, 0);
    std::uint8_t full[128] = {};
    std::size_t have = 0;
    if (code == 0x80 && (q == 0 || q == 1 || q == 4)) {
        have = 16;
        put32(full + 12, q == 0 ? m_counter : 0);
        if (q == 4) put32(full + 12, m_info0.lengthRead);
        if (q == 1) {
            put32(full, m_info0.topMargin);
            put32(full + 4, m_info0.bottomMargin);
            put32(full + 8, m_info0.sheetWidth);
            put32(full + 12, 0);
        }
    } else if (code == 0x84 && q == 0) {
        have = 8;
        if (m_key > 0) {
            full[0] = 0x80;
            full[3] = static_cast<std::uint8_t>(m_key);
            m_key = 0;
        }
    } else if (code == 0x8B && q == 0) {
        have = 1;
        full[0] = static_cast<std::uint8_t>((m_hopper.empty() ? 0 : 8) | (m_path ? 1 : 0));
    } else if (code == 0x8C && (q == 0 || q == 1)) {
        have = 128;
        std::memcpy(full, (q == 0 ? m_service : m_settings).data(), 128);
    } else if (code == 0xA1 && q == 0) {
        have = 1;
        if (m_pageDoneLeft > 0) --m_pageDoneLeft;
        else full[0] = 1;
    } else if (code == 0x91 && (q == 0x0700 || q == 0x0900 || q == 0x0A00 || q == 0x0C00 ||
                                q == 0x2300 || q == 0x2500 || q == 0x2600)) {
        return d; // zero blocks
    } else {
        answer = sense::kInvalidCdbField;
        return {};
    }
    copyBytes(d.data(), full, std::min(len, have));
    if (len > have) d.resize(have);
    return d;
}

bool VirtualKd720::continuousMode() const {
    const auto it = m_modes.find(0x32);
    return it != m_modes.end() && (it->second[4 + 6] & 0x40);
}
bool VirtualKd720::backOnly() const {
    const auto it = m_modes.find(0x32);
    return it != m_modes.end() && it->second[4 + 2] == 1;
}
bool VirtualKd720::overScan() const {
    const auto it = m_modes.find(0x32);
    return it != m_modes.end() && (it->second[4 + 6] & 0x20);
}
bool VirtualKd720::continueOnDoubleFeed() const {
    const auto it = m_modes.find(0x30);
    return it != m_modes.end() && (it->second[4 + 5] & 0x10);
}

std::uint32_t VirtualKd720::startScan(const std::vector<std::uint8_t>& ids) {
    if (ids.empty() || ids.size() > 2) return sense::kInvalidParameter;
    const bool calibration = ids[0] >= 0xFE;
    std::vector<int> windows;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if ((ids[i] >= 0xFE) != calibration || (ids[i] == 0xFE) != (ids[0] == 0xFE))
            return sense::kInvalidParameter;
        // A calibration SCAN names no window: two are the front and the
        // back, one is the side the scan mode asks for.
        windows.push_back(calibration ? (ids.size() == 1 && backOnly() ? 1 : static_cast<int>(i)) : ids[i]);
    }
    if (windows.size() == 2 && (windows[0] != 0 || windows[1] != 1)) return sense::kInvalidParameter;
    for (int w : windows) {
        const auto it = m_windows.find(w);
        if (it == m_windows.end()) return sense::kSequence;
        const WindowRecord& r = it->second;
        const WindowRecord& first = m_windows.at(windows[0]);
        if ((r.xres != 300 && r.xres != 600) || r.yres < 50 || r.yres > 600 || r.width != kFullWidth1200 ||
            (r.bitsPerPixel != 8 && r.bitsPerPixel != 12) || (r.composition != 2 && r.composition != 5) ||
            r.length == 0 || r.length > kMaxLengthDots * 2 + 2 * kOverScan1200 || r.xres != first.xres || r.yres != first.yres ||
            r.bitsPerPixel != first.bitsPerPixel || r.composition != first.composition ||
            r.top != first.top || r.length != first.length)
            return sense::kInvalidParameter;
    }
    m_page.reset();
    if (calibration || m_windows.at(windows[0]).bitsPerPixel == 12)
        return makePage(nullptr, windows, true, ids[0] != 0xFF);
    if (m_jam) return sense::kJam;
    m_singleDone = false;
    m_stopBatch = false;
    m_scanIds = windows;
    m_batch = continuousMode();
    const std::uint32_t answer = feed();
    if (answer != 0) m_batch = false;
    return answer;
}

// Feeds the picked sheet, else the next one, and makes its page.
std::uint32_t VirtualKd720::feed() {
    if (!m_path) {
        if (m_hopper.empty()) return sense::kNoDocument;
        m_path = std::move(m_hopper.front());
        m_hopper.pop_front();
    }
    ++m_counter;
    put32(m_service.data() + 4, be32(m_service.data() + 4) + 1);
    return makePage(&*m_path, m_scanIds, false, true);
}

std::uint32_t VirtualKd720::makePage(const Sheet* sheet, const std::vector<int>& ids, bool calibration, bool lit) {
    auto p = std::make_unique<Page>();
    const WindowRecord& w = m_windows.at(ids[0]);
    kdsensor::ScanFormat& f = p->format;
    f.xdpi = w.xres;
    f.layout = m_config.layout;
    f.bits = w.bitsPerPixel;
    f.colour = w.composition == 5;
    f.front = std::find(ids.begin(), ids.end(), 0) != ids.end();
    f.back = std::find(ids.begin(), ids.end(), 1) != ids.end();
    p->lineBytes = f.lineBytes();
    int lines = static_cast<int>(static_cast<std::uint64_t>(w.length) * w.yres / 1200);
    p->calibration = calibration;
    if (calibration) {
        p->fixed = kdsensor::scanReference(m_model, f, m_registers, lit, lines);
    } else {
        const double sheetLen1200 = sheet->heightMm / 25.4 * 1200;
        if (overScan()) {
            const double end = std::min<double>(w.top + static_cast<double>(w.length), sheetLen1200 + kOverScan1200);
            lines = std::max(1, static_cast<int>((end - w.top) * w.yres / 1200));
        }
        const int width = f.collectedWidth();
        const std::uint8_t backing = m_config.blackBacking ? 20 : 245;
        const double topMm = w.top / 1200.0 * 25.4;
        const int xdpi = f.xdpi, ydpi = w.yres, pageLines = lines;
        p->sheet = *sheet;
        kdsensor::SideImage* im[2] = {&p->frontImage, &p->backImage};
        for (int s = 0; s < 2; ++s) {
            if (!(s == 0 ? f.front : f.back)) continue;
            const SideContent& sc = sheet->side[s];
            const int ch = f.colour || sc.colour || (sc.image && sc.image->channels == 3) ? 3 : 1;
            im[s]->width = width;
            im[s]->height = lines;
            im[s]->channels = ch;
            Page* page = p.get();
            im[s]->rowSource = [page, s, width, ch, xdpi, ydpi, topMm, backing, pageLines](int row) {
                constexpr int kStripLines = 64;
                Page::Strip& strip = page->strips[s];
                if (row < strip.first || row >= strip.first + strip.count) {
                    strip.first = row;
                    strip.count = std::min(kStripLines, pageLines - row);
                    strip.pixels = renderSide(page->sheet, s, width, strip.count, xdpi, ydpi, topMm, ch,
                                              backing, row);
                }
                return strip.pixels.data() + static_cast<std::size_t>(row - strip.first) * width * ch;
            };
        }
        kdsensor::EncodeOptions o;
        o.format = f;
        o.exposure = kdsensor::Exposure::Model;
        o.model = &m_model;
        o.registers = m_registers;
        o.leadIn = backing;
        // The front lags the back by -o lines, o the service offset in lines
        // (truncated toward zero).
        const auto offsetUm = static_cast<std::int32_t>(be32(m_service.data()));
        o.lag = -static_cast<int>(static_cast<long long>(w.yres) * offsetUm / 25400);
        p->encoder = std::make_unique<kdsensor::RawPageEncoder>(o, f.front ? &p->frontImage : nullptr,
                                                                f.back ? &p->backImage : nullptr);
        lines = p->encoder->lines();
        if (m_keepRaw) {
            RawKey key{sheet->number, ids, w, overScan(), m_registers, offsetUm};
            auto it = std::find_if(m_kept.begin(), m_kept.end(), [&](const auto& k) { return k.first == key; });
            if (it == m_kept.end()) {
                const auto t0 = std::chrono::steady_clock::now();
                auto raw = std::make_shared<const std::vector<std::uint8_t>>(p->encoder->lines(0, lines));
                const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                std::erase_if(m_kept, [&](const auto& k) { return k.first.sheet == sheet->number; });
                m_kept.emplace_back(std::move(key), KeptPage{std::move(raw), seconds});
                it = m_kept.end() - 1;
            }
            p->kept = it->second.raw;
        }
        FaultSpec fault;
        if (takeFault(Where::Sheet, static_cast<std::uint64_t>(sheet->number), 0, fault)) {
            if (fault.kind == FaultKind::DoubleFeed && continueOnDoubleFeed()) {
                p->doubleFeedAtEnd = true;
            } else {
                p->fault = fault;
                p->faultAt = static_cast<std::uint64_t>(fault.fraction * lines) * p->lineBytes;
                if (fault.kind == FaultKind::NoData) p->emptyReads = kNoDataReads;
            }
        }
        const int windowLines = lines - std::abs(o.lag) * (f.windows() == 2 ? 1 : 0);
        p->info.lengthRead = static_cast<std::uint32_t>(static_cast<std::uint64_t>(windowLines) * 1200 / w.yres);
        p->info.topMargin = static_cast<std::uint32_t>(std::max(0, -w.top));
        p->info.bottomMargin = static_cast<std::uint32_t>(
            std::max(0.0, p->info.lengthRead - p->info.topMargin - sheetLen1200));
        p->info.sheetWidth = static_cast<std::uint32_t>(std::lround(sheet->widthMm / 25.4 * 1200));
    }
    p->lines = lines;
    p->total = static_cast<std::uint64_t>(lines) * p->lineBytes;
    p->start = std::chrono::steady_clock::now();
    m_page = std::move(p);
    return 0;
}

std::size_t VirtualKd720::deliverImage(std::uint8_t* out, std::size_t want, bool shortRead,
                                       std::unique_lock<std::mutex>& lock) {
    if (m_jam) {
        m_answer = sense::kJam;
        return 0;
    }
    if (!m_page) {
        if (m_batch && !m_stopBatch && !m_singleDone) {
            const std::uint32_t a = feed();
            if (a != 0) {
                m_batch = false;
                m_answer = a;
                return 0;
            }
        } else {
            m_answer = sense::kNoDocument;
            return 0;
        }
    }
    Page* p = m_page.get();
    if (p->emptyReads > 0 && p->pos == p->faultAt) {
        // The READ ends well with nothing; the data goes on after the last such.
        if (--p->emptyReads == 0) p->faultAt = UINT64_MAX;
        return 0;
    }
    std::uint64_t end = std::min(p->total, p->faultAt);
    if (m_config.rate > 0 && !p->calibration) {
        // Data arrives at `rate` lines a second from the page's start.
        for (;;) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - p->start).count();
            const auto ready = static_cast<std::uint64_t>(elapsed * m_config.rate) * p->lineBytes;
            if (std::min(ready, end) > p->pos) {
                end = std::min(ready, end);
                break;
            }
            const double nextLine = (static_cast<double>(p->pos / p->lineBytes) + 1) / m_config.rate;
            const auto wait = std::chrono::duration<double>(std::max(0.0005, nextLine - elapsed));
            lock.unlock();
            std::this_thread::sleep_for(wait);
            lock.lock();
            if (m_page.get() != p || !m_attached || m_timedOut) {
                m_answer = sense::kNoDocument;
                return 0;
            }
        }
    }
    std::uint64_t n = std::min<std::uint64_t>(want, end - p->pos);
    if (p->faultAt != UINT64_MAX && p->fault.kind == FaultKind::ShortRead && p->pos + n >= p->faultAt) {
        shortRead = true;
        p->faultAt = UINT64_MAX;
    }
    if (shortRead && n > 1) n /= 2;
    for (std::uint64_t done = 0; done < n;) {
        const std::uint64_t at = p->pos + done;
        const int li = static_cast<int>(at / p->lineBytes);
        const std::size_t off = static_cast<std::size_t>(at % p->lineBytes);
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, p->lineBytes - off));
        const std::uint8_t* src;
        if (p->calibration || p->kept) {
            const std::uint8_t* lines = p->kept ? p->kept->data() : p->fixed.data();
            src = lines + static_cast<std::size_t>(li) * p->lineBytes;
        } else {
            if (p->lineIndex != li) {
                p->line.resize(p->lineBytes);
                p->encoder->line(li, p->line.data());
                p->lineIndex = li;
            }
            src = p->line.data();
        }
        std::memcpy(out + done, src + off, take);
        done += take;
    }
    p->pos += n;
    if (p->pos == p->faultAt && p->emptyReads == 0) {
        const FaultSpec f = p->fault;
        p->faultAt = UINT64_MAX;
        if (isTransferKind(f.kind)) {
            transferFault(f);
            return static_cast<std::size_t>(n);
        }
        m_answer = senseOf(f);
        if (f.kind == FaultKind::Jam) {
            m_jam = true;
            m_page.reset(); // the sheet stays in the path
            return static_cast<std::size_t>(n);
        }
        if (f.kind == FaultKind::Cover) m_cover = true;
        if (f.kind == FaultKind::DoubleFeed) m_batch = false;
        endPage(false);
        return static_cast<std::size_t>(n);
    }
    if (p->pos == p->total) {
        m_answer = kEndOfPage;
        m_eom = true;
        if (n < want) {
            m_ili = true;
            m_info = static_cast<std::uint32_t>(want - n);
        }
        if (p->doubleFeedAtEnd) {
            m_answer = sense::kDoubleFeed;
            m_batch = false;
        }
        endPage(true);
    }
    return static_cast<std::size_t>(n);
}

void VirtualKd720::endPage(bool delivered) {
    if (!m_page) return;
    if (!m_page->calibration) {
        if (delivered) {
            m_delivered.push_back(m_page->sheet.number);
            m_info0 = m_page->info;
            m_pageDoneLeft = m_config.pageDone;
        }
        m_path.reset();
        if (!continuousMode()) m_singleDone = true;
        if (m_stopBatch) m_batch = false;
    }
    m_page.reset();
}

std::vector<std::uint8_t> VirtualKd720::lightCurveBlock() const {
    std::lock_guard lock(m_mutex);
    return curveBlock();
}

const std::vector<std::uint8_t>& VirtualKd720::curveBlock() const {
    if (!m_curve.empty()) return m_curve;
    m_curve.assign(kLightCurveSize, 0);
    std::uint8_t* b = m_curve.data();
    if (!m_config.curve) {
        le32(b, 0xFFFFFFFFu); // the block holds no data
        return m_curve;
    }
    le32(b, 1);
    struct Variant { int channels, dropout, emphasis; };
    static const Variant kVariants[] = {{1, 0, 0}, {3, 0, 0}, {3, 1, 0}, {1, 0, 1}, {3, 0, 1}};
    std::size_t pos = 12;
    std::uint32_t count = 0;
    for (int side = 0; side < 2; ++side)
        for (int dpi : {300, 600})
            for (const Variant& v : kVariants) {
                const auto pixels = static_cast<std::uint32_t>(kdsensor::geometry(dpi, m_config.layout).collectedWidth);
                const std::uint32_t length = static_cast<std::uint32_t>(v.channels) * pixels * 2;
                std::uint8_t* h = b + pos;
                le16(h, 34);
                le16(h + 2, static_cast<std::uint32_t>(side));
                le16(h + 4, static_cast<std::uint32_t>(v.channels));
                le16(h + 6, 16);
                le32(h + 8, 4096);       // divisor: factors of 4096 are unity
                le32(h + 12, pixels);
                le32(h + 16, pixels * 2); // channel distance
                le32(h + 20, length);
                le16(h + 24, static_cast<std::uint32_t>(dpi));
                le16(h + 26, 1);         // channel by channel
                le32(h + 28, 1);         // valid
                h[32] = static_cast<std::uint8_t>(v.dropout);
                h[33] = static_cast<std::uint8_t>(v.emphasis);
                for (std::uint32_t i = 0; i < length / 2; ++i) le16(h + 34 + 2 * i, 4096);
                pos += 34 + length;
                ++count;
            }
    le32(b + 8, count);
    return m_curve;
}

// ---- the control handle ----

bool VirtualKd720::RawKey::operator==(const RawKey& o) const {
    const auto fields = [](const RawKey& k) {
        const WindowRecord& w = k.window;
        return std::tie(k.sheet, k.ids, w.xres, w.yres, w.left, w.top, w.width, w.length, w.composition,
                        w.bitsPerPixel, k.overScan, k.registers, k.offsetUm);
    };
    return fields(*this) == fields(o);
}

void VirtualKd720::keepRawPages(bool on) {
    std::lock_guard lock(m_mutex);
    m_keepRaw = on;
    if (!on) m_kept.clear();
}

VirtualKd720::KeptPage VirtualKd720::keptRawPage(int sheet) const {
    std::lock_guard lock(m_mutex);
    for (const auto& [key, page] : m_kept)
        if (key.sheet == sheet) return page;
    return {};
}

void VirtualKd720::addSheet(Sheet sheet) {
    std::lock_guard lock(m_mutex);
    m_hopper.push_back(std::move(sheet));
}
int VirtualKd720::hopperCount() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_hopper.size());
}
bool VirtualKd720::sheetInPath() const {
    std::lock_guard lock(m_mutex);
    return m_path.has_value();
}
void VirtualKd720::pressKey(int key) {
    std::lock_guard lock(m_mutex);
    m_key = key;
}
bool VirtualKd720::injectFault(std::string_view text, std::string& error) {
    FaultSpec f;
    if (!parseFault(text, f, error)) return false;
    injectFault(f);
    return true;
}
void VirtualKd720::injectFault(const FaultSpec& fault) {
    std::lock_guard lock(m_mutex);
    FaultSpec f = fault;
    if (f.kind == FaultKind::NoPaper) {
        if (f.where == Where::Sheet)
            std::erase_if(m_hopper, [&](const Sheet& s) { return s.number >= f.n; });
        else
            m_hopper.clear();
        return;
    }
    if (f.where != Where::Now) {
        m_faults.push_back(f);
        return;
    }
    std::uint32_t ignored = 0;
    switch (f.kind) {
    case FaultKind::Disconnect: m_attached = false; return;
    case FaultKind::Cover: m_cover = true; return;
    case FaultKind::Jam: applyStateFault(f, ignored); return;
    case FaultKind::Timeout: case FaultKind::Stall: case FaultKind::ShortRead:
        f.where = Where::Read;
        f.n = static_cast<int>(m_reads + 1);
        break;
    default: // the next command answers it
        f.where = Where::Command;
        f.n = static_cast<int>(m_commands + 1);
        break;
    }
    m_faults.push_back(f);
}
void VirtualKd720::closeCover() {
    std::lock_guard lock(m_mutex);
    m_cover = false;
}
void VirtualKd720::disconnect() {
    std::lock_guard lock(m_mutex);
    m_attached = false;
}
void VirtualKd720::reconnect() {
    std::lock_guard lock(m_mutex);
    m_attached = true;
    m_open = false;
    m_phase = Phase::Command;
    m_stalled[1] = m_stalled[2] = false;
    m_timedOut = false;
    m_unitAttention = m_config.unitAttention;
}
bool VirtualKd720::coverOpen() const {
    std::lock_guard lock(m_mutex);
    return m_cover;
}
bool VirtualKd720::jammed() const {
    std::lock_guard lock(m_mutex);
    return m_jam;
}
std::vector<CommandRecord> VirtualKd720::commandLog() const {
    std::lock_guard lock(m_mutex);
    return m_log;
}
std::map<int, WindowRecord> VirtualKd720::windows() const {
    std::lock_guard lock(m_mutex);
    return m_windows;
}
std::map<int, std::array<std::uint8_t, 20>> VirtualKd720::scanModePages() const {
    std::lock_guard lock(m_mutex);
    return m_modes;
}
std::vector<std::array<std::uint8_t, 40>> VirtualKd720::adjustData() const {
    std::lock_guard lock(m_mutex);
    return m_adjust;
}
kdsensor::Registers VirtualKd720::registers() const {
    std::lock_guard lock(m_mutex);
    return m_registers;
}
std::vector<ShadingRecord> VirtualKd720::shadingRecords() const {
    std::lock_guard lock(m_mutex);
    return m_shading;
}
std::array<std::uint8_t, 128> VirtualKd720::serviceBlock() const {
    std::lock_guard lock(m_mutex);
    return m_service;
}
std::array<std::uint8_t, 128> VirtualKd720::settingsBlock() const {
    std::lock_guard lock(m_mutex);
    return m_settings;
}
std::uint32_t VirtualKd720::sheetCounter() const {
    std::lock_guard lock(m_mutex);
    return m_counter;
}
std::vector<int> VirtualKd720::deliveredSheets() const {
    std::lock_guard lock(m_mutex);
    return m_delivered;
}
PageInfo VirtualKd720::lastPageInfo() const {
    std::lock_guard lock(m_mutex);
    return m_info0;
}

} // namespace kdvirtual
