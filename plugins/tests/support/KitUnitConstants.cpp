// The kit linked straight into a test or fuzzing program, as the Google
// Drive build: its constants and a destination without windows.
#include "PluginKit.h"

namespace kdkit {

const BuildConstants& buildConstants() {
    static const BuildConstants constants{"TvSendviaKitUnit", "SendviaGoogleDocs", "GoogleDocsUser.ID", "Google Drive",
                                          true};
    return constants;
}

const DestinationClass& destinationClass() {
    static const DestinationClass destination;
    return destination;
}

} // namespace kdkit
