// The reference host's input checks: basecomms-demo runs a small good
// configuration, then the same with one mistake each, and must refuse each
// with its own message (naming the element and its line:column, or the
// system's reason) and a non-zero exit.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

const std::string kGood = R"(<HostConfiguration Version="1">
  <Plugins Directory="PLUGINS"/>
  <Lines><Line Name="SIM1" Type="Simulated"/></Lines>
  <Networks><Network Name="Plant"><Services><Services Name="Local">
    <Service CommandNo="5" DllPath="SampleServices.so" ClassName="ReadService" SuperClassName="OneStepService" SupportVersion="1.0.0"/>
  </Services></Services></Network></Networks>
  <Controllers><Controller Name="PLC1" Network="Plant" Line="SIM1" Address="1">
    <DriverVersionInfo><DriverReleaseVersion>1.0.0</DriverReleaseVersion></DriverVersionInfo>
  </Controller></Controllers>
</HostConfiguration>
)";

TEST(DemoInputTest, EachMistakeGivesItsOwnMessageAndANonZeroExit) {
  char scratch[] = "/tmp/demo-input-XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  const std::string dir = scratch;
  std::string good = kGood;
  good.replace(good.find("PLUGINS"), 7, BASECOMMS_PLUGIN_DIR);
  struct Case {
    std::string from, to;  // one change to the good configuration ("" = none)
    std::string expected;  // in the output
    int exitCode;
    std::string config = "/config.xml";  // the file named, in the scratch directory
  };
  const Case cases[] = {
      {"", "", "every accepted request ended exactly once", 0},
      {"CommandNo=\"5\"", "CommandNo=\"seven\"",
       "config.xml:5:5: <Service CommandNo=\"seven\">: CommandNo \"seven\" is not a decimal number", 2},
      {"Name=\"Local\"", "Name=\"Lokal\"", "4:45: <Services Name=\"Lokal\">: a service set is named \"Local\" or \"Remote\"", 2},
      {"SupportVersion=\"1.0.0\"", "SupportVersion=\"x.y\"", "SupportVersion \"x.y\" is not a version major.minor.build", 2},
      {">1.0.0<", ">1.2<", "8:24: <DriverReleaseVersion>: \"1.2\" is not a version major.minor.build", 2},
      {"Type=\"Simulated\"", "Type=\"TCP\"", "<Line Name=\"SIM1\">: Type \"TCP\" is not a known line type", 2},
      {"Address=\"1\"", "Address=\"modbus-tcp://127.0.0.1\"", "a controller on a Simulated line needs an Address", 2},
      {"DllPath=\"SampleServices.so\"", "", "<Service CommandNo=\"5\">: attribute DllPath is required", 2},
      {"SuperClassName=\"OneStepService\"", "", "attribute SuperClassName is required", 2},
      {"</Lines>", "", "config.xml:10:3: Start-end tags mismatch", 2},  // not well-formed
      {BASECOMMS_PLUGIN_DIR, "nowhere", dir + "/nowhere: No such file or directory", 2},
      {BASECOMMS_PLUGIN_DIR, ".", "FAILED: PLC1: 3 request(s) refused", 1},  // no modules there
      {"Controllers>", "Spare>", "FAILED: the configuration has no controller, so no request ran", 1},
      // File errors give the system's reason.
      {"", "", "missing.xml: No such file or directory", 2, "/missing.xml"},
      {"", "", dir + ": Is a directory", 2, ""},
  };
  for (const Case& c : cases) {
    std::string config = good;
    for (std::size_t at = config.find(c.from); !c.from.empty() && at != std::string::npos;
         at = config.find(c.from, at + c.to.size())) {
      config.replace(at, c.from.size(), c.to);
    }
    std::ofstream(dir + "/config.xml") << config;
    std::FILE* const pipe = popen((BASECOMMS_DEMO_PATH " --config " + dir + c.config + " 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    const int status = pclose(pipe);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.exitCode) << c.from << " -> " << c.to << "\n" << output;
    EXPECT_NE(output.find(c.expected), std::string::npos) << c.from << " -> " << c.to << "\n" << output;
  }
  std::remove((dir + "/config.xml").c_str());
  std::remove(dir.c_str());
}

}  // namespace
