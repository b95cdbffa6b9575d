// Com.h: the COM runtime stand-in.
//
// What the component and its hosts use of COM, with the real names and
// signatures: task memory, per-thread initialisation, in-process class
// registration and creation. Only in-process classes exist; a host registers
// its class factories with CoRegisterClassObject and CoCreateInstance finds
// them by CLSID. Apartments are not modelled: CoCreateInstance and task
// memory work on any thread, initialised or not.
#pragma once

#include "Platform/ComResults.h"
#include "Platform/Export.h"
#include "Platform/Guid.h"
#include "Platform/Unknown.h"

// Class contexts; only in-process servers exist here.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// Registration flags; the registry keeps every class for multiple use.
inline constexpr DWORD REGCLS_SINGLEUSE = 0;
inline constexpr DWORD REGCLS_MULTIPLEUSE = 1;

inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;

// Like the real COM functions these have C linkage.
extern "C" {

// Task memory: the allocator shared by every module of the process for
// memory that crosses an interface. CoTaskMemAlloc(0) gives a valid block.
BASECOMMS_API LPVOID CoTaskMemAlloc(SIZE_T size);
BASECOMMS_API LPVOID CoTaskMemRealloc(LPVOID block, SIZE_T size);
BASECOMMS_API void CoTaskMemFree(LPVOID block);

// Number of task-memory blocks allocated and not yet freed in the process.
// A diagnostic of this stand-in (tests check that nothing leaks).
BASECOMMS_API LONG CoTaskMemBlocksInUse();

// Per-thread initialisation count: S_OK for the first call on a thread,
// S_FALSE for later ones; every successful call is matched by CoUninitialize.
BASECOMMS_API HRESULT CoInitialize(LPVOID reserved);
BASECOMMS_API HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
BASECOMMS_API void CoUninitialize();

// Creates an object of a registered class: the class's factory is asked for
// `riid`. REGDB_E_CLASSNOTREG (and *ppv null) when no factory is registered
// for `clsid` in the given context; E_POINTER when ppv is null.
BASECOMMS_API HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid,
                                       LPVOID* ppv);

// Registers `factory` (an IClassFactory; one reference taken) for `clsid`
// and writes a cookie for CoRevokeClassObject. A later registration of the
// same CLSID takes precedence until it is revoked.
BASECOMMS_API HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD clsContext, DWORD flags,
                                            LPDWORD cookie);
// Revokes a registration and releases its factory; CO_E_OBJNOTREG for an
// unknown cookie.
BASECOMMS_API HRESULT CoRevokeClassObject(DWORD cookie);

}  // extern "C"
