#include "PlatformLoader.h"

#include <dlfcn.h>

#include <cstdlib>

#include <string>

namespace Tvk::Imvra {

namespace {

// The folder of the object that holds this code (the library, or a program
// linked with its static archive), with a trailing slash; empty when unknown.
std::string OwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnFolder), &info) == 0 || info.dli_fname == nullptr)
        return {};
    // A program started by a relative path is named as it was started
    // ("./bench"): the name is resolved, so the folder is a full path that
    // holds however the working folder changes later.
    std::string path = info.dli_fname;
    if (char* full = realpath(info.dli_fname, nullptr)) {
        path = full;
        std::free(full);
    } else if (path.empty() || path[0] != '/') {
        return {};
    }
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void* Open(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

} // namespace

PlatformLayer::PlatformLayer(const char* folder, const char* file)
    : m_folder(folder), m_file(file) {}

bool PlatformLayer::loaded() {
    if (m_tried) return m_handle != nullptr;
    m_tried = true;
    try {
        const std::string own = OwnFolder();
        // Only a path, never a bare name: a bare name would be searched along
        // the library path of whatever program hosts the library.
        if (!own.empty()) m_handle = Open(own + m_file);
#ifdef KD_PLATFORM_BUILD_DIR
        std::string build = KD_PLATFORM_BUILD_DIR;
        if (char* full = realpath(build.c_str(), nullptr)) {
            build = full;
            std::free(full);
        }
        build += "/";
        if (m_handle == nullptr && !own.empty() && own.compare(0, build.size(), build) == 0)
            m_handle = Open(build + "platform/" + m_folder + "/" + m_file);
#endif
    } catch (...) {
        m_handle = nullptr;
    }
    return m_handle != nullptr;
}

void* PlatformLayer::symbol(const char* name) {
    return loaded() ? dlsym(m_handle, name) : nullptr;
}

} // namespace Tvk::Imvra
