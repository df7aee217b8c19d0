#include "VirtualConfig.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kdvirtual {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool toInt(std::string_view s, long long lo, long long hi, long long& v, int base = 10) {
    s = trim(s);
    if (s.empty()) return false;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v, base);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && v >= lo && v <= hi;
}

bool toDouble(std::string_view s, double lo, double hi, double& v) {
    s = trim(s);
    if (s.empty() || s.size() > 32) return false;
    const std::string copy(s);
    char* end = nullptr;
    errno = 0;
    v = std::strtod(copy.c_str(), &end);
    return errno == 0 && end == copy.c_str() + copy.size() && std::isfinite(v) && v >= lo && v <= hi;
}

bool toBool(std::string_view s, bool& v) {
    s = trim(s);
    if (s == "1" || s == "on" || s == "yes" || s == "true") return v = true, true;
    if (s == "0" || s == "off" || s == "no" || s == "false") return v = false, true;
    return false;
}

struct Kind {
    const char* name;
    FaultKind kind;
};
const Kind kKinds[] = {
    {"jam", FaultKind::Jam},           {"doublefeed", FaultKind::DoubleFeed},
    {"cover", FaultKind::Cover},       {"nopaper", FaultKind::NoPaper},
    {"skew", FaultKind::Skew},         {"hardware", FaultKind::Hardware},
    {"notready", FaultKind::NotReady}, {"sense", FaultKind::Sense},
    {"disconnect", FaultKind::Disconnect}, {"timeout", FaultKind::Timeout},
    {"shortread", FaultKind::ShortRead}, {"stall", FaultKind::Stall},
    {"unitattention", FaultKind::UnitAttention}, {"nodata", FaultKind::NoData},
};

bool parseSense(std::string_view s, std::uint32_t& sense) {
    long long k, asc, ascq;
    const size_t a = s.find('/');
    if (a == std::string_view::npos) return false;
    const size_t b = s.find('/', a + 1);
    if (b == std::string_view::npos) return false;
    if (!toInt(s.substr(0, a), 0, 15, k, 16) || !toInt(s.substr(a + 1, b - a - 1), 0, 255, asc, 16) ||
        !toInt(s.substr(b + 1), 0, 255, ascq, 16))
        return false;
    sense = static_cast<std::uint32_t>(k << 16 | asc << 8 | ascq);
    return true;
}

bool parsePaper(std::string_view v, double& w, double& h) {
    struct Named { const char* name; double w, h; };
    static const Named kPapers[] = {
        {"a4", 210, 297}, {"letter", 215.9, 279.4}, {"a5", 148, 210}, {"card", 85.6, 54}};
    for (const Named& p : kPapers)
        if (v == p.name) return w = p.w, h = p.h, true;
    // <w>x<h>mm
    if (v.size() < 5 || v.substr(v.size() - 2) != "mm") return false;
    v.remove_suffix(2);
    const size_t x = v.find('x');
    if (x == std::string_view::npos) return false;
    return toDouble(v.substr(0, x), 20, 216, w) && toDouble(v.substr(x + 1), 20, 3000, h);
}

bool parseBlank(std::string_view v, std::vector<BlankSide>& out) {
    out.clear();
    v = trim(v);
    if (v == "none") return true;
    while (!v.empty()) {
        const size_t comma = v.find(',');
        std::string_view item = trim(v.substr(0, comma));
        v = comma == std::string_view::npos ? std::string_view() : v.substr(comma + 1);
        if (item == "fronts") { out.push_back({0, 0}); continue; }
        if (item == "backs") { out.push_back({0, 1}); continue; }
        if (item == "all") { out.push_back({0, 2}); continue; }
        int side = 2;
        if (!item.empty() && (item.back() == 'f' || item.back() == 'b')) {
            side = item.back() == 'f' ? 0 : 1;
            item.remove_suffix(1);
        }
        long long n;
        if (!toInt(item, 1, 100000, n)) return false;
        out.push_back({static_cast<int>(n), side});
    }
    return true;
}

} // namespace

bool parseFault(std::string_view text, FaultSpec& out, std::string& error) {
    FaultSpec f;
    text = trim(text);
    const size_t at = text.find('@');
    std::string_view what = text.substr(0, at);
    std::string_view where = at == std::string_view::npos ? std::string_view() : text.substr(at + 1);
    const size_t colon = what.find(':');
    const std::string_view kind = what.substr(0, colon);
    bool known = false;
    for (const Kind& k : kKinds)
        if (kind == k.name) known = true, f.kind = k.kind;
    if (!known) {
        error = "unknown fault kind '" + std::string(kind) + "'";
        return false;
    }
    if (colon != std::string_view::npos) {
        if ((f.kind != FaultKind::Sense && f.kind != FaultKind::Stall) ||
            !parseSense(what.substr(colon + 1), f.sense)) {
            error = "bad sense '" + std::string(what.substr(colon + 1)) + "' (K/ASC/ASCQ in hex, for sense and stall)";
            return false;
        }
        f.senseGiven = true;
    } else if (f.kind == FaultKind::Sense) {
        error = "fault 'sense' needs its code: sense:K/ASC/ASCQ";
        return false;
    }
    long long n = 0;
    if (where.empty()) {
        f.where = Where::Now;
    } else if (where.substr(0, 3) == "cmd" && toInt(where.substr(3), 1, 1LL << 30, n)) {
        f.where = Where::Command;
    } else if (where.substr(0, 4) == "read" && toInt(where.substr(4), 1, 1LL << 30, n)) {
        f.where = Where::Read;
    } else if (where.substr(0, 2) == "op" && toInt(where.substr(2), 0, 255, n, 16)) {
        f.where = Where::Opcode;
        f.opcode = static_cast<std::uint8_t>(n);
        n = 0;
    } else if (where.substr(0, 1) == "s" && where.ends_with(":done")) {
        if (!toInt(where.substr(1, where.size() - 6), 1, 100000, n)) {
            error = "bad place '" + std::string(where) + "' (s<sheet>:done)";
            return false;
        }
        f.where = Where::PageDone;
    } else if (where.substr(0, 1) == "s") {
        const size_t c = where.find(':');
        double fr = 0;
        if (!toInt(where.substr(1, c == std::string_view::npos ? std::string_view::npos : c - 1), 1,
                   100000, n) ||
            (c != std::string_view::npos && !toDouble(where.substr(c + 1), 0, 1, fr))) {
            error = "bad place '" + std::string(where) + "' (s<sheet>[:<fraction 0..1>])";
            return false;
        }
        f.where = Where::Sheet;
        f.fraction = fr;
    } else {
        error = "bad place '" + std::string(where) + "' (s<n>:<fraction>, cmd<k>, op<XX> or read<k>)";
        return false;
    }
    if (f.kind == FaultKind::NoData && f.where != Where::Sheet) {
        error = "fault 'nodata' strikes on a sheet: nodata@s<n>[:<fraction>]";
        return false;
    }
    f.n = static_cast<int>(n);
    out = f;
    return true;
}

bool parseSettings(std::string_view text, VirtualConfig& out, std::string& error) {
    VirtualConfig c;
    text = trim(text);
    if (text == "1") {
        out = c;
        return true;
    }
    while (!text.empty()) {
        const size_t end = text.find_first_of(";\n");
        std::string_view item = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (item.empty() || item.front() == '#') continue;
        const size_t eq = item.find('=');
        const std::string key(trim(item.substr(0, eq)));
        if (eq == std::string_view::npos) {
            error = "setting '" + key + "' has no value (key=value)";
            return false;
        }
        const std::string_view v = trim(item.substr(eq + 1));
        long long n = 0;
        double d = 0;
        bool ok = true;
        std::string why;
        if (key == "sheets") {
            ok = toInt(v, 0, 10000, n);
            c.sheets = static_cast<int>(n);
            why = "a count 0..10000";
        } else if (key == "paper") {
            ok = parsePaper(v, c.paperWidthMm, c.paperHeightMm);
            why = "a4, letter, a5, card or <w>x<h>mm (width 20..216, length 20..3000)";
        } else if (key == "content") {
            ok = v == "text" || v == "photo" || v == "mixed";
            c.content = v == "photo" ? Content::Photo : v == "mixed" ? Content::Mixed : Content::Text;
            why = "text, photo or mixed";
        } else if (key == "colour" || key == "color") {
            ok = toBool(v, c.colour);
            why = "0 or 1";
        } else if (key == "blank") {
            ok = parseBlank(v, c.blank);
            why = "none, fronts, backs, all or a list of <sheet>[f|b]";
        } else if (key == "skew") {
            ok = toDouble(v, -10, 10, c.skewDeg);
            why = "degrees -10..10";
        } else if (key == "shift") {
            ok = toDouble(v, -50, 50, c.shiftMm);
            why = "millimetres -50..50";
        } else if (key == "pages") {
            ok = !v.empty();
            c.pagesDir = std::string(v);
            why = "a folder";
        } else if (key == "dpi") {
            ok = toInt(v, 50, 1200, n);
            c.pagesDpi = static_cast<int>(n);
            why = "50..1200";
        } else if (key == "layout") {
            ok = toInt(v, 0, 1, n);
            c.layout = static_cast<int>(n);
            why = "0 or 1";
        } else if (key == "devices") {
            ok = toInt(v, 0, 2, n);
            c.devices = static_cast<int>(n);
            why = "0, 1 or 2";
        } else if (key == "offset") {
            ok = toInt(v, -100000, 100000, n);
            c.offsetUm = static_cast<std::int32_t>(n);
            why = "micrometres -100000..100000";
        } else if (key == "curve") {
            ok = v == "unity" || v == "none";
            c.curve = v == "unity";
            why = "unity or none";
        } else if (key == "backing") {
            ok = v == "white" || v == "black";
            c.blackBacking = v == "black";
            why = "white or black";
        } else if (key == "rate") {
            ok = toDouble(v, 0, 1e6, d);
            c.rate = d;
            why = "lines per second 0..1000000";
        } else if (key == "pagedone") {
            ok = toInt(v, 0, 1000, n);
            c.pageDone = static_cast<int>(n);
            why = "0..1000";
        } else if (key == "unitattention") {
            ok = toBool(v, c.unitAttention);
            why = "0 or 1";
        } else if (key == "ultrasonic") {
            ok = toBool(v, c.ultrasonic);
            why = "0 or 1";
        } else if (key == "seed") {
            ok = toInt(v, 0, 0xFFFFFFFFLL, n);
            c.seed = static_cast<std::uint32_t>(n);
            why = "0..4294967295";
        } else if (key == "serial") {
            ok = v.size() <= 16;
            c.serial = std::string(v);
            why = "at most 16 characters";
        } else if (key == "fault") {
            FaultSpec f;
            std::string e;
            ok = parseFault(v, f, e);
            if (ok) c.faults.push_back(f);
            why = e;
        } else {
            error = "unknown setting '" + key + "'";
            return false;
        }
        if (!ok) {
            error = "bad value '" + std::string(v) + "' for '" + key + "': " + why;
            return false;
        }
    }
    out = c;
    return true;
}

std::optional<Selection> selectionFromEnvironment() {
    std::string text, source;
    std::string file;
    if (const char* v = std::getenv("KD_VIRTUAL_SCANNER")) {
        if (*v == '\0') return std::nullopt;
        if (v[0] == '@') file = v + 1;
        else text = v;
        source = v;
    } else {
        std::string base;
        if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) base = x;
        else if (const char* h = std::getenv("HOME"); h && *h) base = std::string(h) + "/.config";
        if (base.empty()) return std::nullopt;
        file = base + "/kd720/virtual-scanner.conf";
        std::ifstream probe(file);
        if (!probe) return std::nullopt;
        source = "@" + file;
    }
    Selection sel;
    sel.source = source;
    if (!file.empty()) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            sel.error = "virtual scanner settings file '" + file + "' cannot be read";
            return sel;
        }
        std::ostringstream ss;
        ss << in.rdbuf();
        text = ss.str();
        if (text.size() > 1 << 20) {
            sel.error = "virtual scanner settings file '" + file + "' is too large";
            return sel;
        }
        sel.source += "\n" + text; // a changed file is a new selection
    }
    VirtualConfig c;
    std::string error;
    if (!parseSettings(text, c, error)) {
        sel.error = "virtual scanner settings refused: " + error;
        return sel;
    }
    sel.config = c;
    return sel;
}

} // namespace kdvirtual
