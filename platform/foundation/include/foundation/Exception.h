// A named exception: the name says what went wrong (often a message key),
// the reason and user info carry the details.
#pragma once

#include "foundation/Value.h"

#include <exception>
#include <string>

namespace kdf {

// The name of the exception that stands for running out of memory.
inline constexpr const char* kMallocExceptionName = "NSMallocException";

class Exception : public std::exception {
public:
    explicit Exception(std::string name, std::string reason = {}, Dictionary userInfo = {});
    ~Exception() override;

    const std::string& name() const noexcept { return name_; }
    const std::string& reason() const noexcept { return reason_; }
    const Dictionary& userInfo() const noexcept { return userInfo_; }
    // "name: reason", or the name alone.
    const char* what() const noexcept override;

private:
    std::string name_;
    std::string reason_;
    Dictionary userInfo_;
    std::string what_;
};

} // namespace kdf
