// Names on the message bus derived from a bundle identifier, by one rule for
// every program, so the application and its companion find each other.
#pragma once

#include <string>
#include <string_view>

namespace kdf {

// The well-known bus name: letters, digits, '_' and '-' stay, any other
// character of an element becomes '_', an element starting with a digit
// gets a leading '_'. "jp.co.tavrolek-sys.kd720" stays as it is.
std::string busNameForIdentifier(std::string_view identifier);
// The interface "<identifier>.<name>", where '-' also becomes '_':
// "jp.co.tavrolek_sys.kd720.evQL".
std::string busInterfaceForIdentifier(std::string_view identifier, std::string_view name);
// The object path: '/' plus the elements (with '-' as '_') joined by '/':
// "/jp/co/tavrolek_sys/kd720".
std::string busPathForIdentifier(std::string_view identifier);

} // namespace kdf
