// BaseComms.h: everything a host or a plug-in needs from the library.
//
// The component classes, the COM stand-in (types, result codes, task memory, class registration),
// the message box hook, the host framework interfaces, IMessageService, the
// QTM result codes, the last load error of a component, the host log sink,
// the support library's error classes and allocation bracket, the message
// dumps into the trace channel, and the version.
#pragma once

#include "BaseComms/BaseCommsVersion.h"
#include "BaseComms/LoadErrors.h"
#include "BaseComms/OneByOneCommunication.h"
#include "BaseComms/ParallelCommunication.h"
#include "Interfaces/HostInterfaces.h"
#include "Platform/Com.h"
#include "Platform/MessageBox.h"
#include "Platform/WinTypes.h"
#include "TARVO_SupportLib/NewHandler.h"
#include "TARVO_SupportLib/TVO_Error.h"
#include "Trace/HostLogSink.h"
#include "Trace/MessageDump.h"
