// The class table of the sample services module and its diagnostics entry.
#include "SampleServices/OneStepService.h"
#include "TARVO_SupportLib/PluginAbi.h"

using sample::ReadService;
using sample::RejectingService;
using sample::StatusService;
using sample::WriteService;

BASECOMMS_PLUGIN_BEGIN
  BASECOMMS_PLUGIN_CLASS(IMessageService, ReadService, "OneStepService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, WriteService, "OneStepService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, StatusService, "OneStepService")
  BASECOMMS_PLUGIN_CLASS(IMessageService, RejectingService, "")
BASECOMMS_PLUGIN_END

// Live service instances of this module; tests look it up with dlsym to see
// that every service they were handed was destroyed.
extern "C" __attribute__((visibility("default"))) long SampleServicesLiveInstances() {
  return sample::OneStepService::LiveInstances();
}
