// A loadable object whose bundle the tests find from an address inside it.
extern "C" const void* kd_test_plugin_address() {
    return reinterpret_cast<const void*>(&kd_test_plugin_address);
}
