// ParallelCommunication: driver commands and the release and runtime versions.
#include "BaseComms/ParallelCommunication.h"

bool ParallelCommunication::IsDriverCommand(ITARVO_DeviceMessage*) { return false; }
LONG ParallelCommunication::ExecuteDriverCommand(ITARVO_DeviceMessage*, LONG*) { return E_NOTIMPL; }
LONG ParallelCommunication::GetDriverVersion(ITARVO_DeviceMessage*) { return E_NOTIMPL; }
LONG ParallelCommunication::SetDriverVersion(ITARVO_DeviceMessage*) { return E_NOTIMPL; }
LONG ParallelCommunication::CallbackDriverVersion(ITARVO_DeviceMessage*, bool, LONG) { return E_NOTIMPL; }
LONG ParallelCommunication::CallbackError(ITARVO_DeviceMessage*, bool, LONG) { return E_NOTIMPL; }
bool ParallelCommunication::LoadReleaseVersion(DWORD& version) {
  version = 0;
  return true;
}
bool ParallelCommunication::InitializeRuntimeVersion(DWORD& version) {
  version = 0;
  return true;
}
