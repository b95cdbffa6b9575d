#include "Platform/Wait.h"

#include "Platform/LastError.h"
#include "Platform/posix/KernelObject.h"

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  platform::KernelObject* object = platform::KernelObject::FromHandle(handle);
  if (object == nullptr) return WAIT_FAILED;
  // As on Win32, an object stays alive while a thread waits on it, even if
  // another thread closes its handle meanwhile.
  object->AddRef();
  const DWORD result = object->Wait(milliseconds);
  object->Release();
  return result;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr || waitAll != FALSE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  platform::LocalWaitable* objects[MAXIMUM_WAIT_OBJECTS];
  for (DWORD i = 0; i < count; ++i) {
    platform::KernelObject* object = platform::KernelObject::FromHandle(handles[i]);
    if (object == nullptr) return WAIT_FAILED;
    objects[i] = object->AsLocalWaitable();
    if (objects[i] == nullptr) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return WAIT_FAILED;
    }
  }
  for (DWORD i = 0; i < count; ++i) objects[i]->AddRef();
  const DWORD result = platform::WaitLocal(objects, count, milliseconds);
  for (DWORD i = 0; i < count; ++i) objects[i]->Release();
  return result;
}
