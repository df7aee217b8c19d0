#include "ClientApp.h"

#include "foundation/Bundle.h"

#include <cstring>
#include <string_view>

namespace {

struct SAppSignature {
    const char* manufacturer;
    const char* productName;
    int hostId;
};

// Searched in order; the first row whose two texts both occur wins.
constexpr SAppSignature sAppSignature[] = {
    {"Apple Computer", "TWAINBridge", CClientApp::kHostTwainBridge},
    {"Apple Computer, Inc.", "Image Capture", CClientApp::kHostImageCapture},
    {"Apple", "Image Capture TWAIN", CClientApp::kHostImageCaptureTwain},
    {"Adobe", "Adobe Acrobat", CClientApp::kHostAcrobat},
    {"Adobe Systems, Inc.", "Adobe Photoshop CS3", CClientApp::kHostPhotoshopCS3},
    {"Adobe", "Adobe", CClientApp::kHostAdobe},
    {"Microsoft", "Microsoft", CClientApp::kHostMicrosoft},
    {"NewSoftInc", "ScanModule", CClientApp::kHostScanModule},
};
constexpr std::size_t CLIENTAPP_COUNT = sizeof sAppSignature / sizeof sAppSignature[0];

constexpr std::string_view kOwnManufacturer = "Tavrolek";

CClientApp* sClientApp = nullptr;

} // namespace

std::string CClientApp::FieldText(const TW_STR32& field) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(field);
    std::string text;
    if (bytes[0] <= 33) {
        // Counted: the length byte, then at most 33 characters of the field.
        text.assign(field + 1, bytes[0]);
    } else {
        text.assign(field, strnlen(field, sizeof(TW_STR32)));
    }
    if (text.size() > 63) text.resize(63);
    return text;
}

int CClientApp::Classify(const TW_STR32& manufacturerField, const TW_STR32& productField) {
    const std::string manufacturer = FieldText(manufacturerField);
    const std::string product = FieldText(productField);
    int id = kHostUnknown;
    for (std::size_t i = 0; i < CLIENTAPP_COUNT; ++i) {
        if (manufacturer.find(sAppSignature[i].manufacturer) != std::string::npos &&
            product.find(sAppSignature[i].productName) != std::string::npos) {
            id = sAppSignature[i].hostId;
            break;
        }
    }
    // An Adobe host that sends terminated strings rather than counted ones.
    if (id == kHostAdobe && static_cast<unsigned char>(manufacturerField[0]) >= 34) id = kHostAdobeTerminated;
    // Our own application, whatever the table says. An empty manufacturer is
    // no prefix of anything here.
    if (!manufacturer.empty() && kOwnManufacturer.starts_with(manufacturer)) id = kHostOwnApplication;
    return id;
}

CClientApp::CClientApp(const TW_IDENTITY* origin) {
    if (const auto main = kdf::Bundle::main()) {
        if (const kdf::Value* flag = main->objectForInfoKey("LSBackgroundOnly"); flag && flag->is(kdf::Value::Kind::Boolean))
            backgroundOnly_ = flag->toBool().value_or(false);
    }
    if (origin) {
        // Copy the packed fields before reading them.
        TW_STR32 manufacturer;
        TW_STR32 product;
        std::memcpy(manufacturer, origin->Manufacturer, sizeof manufacturer);
        std::memcpy(product, origin->ProductName, sizeof product);
        hostId_ = Classify(manufacturer, product);
    }
    delete sClientApp;
    sClientApp = this;
}

CClientApp::~CClientApp() {
    if (sClientApp == this) sClientApp = nullptr;
}

CClientApp* CClientApp::Current() { return sClientApp; }

int CClientApp::CurrentHostId() {
    const CClientApp* app = Current();
    return app ? app->HostId() : kHostUnknown;
}

bool CClientApp::CurrentIsBackgroundOnly() {
    const CClientApp* app = Current();
    return app && app->IsBackgroundOnly();
}

void CClientApp::DeleteCurrent() { delete sClientApp; }

bool CClientApp::RequireNextTransferRequest() const { return hostId_ >= 2 && hostId_ <= 5; }

bool CClientApp::IsDisableDetectPageType() const {
    switch (hostId_) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 9: return true;
    default: return false;
    }
}
