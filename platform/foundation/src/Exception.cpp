#include "foundation/Exception.h"

namespace kdf {

Exception::Exception(std::string name, std::string reason, Dictionary userInfo)
    : name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)),
      what_(reason_.empty() ? name_ : name_ + ": " + reason_) {}

Exception::~Exception() = default;

const char* Exception::what() const noexcept {
    return what_.c_str();
}

} // namespace kdf
