#include "ModelTestSupport.h"
#include "TempHome.h"
#include "ScannerDriverSettingModel.h"

#include <foundation/UserDefaults.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using kdf::Dictionary;
using kdf::Value;

namespace {

kdf::Bytes text(const char* s) { return kdf::Bytes(s, s + std::strlen(s)); }
kdf::Bytes identity() {
    kdf::Bytes b(256);
    for (int i = 0; i < 256; ++i) b[std::size_t(i)] = std::uint8_t(i);
    return b;
}
kdf::Bytes str64Name(std::uint8_t units) {
    kdf::Bytes b(66, 0);
    b[0] = units;
    for (std::size_t i = 0; i < units && 1 + 2 * i < 66; ++i) b[1 + 2 * i] = std::uint8_t('a' + i % 26);
    return b;
}

struct Stored {
    const char* key;
    std::optional<Value> value; // none: the key is not written
};
// What a new model writes: every key with its kind and default, in the
// stored form other releases read.
const Stored kDefaults[] = {
    {"Input_CAP_XFERCOUNTKey", Value(-1)},
    {"Input_CAP_AUTOFEEDKey", Value(1)},
    {"Input_CCAP_TVKM_SCANAREA_XKey", Value(0)},
    {"Input_CCAP_TVKM_SCANAREA_YKey", Value(0)},
    {"Input_CCAP_TVKM_SCANAREA_WIDTHKey", Value(0)},
    {"Input_CCAP_TVKM_SCANAREA_HEIGHTKey", Value(0)},
    {"Input_CCAP_TVKM_UNITKey", Value(2)},
    {"Input_CCAP_TVKM_CUSTOM_SCANAREAKey", Value(0)},
    {"Input_CCAP_TVK_MARGINLENGTHKey", Value(0)},
    {"Input_ICAP_PIXELTYPEKey", Value(2)},
    {"Input_CCAP_TVK_TEXTENHANCEKey", Value(0)},
    {"Input_CCAP_TVK_TEXTENHANCE_BRIGHTNESSKey", Value(128)},
    {"Input_CCAP_TVK_TEXTENHANCE_CONTRASTKey", Value(128)},
    {"Input_ICAP_HALFTONESKey", text("None")},
    {"Input_CCAP_TVK_DETECTPAGETYPEKey", Value(0)},
    {"Input_CCAP_TVK_DETECTPAGETYPE_THRESHOLDKey", Value(2)},
    {"Input_CCAP_TVK_DETECTPAGETYPE_AMOUNTKey", Value(2)},
    {"Input_CCAP_TVKM_DETECTPAGETYPE_BWMODEKey", Value(0)},
    {"Input_ICAP_XRESOLUTIONKey", Value(200.0)},
    {"Input_ICAP_YRESOLUTIONKey", Value(200.0)},
    {"Input_CAP_DUPLEXENABLEDKey", Value(1)},
    {"Input_CCAP_TVK_BLANKSKIPKey", Value(1)},
    {"Input_CCAP_TVK_FOLDLARGESIZEKey", Value(0)},
    {"Input_CCAP_TVK_BLANKSKIPSLICE3Key", Value(10)},
    {"Input_CCAP_TVKM_PAPERSIZEKey", Value(-2)},
    {"Input_CCAP_TVK_DETECTPAGESIZEKey", Value(1)},
    {"Input_CCAP_TVKM_CUSTOMPAGESIZENAMEKey", std::nullopt},
    {"Input_CCAP_TVK_DESKEWKey", Value(1)},
    {"Input_CCAP_TVK_REDUCE_MOIREKey", Value(1)},
    {"Input_ICAP_BRIGHTNESSKey", Value(0.0)},
    {"Input_ICAP_BRIGHTNESS_BackKey", Value(0.0)},
    {"Input_CCAP_TVKM_BACKBRIGHTNESSENABLEDKey", Value(0)},
    {"Input_ICAP_CONTRASTKey", Value(0.0)},
    {"Input_ICAP_CONTRAST_BackKey", Value(0.0)},
    {"Input_CCAP_TVKM_BACKCONTRASTENABLEDKey", Value(0)},
    {"Input_CCAP_TVK_EDGEEMPHASISKey", Value(3)},
    {"Input_CCAP_TVK_DATAORIENTATIONKey", Value(1)},
    {"Input_CCAP_TVK_REVERSESCANTYPEKey", Value(0)},
    {"Input_CCAP_TVK_RECOGNIZE_DIRECTIONKey", Value(0)},
    {"Input_CCAP_TVK_BLEEDTHROUGHKey", Value(0)},
    {"Input_CCAP_TVK_BLEEDTHROUGH_THRESHOLDKey", Value(4)},
    {"Input_CCAP_TVK_DROPOUTKey", Value(0)},
    {"Input_CCAP_TVK_DROPOUT_BackKey", Value(0)},
    {"Input_CCAP_TVK_COLORENHANCEKey", Value(0)},
    {"Input_CCAP_TVK_COLORENHANCE_BackKey", Value(0)},
    {"Input_CCAP_TVK_FEEDER_JAMLESSKey", Value(0)},
    {"Input_CCAP_TVK_DETECTDBLFEED_LENGTHKey", Value(0)},
    {"Input_CCAP_TVK_DETECTDBLFEED_ULTRASONICKey", Value(0)},
    {"Input_CCAP_TVK_MANUALFEEDKey", Value(0)},
    {"Input_CCAP_TVK_AUTOSTARTDELAYKey", Value(0)},
    {"Input_CCAP_TVK_PRESCANKey", Value(0)},
    {"Input_CCAP_TVKM_GRAYCURVEKey", identity()},
    {"Input_CCAP_TVKM_REDCURVEKey", identity()},
    {"Input_CCAP_TVKM_GREENCURVEKey", identity()},
    {"Input_CCAP_TVKM_BLUECURVEKey", identity()},
    {"Input_CCAP_TVKM_GRAYGAMMAKey", Value(1.0)},
    {"Input_CCAP_TVKM_REDGAMMAKey", Value(1.0)},
    {"Input_CCAP_TVKM_GREENGAMMAKey", Value(1.0)},
    {"Input_CCAP_TVKM_BLUEGAMMAKey", Value(1.0)},
    {"Input_CCAP_TVKM_GRAYCURVE_BackKey", identity()},
    {"Input_CCAP_TVKM_REDCURVE_BackKey", identity()},
    {"Input_CCAP_TVKM_GREENCURVE_BackKey", identity()},
    {"Input_CCAP_TVKM_BLUECURVE_BackKey", identity()},
    {"Input_CCAP_TVKM_GRAYGAMMA_BackKey", Value(1.0)},
    {"Input_CCAP_TVKM_REDGAMMA_BackKey", Value(1.0)},
    {"Input_CCAP_TVKM_GREENGAMMA_BackKey", Value(1.0)},
    {"Input_CCAP_TVKM_BLUEGAMMA_BackKey", Value(1.0)},
    {"Input_CCAP_TVKM_GAMMAMODEKey", Value(0)},
    {"Input_CCAP_TVKM_GAMMAMETHODKey", Value(0)},
    {"Input_CCAP_TVKM_CUSTOMGAMMANAMEKey", std::nullopt},
    {"Input_CCAP_TVKM_FAVORITENAMEKey", std::nullopt},
    {"Input_CCAP_TVK_DETECTPAGETYPE_MODEKey", Value(1)},
    {"Input_CCAP_TVK_AUTORESOLUTIONKey", Value(0)},
    {"Input_CCAP_TVK_REMOVESHADOWKey", Value(1)},
    {"Input_CCAP_TVK_COLORSATURATIONKey", Value(0)},
    {"Input_CCAP_TVK_ROTATEFEEDINGDIRECTIONKey", Value(1)},
    {"Input_CCAP_TVK_DETECTPAGETYPE_GRAY_AMOUNTKey", Value(2)},
    {"Input_CCAP_TVK_DETECTPAGETYPE_GRAY_THRESHOLDKey", Value(2)},
    {"Input_CCAP_TVK_EPUBFILTERKey", Value(1)},
    {"Input_CCAP_TVK_SKEWMETHODKey", Value(0)},
    {"Input_CCAP_TVK_PHOTOMODEKey", Value(0)},
    {"Input_CCAP_TVKM_MANUALFEED_AUTOBATCHKey", Value(0)},
    {"Input_CCAP_TVKM_TRIMMINGKey", Value(1)},
    {"Input_CCAP_TVKM_REMOVESHADOW_ACTIONKey", Value(1)},
    {"Input_CCAP_TVK_DFDINDIFFERENT_START_POSOFYKey", Value(0)},
    {"Input_CCAP_TVK_DFDINDIFFERENT_END_POSOFYKey", Value(0)},
    {"Input_CCAP_TVK_SEPARATIONRETRYKey", Value(1)},
    {"Input_CCAP_CCAP_TVK_SKEWDETECTKey", Value(0)},
    {"Input_CCAP_TVK_THINPAPERKey", Value(0)},
    {"Input_CCAP_TVK_NONSEPARATIONFEEDKey", Value(0)},
    {"Input_CCAP_TVK_BINIPFILTERKey", Value(0)},
};

Dictionary saved(const ScannerDriverSettingModel& m) {
    Dictionary d;
    m.saveInputModel(&d);
    return d;
}

TEST(ScannerDriverSettingModel, NewModelSavesEveryDefault) {
    modeltest::ScopedController controller;
    const Dictionary d = saved(ScannerDriverSettingModel());
    std::size_t written = 0;
    for (const Stored& s : kDefaults) {
        SCOPED_TRACE(s.key);
        const Value* v = kdf::find(d, s.key);
        if (!s.value) {
            EXPECT_EQ(v, nullptr);
            continue;
        }
        ++written;
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->kind(), s.value->kind());
        EXPECT_EQ(*v, *s.value);
    }
    EXPECT_EQ(d.size(), written);
    EXPECT_EQ(std::size(kDefaults), kDriverValueCount);
    for (std::size_t i = 0; i < kDriverValueCount; ++i) EXPECT_STREQ(driverValueTable()[i].key, kDefaults[i].key);
}

// Every value set away from its default, through the generic access the
// TWAIN host uses.
void setDistinctValues(ScannerDriverSettingModel& m) {
    for (std::size_t i = 0; i < kDriverValueCount; ++i) {
        const DriverValueInfo& info = driverValueTable()[i];
        const auto id = DriverValueId(i);
        switch (info.kind) {
        case DriverValueKind::Float: m.setValue(id, float(i) + 0.25f); break;
        case DriverValueKind::Str32: m.setValue(id, std::make_shared<const kdf::Bytes>(text("Error Diffusion"))); break;
        case DriverValueKind::Str64: m.setValue(id, std::make_shared<const kdf::Bytes>(str64Name(5))); break;
        case DriverValueKind::Str255: {
            kdf::Bytes curve(256, std::uint8_t(i));
            m.setValue(id, std::make_shared<const kdf::Bytes>(curve));
            break;
        }
        default: m.setValue(id, std::int64_t(i % 2 ? 7 : 2)); break;
        }
    }
}

TEST(ScannerDriverSettingModel, SaveThenLoadGivesEqualValues) {
    modeltest::ScopedController controller;
    ScannerDriverSettingModel m;
    setDistinctValues(m);
    ASSERT_FALSE(m == ScannerDriverSettingModel());
    const Dictionary d = saved(m);
    ScannerDriverSettingModel loaded(&d, kDummyProductName);
    EXPECT_TRUE(loaded == m);
    const Dictionary empty;
    EXPECT_TRUE(ScannerDriverSettingModel(&empty, kDummyProductName) == ScannerDriverSettingModel());
}

TEST(ScannerDriverSettingModel, SkewDetectTravelsUnderTheDoubledKey) {
    modeltest::ScopedController controller;
    ScannerDriverSettingModel m;
    m.setCcap_TVK_SKEWDETECT(1);
    const Dictionary d = saved(m);
    EXPECT_EQ(kdf::find(d, "Input_CCAP_CCAP_TVK_SKEWDETECTKey")->toInteger(), 1);
    EXPECT_EQ(kdf::find(d, "Input_CCAP_TVK_SKEWDETECTKey"), nullptr);

    const Dictionary single{{"Input_CCAP_TVK_SKEWDETECTKey", Value(1)}};
    EXPECT_EQ(ScannerDriverSettingModel(&single, kDummyProductName).ccap_TVK_SKEWDETECT(), 0);
    const Dictionary doubled{{"Input_CCAP_CCAP_TVK_SKEWDETECTKey", Value(1)}};
    EXPECT_EQ(ScannerDriverSettingModel(&doubled, kDummyProductName).ccap_TVK_SKEWDETECT(), 1);
}

TEST(ScannerDriverSettingModel, BadStoredValuesKeepTheDefaults) {
    modeltest::ScopedController controller;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        const char* key;
        Value bad;
    };
    const Row rows[] = {
        {"Input_CAP_XFERCOUNTKey", Value("5")},
        {"Input_CAP_XFERCOUNTKey", Value(40000)},
        {"Input_CAP_AUTOFEEDKey", Value(-1)},
        {"Input_CAP_AUTOFEEDKey", Value(70000)},
        {"Input_CCAP_TVKM_UNITKey", Value(std::int64_t(1) << 31)},
        {"Input_CCAP_TVKM_UNITKey", Value(kdf::Array{Value(1)})},
        {"Input_CCAP_TVKM_GAMMAMETHODKey", Value(-1)},
        {"Input_CCAP_TVKM_GAMMAMETHODKey", Value(std::int64_t(1) << 32)},
        {"Input_ICAP_XRESOLUTIONKey", Value(nan)},
        {"Input_ICAP_XRESOLUTIONKey", Value(inf)},
        {"Input_ICAP_XRESOLUTIONKey", Value(1e300)},
        {"Input_ICAP_XRESOLUTIONKey", Value("300")},
        {"Input_ICAP_HALFTONESKey", Value(kdf::Bytes(34, 'x'))},
        {"Input_ICAP_HALFTONESKey", Value("None")},
        {"Input_CCAP_TVKM_GRAYCURVEKey", Value(kdf::Bytes(255, 1))},
        {"Input_CCAP_TVKM_BLUECURVE_BackKey", Value(kdf::Bytes(257, 1))},
        {"Input_CCAP_TVKM_REDCURVEKey", Value(Dictionary{})},
        {"Input_CCAP_TVKM_CUSTOMPAGESIZENAMEKey", Value(str64Name(33))},
        // The full-auto mark belongs to the favourite name only.
        {"Input_CCAP_TVKM_CUSTOMPAGESIZENAMEKey", Value(str64Name(0xFF))},
        {"Input_CCAP_TVKM_FAVORITENAMEKey", Value(str64Name(0xFE))},
        {"Input_CCAP_TVKM_CUSTOMGAMMANAMEKey", Value(kdf::Bytes(65, 0))},
        {"Input_CCAP_TVKM_FAVORITENAMEKey", Value(kdf::Bytes(67, 0))},
        {"Input_CCAP_TVKM_FAVORITENAMEKey", Value(42)},
    };
    const ScannerDriverSettingModel defaults;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.key);
        // A good value beside the bad one still loads.
        const Dictionary d{{r.key, r.bad}, {"Input_CCAP_TVK_EDGEEMPHASISKey", Value(1)}};
        ScannerDriverSettingModel m(&d, kDummyProductName);
        EXPECT_EQ(m.ccap_TVK_EDGEEMPHASIS(), 1);
        m.setCcap_TVK_EDGEEMPHASIS(defaults.ccap_TVK_EDGEEMPHASIS());
        EXPECT_TRUE(m == defaults);
    }
}

TEST(ScannerDriverSettingModel, UsableEdgeValuesLoad) {
    modeltest::ScopedController controller;
    const Dictionary d{{"Input_CAP_XFERCOUNTKey", Value(-32768)},
                       {"Input_CAP_AUTOFEEDKey", Value(65535)},
                       {"Input_CCAP_TVKM_GAMMAMETHODKey", Value(std::int64_t(0xFFFFFFFF))},
                       {"Input_ICAP_XRESOLUTIONKey", Value(300)},
                       {"Input_CCAP_TVK_DESKEWKey", Value(false)},
                       {"Input_ICAP_HALFTONESKey", Value(kdf::Bytes(33, 'h'))},
                       {"Input_CCAP_TVKM_FAVORITENAMEKey", Value(str64Name(32))}};
    ScannerDriverSettingModel m(&d, kDummyProductName);
    EXPECT_EQ(m.cap_XFERCOUNT(), -32768);
    EXPECT_EQ(m.cap_AUTOFEED(), 65535);
    EXPECT_EQ(m.ccap_TVKM_GAMMAMETHOD(), 0xFFFFFFFFu);
    EXPECT_EQ(m.icap_XRESOLUTION(), 300.0f);
    EXPECT_EQ(m.ccap_TVK_DESKEW(), 0);
    EXPECT_EQ(*m.icap_HALFTONES(), kdf::Bytes(33, 'h'));
    EXPECT_EQ(*m.ccap_TVKM_FAVORITENAME(), str64Name(32));
}

// The data source writes 0xFF as the favourite name's count for its
// full-auto snapshot: it survives a load and a save unchanged.
TEST(ScannerDriverSettingModel, FavouriteFullAutoMarkRoundTrips) {
    modeltest::ScopedController controller;
    kdf::Bytes mark(66, 0);
    mark[0] = 0xFF;
    const Dictionary d{{"Input_CCAP_TVKM_FAVORITENAMEKey", Value(mark)}};
    ScannerDriverSettingModel m(&d, kDummyProductName);
    ASSERT_NE(m.ccap_TVKM_FAVORITENAME(), nullptr);
    EXPECT_EQ(*m.ccap_TVKM_FAVORITENAME(), mark);
    Dictionary saved;
    m.saveInputModel(&saved);
    const ScannerDriverSettingModel again(&saved, kDummyProductName);
    ASSERT_NE(again.ccap_TVKM_FAVORITENAME(), nullptr);
    EXPECT_EQ(*again.ccap_TVKM_FAVORITENAME(), mark);
}

TEST(ScannerDriverSettingModel, NewModelValues) {
    modeltest::ScopedController controller;
    ScannerDriverSettingModel m;
    EXPECT_EQ(m.cap_XFERCOUNT(), -1);
    EXPECT_EQ(m.icap_XRESOLUTION(), 200.0f);
    EXPECT_EQ(m.icap_YRESOLUTION(), 200.0f);
    EXPECT_EQ(m.ccap_TVKM_PAPERSIZE(), -2);
    EXPECT_EQ(m.ccap_TVK_EDGEEMPHASIS(), 3);
    EXPECT_EQ(*m.icap_HALFTONES(), text("None"));
    EXPECT_EQ(*m.ccap_TVKM_GRAYCURVE(), identity());
    EXPECT_EQ(*m.ccap_TVKM_BLUECURVE_Back(), identity());
    // Each curve is a data value of its own.
    EXPECT_NE(m.ccap_TVKM_GRAYCURVE(), m.ccap_TVKM_REDCURVE());
    EXPECT_EQ(m.ccap_TVKM_FAVORITENAME(), nullptr);
}

TEST(ScannerDriverSettingModel, OneSidedProductForcesItsFeedValues) {
    modeltest::ScopedController controller;
    controller->oneSided = {"Tavro KD-710 TWAIN"};
    const Dictionary d{{"Input_CAP_DUPLEXENABLEDKey", Value(1)},
                       {"Input_CCAP_TVK_BLANKSKIPKey", Value(1)},
                       {"Input_CCAP_TVK_MANUALFEEDKey", Value(0)},
                       {"Input_CCAP_TVKM_MANUALFEED_AUTOBATCHKey", Value(0)}};
    ScannerDriverSettingModel oneSided(&d, "Tavro KD-710 TWAIN");
    EXPECT_EQ(oneSided.cap_DUPLEXENABLED(), 0);
    EXPECT_EQ(oneSided.ccap_TVK_BLANKSKIP(), 0);
    EXPECT_EQ(oneSided.ccap_TVK_MANUALFEED(), 3);
    EXPECT_EQ(oneSided.ccap_TVKM_MANUALFEED_AUTOBATCH(), 1);
    ScannerDriverSettingModel duplex(&d, "Tavro KD-720 TWAIN");
    EXPECT_EQ(duplex.cap_DUPLEXENABLED(), 1);
    EXPECT_EQ(duplex.ccap_TVK_MANUALFEED(), 0);

    // A new model follows the current data source.
    controller->currentOneSided = true;
    ScannerDriverSettingModel fresh;
    EXPECT_EQ(fresh.cap_DUPLEXENABLED(), 0);
    EXPECT_EQ(fresh.ccap_TVK_MANUALFEED(), 3);
}

TEST(ScannerDriverSettingModel, CopyOwnsItsValues) {
    modeltest::ScopedController controller;
    ScannerDriverSettingModel m;
    setDistinctValues(m);
    auto copy = m.clone();
    EXPECT_TRUE(*copy == m);
    for (std::size_t i = 0; i < kDriverValueCount; ++i) {
        const DriverValue a = m.value(DriverValueId(i)), b = copy->value(DriverValueId(i));
        if (auto* da = std::get_if<DriverData>(&a)) {
            EXPECT_NE(*da, std::get<DriverData>(b)) << i;
        }
    }
    copy->setIcap_XRESOLUTION(600.0f);
    copy->setCcap_TVKM_GRAYCURVE(std::make_shared<const kdf::Bytes>(identity()));
    EXPECT_NE(m.icap_XRESOLUTION(), 600.0f);
    EXPECT_NE(*m.ccap_TVKM_GRAYCURVE(), identity());
}

TEST(ScannerDriverSettingModel, GenericAccessIgnoresOtherKinds) {
    modeltest::ScopedController controller;
    ScannerDriverSettingModel m;
    m.setValue(DriverValueId::icap_XRESOLUTION, std::int64_t(300));
    EXPECT_EQ(m.icap_XRESOLUTION(), 200.0f);
    m.setValue(DriverValueId::cap_XFERCOUNT, std::int64_t(40000));
    EXPECT_EQ(m.cap_XFERCOUNT(), -1);
    m.setValue(DriverValueId::cap_XFERCOUNT, std::int64_t(5));
    EXPECT_EQ(std::get<std::int64_t>(m.value(DriverValueId::cap_XFERCOUNT)), 5);
    const DriverValueInfo& skew = driverValueTable()[std::size_t(DriverValueId::ccap_TVK_SKEWDETECT)];
    EXPECT_EQ(skew.cap, 0x81A4);
    EXPECT_EQ(skew.itemType, TWTY_BOOL);
    const DriverValueInfo& back = driverValueTable()[std::size_t(DriverValueId::ccap_TVKM_GRAYCURVE_Back)];
    EXPECT_TRUE(back.backSide);
    EXPECT_EQ(back.itemType, TWTY_STR255);
}

TEST(ScannerDriverSettingModel, NoDictionaryMeansTheUserDefaults) {
    const int rc = modeltest::inChild([] {
        kdtest::TempHome home;
        kdf::UserDefaults::standard().set("Input_CCAP_TVK_EDGEEMPHASISKey", Value(1));
        ScannerDriverSettingModel m(nullptr, kDummyProductName);
        if (m.ccap_TVK_EDGEEMPHASIS() != 1) return 1;
        m.setCcap_TVK_DESKEW(0);
        m.saveInputModel(nullptr);
        return kdf::UserDefaults::standard().integer("Input_CCAP_TVK_DESKEWKey") == 0 ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
}

} // namespace
