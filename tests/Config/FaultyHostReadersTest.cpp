// The readers facing a host that breaks the COM rules: a failing select
// that still leaves a node behind.
#include <gtest/gtest.h>

#include "Config/QueryReaders.h"
#include "Support/HostDoubles.h"

namespace {

class FailingSelect final : public doubles::ComObject<ITARVO_ConfigQuery> {
 public:
  HRESULT STDMETHODCALLTYPE SelectNode(LONG, LPCWSTR, ITARVO_ConfigNode** node) override {
    *node = &left;  // not AddRef'd: the call failed
    return E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE SelectNodes(LONG, LPCWSTR, ITARVO_ConfigNodeList** nodes) override {
    *nodes = nullptr;
    return E_NOTIMPL;
  }
  doubles::FakeConfigNode left;
};

TEST(FaultyHostReadersTest, WhatAFailingSelectLeftIsNeitherReadNorReleased) {
  FailingSelect query;
  query.left.text = L"stale";
  std::wstring value = L"kept";
  EXPECT_FALSE(SelectNodeText(value, L"%CPU%", 1, &query));
  EXPECT_EQ(value, L"kept");
  EXPECT_EQ(query.left.RefCount(), 0);
}

}  // namespace
