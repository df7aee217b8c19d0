// The printer destination linked straight into its test program: the
// constants of the SendviaPrinter build.
#include "PluginKit.h"

const kdkit::BuildConstants& kdkit::buildConstants() {
    static const BuildConstants constants{"TvSendviaPrinter", "SendviaPrinter", "AppUser.ID", "", false};
    return constants;
}
