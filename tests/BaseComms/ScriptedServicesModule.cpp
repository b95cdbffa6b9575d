// ScriptedServicesModule.cpp: a plug-in module whose one class hands out the
// message services a test prepared.
//
// "ScriptedService" has no code of its own: its factory takes the next
// service the loading test program prepared (RequestTestTakeScriptedService,
// exported by the program), so that scripted services reach the component
// through the real service generator. Null when none is prepared.
#include "Interfaces/IMessageService.h"
#include "TARVO_SupportLib/PluginAbi.h"

extern "C" IMessageService* RequestTestTakeScriptedService();

namespace {

void* CreateScripted() noexcept { return static_cast<void*>(RequestTestTakeScriptedService()); }

}  // namespace

BASECOMMS_PLUGIN_BEGIN
  {"ScriptedService", "", "IMessageService", &CreateScripted},
BASECOMMS_PLUGIN_END
