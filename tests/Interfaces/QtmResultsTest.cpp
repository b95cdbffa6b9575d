// The QTM result-code helper against the codes the component reports.
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

TEST(QtmResultsTest, FieldsAndNamesComeBackOut) {
  const LONG code = QTM_RESULT_LOCKED;
  EXPECT_TRUE(QtmIsError(code));
  EXPECT_EQ(QtmCategoryOf(code), static_cast<std::uint32_t>(QTM_C_MANAGER));
  EXPECT_EQ(QtmCodeOf(code), static_cast<std::uint32_t>(QTM_E_LOCKED));
  EXPECT_STREQ(QtmCategoryName(QtmCategoryOf(QTM_RESULT_COMMS_FAILED)), "QTM_C_DEVICE");
  EXPECT_STREQ(QtmCodeName(QtmCodeOf(QTM_RESULT_COMMS_FAILED)), "QTM_E_COMMS_FAILED");
  EXPECT_FALSE(QtmIsError(QTM_RESULT_S_FALSE));
  EXPECT_STREQ(QtmCodeName(36), "QTM_E_INVALID_DATA");
  EXPECT_EQ(QtmCodeName(37), nullptr);
  EXPECT_EQ(QtmCategoryName(11), nullptr);
}

}  // namespace
