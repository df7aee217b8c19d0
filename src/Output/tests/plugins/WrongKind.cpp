// A loadable object whose principal class is no plug-in: the host must
// leave it out.
#include <foundation/Object.h>

namespace {

class NotAPlugin final : public kdf::Object {};

} // namespace

KDF_EXPORT_CLASSES({"TvHostTestWrongKind", &kdf::makeObject<NotAPlugin>})
