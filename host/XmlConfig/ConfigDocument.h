// ConfigDocument.h: a loaded and checked host configuration file.
//
// Parses the XML of a host configuration (schema: docs/CONFIGURATION.md),
// checks it, and describes its controllers: name, network, line, address,
// optional gateway, parallel limit and the device configuration string built
// from them. It also expands the path macros of a controller: "%CPU%" names
// the controller's element, "%Network%" the element of its network.
//
// Ownership: created by Load*, shared (std::shared_ptr) by every host object
// made from it; nodes handed out keep it alive. Immutable after loading, so
// any number of threads may read it at once.
#pragma once

#include <cstddef>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "Platform/WinTypes.h"

namespace hostconfig {

struct ControllerConfig {
  std::string name;
  std::string network;
  std::string line;
  std::string address;
  std::string gateway;  // empty: reached directly on its line (a "Local" device)
  LONG parallelLimit = 1;
  std::size_t position = 0;         // 1-based among the controllers
  std::size_t networkPosition = 0;  // 1-based among the networks
  // LINE=<line>;ADDR=<address>[;DEV=<gateway>], values quoted where needed.
  std::wstring configurationString;
};

class ConfigDocument {
 public:
  // What loading checks. tagStructure: the root, the version, unique names,
  // the required attributes of lines, networks and controllers, and that each
  // controller names an existing network and line. tagEverything adds what a
  // host must not hand the component silently: every service's required
  // attributes, decimal command numbers, service sets named "Local" or
  // "Remote", versions of the form major.minor.build, known line types that
  // fit the controllers' addresses. The component tolerates such mistakes
  // (a command number "seven" reads as 0), which is why tests of that
  // tolerance load with tagStructure.
  enum CheckLevel { tagStructure, tagEverything };

  // Null and a reason when the file cannot be read (the system's reason), is
  // not well-formed XML (with line and column) or breaks the schema (naming
  // the element and its line and column). Files get every check.
  static std::shared_ptr<const ConfigDocument> LoadFile(const std::string& path, std::string& error);
  // The same from text; `baseDirectory` resolves a relative plug-in directory.
  static std::shared_ptr<const ConfigDocument> LoadText(const std::string& text, std::string& error,
                                                        const std::string& baseDirectory = ".",
                                                        CheckLevel checks = tagStructure);

  ConfigDocument(const ConfigDocument&) = delete;
  ConfigDocument& operator=(const ConfigDocument&) = delete;

  const std::vector<ControllerConfig>& Controllers() const { return m_controllers; }
  // Null when no controller has that name.
  const ControllerConfig* FindController(const std::string& name) const;
  // The <Plugins Directory> resolved against the file's directory; empty
  // when the file names none.
  const std::string& PluginDirectory() const { return m_pluginDirectory; }

  // `path` with the macros "%CPU%" and "%Network%" replaced by XPath
  // expressions for `controller`. Other text, including other percent signs,
  // is left as it is.
  static std::string ExpandMacros(const std::string& path, const ControllerConfig& controller);

  const pugi::xml_document& Xml() const { return m_xml; }

 private:
  ConfigDocument() = default;
  bool Check(std::string& error, const std::string& baseDirectory, CheckLevel checks);
  bool CheckServices(std::string& error) const;
  bool CheckLineTypes(std::string& error) const;
  std::string m_text;  // the loaded text, for line and column numbers

  pugi::xml_document m_xml;
  std::vector<ControllerConfig> m_controllers;
  std::string m_pluginDirectory;
};

}  // namespace hostconfig
