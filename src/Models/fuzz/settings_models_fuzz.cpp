// Offers arbitrary stored settings to the panel models' loaders.
// Input: [controller answers][property list...]. The first byte sets what
// the current data source supports (bit 0 photo mode, bit 1 one-sided, bit
// 2 AirPrint-class, bit 3 a known product); the rest is read as a property
// list: a dictionary loads as one input panel, an array as a panel list.
#include "AppControllerServices.h"
#include "DeviceTables.h"
#include "InputModel.h"

#include <foundation/PropertyList.h>

#include <cstdint>
#include <string_view>

namespace {

class FuzzController : public AppControllerServices {
public:
    explicit FuzzController(std::uint8_t bits) : bits_(bits) {}
    std::string dsProductName() const override { return bits_ & 8 ? "Tavro KD-720 TWAIN" : kDummyProductName; }
    bool dsIsAPDS() const override { return bits_ & 4; }
    bool supportsCAPOnDevice(std::uint16_t cap) const override { return cap != kCapPhotoMode || (bits_ & 1); }
    bool supportsScanSide(const std::optional<std::string>&) const override { return !(bits_ & 2); }
    bool settingWindowVisible() const override { return false; }

private:
    std::uint8_t bits_;
};

void exercise(InputModel& m) {
    kdf::Dictionary out;
    m.saveInputModel(&out);
    m.clone();
    for (bool driver : {false, true}) {
        m.setIsUseDriverSetting(driver);
        (void)m.currentColorMode();
        (void)m.currentReaderSide();
        (void)m.dispPaperSize();
        (void)m.dispResolution();
        (void)m.dispColorMode();
        (void)m.dispReaderSide();
        (void)m.dispIcon();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    AppControllerServices::setCurrent(std::make_shared<FuzzController>(data[0]));
    std::optional<kdf::Value> v =
        kdf::readPropertyList(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    if (v) {
        if (const kdf::Dictionary* d = v->dictionary()) {
            InputModel m(d);
            exercise(m);
        }
        for (const auto& m : InputModel::modelListFromDictList(&*v)) exercise(*m);
    }
    AppControllerServices::setCurrent(nullptr);
    return 0;
}
