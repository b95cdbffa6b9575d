#include "ModbusTcp/ModbusEndpoint.h"

#include <arpa/inet.h>

#include <charconv>

#include "TARVO_SupportLib/ConfigString.h"

namespace modbustcp {

namespace {

constexpr char kScheme[] = "modbus-tcp://";

bool ParseNumber(const std::string& text, long minimum, long maximum, long& value) {
  if (text.empty() || text.size() > 9) return false;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  return failure == std::errc() && end == text.data() + text.size() && value >= minimum && value <= maximum;
}

bool ParseHost(const std::string& text, std::string& host) {
  if (text == "localhost") {
    host = "127.0.0.1";
    return true;
  }
  unsigned char address[16];
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    host = text.substr(1, text.size() - 2);
    return inet_pton(AF_INET6, host.c_str(), address) == 1;
  }
  host = text;
  return inet_pton(AF_INET, host.c_str(), address) == 1;
}

bool ParseSetting(const std::string& name, const std::string& value, ModbusEndpoint& endpoint, std::string& error) {
  long number = 0;
  if (name == "unit") {
    if (!ParseNumber(value, 0, 255, number)) return error = "unit \"" + value + "\" is not a number 0..255", false;
    endpoint.unit = static_cast<std::uint8_t>(number);
  } else if (name == "timeout" || name == "backoff" || name == "backoff-max") {
    if (!ParseNumber(value, 1, 600000, number)) {
      return error = name + " \"" + value + "\" is not a number of milliseconds 1..600000", false;
    }
    (name == "timeout" ? endpoint.timeout : name == "backoff" ? endpoint.backoff : endpoint.backoffMax) =
        std::chrono::milliseconds(number);
  } else {
    return error = "unknown setting \"" + name + "\" (known: unit, timeout, backoff, backoff-max)", false;
  }
  return true;
}

}  // namespace

std::string ModbusEndpoint::Line() const {
  const bool v6 = host.find(':') != std::string::npos;
  return std::string(kScheme) + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string ModbusEndpoint::Url() const {
  return Line() + "?unit=" + std::to_string(unit) + "&timeout=" + std::to_string(timeout.count()) +
         "&backoff=" + std::to_string(backoff.count()) + "&backoff-max=" + std::to_string(backoffMax.count());
}

std::string ModbusEndpoint::TargetKey() const { return Line() + "/" + std::to_string(unit); }

std::wstring ModbusEndpoint::RuntimeInformation() const {
  const std::string line = Line();
  const std::string url = Url();
  return L"LINE=" + ConfigString::QuoteValue(std::wstring(line.begin(), line.end())) +
         L";ADDR=" + std::to_wstring(unit) + L";URL=" + ConfigString::QuoteValue(std::wstring(url.begin(), url.end()));
}

bool ParseModbusUrl(const std::string& text, ModbusEndpoint& endpoint, std::string& error) {
  ModbusEndpoint parsed;
  if (text.rfind(kScheme, 0) != 0) return error = "does not begin with \"modbus-tcp://\"", false;
  const std::size_t authorityStart = sizeof(kScheme) - 1;
  const std::size_t query = text.find('?', authorityStart);
  const std::string authority = text.substr(authorityStart, query - authorityStart);
  std::string hostText = authority;
  const std::size_t bracket = authority.rfind(']');
  const std::size_t colon = authority.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    hostText = authority.substr(0, colon);
    const std::string portText = authority.substr(colon + 1);
    long port = 0;
    if (!ParseNumber(portText, 1, 65535, port)) return error = "port \"" + portText + "\" is not a number 1..65535", false;
    parsed.port = static_cast<std::uint16_t>(port);
  }
  if (hostText.empty()) return error = "no host", false;
  if (!ParseHost(hostText, parsed.host)) {
    return error = "host \"" + hostText + "\" is not a numeric IPv4 address, [IPv6 address] or localhost", false;
  }
  if (query != std::string::npos) {
    std::size_t start = query + 1;
    while (start <= text.size()) {
      const std::size_t end = std::min(text.find('&', start), text.size());
      const std::string item = text.substr(start, end - start);
      const std::size_t equals = item.find('=');
      if (equals == std::string::npos) return error = "setting \"" + item + "\" has no '='", false;
      if (!ParseSetting(item.substr(0, equals), item.substr(equals + 1), parsed, error)) return false;
      start = end + 1;
    }
  }
  if (parsed.backoffMax < parsed.backoff) return error = "backoff-max is below backoff", false;
  endpoint = parsed;
  return true;
}

bool ParseRuntimeInformation(const std::wstring& text, ModbusEndpoint& endpoint, std::string& error) {
  bool wellFormed = false;
  const ConfigString parsed(text, &wellFormed);
  if (!wellFormed) return error = "not a well-formed configuration string", false;
  const std::wstring url = parsed.GetEntry(L"URL");
  if (url.empty()) return error = "no URL entry", false;
  std::string narrow;
  for (wchar_t c : url) {
    if (c < 0x20 || c > 0x7E) return error = "the URL has a character outside printable ASCII", false;
    narrow.push_back(static_cast<char>(c));
  }
  return ParseModbusUrl(narrow, endpoint, error);
}

}  // namespace modbustcp
