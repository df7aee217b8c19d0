// The capability triplets, the handler lookup, the generic handlers and the
// image layout, which goes through the frames handler.
#include "DataSource.h"

#include "CapHelpers.h"
#include "CapTables.h"
#include "KdTwainCustom.h"

#include <cmath>
#include <memory>
#include <new>
#include <cstring>
#include <vector>

namespace {

using DS = CDataSource;
const DS::SCapHandler sCapHandlers[] = {
    {ICAP_PHYSICALHEIGHT, &DS::HandlePhysicalSize},
    {ICAP_PHYSICALWIDTH, &DS::HandlePhysicalSize},
    {ICAP_FRAMES, &DS::HandleCapFrames},
    {ICAP_PIXELTYPE, &DS::HandlePixelType},
    {ICAP_BITDEPTH, &DS::HandleBitDepth},
};
[[maybe_unused]] constexpr std::size_t CAPHANDLERS_COUNT = sizeof sCapHandlers / sizeof sCapHandlers[0];

constexpr TW_UINT16 kUnitInches = TWUN_INCHES;
constexpr TW_UINT16 kUnitCentimeters = TWUN_CENTIMETERS;
constexpr TW_UINT16 kUnitPixels = TWUN_PIXELS;

constexpr TW_UINT16 kFrameIds[4] = {CCAP_TVKM_SCANAREA_X, CCAP_TVKM_SCANAREA_Y, CCAP_TVKM_SCANAREA_WIDTH,
                                    CCAP_TVKM_SCANAREA_HEIGHT};

TW_FIX32 Fix32FromWord(TW_UINT32 word) {
    TW_FIX32 fix;
    static_assert(sizeof fix == sizeof word);
    std::memcpy(&fix, &word, sizeof fix);
    return fix;
}
TW_UINT32 WordFromFix32(const TW_FIX32& fix) {
    TW_UINT32 word;
    std::memcpy(&word, &fix, sizeof word);
    return word;
}

// Pixels as a value of the unit: FIX32 pixels, centimetres or inches.
bool PixelsInUnit(TW_UINT16 unit, std::int64_t pixels, TW_UINT32 resolution, TW_UINT32* word) {
    switch (unit) {
    case kUnitPixels: *word = FloatToFix32(static_cast<float>(pixels)); return true;
    case kUnitCentimeters: *word = PixelToCm(static_cast<TW_UINT32>(pixels), resolution); return true;
    case kUnitInches: *word = PixelToInch(static_cast<TW_UINT32>(pixels), resolution); return true;
    default: return false;
    }
}

bool UnitToPixels(TW_UINT16 unit, const TW_FIX32& value, TW_UINT32 resolution, double* pixels) {
    const TW_UINT32 word = WordFromFix32(value);
    switch (unit) {
    case kUnitPixels: *pixels = Fix32ToFloat(word); return true;
    case kUnitCentimeters: *pixels = CmToPixel(word, resolution); return true;
    case kUnitInches: *pixels = InchToPixel(word, resolution); return true;
    default: return false;
    }
}

} // namespace

bool ReadOneValueItem(const TW_CAPABILITY& capability, void* item, std::size_t size, TW_UINT16* itemType) {
    const TW_UINT16 conType = capability.ConType;
    TW_HANDLE handle = capability.hContainer;
    if (conType != TWON_ONEVALUE || !handle) return false;
    const auto* record = static_cast<const std::uint8_t*>(NativeMemoryLock(handle));
    if (!record) return false;
    TW_UINT16 type;
    std::memcpy(&type, record, sizeof type);
    const std::size_t itemSize = CCapability::GetItemSize(type);
    const bool ok = itemSize != 0 && itemSize <= size;
    if (ok) {
        std::memset(item, 0, size);
        std::memcpy(item, record + kTwOneValueItemOffset, itemSize);
        if (itemType) *itemType = type;
    }
    NativeMemoryUnlock(handle);
    return ok;
}

bool AnswerOneValue(pTW_CAPABILITY capability, TW_UINT16 itemType, const void* item, std::size_t size) {
    TW_HANDLE handle = NativeMemoryAllocate(NativeOneValueSize(size));
    if (!handle) return false;
    auto* record = static_cast<std::uint8_t*>(NativeMemoryLock(handle));
    std::memcpy(record, &itemType, sizeof itemType);
    std::memcpy(record + kTwOneValueItemOffset, item, size);
    NativeMemoryUnlock(handle);
    capability->ConType = TWON_ONEVALUE;
    capability->hContainer = handle;
    return true;
}

CDataSource::CapHandler CDataSource::GetCapHandler(TW_UINT16 id) const {
    for (const SCapHandler& row : sCapHandlers)
        if (row.cap == id) return row.handler;
    return nullptr;
}

float CDataSource::CapFloat(TW_UINT16 id) const { return GetCapFloatValue(pool_.get(), id); }
TW_UINT16 CDataSource::CapUInt(TW_UINT16 id) const { return static_cast<TW_UINT16>(GetCapUIntValue(pool_.get(), id)); }

CCapability* CDataSource::CapContainer(pTW_CAPABILITY capability, TW_UINT16* cc) const {
    if (!capability) {
        *cc = TWCC_BADVALUE;
        return nullptr;
    }
    const TW_UINT16 id = capability->Cap;
    CCapability* container = pool_ ? pool_->GetCapability(CapID(id)) : nullptr;
    *cc = container ? TWCC_SUCCESS : TWCC_CAPUNSUPPORTED;
    return container;
}

// ---- The five triplets --------------------------------------------------------------------------

TW_UINT16 CDataSource::GetCapability(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsOpen, kDsTransferring)) return SeqError();
    auto* capability = static_cast<pTW_CAPABILITY>(data);
    TW_UINT16 cc;
    CCapability* container = CapContainer(capability, &cc);
    if (!container) return SetConditionCode(cc, TWRC_FAILURE);
    TW_UINT16 handled = 0;
    cc = RunGetHandler(capability, container, &handled);
    if (cc != TWCC_SUCCESS) return SetConditionCode(cc, TWRC_FAILURE);
    if (handled) return TWRC_SUCCESS;
    return HandOut(capability, *container, container->GetContainerType());
}

TW_UINT16 CDataSource::RunGetHandler(pTW_CAPABILITY capability, CCapability* container,
                                     TW_UINT16* handled) {
    const CapHandler handler = GetCapHandler(CapID(capability->Cap));
    if (!handler) return TWCC_SUCCESS;
    return (this->*handler)(MSG_GET, capability, container, handled);
}

TW_UINT16 CDataSource::HandOut(pTW_CAPABILITY capability, const CCapability& container,
                               TW_UINT16 conType) {
    TW_HANDLE handle = container.CreateNativeContainer();
    if (!handle) return SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
    capability->ConType = conType;
    capability->hContainer = handle;
    return TWRC_SUCCESS;
}

TW_UINT16 CDataSource::AnswerValue(pTW_CAPABILITY capability, CCapability* container, ECapProperty property) {
    // A list has no single value: it answers whole.
    if (container->GetContainerType() == TWON_ARRAY)
        return HandOut(capability, *container, TWON_ARRAY);
    std::vector<std::uint8_t> item(container->ItemSize());
    if (item.empty() || !container->GetValue(item.data(), property))
        return SetConditionCode(TWCC_BUMMER, TWRC_FAILURE);
    CCapOneValue value(container->ItemType(), container->IsReadOnly(), item.data(), item.data());
    value.SetHostStringsTerminated(container->HostStringsTerminated());
    TW_UINT16 handled = 0;
    const TW_UINT16 cc = RunGetHandler(capability, &value, &handled);
    if (cc != TWCC_SUCCESS) return SetConditionCode(cc, TWRC_FAILURE);
    if (handled) return TWRC_SUCCESS;
    return HandOut(capability, value, TWON_ONEVALUE);
}

TW_UINT16 CDataSource::GetCurrentCapability(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsOpen, kDsTransferring)) return SeqError();
    auto* capability = static_cast<pTW_CAPABILITY>(data);
    TW_UINT16 cc;
    CCapability* container = CapContainer(capability, &cc);
    if (!container) return SetConditionCode(cc, TWRC_FAILURE);
    return AnswerValue(capability, container, kCapCurrent);
}

TW_UINT16 CDataSource::GetDefaultCapability(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsOpen, kDsTransferring)) return SeqError();
    auto* capability = static_cast<pTW_CAPABILITY>(data);
    TW_UINT16 cc;
    CCapability* container = CapContainer(capability, &cc);
    if (!container) return SetConditionCode(cc, TWRC_FAILURE);
    return AnswerValue(capability, container, kCapDefault);
}

TW_UINT16 CDataSource::ResetCapability(pTW_IDENTITY, TW_MEMREF data) {
    if (state_ != kDsOpen) return SeqError();
    auto* capability = static_cast<pTW_CAPABILITY>(data);
    TW_UINT16 cc;
    CCapability* container = CapContainer(capability, &cc);
    if (!container) return SetConditionCode(cc, TWRC_FAILURE);
    container->Reset();
    return AnswerValue(capability, container, kCapCurrent);
}

TW_UINT16 CDataSource::SetCapability(pTW_IDENTITY, TW_MEMREF data) {
    if (state_ != kDsOpen) return SeqError();
    auto* capability = static_cast<pTW_CAPABILITY>(data);
    TW_UINT16 cc;
    CCapability* container = CapContainer(capability, &cc);
    if (!container) return SetConditionCode(cc, TWRC_FAILURE);
    // A one-value takes any item of its type: the value is tried on a copy
    // first, and one outside the capability's domain is refused before a
    // handler or the container sees it.
    if (container->GetContainerType() == TWON_ONEVALUE && !container->IsReadOnly()) {
        const std::unique_ptr<CCapability> trial(container->Duplicate());
        if (!trial) return SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
        if (trial->AcceptsNativeContainer(capability->ConType, capability->hContainer) == TWCC_SUCCESS &&
            !CapValueAllowed(CapID(capability->Cap), *trial))
            return BadValue();
    }
    if (const CapHandler handler = GetCapHandler(CapID(capability->Cap))) {
        TW_UINT16 handled = 0;
        cc = (this->*handler)(MSG_SET, capability, container, &handled);
        if (cc != TWCC_SUCCESS) return SetConditionCode(cc, TWRC_FAILURE);
        if (handled) return TWRC_SUCCESS;
    }
    cc = container->AcceptsNativeContainer(capability->ConType, capability->hContainer);
    return cc == TWCC_SUCCESS ? TWRC_SUCCESS : SetConditionCode(cc, TWRC_FAILURE);
}

TW_UINT16 CDataSource::QuerySupportCapability(pTW_IDENTITY, TW_MEMREF data) {
    if (!InState(kDsOpen, kDsTransferring)) return SeqError();
    auto* capability = static_cast<pTW_CAPABILITY>(data);
    TW_UINT16 cc;
    const CCapability* container = CapContainer(capability, &cc);
    if (!container) return SetConditionCode(cc, TWRC_FAILURE);
    // Every capability answers the three reads and a reset; a read-only one
    // refuses MSG_SET.
    TW_INT32 mask = TWQC_GET | TWQC_GETDEFAULT | TWQC_GETCURRENT | TWQC_RESET;
    if (!container->IsReadOnly()) mask |= TWQC_SET;
    if (!AnswerOneValue(capability, TWTY_INT32, &mask, sizeof mask)) return SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
    return TWRC_SUCCESS;
}

void CDataSource::SyncCapability(TW_UINT16 id) {
    CCapability* container = pool_ ? pool_->GetCapability(id) : nullptr;
    const CapHandler handler = container ? GetCapHandler(id) : nullptr;
    if (!handler) return;
    TW_CAPABILITY capability{};
    capability.Cap = id;
    capability.ConType = container->GetContainerType();
    capability.hContainer = container->CreateNativeContainer();
    if (!capability.hContainer) return;
    TW_UINT16 handled = 0;
    (this->*handler)(MSG_SET, &capability, container, &handled);
    NativeMemoryFree(capability.hContainer);
}

// ---- Generic handlers ------------------------------------------------------------------------

TW_UINT16 CDataSource::HandlePhysicalSize(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                          TW_UINT16* handled) {
    if (msg != MSG_GET) return TWCC_SUCCESS;
    const TW_UINT16 id = capability->Cap;
    const bool height = id == ICAP_PHYSICALHEIGHT || id == ICAP_MINIMUMHEIGHT;
    const auto resolution = static_cast<TW_UINT32>(CapFloat(height ? ICAP_YRESOLUTION : ICAP_XRESOLUTION));
    float value = 0;
    container->ReadValue(&value);
    const auto pixels = static_cast<std::int64_t>(static_cast<double>(value) * resolution / 1200.0);
    TW_UINT32 word;
    if (!PixelsInUnit(CapUInt(ICAP_UNITS), pixels, resolution, &word)) return TWCC_SUCCESS; // the container answers
    if (!AnswerOneValue(capability, TWTY_FIX32, &word, sizeof word)) return TWCC_LOWMEMORY;
    *handled = 1;
    return TWCC_SUCCESS;
}

TW_UINT16 CDataSource::HandleCapFrames(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability*, TW_UINT16* handled) {
    const auto xres = static_cast<TW_UINT32>(CapFloat(ICAP_XRESOLUTION));
    const auto yres = static_cast<TW_UINT32>(CapFloat(ICAP_YRESOLUTION));
    const TW_UINT16 unit = CapUInt(ICAP_UNITS);
    if (xres == 0 || yres == 0) return TWCC_BADVALUE;
    if (msg == MSG_GET) {
        auto px = [&](TW_UINT16 id, TW_UINT32 res) {
            return static_cast<std::int64_t>(static_cast<double>(GetCapSIntValue(pool_.get(), id)) * res / 1200.0);
        };
        const std::int64_t left = px(CCAP_TVKM_SCANAREA_X, xres), top = px(CCAP_TVKM_SCANAREA_Y, yres);
        const std::int64_t width = px(CCAP_TVKM_SCANAREA_WIDTH, xres), height = px(CCAP_TVKM_SCANAREA_HEIGHT, yres);
        TW_UINT32 words[4];
        if (!PixelsInUnit(unit, left, xres, &words[0]) || !PixelsInUnit(unit, top, yres, &words[1]) ||
            !PixelsInUnit(unit, left + width, xres, &words[2]) || !PixelsInUnit(unit, top + height, yres, &words[3]))
            return TWCC_SUCCESS;
        TW_FRAME frame{Fix32FromWord(words[0]), Fix32FromWord(words[1]), Fix32FromWord(words[2]),
                       Fix32FromWord(words[3])};
        if (!AnswerOneValue(capability, TWTY_FRAME, &frame, sizeof frame)) return TWCC_LOWMEMORY;
        *handled = 1;
        return TWCC_SUCCESS;
    }
    if (msg != MSG_SET) return TWCC_SUCCESS;
    TW_FRAME frame{};
    TW_UINT16 itemType = 0;
    if (!ReadOneValueItem(*capability, &frame, sizeof frame, &itemType) || itemType != TWTY_FRAME)
        return TWCC_BADVALUE;
    double left, top, right, bottom;
    if (!UnitToPixels(unit, frame.Left, xres, &left) || !UnitToPixels(unit, frame.Top, yres, &top) ||
        !UnitToPixels(unit, frame.Right, xres, &right) || !UnitToPixels(unit, frame.Bottom, yres, &bottom))
        return TWCC_BADVALUE;
    // An empty or inverted frame is refused before anything is stored.
    if (right <= left || bottom <= top || left < 0 || top < 0) return TWCC_BADVALUE;
    auto to1200 = [](double pixels, TW_UINT32 res) { return static_cast<TW_INT32>(pixels * 1200.0 / res); };
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_X, to1200(left, xres));
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_Y, to1200(top, yres));
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_WIDTH, to1200(right - left, xres));
    SetCapSIntValue(pool_.get(), CCAP_TVKM_SCANAREA_HEIGHT, to1200(bottom - top, yres));
    *handled = 1;
    return TWCC_SUCCESS;
}

TW_UINT16 CDataSource::HandlePixelType(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                       TW_UINT16* handled) {
    if (msg != MSG_SET) return TWCC_SUCCESS;
    const TW_UINT16 cc = container->AcceptsNativeContainer(capability->ConType, capability->hContainer);
    if (cc != TWCC_SUCCESS) return cc;
    *handled = 1; // the container holds the value already
    const TW_UINT16 type = CapUInt(ICAP_PIXELTYPE);
    if (type == TWPT_GRAY || type == TWPT_RGB)
        SetCapUIntValue(pool_.get(), ICAP_BITDEPTH, 8);
    else if (type == TWPT_BW)
        SetCapUIntValue(pool_.get(), ICAP_BITDEPTH, 1);
    return TWCC_SUCCESS;
}

TW_UINT16 CDataSource::HandleBitDepth(TW_UINT16 msg, pTW_CAPABILITY capability, CCapability* container,
                                      TW_UINT16* handled) {
    if (msg != MSG_SET) return TWCC_SUCCESS;
    const TW_UINT16 cc = container->AcceptsNativeContainer(capability->ConType, capability->hContainer);
    if (cc != TWCC_SUCCESS) return cc;
    *handled = 1;
    const TW_UINT16 depth = CapUInt(ICAP_BITDEPTH);
    if (depth == 1)
        SetCapUIntValue(pool_.get(), ICAP_PIXELTYPE, TWPT_BW);
    else if (depth == 8 && CapUInt(ICAP_PIXELTYPE) == TWPT_BW)
        SetCapUIntValue(pool_.get(), ICAP_PIXELTYPE, TWPT_GRAY);
    return TWCC_SUCCESS;
}

// ---- Image layout: the scan frame through the frames handler ----------------------------

TW_UINT16 CDataSource::GetImageLayout(pTW_IDENTITY, TW_MEMREF data) {
    auto* layout = static_cast<TW_IMAGELAYOUT*>(data);
    if (!layout) return BadValue();
    CCapability* frames = pool_ ? pool_->GetCapability(ICAP_FRAMES) : nullptr;
    const CapHandler handler = frames ? GetCapHandler(ICAP_FRAMES) : nullptr;
    if (!handler) return SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
    TW_CAPABILITY capability{ICAP_FRAMES, TWON_DONTCARE16, nullptr};
    TW_UINT16 handled = 0;
    const TW_UINT16 cc = (this->*handler)(MSG_GET, &capability, frames, &handled);
    TW_FRAME frame{};
    const bool answered = cc == TWCC_SUCCESS && handled && capability.hContainer &&
                          ReadOneValueItem(capability, &frame, sizeof frame, nullptr);
    if (capability.hContainer) NativeMemoryFree(capability.hContainer);
    if (!answered) return SetConditionCode(cc != TWCC_SUCCESS ? cc : TWCC_LOWMEMORY, TWRC_FAILURE);
    layout->Frame = frame;
    layout->DocumentNumber = 1;
    layout->PageNumber = 1;
    layout->FrameNumber = 1;
    return TWRC_SUCCESS;
}

TW_UINT16 CDataSource::SetImageLayout(pTW_IDENTITY, TW_MEMREF data) {
    // Setting and resetting change the frame of pages to come: only before
    // enabling, never under a page that waits or goes (TWAIN state 4).
    if (state_ != kDsOpen) return SeqError();
    const auto* layout = static_cast<const TW_IMAGELAYOUT*>(data);
    if (!layout) return BadValue();
    CCapability* frames = pool_ ? pool_->GetCapability(ICAP_FRAMES) : nullptr;
    const CapHandler handler = frames ? GetCapHandler(ICAP_FRAMES) : nullptr;
    if (!handler) return SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
    const TW_FRAME frame = layout->Frame;
    TW_CAPABILITY capability{ICAP_FRAMES, TWON_ONEVALUE, nullptr};
    if (!AnswerOneValue(&capability, TWTY_FRAME, &frame, sizeof frame))
        return SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
    TW_UINT16 handled = 0;
    const TW_UINT16 cc = (this->*handler)(MSG_SET, &capability, frames, &handled);
    NativeMemoryFree(capability.hContainer);
    if (cc != TWCC_SUCCESS) return SetConditionCode(cc, TWRC_FAILURE);
    return handled ? TWRC_SUCCESS : SetConditionCode(TWCC_LOWMEMORY, TWRC_FAILURE);
}

TW_UINT16 CDataSource::ResetImageLayout(pTW_IDENTITY origin, TW_MEMREF data) {
    if (state_ != kDsOpen) return SeqError();
    if (!data) return BadValue();
    for (TW_UINT16 id : kFrameIds) ResetCapValue(pool_.get(), id);
    return GetImageLayout(origin, data);
}

TW_UINT16 CDataSource::GetDefaultImageLayout(pTW_IDENTITY origin, TW_MEMREF data) {
    if (!data) return BadValue();
    // Only reports: the default frame is answered and the current one put
    // back, whatever the answer.
    const SFrameValues kept = StoredFrame();
    for (TW_UINT16 id : kFrameIds) ResetCapValue(pool_.get(), id);
    const TW_UINT16 rc = GetImageLayout(origin, data);
    RestoreFrame(kept);
    return rc;
}

CDataSource::SFrameValues CDataSource::StoredFrame() const {
    SFrameValues frame{};
    for (int i = 0; i < 4; ++i) frame.values[i] = GetCapSIntValue(pool_.get(), kFrameIds[i]);
    return frame;
}

void CDataSource::RestoreFrame(const SFrameValues& frame) {
    for (int i = 0; i < 4; ++i) SetCapSIntValue(pool_.get(), kFrameIds[i], frame.values[i]);
}

bool CDataSource::SetupCapabilities() {
    std::unique_ptr<CCapPool> pool(new (std::nothrow) CCapPool);
    if (!pool || !pool->MakeCapabilities(sGeneralCapDesc, kGeneralCapCount)) return false;
    pool_ = std::move(pool);
    return true;
}
