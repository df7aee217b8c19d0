#include "VirtualPages.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

namespace kdvirtual {

namespace {

constexpr double kPi = 3.14159265358979323846;

// PNM header: magic, then width, height (and maxval) separated by white space
// and comments, then exactly one white-space byte before the data.
bool pnmNumber(const std::uint8_t* d, std::size_t size, std::size_t& pos, long long& v) {
    for (;;) {
        if (pos >= size) return false;
        const std::uint8_t c = d[pos];
        if (c == '#') {
            while (pos < size && d[pos] != '\n' && d[pos] != '\r') ++pos;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            ++pos;
        } else {
            break;
        }
    }
    if (d[pos] < '0' || d[pos] > '9') return false;
    v = 0;
    while (pos < size && d[pos] >= '0' && d[pos] <= '9') {
        v = v * 10 + (d[pos] - '0');
        if (v > 1000000) return false;
        ++pos;
    }
    return true;
}

// 5 x 7 glyphs, one byte per row, bit 4 the leftmost column.
struct Glyph {
    char c;
    std::uint8_t rows[7];
};
const Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
};
const Glyph* glyph(char c) {
    for (const Glyph& g : kGlyphs)
        if (g.c == c) return &g;
    return nullptr;
}

std::uint32_t hash3(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    std::uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

struct Rgb {
    std::uint8_t r, g, b;
};

// Generated content at (u, v) millimetres from the side's top-left corner.
Rgb generated(const SideContent& sc, int sheet, int side, const std::string& mark, double u, double v,
              double w, double h) {
    const Rgb paper{kPaperLevel, kPaperLevel, kPaperLevel};
    if (sc.blank) return paper;
    // The mark.
    const double mu = (u - kMarkLeftMm) / kMarkCellMm, mv = (v - kMarkTopMm) / kMarkCellMm;
    if (mu >= 0 && mv >= 0 && mv < 7) {
        const int cx = static_cast<int>(mu), cy = static_cast<int>(mv);
        const size_t ci = static_cast<size_t>(cx / 6);
        const int col = cx % 6;
        if (ci < mark.size() && col < 5) {
            const Glyph* g = glyph(mark[ci]);
            if (g && (g->rows[cy] >> (4 - col) & 1)) return Rgb{20, 20, 20};
            return paper;
        }
    }
    const bool photoHere = sc.content == Content::Photo ||
                           (sc.content == Content::Mixed && v > h * 0.55 && v < h - 20 &&
                            u > 20 && u < w - 20);
    if (photoHere) {
        if (u < 10 || u > w - 10 || v < 20 || v > h - 10) return paper;
        const double s = sheet * 0.7 + side * 1.3;
        const double r = 128 + 100 * std::sin(u / 23.0 + s), g = 128 + 100 * std::cos(v / 31.0 + s),
                     b = 128 + 100 * std::sin((u + v) / 41.0 - s);
        if (!sc.colour) {
            const auto y = static_cast<std::uint8_t>(0.299 * r + 0.587 * g + 0.114 * b);
            return Rgb{y, y, y};
        }
        return Rgb{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b)};
    }
    // Text: lines of word blocks.
    if (u < 15 || u > w - 15 || v < 20 || v > h - 15) return paper;
    const double lv = (v - 20) / 7.0;
    const int line = static_cast<int>(lv);
    if ((lv - line) * 7.0 > 3.0) return paper;
    const int word = static_cast<int>((u - 15) / 9.0);
    const double inWord = (u - 15) - word * 9.0;
    const std::uint32_t hw = hash3(static_cast<std::uint32_t>(sheet * 2 + side), static_cast<std::uint32_t>(line),
                                   static_cast<std::uint32_t>(word));
    if (inWord > 3.0 + (hw % 50) / 10.0) return paper;
    if (!sc.colour) return Rgb{30, 30, 30};
    switch (line % 3) {
    case 0: return Rgb{30, 30, 30};
    case 1: return Rgb{30, 40, 150};
    default: return Rgb{170, 30, 30};
    }
}

} // namespace

bool readPnm(const std::uint8_t* d, std::size_t size, PageImage& out, std::string& error) {
    if (size < 2 || d[0] != 'P' || (d[1] != '4' && d[1] != '5' && d[1] != '6')) {
        error = "not a binary PNM file (P4, P5 or P6)";
        return false;
    }
    const char kind = static_cast<char>(d[1]);
    std::size_t pos = 2;
    long long w = 0, h = 0, maxval = 1;
    if (!pnmNumber(d, size, pos, w) || !pnmNumber(d, size, pos, h) ||
        (kind != '4' && !pnmNumber(d, size, pos, maxval))) {
        error = "PNM header is cut short or malformed";
        return false;
    }
    if (w < 1 || h < 1 || w > 65535 || h > 65535 || w * h > 200000000LL) {
        error = "PNM dimensions " + std::to_string(w) + " x " + std::to_string(h) + " out of range";
        return false;
    }
    if (maxval < 1 || maxval > 65535) {
        error = "PNM maxval " + std::to_string(maxval) + " out of range 1..65535";
        return false;
    }
    if (pos >= size || !(d[pos] == ' ' || d[pos] == '\t' || d[pos] == '\n' || d[pos] == '\r')) {
        error = "PNM header does not end in white space";
        return false;
    }
    ++pos;
    const int ch = kind == '6' ? 3 : 1;
    const std::size_t bytesPerSample = maxval > 255 ? 2 : 1;
    const std::size_t rowBytes = kind == '4' ? static_cast<std::size_t>((w + 7) / 8)
                                             : static_cast<std::size_t>(w) * ch * bytesPerSample;
    const std::size_t need = rowBytes * static_cast<std::size_t>(h);
    if (size - pos < need) {
        error = "PNM data cut short: " + std::to_string(size - pos) + " of " + std::to_string(need) + " bytes";
        return false;
    }
    if (size - pos > need) {
        error = "PNM file has " + std::to_string(size - pos - need) + " bytes after its image";
        return false;
    }
    PageImage img;
    img.width = static_cast<int>(w);
    img.height = static_cast<int>(h);
    img.channels = ch;
    img.pixels.resize(static_cast<std::size_t>(w) * h * ch);
    const std::uint8_t* p = d + pos;
    for (long long y = 0; y < h; ++y) {
        const std::uint8_t* row = p + rowBytes * static_cast<std::size_t>(y);
        std::uint8_t* o = img.pixels.data() + static_cast<std::size_t>(y) * w * ch;
        if (kind == '4') {
            for (long long x = 0; x < w; ++x) o[x] = (row[x / 8] >> (7 - x % 8) & 1) ? 0 : 255;
            continue;
        }
        for (long long i = 0; i < w * ch; ++i) {
            const unsigned v = bytesPerSample == 2 ? (row[2 * i] << 8 | row[2 * i + 1]) : row[i];
            o[i] = static_cast<std::uint8_t>((std::min<unsigned>(v, static_cast<unsigned>(maxval)) * 255u +
                                              static_cast<unsigned>(maxval) / 2) / static_cast<unsigned>(maxval));
        }
    }
    out = std::move(img);
    return true;
}

bool readPnmFile(const std::string& path, PageImage& out, std::string& error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = "'" + path + "': " + ec.message();
        return false;
    }
    if (size > (1ull << 30)) {
        error = "'" + path + "' is larger than 1 GiB";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
        error = "'" + path + "' cannot be read";
        return false;
    }
    if (!readPnm(bytes.data(), bytes.size(), out, error)) {
        error = "'" + path + "': " + error;
        return false;
    }
    return true;
}

PageImage scaleArea(const PageImage& src, int dw, int dh) {
    PageImage dst;
    dst.width = std::max(dw, 1);
    dst.height = std::max(dh, 1);
    dst.channels = src.channels;
    dst.pixels.resize(static_cast<std::size_t>(dst.width) * dst.height * dst.channels);
    const int ch = src.channels;
    // Source spans of each destination column with fractional edge weights.
    struct Tap {
        int i;
        float w;
    };
    auto taps = [](int sn, int dn) {
        std::vector<std::vector<Tap>> t(static_cast<std::size_t>(dn));
        const double step = static_cast<double>(sn) / dn;
        for (int j = 0; j < dn; ++j) {
            const double a = j * step, b = (j + 1) * step;
            for (int i = static_cast<int>(a); i < sn && i < b; ++i) {
                const double w = std::min<double>(b, i + 1) - std::max<double>(a, i);
                if (w > 0) t[static_cast<std::size_t>(j)].push_back({i, static_cast<float>(w / step)});
            }
        }
        return t;
    };
    const auto tx = taps(src.width, dst.width), ty = taps(src.height, dst.height);
    std::vector<float> hrow(static_cast<std::size_t>(dst.width) * ch), acc(hrow.size());
    for (int y = 0; y < dst.height; ++y) {
        std::fill(acc.begin(), acc.end(), 0.0f);
        for (const Tap& vy : ty[static_cast<std::size_t>(y)]) {
            const std::uint8_t* s = src.pixels.data() + static_cast<std::size_t>(vy.i) * src.width * ch;
            for (int x = 0; x < dst.width; ++x)
                for (int c = 0; c < ch; ++c) {
                    float v = 0;
                    for (const Tap& hx : tx[static_cast<std::size_t>(x)]) v += hx.w * s[hx.i * ch + c];
                    acc[static_cast<std::size_t>(x * ch + c)] += vy.w * v;
                }
        }
        std::uint8_t* o = dst.pixels.data() + static_cast<std::size_t>(y) * dst.width * ch;
        for (std::size_t i = 0; i < acc.size(); ++i)
            o[i] = static_cast<std::uint8_t>(std::clamp(acc[i] + 0.5f, 0.0f, 255.0f));
    }
    return dst;
}

std::vector<Sheet> generatedSheets(const VirtualConfig& c) {
    std::vector<Sheet> out;
    for (int n = 1; n <= c.sheets; ++n) {
        Sheet s;
        s.number = n;
        s.widthMm = c.paperWidthMm;
        s.heightMm = c.paperHeightMm;
        s.skewDeg = c.skewDeg;
        s.shiftMm = c.shiftMm;
        for (int side = 0; side < 2; ++side) {
            SideContent& sc = s.side[side];
            sc.content = c.content;
            sc.colour = c.colour;
            for (const BlankSide& b : c.blank)
                if ((b.sheet == 0 || b.sheet == n) && (b.side == 2 || b.side == side)) sc.blank = true;
        }
        out.push_back(std::move(s));
    }
    return out;
}

bool sheetsFromFolder(const std::string& dir, int dpi, std::vector<Sheet>& out, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        error = "pages folder '" + dir + "' is not a folder";
        return false;
    }
    std::vector<std::string> fronts;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.size() > 4 && name.ends_with(".pnm") && !name.ends_with(".back.pnm")) fronts.push_back(name);
    }
    if (ec) {
        error = "pages folder '" + dir + "': " + ec.message();
        return false;
    }
    std::sort(fronts.begin(), fronts.end());
    std::vector<Sheet> sheets;
    for (const std::string& name : fronts) {
        Sheet s;
        s.number = static_cast<int>(sheets.size()) + 1;
        auto front = std::make_shared<PageImage>();
        if (!readPnmFile((fs::path(dir) / name).string(), *front, error)) return false;
        s.widthMm = front->width * 25.4 / dpi;
        s.heightMm = front->height * 25.4 / dpi;
        s.side[0].image = front;
        s.side[0].dpi = dpi;
        const fs::path back = fs::path(dir) / (name.substr(0, name.size() - 4) + ".back.pnm");
        if (fs::exists(back, ec)) {
            auto b = std::make_shared<PageImage>();
            if (!readPnmFile(back.string(), *b, error)) return false;
            s.side[1].image = b;
            s.side[1].dpi = dpi;
        } else {
            s.side[1].blank = true;
        }
        sheets.push_back(std::move(s));
    }
    out = std::move(sheets);
    return true;
}

std::string markText(int sheet, int side) { return std::to_string(sheet) + (side == 0 ? "F" : "B"); }

std::string readMark(const std::uint8_t* px, int width, int height, int channels, std::size_t stride,
                     int xdpi, int ydpi, double ox, double oy) {
    std::string text;
    for (int k = 0; k < 8; ++k) {
        std::uint8_t rows[7] = {};
        for (int r = 0; r < 7; ++r)
            for (int col = 0; col < 5; ++col) {
                const double u = kMarkLeftMm + (6 * k + col + 0.5) * kMarkCellMm;
                const double v = kMarkTopMm + (r + 0.5) * kMarkCellMm;
                const int x = static_cast<int>(ox + u * xdpi / 25.4), y = static_cast<int>(oy + v * ydpi / 25.4);
                if (x < 0 || y < 0 || x >= width || y >= height) return text;
                const std::uint8_t* p = px + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * channels;
                const int level = channels == 3 ? (p[0] + p[1] + p[2]) / 3 : p[0];
                if (level < 128) rows[r] |= static_cast<std::uint8_t>(1 << (4 - col));
            }
        const Glyph* found = nullptr;
        for (const Glyph& g : kGlyphs)
            if (std::equal(rows, rows + 7, g.rows)) found = &g;
        if (!found) break;
        text += found->c;
    }
    return text;
}

namespace {

// How a side lies on the sensor: its turn and its shift across. The back is
// seen from the other side: left and right and the turn swap.
struct SidePose {
    double cs, sn, shift;
    SidePose(const Sheet& sheet, int s) {
        const double mirror = s == 0 ? 1.0 : -1.0;
        const double th = mirror * sheet.skewDeg * kPi / 180;
        cs = std::cos(th);
        sn = std::sin(th);
        shift = mirror * sheet.shiftMm;
    }
};

} // namespace

std::array<SidePoint, 4> sideCorners(const Sheet& sheet, int s, int width, int xdpi, int ydpi,
                                     double topMm) {
    const SidePose pose(sheet, s);
    const double w = sheet.widthMm, h = sheet.heightMm;
    std::array<SidePoint, 4> out{};
    const double corner[4][2] = {{0, 0}, {w, 0}, {0, h}, {w, h}};
    for (int i = 0; i < 4; ++i) {
        // renderSide's mapping from the sensor to the sheet, undone.
        const double a = corner[i][0] - w / 2, b = corner[i][1] - h / 2;
        const double u = pose.cs * a - pose.sn * b, v = pose.sn * a + pose.cs * b;
        out[static_cast<std::size_t>(i)] = {(u + pose.shift) * xdpi / 25.4 + width / 2.0,
                                            (v + h / 2 - topMm) * ydpi / 25.4};
    }
    return out;
}

std::vector<std::uint8_t> renderSide(const Sheet& sheet, int s, int width, int lines, int xdpi, int ydpi,
                                     double topMm, int channels, std::uint8_t backing, int firstRow) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * lines * channels);
    const SideContent& sc = sheet.side[s];
    const SidePose pose(sheet, s);
    const double cs = pose.cs, sn = pose.sn, shift = pose.shift, w = sheet.widthMm, h = sheet.heightMm;
    const double shadowMm = 0.5;
    std::shared_ptr<const PageImage> img;
    if (sc.image && !sc.blank) {
        auto& cached = sc.scaled[{xdpi, ydpi}];
        if (!cached) {
            const int dw = std::max(1, static_cast<int>(std::lround(sc.image->width * static_cast<double>(xdpi) / sc.dpi)));
            const int dh = std::max(1, static_cast<int>(std::lround(sc.image->height * static_cast<double>(ydpi) / sc.dpi)));
            cached = std::make_shared<PageImage>(scaleArea(*sc.image, dw, dh));
        }
        img = cached;
    }
    const std::string mark = markText(sheet.number, s);
    for (int y = 0; y < lines; ++y) {
        const double v = topMm + (firstRow + y + 0.5) * 25.4 / ydpi - h / 2;
        std::uint8_t* o = out.data() + static_cast<std::size_t>(y) * width * channels;
        for (int x = 0; x < width; ++x) {
            const double u = (x + 0.5 - width / 2.0) * 25.4 / xdpi - shift;
            // Sheet coordinates from the sheet's top-left corner.
            const double su = cs * u + sn * v + w / 2, sv = -sn * u + cs * v + h / 2;
            Rgb c{backing, backing, backing};
            if (su >= 0 && su < w && sv >= 0 && sv < h) {
                if (img) {
                    const int ix = static_cast<int>(su * xdpi / 25.4), iy = static_cast<int>(sv * ydpi / 25.4);
                    if (ix < img->width && iy < img->height) {
                        const std::uint8_t* p = img->pixels.data() +
                                                (static_cast<std::size_t>(iy) * img->width + ix) * img->channels;
                        c = img->channels == 3 ? Rgb{p[0], p[1], p[2]} : Rgb{p[0], p[0], p[0]};
                    } else {
                        c = Rgb{kPaperLevel, kPaperLevel, kPaperLevel};
                    }
                } else {
                    c = generated(sc, sheet.number, s, mark, su, sv, w, h);
                }
            } else if (su >= 0 && su < w &&
                       (s == 0 ? sv < 0 && sv >= -shadowMm : sv >= h && sv < h + shadowMm)) {
                c = Rgb{kShadowLevel, kShadowLevel, kShadowLevel};
            }
            if (channels == 3) {
                o[3 * x] = c.r;
                o[3 * x + 1] = c.g;
                o[3 * x + 2] = c.b;
            } else {
                o[x] = static_cast<std::uint8_t>((299 * c.r + 587 * c.g + 114 * c.b) / 1000);
            }
        }
    }
    return out;
}

} // namespace kdvirtual
