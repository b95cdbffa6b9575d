// The Modbus services' PDU rules: which device data make a request and which
// answers fit it. (The services end to end, the split of a long read among
// them: tests/host/ModbusWireTest.cpp.)
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ModbusServices/ModbusPdu.h"

namespace {

using modbusservices::RegisterRequest;

TEST(ModbusPduTest, DeviceDataOutsideTheLayoutAndAnswersThatDoNotFitAreRefused) {
  struct Parse {
    std::uint8_t function;
    std::vector<BYTE> data;
    std::uint16_t maxCount;
    bool valid;
  };
  // Device data: 16-bit little-endian address, count (or value), values.
  const Parse parses[] = {
      {3, {0, 0, 125, 0}, 125, true},          {3, {0, 0, 126, 0}, 125, false},  {3, {0, 0, 0, 0}, 125, false},
      {3, {0xDC, 0xFF, 40, 0}, 125, false},    {3, {0, 0, 1, 0, 2, 0}, 125, false},
      {1, {0, 0, 0xD0, 0x07}, 2000, true},     {6, {7, 0, 9, 0}, 1, true},       {6, {7, 0}, 1, false},
      {16, {7, 0, 2, 0, 1, 0, 2, 0}, 123, true}, {16, {7, 0, 2, 0, 1, 0}, 123, false}, {5, {0, 0, 1, 0}, 1, false},
  };
  for (const Parse& p : parses) {
    RegisterRequest request;
    EXPECT_EQ(modbusservices::ParseDeviceData(p.function, p.data, p.maxCount, request), p.valid)
        << int(p.function) << " " << p.data.size();
  }

  RegisterRequest read{3, 10, 2, {}};
  RegisterRequest coils{1, 0, 9, {}};
  RegisterRequest write{6, 10, 1, {0x1234}};
  struct Answer {
    const RegisterRequest& request;
    std::vector<BYTE> pdu;
    bool fits;
  };
  const Answer answers[] = {
      {read, {3, 4, 0, 1, 0, 2}, true},     {read, {3, 2, 0, 1}, false},      {read, {3, 4, 0, 1, 0, 2, 0}, false},
      {read, {4, 4, 0, 1, 0, 2}, false},    {coils, {1, 2, 0xFF, 0x01}, true}, {coils, {1, 1, 0xFF}, false},
      {write, {6, 0, 10, 0x12, 0x34}, true}, {write, {6, 0, 10, 0x12, 0x35}, false},
  };
  for (const Answer& a : answers) {
    std::vector<BYTE> result;
    EXPECT_EQ(modbusservices::DecodeAnswer(a.request, a.pdu, result), a.fits) << int(a.pdu[0]) << " " << a.pdu.size();
  }
  std::vector<BYTE> bits;
  ASSERT_TRUE(modbusservices::DecodeAnswer(coils, {1, 2, 0x05, 0x01}, bits));
  EXPECT_EQ(bits, (std::vector<BYTE>{1, 0, 1, 0, 0, 0, 0, 0, 1}));
}

}  // namespace
