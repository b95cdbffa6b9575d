// ParallelCommunication: driver commands and the release and runtime versions.
//
// Two device messages are answered by the component itself, at once, through
// the single delivery: 476 reads the driver version, 477 sets the runtime
// version. Both answer with the version frame:
//   FF FF | 0A 00 (10 bytes follow) | CD 02 (717) | 06 00 (6) |
//   runtime major minor build | release major minor build
// A set request carries 11 bytes: 4 not examined | C9 02 (713) | 03 00 (3) |
// requested major minor build. The runtime version never exceeds the release
// version; a request above it is capped and answered with QTM_S_FALSE.
//
// Locking: m_runtimeVersion is read and written under the component lock once
// the component runs (a set request may race with any other host call that
// reads it); m_releaseVersion is fixed from Initialise on. While a driver
// command runs, its device message is a registry key with no service, so that
// the delivery accepts its result and a second request of the same message
// is refused. That entry holds its own reference on the message, like every
// registry key: if UnInitialise empties the registry meanwhile (releasing
// that reference), the command finds its entry gone and releases nothing.
// A component that is not initialised refuses both commands (E_UNEXPECTED,
// device error QTM_E_COMMS_FAILED), as it refuses every other request.
#include <cstdint>
#include <string>

#include "BaseComms/CommandNumber.h"
#include "BaseComms/PackedVersion.h"
#include "BaseComms/ParallelCommunication.h"
#include "BaseComms/ScopeExit.h"
#include "Config/PathReaders.h"
#include "Interfaces/QtmResults.h"
#include "Platform/Com.h"
#include "Trace/QTMTrace.h"

namespace {

constexpr int kGetDriverVersion = 476;
constexpr int kSetRuntimeVersion = 477;

constexpr unsigned int kVersionFrameSize = 14;
constexpr std::uint16_t kVersionFrameTag = 717;
constexpr std::uint16_t kVersionFrameLength = 6;

constexpr ULONG kSetRequestSize = 11;
constexpr ULONG kSetRequestHeaderSize = 8;
constexpr std::uint16_t kSetRequestTag = 713;
constexpr std::uint16_t kSetRequestLength = 3;

constexpr unsigned int kNoDataSize = 4;

void PutLittleEndian16(unsigned char* pAt, std::uint16_t value) {
  pAt[0] = static_cast<unsigned char>(value & 0xFFu);
  pAt[1] = static_cast<unsigned char>(value >> 8);
}

std::uint16_t GetLittleEndian16(const BYTE* pAt) {
  return static_cast<std::uint16_t>(pAt[0] | (pAt[1] << 8));
}

// Major, minor and build, in this order.
void PutVersion(unsigned char* pAt, DWORD version) {
  pAt[0] = static_cast<unsigned char>((version >> 16) & 0xFFu);
  pAt[1] = static_cast<unsigned char>((version >> 8) & 0xFFu);
  pAt[2] = static_cast<unsigned char>(version & 0xFFu);
}

bool IsValidSetRequest(const BYTE* pData, ULONG size) {
  return pData != nullptr && size >= kSetRequestHeaderSize && GetLittleEndian16(pData + 4) == kSetRequestTag &&
         GetLittleEndian16(pData + 6) == kSetRequestLength && size == kSetRequestSize;
}

}  // namespace

bool ParallelCommunication::IsDriverCommand(ITARVO_DeviceMessage* pDevMsg) {
  return IsDriverCommandNumber(GetCommandNumber(pDevMsg));
}

bool ParallelCommunication::IsDriverCommandNumber(int commandNo) {
  return commandNo >= kGetDriverVersion && commandNo <= kSetRuntimeVersion;
}

LONG ParallelCommunication::ExecuteDriverCommand(ITARVO_DeviceMessage* pDevMsg, LONG* pResult) {
  if (pDevMsg == nullptr) return E_POINTER;
  bool available = false;
  bool entered = false;
  {
    CriticalSectionLock lock(m_componentLock);
    // Not initialised (or uninitialised already): no result sink would ever
    // see the answer, so the command is refused like any other request.
    available = m_pDeviceConfig != nullptr;
    if (available && m_pDeviceMessages != nullptr && m_pDeviceMessages->emplace(pDevMsg, nullptr).second) {
      pDevMsg->AddRef();  // the registry's reference on its new key
      entered = true;
    }
  }
  if (!available) {
    QTMTraceDevice("FAIL: ExecuteDriverCommand, not initialised, File(%s), Line(%d)\n", __FILE__, __LINE__);
    if (pResult != nullptr) *pResult = QTM_RESULT_COMMS_FAILED;
    return E_UNEXPECTED;
  }
  if (!entered) {
    // The same message is in progress already (or the component could not
    // build its registry): nothing runs.
    if (pResult != nullptr) *pResult = QTM_RESULT_COMMS_FAILED;
    return E_FAIL;
  }

  // The entry leaves the registry on every way out, exceptions included. Only
  // the call that removes it releases the reference it holds.
  const ScopeExit leave([this, pDevMsg] {
    bool erased = false;
    {
      CriticalSectionLock lock(m_componentLock);
      erased = m_pDeviceMessages != nullptr && m_pDeviceMessages->erase(pDevMsg) != 0;
    }
    if (erased) pDevMsg->Release();
  });

  switch (GetCommandNumber(pDevMsg)) {
    case kGetDriverVersion:
      return GetDriverVersion(pDevMsg);
    case kSetRuntimeVersion:
      return SetDriverVersion(pDevMsg);
    default:
      return E_FAIL;
  }
}

LONG ParallelCommunication::GetDriverVersion(ITARVO_DeviceMessage* pDevMsg) {
  return CallbackDriverVersion(pDevMsg, true, S_OK);
}

LONG ParallelCommunication::SetDriverVersion(ITARVO_DeviceMessage* pDevMsg) {
  ULONG size = 0;
  BYTE* pData = nullptr;
  const HRESULT read = pDevMsg->GetData(&size, &pData);
  // The host's buffer is freed on every way out, also when the read failed
  // but left one behind.
  const ScopeExit freeData([&pData] { CoTaskMemFree(pData); });
  if (FAILED(read)) {
    CallbackError(pDevMsg, true, QTM_RESULT_INVALID_PARM);
    return read;
  }
  if (!IsValidSetRequest(pData, size)) {
    CallbackError(pDevMsg, true, QTM_RESULT_INVALID_PARM);
    return E_INVALIDARG;
  }

  const DWORD requested = (static_cast<DWORD>(pData[8]) << 16) | (static_cast<DWORD>(pData[9]) << 8) | pData[10];
  LONG resultCode = S_OK;
  {
    CriticalSectionLock lock(m_componentLock);
    if (requested > m_releaseVersion) {
      m_runtimeVersion = m_releaseVersion;
      resultCode = QTM_RESULT_S_FALSE;
    } else {
      m_runtimeVersion = requested;
    }
  }
  const LONG delivered = CallbackDriverVersion(pDevMsg, true, resultCode);
  return FAILED(delivered) ? delivered : read;
}

LONG ParallelCommunication::CallbackDriverVersion(ITARVO_DeviceMessage* pDevMsg, bool complete, LONG resultCode) {
  DWORD runtimeVersion = 0;
  {
    CriticalSectionLock lock(m_componentLock);
    runtimeVersion = m_runtimeVersion;
  }
  unsigned char frame[kVersionFrameSize] = {0xFF, 0xFF};
  PutLittleEndian16(frame + 2, static_cast<std::uint16_t>(kVersionFrameSize - 4));
  PutLittleEndian16(frame + 4, kVersionFrameTag);
  PutLittleEndian16(frame + 6, kVersionFrameLength);
  PutVersion(frame + 8, runtimeVersion);
  PutVersion(frame + 11, m_releaseVersion);
  return CallbackResultData(pDevMsg, kVersionFrameSize, frame, complete, resultCode);
}

LONG ParallelCommunication::CallbackError(ITARVO_DeviceMessage* pDevMsg, bool complete, LONG resultCode) {
  unsigned char noData[kNoDataSize] = {0xFF, 0xFF, 0x00, 0x00};
  return CallbackResultData(pDevMsg, kNoDataSize, noData, complete, resultCode);
}

// The release version from the configuration tree; 0 when the node is
// missing or cannot be read. Initialisation goes on either way.
bool ParallelCommunication::LoadReleaseVersion(DWORD& version) {
  std::wstring text;
  const bool read = GetConfigText(text, L"%CPU%/DriverVersionInfo/DriverReleaseVersion", 1, m_pDeviceConfig);
  version = read ? ParsePackedVersion(text.c_str()) : 0;
  return true;
}

// The caller holds the component lock whenever other threads may read the
// version (everywhere but Initialise, which runs before the component is
// reachable).
bool ParallelCommunication::InitializeRuntimeVersion(DWORD& version) {
  version = 0;
  return true;
}
