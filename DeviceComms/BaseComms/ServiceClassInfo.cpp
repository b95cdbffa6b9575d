#include "BaseComms/ServiceClassInfo.h"

#include <utility>

#include "BaseComms/MessageServiceClassLoader.h"

ServiceClassInfo::ServiceClassInfo(std::string modulePath, std::string className, std::string superClassName)
    : m_modulePath(std::move(modulePath)),
      m_className(std::move(className)),
      m_superClassName(std::move(superClassName)) {}

ServiceClassInfo::~ServiceClassInfo() = default;

IMessageService* ServiceClassInfo::CreateInstance() const {
  const char* superClassName = m_superClassName.empty() ? nullptr : m_superClassName.c_str();
  return MessageServiceClassLoader::Instance().CreateMessageService(m_modulePath.c_str(), m_className.c_str(),
                                                                    superClassName);
}
