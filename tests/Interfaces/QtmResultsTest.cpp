// The QTM result-code helper against the codes the component reports (the
// fields and names are read back by the result-name tests, TraceTest).
#include <gtest/gtest.h>

#include "Interfaces/QtmResults.h"

namespace {

TEST(QtmResultsTest, ComposedCodesHaveTheirKnownValues) {
  EXPECT_EQ(static_cast<std::uint32_t>(MakeQtmResult(true, QTM_C_DEVICE, QTM_E_COMMS_FAILED)), 0xC0048A1Bu);
  EXPECT_EQ(static_cast<std::uint32_t>(MakeQtmResult(true, QTM_C_DEVICE, QTM_E_INVALID_PARM)), 0xC0048A0Du);
  EXPECT_EQ(static_cast<std::uint32_t>(MakeQtmResult(true, QTM_C_MANAGER, QTM_E_LOCKED)), 0xC0048812u);
  EXPECT_EQ(static_cast<std::uint32_t>(MakeQtmResult(true, QTM_C_MANAGER, QTM_E_INVALID_COMMAND)), 0xC0048809u);
  EXPECT_EQ(static_cast<std::uint32_t>(MakeQtmResult(true, QTM_C_MANAGER, QTM_E_ERROR)), 0xC0048806u);
  EXPECT_EQ(MakeQtmResult(false, QTM_C_CORE, QTM_S_FALSE), 2);
  EXPECT_EQ(QTM_RESULT_COMMS_FAILED, static_cast<LONG>(0xC0048A1Bu));
}

}  // namespace
