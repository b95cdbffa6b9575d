// The allocation-failure bracket and the error classes.
#include <gtest/gtest.h>

#include <limits>
#include <new>

#include "BaseComms/BaseComms.h"

namespace {

void* AllocateTooMuch() {
  // More than any machine has: malloc fails and the new-handler runs.
  return ::operator new(std::numeric_limits<std::size_t>::max() / 4);
}

void PreviousHandler() { throw std::bad_alloc(); }

TEST(NewHandlerTest, QueryAndResetRestoreHandlerAndMode) {
  std::set_new_handler(nullptr);
  const TVO_NewHandlerPair outside = QueryCurrentNewHandler();
  EXPECT_EQ(outside.handler, nullptr);

  const TVO_NewHandlerPair previous = SetNewHandlerWithThrowError();
  EXPECT_EQ(previous.handler, outside.handler);
  EXPECT_EQ(previous.newMode, outside.newMode);
  const TVO_NewHandlerPair inside = QueryCurrentNewHandler();
  EXPECT_NE(inside.handler, nullptr);
  EXPECT_EQ(inside.newMode, 1);
  // Querying changes nothing.
  EXPECT_EQ(QueryCurrentNewHandler().handler, inside.handler);

  // A callee that installs its own handler is undone by the caller's reset.
  std::set_new_handler(&PreviousHandler);
  ResetNewHandler(inside);
  EXPECT_EQ(std::get_new_handler(), inside.handler);

  ResetNewHandler(previous);
  EXPECT_EQ(std::get_new_handler(), nullptr);
  EXPECT_EQ(QueryCurrentNewHandler().newMode, outside.newMode);
}

// A failing allocation throws TVO_MemoryAllocError inside a bracket only.
// Two threads' brackets that overlap without nesting (A opens, B opens, A
// closes, B closes) must still give the host its own handler back at the end,
// and a callee's handler is undone only while a bracket is open.
TEST(NewHandlerTest, OverlappingBracketsThrowInsideAndGiveTheHostsHandlerBack) {
  std::set_new_handler(&PreviousHandler);
  auto* first = new TVO_NewHandlerScope;
  auto* second = new TVO_NewHandlerScope;
  const std::new_handler throwing = std::get_new_handler();
  EXPECT_NE(throwing, &PreviousHandler);
  EXPECT_THROW(AllocateTooMuch(), TVO_MemoryAllocError);
  delete first;
  EXPECT_EQ(std::get_new_handler(), throwing) << "a bracket is still open";

  std::set_new_handler(nullptr);  // what a result sink might do
  { const TVO_CalloutScope callout; }
  EXPECT_EQ(std::get_new_handler(), throwing);

  delete second;
  EXPECT_EQ(std::get_new_handler(), &PreviousHandler);
  EXPECT_THROW(AllocateTooMuch(), std::bad_alloc);
  { const TVO_CalloutScope callout; }
  EXPECT_EQ(std::get_new_handler(), &PreviousHandler);
  std::set_new_handler(nullptr);
}

class DeviceBusyError : public TVO_RuntimeError {
 public:
  DeviceBusyError() : TVO_RuntimeError("busy.cpp", 3, E_FAIL) {}
  LONG GetErrorCode() const override { return 0x1234; }
};

TEST(ErrorClassesTest, RuntimeErrorCarriesWhereAndWhatAndIsCaughtByItsBases) {
  try {
    throw TVO_RuntimeError("file.cpp", 42, E_INVALIDARG);
  } catch (const TVO_Error& error) {
    const auto& runtime = dynamic_cast<const TVO_RuntimeError&>(error);
    EXPECT_EQ(runtime.GetErrorCode(), E_INVALIDARG);
    EXPECT_STREQ(runtime.GetSourceFile(), "file.cpp");
    EXPECT_EQ(runtime.GetLine(), 42);
    EXPECT_NE(std::string(error.what()).find("file.cpp(42)"), std::string::npos);
  }
  // The code accessor is virtual: a derived error's own code is what a
  // catch of the base reads.
  try {
    throw DeviceBusyError();
  } catch (const TVO_RuntimeError& error) {
    EXPECT_EQ(error.GetErrorCode(), 0x1234);
  }
  EXPECT_THROW(throw TVO_MemoryAllocError("f", 1), std::runtime_error);
  EXPECT_EQ(TVO_MemoryAllocError("f", 1).GetErrorCode(), E_OUTOFMEMORY);
}

}  // namespace
