#include "foundation/Object.h"

#include "ClassRegistry.h"

#include <cstdio>
#include <dlfcn.h>
#include <exception>
#include <limits.h>
#include <map>
#include <mutex>
#include <stdlib.h>
#include <vector>

namespace kdf {

Object::~Object() = default;

std::unique_ptr<Object> Class::create() const {
    if (!factory_) return nullptr;
    try {
        std::unique_ptr<Object> object = factory_();
        if (!object) std::fprintf(stderr, "class %s: its factory made no object\n", name_.c_str());
        return object;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "class %s: cannot create an object: %s\n", name_.c_str(), e.what());
    } catch (...) {
        std::fprintf(stderr, "class %s: cannot create an object\n", name_.c_str());
    }
    return nullptr;
}

namespace {

struct LoadedObject {
    std::string path; // real path
    std::map<std::string, ObjectFactory, std::less<>> classes;
};

struct Registry {
    std::mutex mutex;
    std::map<std::string, ObjectFactory, std::less<>> mainClasses;
    std::vector<LoadedObject> loaded; // load order
};

Registry& registry() {
    // Never destroyed: static registrations of other objects may run late.
    static Registry* r = new Registry;
    return *r;
}

std::string realPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

const LoadedObject* findLoaded(const Registry& r, const std::string& real) {
    for (const auto& o : r.loaded)
        if (o.path == real) return &o;
    return nullptr;
}

} // namespace

void registerClass(std::string name, ObjectFactory factory) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.mainClasses[std::move(name)] = factory;
}

void unregisterClass(std::string_view name) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (auto it = r.mainClasses.find(name); it != r.mainClasses.end()) r.mainClasses.erase(it);
}

Class classFromString(std::string_view name) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (auto it = r.mainClasses.find(name); it != r.mainClasses.end()) return Class(it->first, it->second);
    for (const auto& o : r.loaded)
        if (auto it = o.classes.find(name); it != o.classes.end()) return Class(it->first, it->second);
    return {};
}

namespace detail {

bool loadClassObject(const std::string& path) {
    const std::string real = realPath(path);
    auto& r = registry();
    // One load at a time: the object's static initialisers may register.
    static std::mutex loadMutex;
    std::lock_guard loadLock(loadMutex);
    {
        std::lock_guard lock(r.mutex);
        if (findLoaded(r, real)) return true;
    }
    void* handle = ::dlopen(real.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* err = ::dlerror();
        std::fprintf(stderr, "bundle: cannot load %s: %s\n", real.c_str(), err ? err : "unknown error");
        return false;
    }
    ::dlerror();
    auto list = reinterpret_cast<KdfClassListFunction>(::dlsym(handle, KDF_CLASS_LIST_SYMBOL));
    if (!list) {
        const char* err = ::dlerror();
        std::fprintf(stderr, "bundle: %s has no class list: %s\n", real.c_str(), err ? err : "no such symbol");
        ::dlclose(handle);
        return false;
    }
    LoadedObject object;
    object.path = real;
    std::size_t count = 0;
    const ClassEntry* entries = nullptr;
    try {
        entries = list(&count);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bundle: the class list of %s failed: %s\n", real.c_str(), e.what());
    } catch (...) {
        std::fprintf(stderr, "bundle: the class list of %s failed\n", real.c_str());
    }
    for (std::size_t i = 0; entries && i < count; ++i)
        if (entries[i].name && entries[i].create) object.classes.emplace(entries[i].name, entries[i].create);
    // The handle stays open for the process's life: objects made from it
    // may live anywhere.
    std::lock_guard lock(r.mutex);
    r.loaded.push_back(std::move(object));
    return true;
}

bool isClassObjectLoaded(const std::string& path) {
    const std::string real = realPath(path);
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return findLoaded(r, real) != nullptr;
}

Class classInObject(const std::string& path, std::string_view name) {
    const std::string real = realPath(path);
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (const LoadedObject* o = findLoaded(r, real))
        if (auto it = o->classes.find(name); it != o->classes.end()) return Class(it->first, it->second);
    return {};
}

} // namespace detail

} // namespace kdf
