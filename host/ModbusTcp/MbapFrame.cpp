#include "ModbusTcp/MbapFrame.h"

namespace modbustcp {

std::vector<std::uint8_t> BuildFrame(std::uint16_t transaction, std::uint8_t unit, const std::vector<std::uint8_t>& pdu) {
  const auto length = static_cast<std::uint16_t>(pdu.size() + 1);
  std::vector<std::uint8_t> frame{static_cast<std::uint8_t>(transaction >> 8), static_cast<std::uint8_t>(transaction),
                                  0,
                                  0,
                                  static_cast<std::uint8_t>(length >> 8),
                                  static_cast<std::uint8_t>(length),
                                  unit};
  frame.insert(frame.end(), pdu.begin(), pdu.end());
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
