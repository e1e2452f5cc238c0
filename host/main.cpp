// quintara-host.exe: runs a plug-in of this interface from the command line, the way a host
// script would.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/demo_image.h"
#include "host/plugin_host.h"

namespace {
const char kUsage[] =
    "usage: quintara-host [--dll PATH] COMMAND ...\n"
    "\n"
    "commands:\n"
    "  info                          the plug-in's title, publisher, hint and actions\n"
    "  run ACTION PARAMETER-TEXT     runs an action by name or number and prints every\n"
    "                                variable it set, with each value in quotes\n"
    "  resize SOURCE TARGET W H      runs ae_resize on \"SOURCE|TARGET|W|H\"\n"
    "  metrics IMAGE                 runs AE_Image_Get_Metrics on IMAGE\n"
    "  demo [FOLDER]                 makes demo-input.bmp in FOLDER (default: .) and resizes\n"
    "                                it to demo-output.png, 160 by 120\n"
    "\n"
    "The plug-in is Quintara.dll beside this program unless --dll names another.\n"
    "Exit status: 0 when the action ran and succeeded, 1 when it failed, 2 for a usage error.\n";

int Fail(const std::string& reason) {
  std::fprintf(stderr, "quintara-host: %s\n", reason.c_str());
  return 1;
}

int Usage(const std::string& reason) {
  std::fprintf(stderr, "quintara-host: %s\n\n%s", reason.c_str(), kUsage);
  return 2;
}

// The real host hands the plug-in texts in the ANSI code page. A character that the code page
// cannot hold would reach the plug-in as some other character, naming another file: refuse it.
bool ToAnsi(const std::wstring& wide, std::string* ansi) {
  if (wide.empty()) {
    ansi->clear();
    return true;
  }
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                    static_cast<int>(wide.size()), nullptr, 0, nullptr, &lossy);
  if (n <= 0 || lossy) return false;
  ansi->assign(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                      &(*ansi)[0], n, nullptr, &lossy);
  return !lossy;
}

std::wstring DefaultDllPath() {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  const size_t slash = path.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) +
         L"Quintara.dll";
}

void PrintAssignments(const ActionRun& run) {
  for (size_t i = run.firstAssignment; i < hostLog.assignments.size(); ++i) {
    const VariableRecord& set = hostLog.assignments[i];
    std::printf("%s = %s\n", set.name.c_str(),
                set.valueWasNull ? "(null)" : VisibleText(set.value).c_str());
  }
}

int RunAndReport(const PluginExports& plugin, const std::string& action,
                 const std::string& parameter) {
  const int32_t number = FindDeclaredAction(action);
  if (number == 0) return Fail("the plug-in declares no action " + action);
  const ActionRun run = RunAction(plugin, number, parameter);
  PrintAssignments(run);
  const std::string reason = JudgeRun(run);
  return reason.empty() ? 0 : Fail(reason);
}

int Info(const PluginExports& plugin) {
  const PluginTexts texts = InitPlugin(plugin, 0);
  std::printf("title:     %s\npublisher: %s\nhint:      %s\n", texts.title.c_str(),
              texts.publisher.c_str(), texts.hint.c_str());
  for (const ActionRecord& action : hostLog.declarations) {
    std::printf("\naction %d: %s  (parameter kind %s, flags %d %d)\n", action.number,
                action.name.c_str(), action.parameterKind.c_str(), action.flag, action.flagAgain);
    std::string help = action.help;
    for (size_t at; (at = help.find("\r\n")) != std::string::npos;) help.replace(at, 2, "\n    ");
    std::printf("    %s\n", help.c_str());
  }
  return 0;
}

int Demo(const PluginExports& plugin, const std::string& folder) {
  const std::string input = folder + "\\demo-input.bmp";
  const std::string output = folder + "\\demo-output.png";
  if (!WriteDemoBitmap(input)) return Fail("cannot write " + input);
  std::printf("made %s (320 by 240)\n", input.c_str());
  const int status = RunAndReport(plugin, "ae_resize", input + "|" + output + "|160|120");
  if (status != 0) return status;
  return RunAndReport(plugin, "AE_Image_Get_Metrics", output);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string arg;
    if (!ToAnsi(argv[i], &arg)) {
      return Usage("argument " + std::to_string(i) +
                   " holds characters that the ANSI code page cannot represent");
    }
    args.push_back(arg);
  }
  std::wstring dllPath = DefaultDllPath();
  if (args.size() >= 2 && args[0] == "--dll") {
    dllPath = argv[2];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }

  PluginExports plugin{};
  std::string error;
  if (LoadPlugin(dllPath, &plugin, &error) == nullptr) return Fail(error);
  RegisterPlugin(plugin);

  const std::string& command = args[0];
  const size_t operands = args.size() - 1;
  if (command == "info" && operands == 0) return Info(plugin);
  if (command == "run" && operands == 2) return RunAndReport(plugin, args[1], args[2]);
  if (command == "resize" && operands == 4) {
    return RunAndReport(plugin, "ae_resize",
                        args[1] + "|" + args[2] + "|" + args[3] + "|" + args[4]);
  }
  if (command == "metrics" && operands == 1) {
    return RunAndReport(plugin, "AE_Image_Get_Metrics", args[1]);
  }
  if (command == "demo" && operands <= 1) return Demo(plugin, operands ? args[1] : ".");
  return Usage("unknown command or wrong number of arguments: " + command);
}
