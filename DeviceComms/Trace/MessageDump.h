// MessageDump.h: the exported dumps of byte buffers, device messages and
// protocol messages into the trace channel, in the component's category "ho".
//
// Each dump line (HexDump.h, upper-case hex) is a trace of its own, with its
// own prefix and filter check; traces of other threads may fall between the
// lines. The byte dump formats all its lines before looking at the channel,
// so a large dump costs its formatting even when tracing is off. The messages
// are only read; every buffer and text they hand out is freed here. Nothing
// is reported to the caller: a failing message operation ends the dump with
// a "FAIL: " line.
//
// Thread-safety: may be called from any thread.
#pragma once

#include "Platform/Export.h"
#include "Platform/WinTypes.h"

struct ITARVO_DeviceMessage;
struct ITARVO_ProtocolMessage;

BASECOMMS_API void QTMTracePnPDevices(const BYTE* bytes, ULONG length);
// The message key, then its data (or "No Data").
BASECOMMS_API void QTMTracePnPDevices(ITARVO_DeviceMessage* message);
// send: the send data, destination address, command type, extra timeout and
// require-response; else the receive data.
BASECOMMS_API void QTMTracePnPDevices(ITARVO_ProtocolMessage* message, bool send);
