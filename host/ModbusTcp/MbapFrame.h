// MbapFrame.h: Modbus/TCP framing (MBAP header + PDU).
//
// A frame is a 7-byte MBAP header (transaction id, protocol id 0, length of
// what follows the length field: the unit id and the PDU, all big-endian),
// the unit id, then the PDU (function code and data, at most 253 bytes).
// Plain functions over byte buffers; no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace modbustcp {

inline constexpr std::size_t kMbapHeaderSize = 7;  // up to and including the unit id
inline constexpr std::size_t kMaxPduSize = 253;

struct MbapHeader {
  std::uint16_t transaction = 0;
  std::uint16_t protocol = 0;
  std::uint16_t length = 0;  // unit id + PDU
  std::uint8_t unit = 0;
};

// The frame of `pdu` (1..253 bytes) for `unit`.
std::vector<std::uint8_t> BuildFrame(std::uint16_t transaction, std::uint8_t unit, const std::vector<std::uint8_t>& pdu);
// The header at the start of `bytes` (at least kMbapHeaderSize of them).
MbapHeader ReadHeader(const std::uint8_t* bytes);
// Whether a length field can belong to a frame: a unit id and a PDU of 1..253 bytes.
constexpr bool LengthValid(std::uint16_t length) { return length >= 2 && length <= kMaxPduSize + 1; }

}  // namespace modbustcp
