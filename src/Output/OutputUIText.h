// The texts of the output windows: localisation keys of the main bundle.
#pragma once

#include <foundation/Bundle.h>

#include <QString>

#include <string>

namespace qlr_output {

// The key's text; the key itself when the bundle has none.
inline QString localizedText(const std::string& key) {
    auto bundle = kdf::Bundle::main();
    const std::string t = bundle ? bundle->localizedString(key, key) : key;
    return QString::fromStdString(t.empty() ? key : t);
}
inline QString localizedText(const QString& key) { return localizedText(key.toStdString()); }

} // namespace qlr_output
