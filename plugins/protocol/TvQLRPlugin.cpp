// The key functions of the plug-in interface: one type for the application
// and every plug-in, so the host's dynamic_cast works across shared objects.
#include "plugin/TvQLRPlugin.h"

TvQLRPlugin::~TvQLRPlugin() = default;
TvQLRPlugin2::~TvQLRPlugin2() = default;
