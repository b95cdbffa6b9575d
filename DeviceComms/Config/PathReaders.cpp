#include "Config/PathReaders.h"

#include "Config/ComRef.h"
#include "Config/QueryReaders.h"
#include "Interfaces/ConfigTree.h"

namespace {

ComRef<ITARVO_ConfigQuery> QueryOf(IUnknown* source) {
  ComRef<ITARVO_ConfigQuery> query;
  if (source != nullptr && FAILED(source->QueryInterface(IID_ITARVO_ConfigQuery, query.PutVoid()))) {
    // A failing QueryInterface must leave null; do not trust a host that does not.
    query.Detach();
  }
  return query;
}

}  // namespace

bool GetConfigText(std::wstring& value, const wchar_t* path, LONG flags, IUnknown* source) {
  ComRef<ITARVO_ConfigQuery> query = QueryOf(source);
  return query && SelectNodeText(value, path, flags, query.Get());
}

bool GetConfigAttribute(std::wstring& value, const wchar_t* attributeName, const wchar_t* path, LONG flags,
                        IUnknown* source) {
  ComRef<ITARVO_ConfigQuery> query = QueryOf(source);
  return query && SelectNodeAttribute(value, attributeName, path, flags, query.Get());
}
