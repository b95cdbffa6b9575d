#include "Config/NodeReaders.h"

#include "Config/TaskMemText.h"

bool GetNodeText(std::wstring& value, ITARVO_ConfigNode* node) {
  if (node == nullptr) return false;
  TaskMemReceived text;
  if (FAILED(node->GetText(text.Put()))) return false;
  value = text.ToString();
  return true;
}

bool GetNodeAttribute(std::wstring& value, const wchar_t* attributeName, ITARVO_ConfigNode* node) {
  if (node == nullptr || attributeName == nullptr) return false;
  TaskMemReceived text;
  {
    TaskMemCopy name(attributeName);
    if (name.Get() == nullptr) return false;
    if (FAILED(node->GetAttribute(name.Get(), text.Put()))) return false;
  }
  value = text.ToString();
  return true;
}
