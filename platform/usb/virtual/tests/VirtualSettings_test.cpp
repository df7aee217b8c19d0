// Settings text, fault places and how a process selects the virtual scanner.
#include "VirtualKd720.h"
#include "kdusb/KdUsb.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace kdvirtual;

struct SettingsCase {
    const char* text;
    bool ok;
    const char* errorNames; // a word the message must hold
};

class Settings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(Settings, ParsesOrRefusesNamingTheKey) {
    const SettingsCase& c = GetParam();
    VirtualConfig cfg;
    cfg.sheets = 77; // untouched on refusal
    std::string error;
    EXPECT_EQ(parseSettings(c.text, cfg, error), c.ok) << c.text << ": " << error;
    if (!c.ok) {
        EXPECT_NE(error.find(c.errorNames), std::string::npos) << error;
        EXPECT_EQ(cfg.sheets, 77);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Settings,
    ::testing::Values(SettingsCase{"1", true, ""}, SettingsCase{"", true, ""},
                      SettingsCase{"sheets=5;paper=letter;content=photo;colour=1", true, ""},
                      SettingsCase{"paper=100x150mm\nskew=-2.5\n# comment\nshift=3", true, ""},
                      SettingsCase{"blank=backs,2f;layout=1;devices=2;curve=none;backing=black", true, ""},
                      SettingsCase{"fault=jam@s2:0.5;fault=stall:5/24/00@read3;fault=cover@op1b", true, ""},
                      SettingsCase{"sheets=5;bogus=1", false, "bogus"},
                      SettingsCase{"sheets=-1", false, "sheets"},
                      SettingsCase{"sheets=3x", false, "sheets"},
                      SettingsCase{"paper=a3", false, "paper"},
                      SettingsCase{"paper=300x100mm", false, "paper"},
                      SettingsCase{"skew=nan", false, "skew"},
                      SettingsCase{"skew=45", false, "skew"},
                      SettingsCase{"layout=2", false, "layout"},
                      SettingsCase{"dpi=0", false, "dpi"},
                      SettingsCase{"serial=12345678901234567", false, "serial"},
                      SettingsCase{"fault=jam@s0:0.5", false, "fault"},
                      SettingsCase{"fault=jam@s1:1.5", false, "fault"},
                      SettingsCase{"fault=sense@cmd1", false, "sense"},
                      SettingsCase{"fault=jam:3/80/00@cmd1", false, "sense"},
                      SettingsCase{"fault=jam@tomorrow", false, "tomorrow"},
                      SettingsCase{"fault=nodata@s2:0.5;fault=nodata@s1", true, ""},
                      SettingsCase{"fault=nodata@read4", false, "nodata"},
                      SettingsCase{"fault=jam@s2:done;fault=disconnect@s1:done", true, ""},
                      SettingsCase{"fault=jam@sx:done", false, "done"},
                      SettingsCase{"sheets", false, "sheets"}));

TEST(Settings, ValuesLandInTheConfig) {
    VirtualConfig c;
    std::string e;
    ASSERT_TRUE(parseSettings("paper=card;blank=2b;fault=sense:4/44/01@op28;fault=jam@s3:0.25", c, e)) << e;
    EXPECT_DOUBLE_EQ(c.paperWidthMm, 85.6);
    ASSERT_EQ(c.blank.size(), 1u);
    EXPECT_EQ(c.blank[0].sheet, 2);
    EXPECT_EQ(c.blank[0].side, 1);
    ASSERT_EQ(c.faults.size(), 2u);
    EXPECT_EQ(c.faults[0].kind, FaultKind::Sense);
    EXPECT_EQ(c.faults[0].sense, 0x044401u);
    EXPECT_EQ(c.faults[0].where, Where::Opcode);
    EXPECT_EQ(c.faults[0].opcode, 0x28);
    EXPECT_EQ(c.faults[1].where, Where::Sheet);
    EXPECT_EQ(c.faults[1].n, 3);
    EXPECT_DOUBLE_EQ(c.faults[1].fraction, 0.25);
}

class VirtualSelection : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("KD_TEST_TMP");
        dir = std::filesystem::path(base ? base : "/tmp") / ("vsel-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir / "kd720");
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        setenv("HOME", dir.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("KD_VIRTUAL_SCANNER");
        std::filesystem::remove_all(dir);
    }
    static std::size_t found() {
        std::vector<kdusb::Device*> devices;
        EXPECT_EQ(kdusb::findDevices(kVendorId, kProductId, devices), kdusb::kSuccess);
        for (auto* d : devices) d->release();
        return devices.size();
    }
    std::filesystem::path dir;
};

TEST_F(VirtualSelection, VariableFileAndSwitchOff) {
    unsetenv("KD_VIRTUAL_SCANNER");
    EXPECT_TRUE(selectedVirtualScanners().empty());
    setenv("KD_VIRTUAL_SCANNER", "1", 1);
    EXPECT_EQ(found(), 1u);
    setenv("KD_VIRTUAL_SCANNER", "devices=2", 1);
    EXPECT_EQ(found(), 2u);
    // The same selection keeps its scanners (and their state).
    const auto first = selectedVirtualScanners();
    EXPECT_EQ(selectedVirtualScanners()[0], first[0]);
    // Refused text: no scanner, a message naming the key, real devices still out of reach.
    setenv("KD_VIRTUAL_SCANNER", "sheets=2;wobble=3", 1);
    EXPECT_EQ(found(), 0u);
    EXPECT_NE(selectionError().find("wobble"), std::string::npos);
    std::vector<std::shared_ptr<kdusb::InProcessDevice>> out;
    EXPECT_TRUE(kdusb::inProcessDevices(out));
    // A settings file named by the variable.
    const auto file = dir / "my.conf";
    std::ofstream(file) << "devices=2\nsheets=1\n";
    std::string named = "@";
    named += file.string();
    setenv("KD_VIRTUAL_SCANNER", named.c_str(), 1);
    EXPECT_EQ(found(), 2u);
    EXPECT_EQ(selectedVirtualScanners()[0]->hopperCount(), 1);
    // Without the variable, the user's settings file selects it; empty switches it off.
    unsetenv("KD_VIRTUAL_SCANNER");
    EXPECT_TRUE(selectedVirtualScanners().empty());
    std::ofstream(dir / "kd720" / "virtual-scanner.conf") << "sheets=4\n";
    ASSERT_EQ(found(), 1u);
    EXPECT_EQ(selectedVirtualScanners()[0]->hopperCount(), 4);
    setenv("KD_VIRTUAL_SCANNER", "", 1);
    EXPECT_TRUE(selectedVirtualScanners().empty());
    EXPECT_FALSE(kdusb::inProcessDevices(out));
}
