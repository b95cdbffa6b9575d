#include "XmlConfig/ConfigDocument.h"

#include <cstdlib>
#include <cstring>

#include "ModbusTcp/ModbusEndpoint.h"
#include "XmlConfig/HostText.h"
#include "TARVO_SupportLib/ConfigString.h"

namespace hostconfig {

namespace {

constexpr const char* kRoot = "HostConfiguration";
constexpr const char* kSchemaVersion = "1";

std::string Where(const pugi::xml_node& node) {
  return "<" + std::string(node.name()) + " Name=\"" + node.attribute("Name").value() + "\">";
}

// A required, non-empty attribute.
bool Required(const pugi::xml_node& node, const char* name, std::string& value, std::string& error) {
  pugi::xml_attribute attribute = node.attribute(name);
  if (attribute.empty() || *attribute.value() == '\0') {
    error = Where(node) + ": attribute " + name + " is required";
    return false;
  }
  value = attribute.value();
  return true;
}

// Collects the unique names of the children `childName` of every `listName`.
bool CollectNames(const pugi::xml_node& root, const char* listName, const char* childName,
                  std::vector<std::string>& names, std::string& error) {
  for (pugi::xml_node list : root.children(listName)) {
    for (pugi::xml_node child : list.children(childName)) {
      std::string name;
      if (!Required(child, "Name", name, error)) return false;
      for (const std::string& known : names) {
        if (known == name) {
          error = Where(child) + ": the name is used twice";
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

}  // namespace

std::shared_ptr<const ConfigDocument> ConfigDocument::LoadFile(const std::string& path, std::string& error) {
  std::shared_ptr<ConfigDocument> document(new ConfigDocument());
  pugi::xml_parse_result parsed = document->m_xml.load_file(path.c_str());
  if (!parsed) {
    error = path + ": " + parsed.description() + " at offset " + std::to_string(parsed.offset);
    return nullptr;
  }
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  if (!document->Check(error, directory)) {
    error = path + ": " + error;
    return nullptr;
  }
  return document;
}

std::shared_ptr<const ConfigDocument> ConfigDocument::LoadText(const std::string& text, std::string& error,
                                                               const std::string& baseDirectory) {
  std::shared_ptr<ConfigDocument> document(new ConfigDocument());
  pugi::xml_parse_result parsed = document->m_xml.load_buffer(text.data(), text.size());
  if (!parsed) {
    error = std::string(parsed.description()) + " at offset " + std::to_string(parsed.offset);
    return nullptr;
  }
  if (!document->Check(error, baseDirectory)) return nullptr;
  return document;
}

bool ConfigDocument::Check(std::string& error, const std::string& baseDirectory) {
  pugi::xml_node root = m_xml.document_element();
  if (std::strcmp(root.name(), kRoot) != 0) {
    error = std::string("the root element must be <") + kRoot + ">";
    return false;
  }
  if (pugi::xml_attribute version = root.attribute("Version"); !version.empty() &&
                                                                 std::strcmp(version.value(), kSchemaVersion) != 0) {
    error = std::string("schema version ") + version.value() + " is not supported (only " + kSchemaVersion + ")";
    return false;
  }
  if (pugi::xml_node plugins = root.child("Plugins")) {
    std::string directory = plugins.attribute("Directory").value();
    if (!directory.empty() && directory.front() != '/') directory = baseDirectory + "/" + directory;
    m_pluginDirectory = directory;
  }

  std::vector<std::string> lines, networks, controllers;
  if (!CollectNames(root, "Lines", "Line", lines, error) ||
      !CollectNames(root, "Networks", "Network", networks, error) ||
      !CollectNames(root, "Controllers", "Controller", controllers, error)) {
    return false;
  }
  for (pugi::xml_node list : root.children("Controllers")) {
    for (pugi::xml_node element : list.children("Controller")) {
      ControllerConfig c;
      if (!Required(element, "Name", c.name, error) || !Required(element, "Network", c.network, error) ||
          !Required(element, "Line", c.line, error) || !Required(element, "Address", c.address, error)) {
        return false;
      }
      c.gateway = element.attribute("Gateway").value();
      if (pugi::xml_attribute limit = element.attribute("ParallelLimit");
          !limit.empty() && !ParseLimit(limit.value(), c.parallelLimit)) {
        error = Where(element) + ": ParallelLimit must be a whole number of at least 1";
        return false;
      }
      c.networkPosition = PositionOf(networks, c.network);
      if (c.networkPosition == 0) {
        error = Where(element) + ": no <Network Name=\"" + c.network + "\">";
        return false;
      }
      if (PositionOf(lines, c.line) == 0) {
        error = Where(element) + ": no <Line Name=\"" + c.line + "\">";
        return false;
      }
      c.position = m_controllers.size() + 1;
      c.configurationString = MakeConfigurationString(c);
      if (c.address.rfind("modbus-tcp:", 0) == 0) {
        // A Modbus/TCP controller: its string is the protocol layer's
        // runtime information, so the targets the dispatcher forms before
        // the layer reports it are the ones it forms afterwards.
        modbustcp::ModbusEndpoint endpoint;
        std::string what;
        if (!modbustcp::ParseModbusUrl(c.address, endpoint, what)) {
          error = Where(element) + ": Address \"" + c.address + "\" is not a Modbus/TCP connection string: " + what;
          return false;
        }
        c.configurationString = endpoint.RuntimeInformation();
        if (!c.gateway.empty()) c.configurationString += L";DEV=" + ConfigString::QuoteValue(ToWide(c.gateway.c_str()));
      }
      m_controllers.push_back(std::move(c));
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
