#include "Trace/HexDump.h"

#include <cstdio>

#include "Trace/QTMTrace.h"
#include "Trace/TraceChannel.h"

namespace {

constexpr std::size_t kBytesPerLine = 16;

bool IsPrintable(BYTE byte) { return byte >= 0x20 && byte < 0x7F; }

}  // namespace

std::string QTMFormatDumpLine(const BYTE* bytes, std::size_t count, std::size_t offset, DumpDigits digits) {
  if (count > kBytesPerLine) count = kBytesPerLine;
  // Hex digits by hand: one snprintf per byte would make a 1 KiB dump cost
  // tens of microseconds, paid even with tracing off.
  const char* hex = digits == DumpDigits::kUpperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  // Work buffer: 16 x 4 characters of bytes and text plus room for offset and separators.
  char line[kBytesPerLine * 4 + 256];
  int used = std::snprintf(line, sizeof line, "%04zX: ", offset);  // upper case in both kinds
  for (std::size_t i = 0; i < kBytesPerLine; ++i) {
    if (i < count) {
      line[used++] = hex[bytes[i] >> 4];
      line[used++] = hex[bytes[i] & 0x0F];
    } else {
      line[used++] = ' ';
      line[used++] = ' ';
    }
    line[used++] = ' ';
  }
  for (const char c : {' ', ' ', ':', ' '}) line[used++] = c;
  for (std::size_t i = 0; i < count; ++i) line[used++] = IsPrintable(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
  line[used++] = '\n';
  return std::string(line, static_cast<std::size_t>(used));
}

std::vector<std::string> QTMFormatDumpLines(const BYTE* bytes, std::size_t length, DumpDigits digits) {
  std::vector<std::string> lines;
  if (bytes == nullptr) return lines;
  lines.reserve((length + kBytesPerLine - 1) / kBytesPerLine);
  for (std::size_t offset = 0; offset < length; offset += kBytesPerLine) {
    const std::size_t count = length - offset < kBytesPerLine ? length - offset : kBytesPerLine;
    lines.push_back(QTMFormatDumpLine(bytes + offset, count, offset, digits));
  }
  return lines;
}

void QTMTraceHexDump(const char* category, const BYTE* bytes, LONG length, bool isRequest) {
  using namespace qtmtrace;
  if (!TraceIsOn()) return;
  try {
    CQTMTraceLockGuard lock(g_traceLock);
    if (!QTMTraceIsEnabled(category)) return;
    QTMTracePutLine((QTMTraceLinePrefix() + (isRequest ? "REQUEST\n" : "RESPONSE\n")).c_str());
    if (bytes == nullptr || length <= 0) return;
    const auto size = static_cast<std::size_t>(length);
    for (std::size_t offset = 0; offset < size; offset += kBytesPerLine) {
      const std::size_t count = size - offset < kBytesPerLine ? size - offset : kBytesPerLine;
      const std::string line = QTMFormatDumpLine(bytes + offset, count, offset, DumpDigits::kLowerCase);
      QTMTracePutLine((QTMTraceLinePrefix() + line).c_str());
    }
  } catch (...) {
    // Out of memory: the rest of the dump is dropped.
  }
}

void QTMTraceHexDumpRd(const BYTE* bytes, LONG length, bool isRequest) { QTMTraceHexDump("rd", bytes, length, isRequest); }
void QTMTraceHexDumpXd(const BYTE* bytes, LONG length, bool isRequest) { QTMTraceHexDump("xd", bytes, length, isRequest); }
void QTMTraceHexDumpZd(const BYTE* bytes, LONG length, bool isRequest) { QTMTraceHexDump("zd", bytes, length, isRequest); }
void QTMTraceHexDumpCd(const BYTE* bytes, LONG length, bool isRequest) { QTMTraceHexDump("cd", bytes, length, isRequest); }
void QTMTraceHexDumpQd(const BYTE* bytes, LONG length, bool isRequest) { QTMTraceHexDump("qd", bytes, length, isRequest); }
