#include "BaseComms/MessageServiceClassLoader.h"

namespace {

// Priority 1000: before the trace statics (1001-1004) and every object of
// default priority, destroyed after them.
MessageServiceClassLoader g_messageServiceClassLoader __attribute__((init_priority(1000)));

}  // namespace

MessageServiceClassLoader::MessageServiceClassLoader() : ClassLoaderCore("IMessageService") {}

MessageServiceClassLoader::~MessageServiceClassLoader() = default;

MessageServiceClassLoader& MessageServiceClassLoader::Instance() { return g_messageServiceClassLoader; }

IMessageService* MessageServiceClassLoader::CreateMessageService(const char* modulePath, const char* className,
                                                                 const char* superClassName) {
  // The factory returned an IMessageService* converted to void*.
  return static_cast<IMessageService*>(CreateInstance(modulePath, className, superClassName));
}
