// The base of objects created by class name, and the class registry: the
// main program registers its own classes at start-up; a loadable object in a
// bundle lists its classes through one exported C function (see
// KDF_EXPORT_CLASSES), read by Bundle::load().
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kdf {

// Classes made by name derive from this. Its destructor is the key
// function, defined in the foundation library, so the type information is
// one and the same in every shared object and dynamic_cast works across
// them; interfaces derived from it do the same (default visibility and an
// out-of-line destructor).
class Object {
public:
    Object() = default;
    Object(const Object&) = default;
    Object& operator=(const Object&) = default;
    virtual ~Object();
};

using ObjectFactory = std::unique_ptr<Object> (*)();

// One entry of a loadable object's class list.
struct ClassEntry {
    const char* name;
    ObjectFactory create;
};

// The factory of a class with a default constructor.
template <class T>
std::unique_ptr<Object> makeObject() {
    return std::make_unique<T>();
}

// A class found by name. Empty when none was found.
class Class {
public:
    Class() = default;
    Class(std::string name, ObjectFactory factory) : name_(std::move(name)), factory_(factory) {}

    explicit operator bool() const { return factory_ != nullptr; }
    const std::string& name() const { return name_; }

    // A new instance; null for an empty class or when the factory throws
    // or returns none (the reason goes to standard error).
    std::unique_ptr<Object> create() const;

    // A new instance of the interface T; null when create() gives none or
    // the object is no T.
    template <class T>
    std::unique_ptr<T> createAs() const {
        std::unique_ptr<Object> object = create();
        if (T* cast = dynamic_cast<T*>(object.get())) {
            object.release();
            return std::unique_ptr<T>(cast);
        }
        return nullptr;
    }

private:
    std::string name_;
    ObjectFactory factory_ = nullptr;
};

// Registers a class of the main program. A later registration of the same
// name replaces the earlier one.
void registerClass(std::string name, ObjectFactory factory);
// Removes a class of the main program (tests).
void unregisterClass(std::string_view name);
// The main program's own classes first, then the classes of the loaded
// bundles in load order.
Class classFromString(std::string_view name);

// Registers T under name while the program starts:
//   static kdf::ClassRegistration<TvAlert> registration("TvAlert");
template <class T>
struct ClassRegistration {
    explicit ClassRegistration(std::string name) { registerClass(std::move(name), &makeObject<T>); }
};

} // namespace kdf

// The name of the C function that a loadable object exports to list its
// classes. It answers the entries and their count.
#define KDF_CLASS_LIST_SYMBOL "kdf_class_list"
extern "C" {
using KdfClassListFunction = const kdf::ClassEntry* (*)(std::size_t* count);
}

// In exactly one source file of a loadable object:
//   KDF_EXPORT_CLASSES({"MyPlugin", &kdf::makeObject<MyPlugin>}, ...)
#define KDF_EXPORT_CLASSES(...)                                                        \
    extern "C" __attribute__((visibility("default"))) const kdf::ClassEntry*          \
    kdf_class_list(std::size_t* count) {                                               \
        static const kdf::ClassEntry entries[] = {__VA_ARGS__};                        \
        *count = sizeof entries / sizeof entries[0];                                   \
        return entries;                                                                \
    }
