#include "BaseComms/BaseCommsVersion.h"

BaseCommsVersionInfo GetBaseCommsVersion() {
  return {BASECOMMS_VERSION_MAJOR, BASECOMMS_VERSION_MINOR, BASECOMMS_VERSION_PATCH};
}
