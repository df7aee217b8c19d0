// The settings window's shared object: offers the controller under the
// class name the data source creates. The factory makes sure Qt can run
// here first, and declines (the data source then reports an operation
// error) where it cannot.
#include "KdSettingsController.h"
#include "QtHost.h"

#include <foundation/Object.h>

namespace {

std::unique_ptr<kdf::Object> makeController() {
    bool ownsLoop = false;
    if (!ComTavrolekKD720::prepareQtForWindow(&ownsLoop)) return nullptr;
    auto controller = std::make_unique<ComTavrolekKD720::KdUIController>();
    controller->setOwnsEventLoop(ownsLoop);
    return controller;
}

} // namespace

KDF_EXPORT_CLASSES({kUIControllerClassName, &makeController})
