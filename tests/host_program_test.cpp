// quintara-host.exe as a person at a shell uses it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "plugin_dll.h"

namespace {
struct Outcome {
  std::string output;
  int status;
};

// Runs quintara-host.exe from the test program's folder with the given arguments.
Outcome RunHost(const std::string& arguments) {
  std::wstring folder = ProgramFolder();
  const std::string command =
      "\"" + std::string(folder.begin(), folder.end()) + "quintara-host.exe\" " + arguments +
      " 2>&1";
  Outcome outcome{std::string(), -1};
  FILE* pipe = _popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) outcome.output.append(chunk, n);
  outcome.status = _pclose(pipe);
  return outcome;
}

TEST(HostProgram, InfoShowsTitlePublisherHintAndBothActions) {
  const Outcome info = RunHost("info");
  EXPECT_EQ(info.status, 0);
  for (const char* expected :
       {"Quintara 1.0.0", "Halvaron", "Resize Images", "action 1: ae_resize",
        "AE_Resize \"[source]|[target]|[width]|[height]\"", "action 2: AE_Image_Get_Metrics",
        "AE_Image_Get_Metrics \"[ImageName]\""}) {
    EXPECT_NE(info.output.find(expected), std::string::npos) << expected << "\n" << info.output;
  }
}

TEST(HostProgram, FailuresExitNonZeroWithAReason) {
  const struct {
    const char* arguments;
    const char* reason;
  } cases[] = {
      {"--dll no-such.dll info", "cannot load the plug-in"},
      {"run no_such_action x", "declares no action no_such_action"},
      {"frobnicate", "unknown command"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = RunHost(c.arguments);
    EXPECT_NE(outcome.status, 0) << c.arguments;
    EXPECT_NE(outcome.output.find(c.reason), std::string::npos) << outcome.output;
  }
}
}  // namespace
