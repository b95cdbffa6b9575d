// BaseCommsVersion.h: the version of the library that runs.
//
// Compare with the BASECOMMS_VERSION_* macros of BaseComms/Version.h (the
// headers compiled against) to see which library a host got. Pure; any
// thread.
#pragma once

#include "BaseComms/Version.h"
#include "Platform/Export.h"

struct BaseCommsVersionInfo {
  int major;
  int minor;
  int patch;
};

// The library's version, as its headers' macros said when it was built.
BASECOMMS_API BaseCommsVersionInfo GetBaseCommsVersion();
