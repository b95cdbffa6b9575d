// A module built for another plug-in ABI version: the loader must refuse it.
#include "TARVO_SupportLib/PluginAbi.h"

namespace {
const BaseCommsPluginDescriptor g_descriptor = {BASECOMMS_PLUGIN_ABI_VERSION + 1, 0, nullptr};
}

extern "C" __attribute__((visibility("default"))) const BaseCommsPluginDescriptor* BaseCommsPluginGetDescriptor() {
  return &g_descriptor;
}
