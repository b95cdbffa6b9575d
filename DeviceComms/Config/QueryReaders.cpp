#include "Config/QueryReaders.h"

#include "Config/ComRef.h"
#include "Config/NodeReaders.h"
#include "Config/TaskMemText.h"

namespace {

// The node at `path`, or an empty reference.
ComRef<ITARVO_ConfigNode> SelectOne(const wchar_t* path, LONG flags, ITARVO_ConfigQuery* query) {
  ComRef<ITARVO_ConfigNode> node;
  if (query == nullptr || path == nullptr) return node;
  TaskMemCopy pathCopy(path);
  if (pathCopy.Get() == nullptr) return node;
  // A failing select must leave null; do not release what a faulty host left.
  if (FAILED(query->SelectNode(flags, pathCopy.Get(), node.Put()))) node.Detach();
  return node;
}

}  // namespace

bool SelectNodeText(std::wstring& value, const wchar_t* path, LONG flags, ITARVO_ConfigQuery* query) {
  ComRef<ITARVO_ConfigNode> node = SelectOne(path, flags, query);
  return node && GetNodeText(value, node.Get());
}

bool SelectNodeAttribute(std::wstring& value, const wchar_t* attributeName, const wchar_t* path, LONG flags,
                         ITARVO_ConfigQuery* query) {
  ComRef<ITARVO_ConfigNode> node = SelectOne(path, flags, query);
  return node && GetNodeAttribute(value, attributeName, node.Get());
}
