// CommandNumber.h: the command number of a device message.
//
// A device message's key is its command number written in decimal. The
// number is read as the C runtime's _wtoi reads it: leading white space, an
// optional sign, then the leading decimal digits; a key without leading
// digits (such as "abc") is command number 0, an ordinary device message.
// Stateless: callable from any thread. Internal to the library (not
// exported from libBaseComms.so).
#pragma once

#include "Interfaces/DeviceMessages.h"

// The command number of `message`; 0 when the message is null or its key
// cannot be read. The key's task memory is freed before return.
int GetCommandNumber(ITARVO_DeviceMessage* message);

// The same, telling whether the key could be read at all: S_OK, E_POINTER
// for a null message, else the host's failure (E_FAIL when it gave no key);
// `commandNo` is then 0.
HRESULT ReadCommandNumber(ITARVO_DeviceMessage* message, int& commandNo);
