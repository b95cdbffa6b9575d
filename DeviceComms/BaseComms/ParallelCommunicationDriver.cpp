// ParallelCommunication: driver commands and the release and runtime versions.
#include "BaseComms/ParallelCommunication.h"

#include <string>

#include "BaseComms/PackedVersion.h"
#include "Config/PathReaders.h"

bool ParallelCommunication::IsDriverCommand(ITARVO_DeviceMessage*) { return false; }
LONG ParallelCommunication::ExecuteDriverCommand(ITARVO_DeviceMessage*, LONG*) { return E_NOTIMPL; }
LONG ParallelCommunication::GetDriverVersion(ITARVO_DeviceMessage*) { return E_NOTIMPL; }
LONG ParallelCommunication::SetDriverVersion(ITARVO_DeviceMessage*) { return E_NOTIMPL; }
LONG ParallelCommunication::CallbackDriverVersion(ITARVO_DeviceMessage*, bool, LONG) { return E_NOTIMPL; }
LONG ParallelCommunication::CallbackError(ITARVO_DeviceMessage*, bool, LONG) { return E_NOTIMPL; }
// The release version from the configuration tree; 0 when the node is
// missing or cannot be read. Initialisation goes on either way.
bool ParallelCommunication::LoadReleaseVersion(DWORD& version) {
  std::wstring text;
  const bool read = GetConfigText(text, L"%CPU%/DriverVersionInfo/DriverReleaseVersion", 1, m_pDeviceConfig);
  version = read ? ParsePackedVersion(text.c_str()) : 0;
  return true;
}
bool ParallelCommunication::InitializeRuntimeVersion(DWORD& version) {
  version = 0;
  return true;
}
