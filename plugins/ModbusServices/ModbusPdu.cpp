#include "ModbusServices/ModbusPdu.h"

#include <algorithm>

namespace modbusservices {

namespace {

std::uint16_t Little(const std::vector<BYTE>& data, std::size_t at) {
  return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
}
std::uint16_t Big(const std::vector<BYTE>& data, std::size_t at) {
  return static_cast<std::uint16_t>(data[at] << 8 | data[at + 1]);
}
void PutLittle(std::vector<BYTE>& out, std::uint16_t value) {
  out.push_back(static_cast<BYTE>(value));
  out.push_back(static_cast<BYTE>(value >> 8));
}
void PutBig(std::vector<BYTE>& out, std::uint16_t value) {
  out.push_back(static_cast<BYTE>(value >> 8));
  out.push_back(static_cast<BYTE>(value));
}
bool IsRead(std::uint8_t function) { return function == 1 || function == 3 || function == 4; }

}  // namespace

std::uint16_t MaxCount(std::uint8_t function) {
  switch (function) {
    case 1: return 2000;
    case 3:
    case 4: return 125;
    case 16: return 123;
    default: return 1;
  }
}

bool ParseDeviceData(std::uint8_t function, const std::vector<BYTE>& data, std::uint16_t maxCount,
                     RegisterRequest& request) {
  if (data.size() < 4) return false;
  request = RegisterRequest{};
  request.function = function;
  request.address = Little(data, 0);
  if (IsRead(function)) {
    request.count = Little(data, 2);
    if (data.size() != 4 || request.count == 0 || request.count > maxCount) return false;
  } else if (function == 6) {
    if (data.size() != 4) return false;
    request.count = 1;
    request.values = {Little(data, 2)};
  } else if (function == 16) {
    request.count = Little(data, 2);
    if (request.count == 0 || request.count > MaxCount(16) || data.size() != 4u + 2u * request.count) return false;
    for (std::size_t i = 0; i < request.count; ++i) request.values.push_back(Little(data, 4 + 2 * i));
  } else {
    return false;
  }
  return std::uint32_t{request.address} + request.count <= 0x10000;
}

std::vector<RegisterRequest> SplitRead(const RegisterRequest& request) {
  std::vector<RegisterRequest> steps;
  const std::uint16_t frame = MaxCount(request.function);
  for (std::uint32_t done = 0; done < request.count; done += frame) {
    RegisterRequest step = request;
    step.address = static_cast<std::uint16_t>(request.address + done);
    step.count = static_cast<std::uint16_t>(std::min<std::uint32_t>(frame, request.count - done));
    steps.push_back(step);
  }
  return steps;
}

std::vector<BYTE> BuildPdu(const RegisterRequest& request) {
  std::vector<BYTE> pdu{request.function};
  PutBig(pdu, request.address);
  if (request.function == 6) {
    PutBig(pdu, request.values.at(0));
  } else {
    PutBig(pdu, request.count);
  }
  if (request.function == 16) {
    pdu.push_back(static_cast<BYTE>(2 * request.values.size()));
    for (std::uint16_t value : request.values) PutBig(pdu, value);
  }
  return pdu;
}

bool DecodeAnswer(const RegisterRequest& request, const std::vector<BYTE>& pdu, std::vector<BYTE>& result) {
  if (pdu.empty() || pdu[0] != request.function) return false;
  switch (request.function) {
    case 1: {
      const std::size_t bytes = (request.count + 7u) / 8u;
      if (pdu.size() != 2 + bytes || pdu[1] != bytes) return false;
      for (std::size_t i = 0; i < request.count; ++i) result.push_back((pdu[2 + i / 8] >> (i % 8)) & 1);
      return true;
    }
    case 3:
    case 4: {
      const std::size_t bytes = 2u * request.count;
      if (pdu.size() != 2 + bytes || pdu[1] != bytes) return false;
      for (std::size_t i = 0; i < request.count; ++i) PutLittle(result, Big(pdu, 2 + 2 * i));
      return true;
    }
    case 6:
    case 16: {
      const std::uint16_t second = request.function == 6 ? request.values.at(0) : request.count;
      if (pdu.size() != 5 || Big(pdu, 1) != request.address || Big(pdu, 3) != second) return false;
      PutLittle(result, request.address);
      PutLittle(result, second);
      return true;
    }
    default: return false;
  }
}

}  // namespace modbusservices
