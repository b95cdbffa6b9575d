// Uses the installed library the way a host does: version, task memory, class
// registration and creation, result codes, error classes.
#include <BaseComms/BaseComms.h>

#include <cstdio>

int main() {
  const BaseCommsVersionInfo version = GetBaseCommsVersion();
  if (version.major != BASECOMMS_VERSION_MAJOR || version.minor != BASECOMMS_VERSION_MINOR ||
      version.patch != BASECOMMS_VERSION_PATCH) {
    return 3;
  }
  void* block = CoTaskMemAlloc(32);
  if (block == nullptr) return 1;
  CoTaskMemFree(block);

  void* object = nullptr;
  if (CoCreateInstance(CLSID_TARVO_DeviceResult, nullptr, CLSCTX_INPROC_SERVER, IID_ITARVO_DeviceResult, &object) !=
      REGDB_E_CLASSNOTREG) {
    return 2;
  }
  const BYTE bytes[] = {0x41, 0x42};
  QTMTracePnPDevices(bytes, sizeof bytes);  // no viewer: formats and writes nothing
  try {
    throw TVO_RuntimeError(__FILE__, __LINE__, QTM_RESULT_COMMS_FAILED);
  } catch (const TVO_Error& error) {
    std::printf("installed package %s works: %s\n", BASECOMMS_VERSION_TEXT, error.what());
  }
  return 0;
}
