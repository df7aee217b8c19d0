// Settings of the virtual KD-720: the typed configuration, its text form
// ("key=value" items separated by ';' or new lines) and how a process selects
// the virtual scanner (KD_VIRTUAL_SCANNER or its settings file).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kdvirtual {

// USB ids the virtual scanner enumerates with: an id pair from the range the
// pid.codes registry publishes for private testing, never a maker's id.
inline constexpr std::uint16_t kVendorId = 0x1209;
inline constexpr std::uint16_t kProductId = 0x0001;

enum class Content { Text, Photo, Mixed };

enum class FaultKind {
    Jam, DoubleFeed, Cover, NoPaper, Skew, Hardware, NotReady, Sense,
    Disconnect, Timeout, ShortRead, Stall, UnitAttention,
    // At a place on a sheet: the next kNoDataReads READs of that page end
    // well and bring nothing, as while the scanner waits on its sheet.
    NoData,
};
inline constexpr int kNoDataReads = 3;

// Where a fault strikes.
enum class Where {
    Now,      // at once (the control handle's injection without a place)
    Sheet,    // sheet `n` (1-based) at `fraction` of its page
    Command,  // the n-th command container since the device was made
    Opcode,   // the next command with `opcode`
    Read,     // the n-th bulk-in transfer since the device was made
    PageDone, // the first READ of sheet `n`'s page-done byte, after its data
};

struct FaultSpec {
    FaultKind kind = FaultKind::Jam;
    // Sense key << 16 | ASC << 8 | ASCQ for Sense, and for Stall when given.
    std::uint32_t sense = 0;
    bool senseGiven = false;
    Where where = Where::Now;
    int n = 0;
    double fraction = 0;
    std::uint8_t opcode = 0;
};

struct BlankSide {
    int sheet = 0; // 1-based; 0 = every sheet
    int side = 0;  // 0 front, 1 back, 2 both
};

struct VirtualConfig {
    // Generated sheets.
    int sheets = 3;
    double paperWidthMm = 210, paperHeightMm = 297; // A4
    Content content = Content::Text;
    bool colour = false;
    std::vector<BlankSide> blank;
    double skewDeg = 0;   // clockwise, as the front is seen
    double shiftMm = 0;   // sheet centre right of the sensor centre, as the front is seen
    // Pages from a folder of PNM files instead of generated sheets.
    std::string pagesDir;
    int pagesDpi = 300;
    // The device.
    int layout = 0;             // sensor layout index: encoding and the dummy value 0 or 3
    int devices = 1;            // how many scanners enumeration offers
    std::int32_t offsetUm = -7946; // service block offset
    bool curve = true;          // light-curve block of unity factors; false: the empty block
    bool blackBacking = false;
    double rate = 0;            // lines per second; 0: data at once
    int pageDone = 0;           // READ 8 answers 0 this many times per page first
    bool unitAttention = true;  // 6/29/00 on the first command after open
    bool ultrasonic = false;    // option bit 6 of INQUIRY page 0xF0
    std::uint32_t seed = 1;     // sensor model
    std::string serial = "VKD720-000000001";
    std::vector<FaultSpec> faults;
};

// Parses settings text into `out` (starting from the defaults). "1" alone
// gives the defaults. On a bad item returns false with a message naming the
// key; `out` is then left untouched.
bool parseSettings(std::string_view text, VirtualConfig& out, std::string& error);
// One fault as the setting "fault=" and the control handle take it:
// <kind>[:K/ASC/ASCQ][@<where>], where = s<n>[:<fraction>] | s<n>:done | cmd<k> | op<XX> | read<k>.
bool parseFault(std::string_view text, FaultSpec& out, std::string& error);

// What selects the virtual scanner for this process: KD_VIRTUAL_SCANNER when
// set ("" switches it off, "1" defaults, "@file" a settings file, else the
// text itself), else $XDG_CONFIG_HOME/kd720/virtual-scanner.conf when it
// exists. No selection: nullopt. A refused text or file: a config of
// nothing and the message in `error`.
struct Selection {
    std::string source;  // the text or file that selected it (for caching)
    std::optional<VirtualConfig> config;
    std::string error;
};
std::optional<Selection> selectionFromEnvironment();

} // namespace kdvirtual
