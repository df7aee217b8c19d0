// A loadable object with classes; built twice (KD_WHICH "A" and "B") so
// two bundles hold classes of the same name.
#include "TestNamed.h"

#include <stdexcept>

namespace {

class Shared : public TestNamed {
public:
    std::string which() const override { return KD_WHICH; }
};

class Own : public TestNamed {
public:
    std::string which() const override { return "own " KD_WHICH; }
};

std::unique_ptr<kdf::Object> makeThrowing() {
    throw std::runtime_error("no scanner attached");
}

std::unique_ptr<kdf::Object> makeNothing() {
    return nullptr;
}

} // namespace

KDF_EXPORT_CLASSES({"SharedName", &kdf::makeObject<Shared>}, {"Only" KD_WHICH, &kdf::makeObject<Own>},
                   {"Throwing", &makeThrowing}, {"Nothing", &makeNothing})
