// MessageServiceClassLoader.h: the process-wide loader of message services.
//
// Every service instance of every component is created through this one
// ClassLoaderCore for the interface "IMessageService". The instance is a
// global constructed before every other static object of the library (init
// priority 1000; the trace statics follow with 1001-1004) and destroyed after
// all of them, so it serves for the library's whole lifetime.
//
// Threads: safe from any thread; the locking is ClassLoaderCore's.
#pragma once

#include "Interfaces/IMessageService.h"
#include "TARVO_SupportLib/ClassLoaderCore.h"

class MessageServiceClassLoader : public ClassLoaderCore {
 public:
  MessageServiceClassLoader();
  ~MessageServiceClassLoader() override;

  // The one instance of the process.
  static MessageServiceClassLoader& Instance();

  // A new, uninitialised service owned by the caller, or null. A null
  // `superClassName` means no super-class is asked for. Throws
  // TVO_MemoryAllocError when memory ran out (ClassLoaderCore.h).
  IMessageService* CreateMessageService(const char* modulePath, const char* className,
                                        const char* superClassName);
};
