// Moving an input panel's settings into the open data source and back.
//
// The order of the calls is an interface with the data source: one table
// over the input model's rows (driverValueTable gives each row's capability
// and item type), with the side selector placed where the source expects
// it and each row's number in the read-back order.
#include "QlrDeviceCntlr.h"

#include "DeviceTables.h"
#include "InputModel.h"
#include "ScannerDriverSettingModel.h"
#include "TV_TWAINCommon.h"
#include "KdTwainCustom.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

using Id = DriverValueId;

struct CapStep {
    std::optional<Id> row;   // none: the side selector
    TW_INT32 side = 0;       // the selector's value
    int read = 0;            // number in the read-back order
    bool ifSupported = false; // only when the current device type supports it
};

constexpr CapStep sel(TW_INT32 side) { return {std::nullopt, side, 0, false}; }
constexpr CapStep row(Id id, int read) { return {id, 0, read, false}; }
constexpr CapStep sup(Id id, int read) { return {id, 0, read, true}; }

constexpr TW_INT32 kFront = 1;
constexpr TW_INT32 kBack = -1;

// Calls 2 to 95 of a full write, in order.
constexpr CapStep kSteps[] = {
    sel(kFront),
    row(Id::cap_XFERCOUNT, 1),
    row(Id::cap_AUTOFEED, 2),
    row(Id::ccap_TVKM_PAPERSIZE, 27),
    row(Id::ccap_TVKM_CUSTOM_SCANAREA, 8),
    row(Id::ccap_TVKM_SCANAREA_X, 3),
    row(Id::ccap_TVKM_SCANAREA_Y, 4),
    row(Id::ccap_TVKM_SCANAREA_WIDTH, 5),
    row(Id::ccap_TVKM_SCANAREA_HEIGHT, 6),
    row(Id::ccap_TVKM_UNIT, 7),
    row(Id::ccap_TVK_MARGINLENGTH, 9),
    row(Id::icap_PIXELTYPE, 10),
    row(Id::ccap_TVK_TEXTENHANCE, 11),
    row(Id::ccap_TVK_TEXTENHANCE_BRIGHTNESS, 12),
    row(Id::ccap_TVK_TEXTENHANCE_CONTRAST, 13),
    row(Id::icap_HALFTONES, 14),
    row(Id::ccap_TVK_DETECTPAGETYPE, 15),
    row(Id::ccap_TVK_DETECTPAGETYPE_THRESHOLD, 16),
    row(Id::ccap_TVK_DETECTPAGETYPE_AMOUNT, 17),
    row(Id::ccap_TVK_DETECTPAGETYPE_GRAY_AMOUNT, 18),
    row(Id::ccap_TVK_DETECTPAGETYPE_GRAY_THRESHOLD, 19),
    row(Id::ccap_TVKM_DETECTPAGETYPE_BWMODE, 20),
    row(Id::icap_XRESOLUTION, 21),
    row(Id::icap_YRESOLUTION, 22),
    row(Id::cap_DUPLEXENABLED, 23),
    row(Id::ccap_TVK_BLANKSKIP, 24),
    row(Id::ccap_TVK_FOLDLARGESIZE, 25),
    row(Id::ccap_TVK_BLANKSKIPSLICE3, 26),
    row(Id::ccap_TVK_DETECTPAGESIZE, 28),
    row(Id::ccap_TVKM_CUSTOMPAGESIZENAME, 29),
    row(Id::ccap_TVK_DESKEW, 30),
    row(Id::ccap_TVK_REDUCE_MOIRE, 31),
    row(Id::icap_BRIGHTNESS, 32),
    row(Id::ccap_TVKM_BACKBRIGHTNESSENABLED, 33),
    row(Id::icap_CONTRAST, 34),
    row(Id::ccap_TVKM_BACKCONTRASTENABLED, 35),
    row(Id::ccap_TVK_EDGEEMPHASIS, 36),
    row(Id::ccap_TVK_DATAORIENTATION, 37),
    row(Id::ccap_TVK_REVERSESCANTYPE, 38),
    row(Id::ccap_TVK_RECOGNIZE_DIRECTION, 39),
    row(Id::ccap_TVK_BLEEDTHROUGH, 40),
    row(Id::ccap_TVK_BLEEDTHROUGH_THRESHOLD, 41),
    row(Id::ccap_TVK_DROPOUT, 42),
    row(Id::ccap_TVK_COLORENHANCE, 43),
    row(Id::ccap_TVK_FEEDER_JAMLESS, 44),
    row(Id::ccap_TVK_DETECTDBLFEED_LENGTH, 45),
    row(Id::ccap_TVK_DETECTDBLFEED_ULTRASONIC, 46),
    row(Id::ccap_TVK_MANUALFEED, 47),
    row(Id::ccap_TVK_AUTOSTARTDELAY, 48),
    row(Id::ccap_TVK_PRESCAN, 49),
    row(Id::ccap_TVKM_GRAYCURVE, 50),
    row(Id::ccap_TVKM_REDCURVE, 51),
    row(Id::ccap_TVKM_GREENCURVE, 52),
    row(Id::ccap_TVKM_BLUECURVE, 53),
    row(Id::ccap_TVKM_GRAYGAMMA, 54),
    row(Id::ccap_TVKM_REDGAMMA, 55),
    row(Id::ccap_TVKM_GREENGAMMA, 56),
    row(Id::ccap_TVKM_BLUEGAMMA, 57),
    sel(kBack),
    row(Id::ccap_TVKM_GRAYCURVE_Back, 58),
    row(Id::ccap_TVKM_REDCURVE_Back, 59),
    row(Id::ccap_TVKM_GREENCURVE_Back, 60),
    row(Id::ccap_TVKM_BLUECURVE_Back, 61),
    row(Id::ccap_TVKM_GRAYGAMMA_Back, 62),
    row(Id::ccap_TVKM_REDGAMMA_Back, 63),
    row(Id::ccap_TVKM_GREENGAMMA_Back, 64),
    row(Id::ccap_TVKM_BLUEGAMMA_Back, 65),
    row(Id::icap_BRIGHTNESS_Back, 66),
    row(Id::icap_CONTRAST_Back, 67),
    row(Id::ccap_TVK_DROPOUT_Back, 68),
    row(Id::ccap_TVK_COLORENHANCE_Back, 69),
    sel(kFront),
    row(Id::ccap_TVKM_GAMMAMODE, 70),
    row(Id::ccap_TVKM_GAMMAMETHOD, 71),
    row(Id::ccap_TVKM_CUSTOMGAMMANAME, 72),
    row(Id::ccap_TVKM_FAVORITENAME, 73),
    row(Id::ccap_TVK_DETECTPAGETYPE_MODE, 74),
    row(Id::ccap_TVK_AUTORESOLUTION, 75),
    row(Id::ccap_TVK_REMOVESHADOW, 76),
    row(Id::ccap_TVK_COLORSATURATION, 77),
    sup(Id::ccap_TVK_ROTATEFEEDINGDIRECTION, 78),
    row(Id::ccap_TVK_EPUBFILTER, 79),
    row(Id::ccap_TVK_SKEWMETHOD, 80),
    sup(Id::ccap_TVK_PHOTOMODE, 81),
    sup(Id::ccap_TVKM_MANUALFEED_AUTOBATCH, 82),
    sup(Id::ccap_TVKM_TRIMMING, 83),
    sup(Id::ccap_TVKM_REMOVESHADOW_ACTION, 84),
    sup(Id::ccap_TVK_DFDINDIFFERENT_START_POSOFY, 85),
    sup(Id::ccap_TVK_DFDINDIFFERENT_END_POSOFY, 86),
    sup(Id::ccap_TVK_SEPARATIONRETRY, 87),
    sup(Id::ccap_TVK_SKEWDETECT, 88),
    sup(Id::ccap_TVK_THINPAPER, 89),
    sup(Id::ccap_TVK_NONSEPARATIONFEED, 90),
    sup(Id::ccap_TVK_BINIPFILTER, 91),
};
static_assert(std::size(kSteps) == 94, "calls 2 to 95");
// The back side's values start at read 58; the front's again at read 70.
constexpr int kFirstBackRead = 58;
constexpr int kFirstFrontAgainRead = 70;

constexpr TW_UINT16 kCapIndicators = 0x100B;

const DriverValueInfo& info(Id id) { return driverValueTable()[std::size_t(id)]; }

bool wanted(const CapStep& s) { return !s.ifSupported || isSupportedCAP(info(*s.row).cap); }

// The simple settings' tables.
TW_UINT16 pixelTypeFor(int colorType) {
    if (colorType == 3 || colorType == 4) return TWPT_GRAY;
    if (colorType == 5) return TWPT_BW;
    return TWPT_RGB;
}
TW_INT32 paperSizeFor(int paperType) {
    static constexpr TW_INT32 kSizes[] = {0, 0, 1, 3, 5, 6, 8, 9};
    return paperType >= 0 && paperType < int(std::size(kSizes)) ? kSizes[paperType] : 0;
}
float resolutionFor(int resolutionType) {
    static constexpr float kRes[] = {300, 200, 300, 400, 600};
    return resolutionType >= 0 && resolutionType < int(std::size(kRes)) ? kRes[resolutionType] : 200;
}
bool duplexFor(int readerSideType) { return readerSideType != 1; }

} // namespace

// One value of a row in its record: integers as the one-value Item word,
// FIX32 converted, strings as their whole records (shorter values
// zero-filled). A value longer than its record fails before any call.
namespace {
struct CapValue {
    union {
        TW_UINT32 word;
        TW_FIX32 fix;
        TW_STR32 str32;
        TW_STR64 str64;
        TW_STR255 str255;
    } u{};
    std::size_t size = 0;
};

bool encode(const DriverValueInfo& row, const DriverValue& v, CapValue& out) {
    switch (row.itemType) {
    case TWTY_FIX32:
        TV_TWAINCommon::floatToFix32(out.u.fix, std::holds_alternative<float>(v) ? std::get<float>(v) : 0.0f);
        out.size = sizeof out.u.fix;
        return true;
    case TWTY_STR32: {
        const auto* d = std::get_if<DriverData>(&v);
        out.size = sizeof out.u.str32;
        return TV_TWAINCommon::str32FromNSData(out.u.str32, d ? d->get() : nullptr);
    }
    case TWTY_STR64: {
        const auto* d = std::get_if<DriverData>(&v);
        out.size = sizeof out.u.str64;
        return TV_TWAINCommon::str64FromNSData(out.u.str64, d ? d->get() : nullptr);
    }
    case TWTY_STR255: {
        const auto* d = std::get_if<DriverData>(&v);
        out.size = sizeof out.u.str255;
        return TV_TWAINCommon::str255FromNSData(out.u.str255, d ? d->get() : nullptr);
    }
    default:
        out.u.word = TW_UINT32(std::holds_alternative<std::int64_t>(v) ? std::get<std::int64_t>(v) : 0);
        out.size = sizeof out.u.word;
        return true;
    }
}

std::optional<DriverValue> decode(const DriverValueInfo& row, const CapValue& in) {
    switch (row.kind) {
    case DriverValueKind::Short: return DriverValue(std::int64_t(std::int16_t(in.u.word)));
    case DriverValueKind::UShort: return DriverValue(std::int64_t(std::uint16_t(in.u.word)));
    case DriverValueKind::Int: return DriverValue(std::int64_t(std::int32_t(in.u.word)));
    case DriverValueKind::UInt: return DriverValue(std::int64_t(in.u.word));
    case DriverValueKind::Float: return DriverValue(TV_TWAINCommon::fix32ToFloat(in.u.fix));
    case DriverValueKind::Str32: {
        auto bytes = TV_TWAINCommon::nsDataFromStr32(in.u.str32);
        return DriverValue(bytes ? std::make_shared<const kdf::Bytes>(std::move(*bytes)) : DriverData{});
    }
    case DriverValueKind::Str64:
        return DriverValue(std::make_shared<const kdf::Bytes>(TV_TWAINCommon::nsDataFromStr64(in.u.str64)));
    case DriverValueKind::Str255:
        return DriverValue(std::make_shared<const kdf::Bytes>(TV_TWAINCommon::nsDataFromStr255(in.u.str255)));
    }
    return std::nullopt;
}
} // namespace

bool QlrDeviceCntlr::setOneCap(TW_UINT16 cap, TW_UINT16 itemType, std::int64_t word, TW_INT16* pResult, bool* pOk) {
    const TW_UINT32 w = TW_UINT32(word);
    TV_TWAINCommon::setResult(handler_->setDSCapability(cap, itemType, &w, sizeof w), pResult, pOk);
    return *pOk;
}

bool QlrDeviceCntlr::setCCAPsValues(TW_INT16* pResult) {
    bool ok = true;
    const auto model = curInputModel();
    const bool fullSet = isOpenScnPanel_ || (delegate_ ? delegate_->countOfImgInfoDict() == 0 : true);

    auto setWord = [&](TW_UINT16 cap, TW_UINT16 type, std::int64_t word) { setOneCap(cap, type, word, pResult, &ok); };
    auto setFloat = [&](TW_UINT16 cap, float value) {
        TW_FIX32 fix{};
        TV_TWAINCommon::floatToFix32(fix, value);
        TV_TWAINCommon::setResult(handler_->setDSCapability(cap, TWTY_FIX32, &fix, sizeof fix), pResult, &ok);
    };

    setWord(kCapIndicators, TWTY_BOOL, 0);
    if (!fullSet || !model) return ok;

    const bool useDriverSetting = model->isUseDriverSetting();
    const int colorType = model->scnStColorType();
    const auto values = model->currentDriverData();
    for (const CapStep& s : kSteps) {
        if (!s.row) {
            setWord(CCAP_TVKM_WINDOW, TWTY_INT32, s.side);
            continue;
        }
        if (!wanted(s)) continue;
        const DriverValueInfo& r = info(*s.row);
        DriverValue v = values->value(*s.row);
        // A scan in simple mode with automatic colour detection never prescans.
        if (*s.row == Id::ccap_TVK_PRESCAN && !isOpenScnPanel_ && !useDriverSetting && colorType == 0)
            v = std::int64_t(0);
        CapValue cv;
        if (!encode(r, v, cv)) {
            TV_TWAINCommon::setResult(TV_TWAINHandler::kParamErr, pResult, &ok);
            continue;
        }
        TV_TWAINCommon::setResult(handler_->setDSCapability(r.cap, r.itemType, &cv.u, cv.size), pResult, &ok);
    }

    if (!useDriverSetting) {
        const int paperType = model->scnStPaperSizeType();
        const int resType = model->scnStResolutionType();
        const int sideType = model->scnStReaderSideType();
        const int skewType = model->scnStSkewType();
        const bool recDir = model->isRecCharDir();
        if (colorType == 5) {
            TW_STR32 none{};
            static constexpr char kNone[] = "None";
            std::copy(kNone, kNone + 4, reinterpret_cast<char*>(none));
            TV_TWAINCommon::setResult(handler_->setDSCapability(ICAP_HALFTONES, TWTY_STR32, &none, sizeof none),
                                      pResult, &ok);
            setWord(0x8029, TWTY_INT32, 0);
        }
        setWord(ICAP_PIXELTYPE, TWTY_UINT16, pixelTypeFor(colorType));
        setWord(0x806C, TWTY_INT32, colorType == 0 ? 1 : 0);
        setWord(0x80CC, TWTY_INT32, 1);
        if (isSupportedCAP(kCapPhotoMode)) setWord(kCapPhotoMode, TWTY_BOOL, (colorType == 2 || colorType == 4) ? 1 : 0);
        setWord(0x8407, TWTY_INT32, 0);
        for (TW_UINT16 cap = 0xA000; cap <= 0xA003; ++cap) setWord(cap, TWTY_INT32, 0);
        setWord(0x8400, TWTY_INT32, paperSizeFor(paperType));
        setWord(0x8000, TWTY_INT32, paperType == 0 ? 1 : 0);
        setFloat(ICAP_XRESOLUTION, resolutionFor(resType));
        setFloat(ICAP_YRESOLUTION, resolutionFor(resType));
        setWord(0x80C8, TWTY_BOOL, resType == 0 ? 1 : 0);
        setWord(CAP_DUPLEXENABLED, TWTY_BOOL, duplexFor(sideType) ? 1 : 0);
        setWord(0x8001, TWTY_INT32, sideType == 0 ? 1 : 0);
        setWord(0x8037, TWTY_INT32, 0);
        setWord(0x800D, TWTY_INT32, (skewType == 1 || skewType == 2) ? 1 : 0);
        setWord(0x8190, TWTY_INT32, skewType == 2 ? 1 : 0);
        if (recDir) setWord(0x8069, TWTY_INT32, 1);
        setWord(0x803B, TWTY_INT32, recDir ? 1 : 0);
    }
    return ok;
}

bool QlrDeviceCntlr::getCCAPsValues(TW_INT16* pResult) {
    if (pResult) *pResult = 0;
    bool ok = true;
    std::vector<const CapStep*> reads;
    for (const CapStep& s : kSteps)
        if (s.row && wanted(s)) reads.push_back(&s);
    std::sort(reads.begin(), reads.end(), [](const CapStep* a, const CapStep* b) { return a->read < b->read; });

    auto selectSide = [&](TW_INT32 side) {
        const TW_UINT32 w = TW_UINT32(side);
        TV_TWAINCommon::setResult(handler_->setDSCapability(CCAP_TVKM_WINDOW, TWTY_INT32, &w, sizeof w), pResult, &ok);
    };

    // Every value is read before any reaches the model: a failed read must
    // not write zeros into settings that are saved later.
    std::vector<std::pair<Id, DriverValue>> got;
    selectSide(kFront);
    for (const CapStep* s : reads) {
        if (s->read == kFirstBackRead) selectSide(kBack);
        if (s->read == kFirstFrontAgainRead) selectSide(kFront);
        const DriverValueInfo& r = info(*s->row);
        CapValue cv;
        const TW_INT16 rc = handler_->getDSCapability(MSG_GETCURRENT, r.cap, r.itemType, &cv.u, sizeof cv.u);
        TV_TWAINCommon::setResult(rc, pResult, &ok);
        if (rc == TWRC_SUCCESS)
            if (auto v = decode(r, cv)) got.emplace_back(*s->row, std::move(*v));
    }
    const auto model = curInputModel();
    if (!ok || !model) return ok;
    const auto values = model->currentDriverData();
    for (auto& [id, v] : got) values->setValue(id, v);
    return ok;
}
