// A stand-in for the settings window's shared object: it offers the
// recording controller under the class name the data source looks for.
#include "RecordingUIController.h"

KDF_EXPORT_CLASSES({kUIControllerClassName, &kdf::makeObject<RecordingUIController>})
