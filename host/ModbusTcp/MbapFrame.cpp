#include "ModbusTcp/MbapFrame.h"

#include <algorithm>

namespace modbustcp {

std::vector<std::uint8_t> BuildFrame(std::uint16_t transaction, std::uint8_t unit, const std::vector<std::uint8_t>& pdu) {
  const auto length = static_cast<std::uint16_t>(pdu.size() + 1);
  // Sized once and filled in place (an insert behind an initializer list
  // makes g++ 12 warn about bounds that are not crossed).
  std::vector<std::uint8_t> frame(kMbapHeaderSize + pdu.size());
  frame[0] = static_cast<std::uint8_t>(transaction >> 8);
  frame[1] = static_cast<std::uint8_t>(transaction);
  frame[2] = 0;  // protocol id: Modbus
  frame[3] = 0;
  frame[4] = static_cast<std::uint8_t>(length >> 8);
  frame[5] = static_cast<std::uint8_t>(length);
  frame[6] = unit;
  std::copy(pdu.begin(), pdu.end(), frame.begin() + kMbapHeaderSize);
  return frame;
}

MbapHeader ReadHeader(const std::uint8_t* bytes) {
  MbapHeader header;
  header.transaction = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
  header.protocol = static_cast<std::uint16_t>(bytes[2] << 8 | bytes[3]);
  header.length = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  header.unit = bytes[6];
  return header;
}

}  // namespace modbustcp
