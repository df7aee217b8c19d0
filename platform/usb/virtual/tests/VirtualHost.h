// A small host for the virtual scanner's tests: speaks the command protocol
// (command container, data phase, status) straight to the device.
#pragma once

#include "VirtualKd720.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace kdvtest {

using kdvirtual::VirtualKd720;

struct Reply {
    kdusb::Result result = kdusb::kSuccess; // first transfer that failed
    bool check = false;                     // status word non-zero
    std::vector<std::uint8_t> data;
};

struct Sense {
    std::uint32_t code = 0; // key << 16 | ASC << 8 | ASCQ
    bool eom = false, ili = false;
    std::uint32_t info = 0;
};

inline std::vector<std::uint8_t> commandContainer(const std::vector<std::uint8_t>& cdb) {
    std::vector<std::uint8_t> c(24, 0);
    c[3] = 20;
    c[5] = 1;
    c[6] = 0x90;
    std::memcpy(c.data() + 12, cdb.data(), std::min<std::size_t>(cdb.size(), 12));
    return c;
}

inline std::vector<std::uint8_t> dataContainer(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> c(12 + data.size(), 0);
    const auto n = static_cast<std::uint32_t>(data.size() + 8);
    c[0] = static_cast<std::uint8_t>(n >> 24);
    c[1] = static_cast<std::uint8_t>(n >> 16);
    c[2] = static_cast<std::uint8_t>(n >> 8);
    c[3] = static_cast<std::uint8_t>(n);
    c[5] = 2;
    c[6] = 0xB0;
    std::copy(data.begin(), data.end(), c.begin() + 12);
    return c;
}

class Host {
public:
    explicit Host(VirtualKd720& d) : dev(d) {
        bool iface = false;
        EXPECT_EQ(dev.open(iface), kdusb::kSuccess);
    }
    kdusb::Result write(const std::vector<std::uint8_t>& bytes) {
        std::size_t n = bytes.size();
        return dev.bulkWrite(2, bytes.data(), n, 90000, 90000);
    }
    kdusb::Result read(std::vector<std::uint8_t>& out, std::size_t n) {
        out.assign(n, 0);
        std::size_t got = n;
        const kdusb::Result r = dev.bulkRead(1, out.data(), got, 90000, 90000);
        out.resize(got);
        return r;
    }
    kdusb::Result status(bool& check) {
        std::vector<std::uint8_t> s;
        const kdusb::Result r = read(s, 4);
        check = s.size() == 4 && (s[0] | s[1] | s[2] | s[3]) != 0;
        return r;
    }
    // One command: container, optional data out or data in of `inLength`, status.
    Reply cmd(const std::vector<std::uint8_t>& cdb, const std::vector<std::uint8_t>* out = nullptr,
              std::size_t inLength = 0) {
        Reply r;
        if ((r.result = write(commandContainer(cdb))) != kdusb::kSuccess) return r;
        if (out && (r.result = write(dataContainer(*out))) != kdusb::kSuccess) return r;
        if (inLength && (r.result = read(r.data, inLength)) != kdusb::kSuccess) return r;
        r.result = status(r.check);
        return r;
    }
    Sense requestSense() {
        Sense s;
        const Reply r = cmd({0x03, 0, 0, 0, 14}, nullptr, 14);
        EXPECT_EQ(r.result, kdusb::kSuccess);
        EXPECT_EQ(r.data.size(), 14u);
        if (r.data.size() < 14) return s;
        s.code = static_cast<std::uint32_t>((r.data[2] & 0x0F) << 16 | r.data[12] << 8 | r.data[13]);
        s.eom = r.data[2] & 0x40;
        s.ili = r.data[2] & 0x20;
        s.info = static_cast<std::uint32_t>(r.data[3] << 24 | r.data[4] << 16 | r.data[5] << 8 | r.data[6]);
        return s;
    }
    // The sense a command answered (0 for good status).
    std::uint32_t answer(const Reply& r) { return r.check ? requestSense().code : 0; }
    // Clears the pipes as the device layer's recovery does.
    void clear() {
        dev.clearStall(1);
        dev.clearStall(2);
    }

    Reply testUnitReady() { return cmd({0x00}); }
    Reply setWindow(int id, int xres, int yres, std::int32_t top, std::uint32_t length, bool colour, int bits) {
        std::vector<std::uint8_t> w(52, 0);
        w[7] = 44;
        std::uint8_t* d = w.data() + 8;
        d[0] = static_cast<std::uint8_t>(id);
        auto put16 = [](std::uint8_t* p, unsigned v) { p[0] = static_cast<std::uint8_t>(v >> 8); p[1] = static_cast<std::uint8_t>(v); };
        auto put32 = [](std::uint8_t* p, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
        };
        put16(d + 2, static_cast<unsigned>(xres));
        put16(d + 4, static_cast<unsigned>(yres));
        put32(d + 10, static_cast<std::uint32_t>(top));
        put32(d + 14, kdvirtual::kFullWidth1200);
        put32(d + 18, length);
        d[25] = colour ? 5 : 2;
        d[26] = static_cast<std::uint8_t>(bits);
        d[29] = 0x10;
        return cmd({0x24, 0, 0, 0, 0, 0, 0, 0, 52}, &w);
    }
    // Scan-mode page 0x32: sides, continuous feeding, over-scan.
    Reply scanMode32(int sides, bool continuous, bool overScan) {
        std::vector<std::uint8_t> m(20, 0);
        m[4] = 0x32;
        m[5] = 0x0E;
        m[4 + 2] = static_cast<std::uint8_t>(sides);
        m[4 + 3] = 1;
        m[4 + 6] = static_cast<std::uint8_t>((continuous ? 0x40 : 0) | (overScan ? 0x20 : 0));
        return cmd({0xD6, 0x10, 0, 0, 20}, &m);
    }
    Reply scanMode30(bool continueOnDoubleFeed) {
        std::vector<std::uint8_t> m(20, 0);
        m[4] = 0x30;
        m[5] = 0x0E;
        m[4 + 3] = 1;
        m[4 + 5] = continueOnDoubleFeed ? 0x10 : 0;
        return cmd({0xD6, 0x10, 0, 0, 20}, &m);
    }
    Reply scan(const std::vector<std::uint8_t>& ids) {
        return cmd({0x1B, 0, 0, 0, static_cast<std::uint8_t>(ids.size())}, &ids);
    }
    Reply objectPosition(int action) { return cmd({0x31, static_cast<std::uint8_t>(action)}); }
    Reply readData(std::uint8_t code, std::uint16_t qualifier, std::uint32_t size) {
        return cmd({0x28, 0, code, 0, static_cast<std::uint8_t>(qualifier >> 8), static_cast<std::uint8_t>(qualifier),
                    static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)},
                   nullptr, size);
    }
    Reply setAdjust(const kdsensor::Registers& regs) {
        std::vector<std::uint8_t> d(40, 0);
        for (int s = 0; s < 2; ++s) {
            const kdsensor::SideRegisters& r = s == 0 ? regs.front : regs.back;
            std::uint8_t* p = d.data() + 20 * s;
            for (int c = 0; c < 3; ++c) {
                p[c] = r.gain[static_cast<std::size_t>(c)];
                p[4 + c] = r.offset[static_cast<std::size_t>(c)];
                p[8 + 2 * c] = static_cast<std::uint8_t>(r.led[static_cast<std::size_t>(c)] >> 8);
                p[9 + 2 * c] = static_cast<std::uint8_t>(r.led[static_cast<std::size_t>(c)]);
            }
        }
        return cmd({0xE1, 0, 0, 0, 0, 3, 0, 0, 40}, &d);
    }
    // Clears the power-on unit attention.
    void settle() {
        testUnitReady();
        requestSense();
    }

    VirtualKd720& dev;
};

// Reads one page with READ (type 0) transfers of `chunk` bytes until the
// status is a check condition; returns the bytes and the ending sense.
struct PageRead {
    std::vector<std::uint8_t> bytes;
    Sense end;
    int reads = 0;
};
inline PageRead readPage(Host& h, std::uint32_t chunk = 2u << 20) {
    PageRead p;
    for (int guard = 0; guard < 100000; ++guard) {
        const Reply r = h.readData(0, 0, chunk);
        ++p.reads;
        EXPECT_EQ(r.result, kdusb::kSuccess);
        if (r.result != kdusb::kSuccess) return p;
        p.bytes.insert(p.bytes.end(), r.data.begin(), r.data.end());
        if (r.check) {
            p.end = h.requestSense();
            return p;
        }
    }
    ADD_FAILURE() << "page never ended";
    return p;
}

inline std::unique_ptr<VirtualKd720> makeDevice(const std::string& settings) {
    kdvirtual::VirtualConfig c;
    std::string error;
    EXPECT_TRUE(kdvirtual::parseSettings(settings, c, error)) << error;
    auto d = std::make_unique<VirtualKd720>(c, 0, error);
    EXPECT_EQ(error, "");
    return d;
}

} // namespace kdvtest
