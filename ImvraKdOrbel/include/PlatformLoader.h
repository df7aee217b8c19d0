// Loads a platform layer's shared object at first use, so that the image
// library keeps no link dependency on it. The object is looked for beside the
// library itself (the installed layout); a library that runs from the build
// tree also finds it in the build folder of its layer, for the tests.
#pragma once

namespace Tvk::Imvra {

class PlatformLayer {
public:
    // folder: the layer's folder under platform/ ("pdf"); file: its shared
    // object ("libKdPdf.so").
    PlatformLayer(const char* folder, const char* file);
    PlatformLayer(const PlatformLayer&) = delete;
    PlatformLayer& operator=(const PlatformLayer&) = delete;

    // The address of a symbol of the layer; null when the layer or the
    // symbol is missing. The first call loads the layer; a layer that did
    // not load is not tried again.
    void* symbol(const char* name);
    bool loaded();

private:
    const char* m_folder;
    const char* m_file;
    bool m_tried = false;
    void* m_handle = nullptr;
};

} // namespace Tvk::Imvra
