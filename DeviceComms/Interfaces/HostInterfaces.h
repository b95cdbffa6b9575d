// HostInterfaces.h: every interface between the component and its host.
#pragma once

#include "Interfaces/CommModes.h"
#include "Interfaces/ConfigTree.h"
#include "Interfaces/DeviceConfig.h"
#include "Interfaces/DeviceInfo.h"
#include "Interfaces/DeviceMessages.h"
#include "Interfaces/DeviceResults.h"
#include "Interfaces/IMessageService.h"
#include "Interfaces/InterfaceIds.h"
#include "Interfaces/Protocol.h"
#include "Interfaces/QtmResults.h"
#include "Interfaces/ServiceInformation.h"
