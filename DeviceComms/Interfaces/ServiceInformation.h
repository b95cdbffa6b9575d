// ServiceInformation.h: what GetServiceInformation reports of a command.
#pragma once

#include "Platform/WinTypes.h"

struct TARVO_ServiceInformation {
  LONG supported;          // 1 when a configured service serves the command now
  LONG forbiddenOnLocked;  // 1 when that service is refused while locked
};
