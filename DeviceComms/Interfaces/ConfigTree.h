// ConfigTree.h: the host's configuration tree.
//
// Nodes are found by path (the host expands its macros such as "%CPU%" and
// "%Network%" and evaluates the rest); a path that finds nothing is a failing
// result. Every interface handed out (SelectNode's *node, SelectNodes'
// *nodes, Next's *node) carries one reference for the caller, who releases
// it; every text handed out (GetText's *text, GetAttribute's *value) is new
// task memory that the caller frees; GetCount's *count is a value.
#pragma once

#include "Interfaces/InterfaceIds.h"
#include "Platform/Unknown.h"

struct ITARVO_ConfigNode;
struct ITARVO_ConfigNodeList;

struct ITARVO_ConfigQuery : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SelectNode(LONG flags, LPCWSTR path, ITARVO_ConfigNode** node) = 0;
  virtual HRESULT STDMETHODCALLTYPE SelectNodes(LONG flags, LPCWSTR path, ITARVO_ConfigNodeList** nodes) = 0;
};

struct ITARVO_ConfigNodeList : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCount(LONG* count) = 0;
  // The node at the list's position, then the position moves on; a failing
  // result past the end.
  virtual HRESULT STDMETHODCALLTYPE Next(ITARVO_ConfigNode** node) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
};

struct ITARVO_ConfigNode : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetText(LPWSTR* text) = 0;
  // A failing result when the node has no attribute of that name.
  virtual HRESULT STDMETHODCALLTYPE GetAttribute(LPCWSTR name, LPWSTR* value) = 0;
};
