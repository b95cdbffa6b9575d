#include "BaseComms/ServiceLoader.h"

#include <algorithm>

#include "BaseComms/MessageServiceClassLoader.h"
#include "BaseComms/PackedVersion.h"
#include "Platform/MessageBox.h"
#include "Platform/Text.h"

ServiceLoader::ServiceLoader() = default;

ServiceLoader::~ServiceLoader() = default;

bool ServiceLoader::AddService(const std::string& modulePath, const std::string& className,
                               const std::string& superClassName, DWORD version) {
  if (std::find(m_versions.begin(), m_versions.end(), version) != m_versions.end()) {
    MessageBoxA(nullptr, "Error: Versions of Service are duplicated.", "ServiceLoader", MB_OK);
    return false;
  }
  m_versions.push_back(version);
  m_classes.emplace(version, std::make_unique<ServiceClassInfo>(modulePath, className, superClassName));
  return true;
}

const ServiceClassInfo* ServiceLoader::Choose(DWORD runtimeVersion, DWORD& chosen) const {
  // Best starts at 0, so a class configured with version 0 is the fallback
  // for every runtime version that no higher configured version fits.
  DWORD best = 0;
  for (DWORD version : m_versions) {
    if (version <= runtimeVersion && version > best) best = version;
  }
  auto found = m_classes.find(best);
  if (found == m_classes.end()) return nullptr;
  chosen = best;
  return found->second.get();
}

IMessageService* ServiceLoader::CreateService(DWORD runtimeVersion) const {
  DWORD chosen = 0;
  const ServiceClassInfo* info = Choose(runtimeVersion, chosen);
  return info != nullptr ? info->CreateInstance() : nullptr;
}

bool ServiceLoader::GetSupportVersion(DWORD* version, DWORD runtimeVersion) const {
  DWORD chosen = 0;
  if (version == nullptr || Choose(runtimeVersion, chosen) == nullptr) return false;
  *version = chosen;
  return true;
}

std::string ServiceLoader::DescribeFailure(DWORD runtimeVersion, bool refused) const {
  DWORD chosen = 0;
  const ServiceClassInfo* info = Choose(runtimeVersion, chosen);
  if (info == nullptr) {
    std::string configured;
    for (DWORD version : m_versions) {
      configured += (configured.empty() ? "" : ", ") + WideToAnsi(FormatPackedVersion(version));
    }
    return "no configured version serves runtime version " + WideToAnsi(FormatPackedVersion(runtimeVersion)) +
           " (configured: " + configured + ")";
  }
  const std::string className = "class \"" + info->GetClassName() + "\"";
  if (refused) {
    return className + " of module \"" + info->GetModulePath() +
           "\" refused the device message (InitialiseService returned false)";
  }
  // The loader's reason names the module it resolved.
  const std::string reason = ClassLoaderCore::GetThreadLastErrorText();
  return className + " not created: " + (reason.empty() ? "unknown reason" : reason);
}
