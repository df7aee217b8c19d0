// The process's classes by name: the main program's own, then those of
// the loaded objects in load order.
#pragma once

#include "foundation/Object.h"

#include <string>
#include <string_view>

namespace kdf::detail {

// Opens the shared object at path (once per process) and reads its class
// list. False, with the reason on standard error, when it cannot be used.
bool loadClassObject(const std::string& path);
bool isClassObjectLoaded(const std::string& path);
// A class of the loaded object at path only.
Class classInObject(const std::string& path, std::string_view name);

} // namespace kdf::detail
