// The interface of the test classes in the class bundles; its key function
// lives in a shared library of its own, as a real interface's does.
#pragma once

#include <foundation/Object.h>

#include <string>

class TestNamed : public kdf::Object {
public:
    ~TestNamed() override;
    virtual std::string which() const = 0;
};
