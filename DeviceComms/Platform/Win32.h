// Win32.h: the Win32 stand-ins, all in one include.
#pragma once

#include "Platform/CriticalSection.h"
#include "Platform/Event.h"
#include "Platform/Handle.h"
#include "Platform/LastError.h"
#include "Platform/MessageBox.h"
#include "Platform/Process.h"
#include "Platform/Text.h"
#include "Platform/Thread.h"
#include "Platform/Time.h"
#include "Platform/Wait.h"
#include "Platform/WinTypes.h"
