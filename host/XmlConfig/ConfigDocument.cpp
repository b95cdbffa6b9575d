#include "XmlConfig/ConfigDocument.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ModbusTcp/ModbusEndpoint.h"
#include "XmlConfig/HostText.h"
#include "TARVO_SupportLib/ConfigString.h"

namespace hostconfig {

namespace {

constexpr const char* kRoot = "HostConfiguration";
constexpr const char* kSchemaVersion = "1";
constexpr const char* kModbusScheme = "modbus-tcp:";

// "LINE:COLUMN" of a byte offset into `text`, both counted from 1.
std::string LineColumn(const std::string& text, std::ptrdiff_t offset) {
  const std::size_t end = offset < 0 ? 0 : std::min(static_cast<std::size_t>(offset), text.size());
  std::size_t line = 1;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  return std::to_string(line) + ":" + std::to_string(end - lineStart + 1);
}

// "LINE:COLUMN: <Element Name="...">", naming the element by its Name or,
// for a service, its CommandNo.
std::string Where(const std::string& text, const pugi::xml_node& node) {
  // The offset is that of the element's name; the column is that of its "<".
  std::string where = LineColumn(text, node.offset_debug() - 1) + ": <" + node.name();
  for (const char* key : {"Name", "CommandNo"}) {
    if (pugi::xml_attribute attribute = node.attribute(key)) {
      where += std::string(" ") + key + "=\"" + attribute.value() + "\"";
      break;
    }
  }
  return where + ">";
}

// A required attribute; unless `mayBeEmpty`, also non-empty.
bool Required(const std::string& text, const pugi::xml_node& node, const char* name, std::string& value,
              std::string& error, bool mayBeEmpty = false) {
  pugi::xml_attribute attribute = node.attribute(name);
  if (attribute.empty() || (!mayBeEmpty && *attribute.value() == '\0')) {
    error = Where(text, node) + ": attribute " + name + " is required";
    return false;
  }
  value = attribute.value();
  return true;
}

// Collects the unique names of the children `childName` of every `listName`.
bool CollectNames(const std::string& text, const pugi::xml_node& root, const char* listName, const char* childName,
                  std::vector<std::string>& names, std::string& error) {
  for (pugi::xml_node list : root.children(listName)) {
    for (pugi::xml_node child : list.children(childName)) {
      std::string name;
      if (!Required(text, child, "Name", name, error)) return false;
      for (const std::string& known : names) {
        if (known == name) {
          error = Where(text, child) + ": the name is used twice";
          return false;
        }
      }
      names.push_back(name);
    }
  }
  return true;
}

std::size_t PositionOf(const std::vector<std::string>& names, const std::string& name) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return i + 1;
  }
  return 0;
}

bool ParseLimit(const char* text, LONG& limit) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 0x7FFFFFFF) return false;
  limit = static_cast<LONG>(value);
  return true;
}

// Digits only, up to `max`.
bool IsDecimal(const char* text, long max) {
  if (*text == '\0') return false;
  long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + (*c - '0');
    if (value > max) return false;
  }
  return true;
}

// "major.minor.build", each a decimal number 0..255 (a version byte).
bool IsVersion(const std::string& text) {
  std::size_t start = 0;
  for (int field = 0; field < 3; ++field) {
    const std::size_t dot = field < 2 ? text.find('.', start) : text.size();
    if (dot == std::string::npos || !IsDecimal(text.substr(start, dot - start).c_str(), 255)) return false;
    start = dot + 1;
  }
  return true;
}

std::wstring MakeConfigurationString(const ControllerConfig& c) {
  std::wstring text = L"LINE=" + ConfigString::QuoteValue(ToWide(c.line.c_str())) +
                      L";ADDR=" + ConfigString::QuoteValue(ToWide(c.address.c_str()));
  if (!c.gateway.empty()) text += L";DEV=" + ConfigString::QuoteValue(ToWide(c.gateway.c_str()));
  return text;
}

std::string ReplaceAll(std::string text, const std::string& macro, const std::string& expansion) {
  for (std::size_t at = text.find(macro); at != std::string::npos; at = text.find(macro, at + expansion.size())) {
    text.replace(at, macro.size(), expansion);
  }
  return text;
}

// The whole file, or false and the system's reason.
bool ReadFile(const std::string& path, std::string& text, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  char buffer[4096];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
  const int readError = std::ferror(file) ? errno : 0;
  std::fclose(file);
  if (readError != 0) {
    error = std::strerror(readError);
    return false;
  }
  return true;
}

}  // namespace

std::shared_ptr<const ConfigDocument> ConfigDocument::LoadFile(const std::string& path, std::string& error) {
  std::string text;
  if (!ReadFile(path, text, error)) {
    error = path + ": " + error;
    return nullptr;
  }
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  auto document = LoadText(text, error, directory, tagEverything);
  if (!document) error = path + ":" + error;
  return document;
}

std::shared_ptr<const ConfigDocument> ConfigDocument::LoadText(const std::string& text, std::string& error,
                                                               const std::string& baseDirectory, CheckLevel checks) {
  std::shared_ptr<ConfigDocument> document(new ConfigDocument());
  document->m_text = text;
  pugi::xml_parse_result parsed = document->m_xml.load_buffer(text.data(), text.size());
  if (!parsed) {
    error = LineColumn(text, parsed.offset) + ": " + parsed.description();
    return nullptr;
  }
  if (!document->Check(error, baseDirectory, checks)) return nullptr;
  return document;
}

bool ConfigDocument::Check(std::string& error, const std::string& baseDirectory, CheckLevel checks) {
  pugi::xml_node root = m_xml.document_element();
  if (std::strcmp(root.name(), kRoot) != 0) {
    error = LineColumn(m_text, root.offset_debug() - 1) + ": the root element must be <" + kRoot + ">";
    return false;
  }
  if (pugi::xml_attribute version = root.attribute("Version"); !version.empty() &&
                                                                 std::strcmp(version.value(), kSchemaVersion) != 0) {
    error = Where(m_text, root) + ": schema version " + version.value() + " is not supported (only " +
            kSchemaVersion + ")";
    return false;
  }
  if (pugi::xml_node plugins = root.child("Plugins")) {
    std::string directory = plugins.attribute("Directory").value();
    if (checks == tagEverything && directory.empty()) {
      error = Where(m_text, plugins) + ": attribute Directory is required";
      return false;
    }
    if (!directory.empty() && directory.front() != '/') directory = baseDirectory + "/" + directory;
    m_pluginDirectory = directory;
  }

  std::vector<std::string> lines, networks, controllers;
  if (!CollectNames(m_text, root, "Lines", "Line", lines, error) ||
      !CollectNames(m_text, root, "Networks", "Network", networks, error) ||
      !CollectNames(m_text, root, "Controllers", "Controller", controllers, error)) {
    return false;
  }
  for (pugi::xml_node list : root.children("Controllers")) {
    for (pugi::xml_node element : list.children("Controller")) {
      ControllerConfig c;
      if (!Required(m_text, element, "Name", c.name, error) || !Required(m_text, element, "Network", c.network, error) ||
          !Required(m_text, element, "Line", c.line, error) || !Required(m_text, element, "Address", c.address, error)) {
        return false;
      }
      c.gateway = element.attribute("Gateway").value();
      if (pugi::xml_attribute limit = element.attribute("ParallelLimit");
          !limit.empty() && !ParseLimit(limit.value(), c.parallelLimit)) {
        error = Where(m_text, element) + ": ParallelLimit must be a whole number of at least 1";
        return false;
      }
      c.networkPosition = PositionOf(networks, c.network);
      if (c.networkPosition == 0) {
        error = Where(m_text, element) + ": no <Network Name=\"" + c.network + "\">";
        return false;
      }
      if (PositionOf(lines, c.line) == 0) {
        error = Where(m_text, element) + ": no <Line Name=\"" + c.line + "\">";
        return false;
      }
      if (pugi::xml_node release = element.child("DriverVersionInfo").child("DriverReleaseVersion");
          checks == tagEverything && release && !IsVersion(release.text().get())) {
        error = Where(m_text, release) + ": \"" + release.text().get() +
                "\" is not a version major.minor.build (numbers 0..255)";
        return false;
      }
      c.position = m_controllers.size() + 1;
      c.configurationString = MakeConfigurationString(c);
      if (c.address.rfind(kModbusScheme, 0) == 0) {
        // A Modbus/TCP controller: its string is the protocol layer's
        // runtime information, so the targets the dispatcher forms before
        // the layer reports it are the ones it forms afterwards.
        modbustcp::ModbusEndpoint endpoint;
        std::string what;
        if (!modbustcp::ParseModbusUrl(c.address, endpoint, what)) {
          error = Where(m_text, element) + ": Address \"" + c.address + "\" is not a Modbus/TCP connection string: " +
                  what;
          return false;
        }
        c.configurationString = endpoint.RuntimeInformation();
        if (!c.gateway.empty()) c.configurationString += L";DEV=" + ConfigString::QuoteValue(ToWide(c.gateway.c_str()));
      }
      m_controllers.push_back(std::move(c));
    }
  }
  return checks == tagStructure || (CheckServices(error) && CheckLineTypes(error));
}

bool ConfigDocument::CheckServices(std::string& error) const {
  for (pugi::xpath_node set : m_xml.select_nodes("/HostConfiguration/Networks/Network/Services/Services")) {
    const pugi::xml_node element = set.node();
    const std::string name = element.attribute("Name").value();
    if (name != "Local" && name != "Remote") {
      error = Where(m_text, element) + ": a service set is named \"Local\" or \"Remote\"";
      return false;
    }
    for (pugi::xml_node service : element.children("Service")) {
      std::string value;
      if (!Required(m_text, service, "CommandNo", value, error) || !Required(m_text, service, "DllPath", value, error) ||
          !Required(m_text, service, "ClassName", value, error) ||
          !Required(m_text, service, "SuperClassName", value, error, true)) {
        return false;
      }
      if (const char* command = service.attribute("CommandNo").value(); !IsDecimal(command, INT_MAX)) {
        error = Where(m_text, service) + ": CommandNo \"" + command + "\" is not a decimal number";
        return false;
      }
      if (pugi::xml_attribute version = service.attribute("SupportVersion"); version && !IsVersion(version.value())) {
        error = Where(m_text, service) + ": SupportVersion \"" + version.value() +
                "\" is not a version major.minor.build (numbers 0..255)";
        return false;
      }
    }
  }
  return true;
}

bool ConfigDocument::CheckLineTypes(std::string& error) const {
  for (pugi::xpath_node found : m_xml.select_nodes("/HostConfiguration/Lines/Line")) {
    const pugi::xml_node line = found.node();
    const std::string type = line.attribute("Type").as_string("Simulated");
    if (type != "Simulated" && type != "ModbusTcp") {
      error = Where(m_text, line) + ": Type \"" + type + "\" is not a known line type (Simulated, ModbusTcp)";
      return false;
    }
    const bool modbusLine = type == "ModbusTcp";
    for (pugi::xml_node list : m_xml.document_element().children("Controllers")) {
      for (pugi::xml_node controller : list.children("Controller")) {
        if (std::strcmp(controller.attribute("Line").value(), line.attribute("Name").value()) != 0) continue;
        const bool modbusAddress = std::strncmp(controller.attribute("Address").value(), kModbusScheme,
                                                std::strlen(kModbusScheme)) == 0;
        if (modbusAddress != modbusLine) {
          error = Where(m_text, controller) + ": a controller on a " + type + " line needs " +
                  (modbusLine ? "a modbus-tcp:// Address" : "an Address that is not a modbus-tcp:// connection string");
          return false;
        }
      }
    }
  }
  return true;
}

const ControllerConfig* ConfigDocument::FindController(const std::string& name) const {
  for (const ControllerConfig& c : m_controllers) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

std::string ConfigDocument::ExpandMacros(const std::string& path, const ControllerConfig& controller) {
  // Positions rather than names: no quoting problem whatever the names hold.
  std::string expanded = ReplaceAll(path, "%CPU%",
                                    "(/HostConfiguration/Controllers/Controller)[" +
                                        std::to_string(controller.position) + "]");
  return ReplaceAll(expanded, "%Network%",
                    "(/HostConfiguration/Networks/Network)[" + std::to_string(controller.networkPosition) + "]");
}

}  // namespace hostconfig
