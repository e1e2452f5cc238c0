// quintara-host.exe: runs a plug-in of this interface from the command line, the way a host
// script would.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/ansi_text.h"
#include "host/batch.h"
#include "host/crash_report.h"
#include "host/demo_image.h"
#include "host/plugin_host.h"
#include "host/quintara_outcome.h"
#include "host/watchdog.h"

namespace {
const char kGeneral[] =
    "usage: quintara-host [--dll PATH] [--watchdog SECONDS] COMMAND ...   (quintara-host COMMAND --help for more)\n"
    "\n"
    "commands:%s\n"
    "\n"
    "The plug-in is Quintara.dll beside this program unless --dll names another.\n"
    "--watchdog SECONDS ends the program with a report of where an action is stuck\n"
    "when it runs longer than that.\n"
    "Texts reach the plug-in in the ANSI code page; a name that the code page cannot\n"
    "represent is refused. Exit status: 0 when every action ran and succeeded, 1 when\n"
    "one failed, 2 for a usage error or a file that cannot be read, 3 when the plug-in\n"
    "or what it calls crashed or hung (with a report of where).\n";

int Fail(const std::string& reason) {
  std::fprintf(stderr, "quintara-host: %s\n", reason.c_str());
  return 1;
}

void PrintGeneralUsage(FILE* out);

int Usage(const std::string& reason) {
  std::fprintf(stderr, "quintara-host: %s\n\n", reason.c_str());
  PrintGeneralUsage(stderr);
  return 2;
}

std::wstring DefaultDllPath() {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  const size_t slash = path.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) +
         L"Quintara.dll";
}

int RunAndReport(const PluginExports& plugin, const std::string& action,
                 const std::string& parameter) {
  const int32_t number = FindDeclaredAction(action);
  if (number == 0) return Fail("the plug-in declares no action " + action);
  const ActionRun run = RunAction(plugin, number, parameter);
  for (size_t i = run.firstAssignment; i < hostRecord.assignments.size(); ++i) {
    const VariableRecord& set = hostRecord.assignments[i];
    std::printf("%s = %s\n", set.name.c_str(),
                set.valueWasNull ? "(null)" : VisibleText(set.value).c_str());
  }
  std::fflush(stdout);
  const std::string reason = QuintaraFailureReason(run, parameter);
  return reason.empty() ? 0 : Fail(reason);
}

// The file's own version resource: "1.0.0 (Halvaron)", or "" when it has none.
std::string FileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  if (info.empty() ||
      !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data())) {
    return std::string();
  }
  auto value = [&](const wchar_t* key) {
    wchar_t* text = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
    std::string narrow;
    if (VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) {
      Utf16ToAnsi(text, &narrow);
    }
    return narrow;
  };
  return value(L"ProductVersion") + " (" + value(L"CompanyName") + ")";
}

// What a command is given: the plug-in, its path, and the operands after the command's name, in
// the ANSI code page and as they came.
struct Invocation {
  const PluginExports& plugin;
  const std::wstring& dllPath;
  const std::vector<std::string>& operands;
  const std::vector<std::wstring>& wideOperands;
};

int Info(const Invocation& call) {
  const PluginTexts texts = InitPlugin(call.plugin, 0);
  std::printf("title:     %s\npublisher: %s\nhint:      %s\nfile:      version %s\n",
              texts.title.c_str(), texts.publisher.c_str(), texts.hint.c_str(),
              FileVersion(call.dllPath).c_str());
  for (const ActionRecord& action : hostRecord.declarations) {
    std::printf("\naction %d: %s  (parameter kind %s, flags %d %d)\n", action.number,
                action.name.c_str(), action.parameterKind.c_str(), action.flag, action.flagAgain);
    std::string help = action.help;
    for (size_t at; (at = help.find("\r\n")) != std::string::npos;) help.replace(at, 2, "\n    ");
    std::printf("    %s\n", help.c_str());
  }
  return 0;
}

int Run(const Invocation& call) {
  return RunAndReport(call.plugin, call.operands[0], call.operands[1]);
}

int Resize(const Invocation& call) {
  const std::vector<std::string>& o = call.operands;
  return RunAndReport(call.plugin, "ae_resize", o[0] + "|" + o[1] + "|" + o[2] + "|" + o[3]);
}

int Metrics(const Invocation& call) {
  return RunAndReport(call.plugin, "AE_Image_Get_Metrics", call.operands[0]);
}

int Batch(const Invocation& call) {
  // The file is opened by its ANSI name; messages name it as it was given.
  std::string shown;
  Utf16ToAnsi(call.wideOperands[0], &shown);
  return RunBatchFile(call.plugin, call.operands[0], shown, QuintaraFailureReason, stdout, stderr);
}

int Demo(const Invocation& call) {
  const PluginExports& plugin = call.plugin;
  const std::string folder = call.operands.empty() ? "." : call.operands[0];
  const std::string input = folder + "\\demo-input.bmp";
  const std::string output = folder + "\\demo-output.png";
  if (!WriteDemoBitmap(input)) return Fail("cannot write " + input);
  std::printf("made %s (320 by 240)\n", input.c_str());
  const int status = RunAndReport(plugin, "ae_resize", input + "|" + output + "|160|120");
  if (status != 0) return status;
  return RunAndReport(plugin, "AE_Image_Get_Metrics", output);
}
struct Command {
  const char* name;
  size_t minOperands, maxOperands;
  int (*handler)(const Invocation& call);
  const char* usage;  // after "quintara-host [--dll PATH] NAME"
};

const Command kCommands[] = {
    {"info", 0, 0, Info,
     "\n  Shows the plug-in's title, publisher and hint, and every action it declares.\n"},
    {"run", 2, 2, Run,
     " ACTION PARAMETER-TEXT\n  Runs an action by name or number through nbExecAction and prints every\n"
     "  variable it set, in order, with each value in quotes (\\xNN for other bytes).\n"},
    {"resize", 4, 4, Resize, kResizeUsage},
    {"metrics", 1, 1, Metrics, " IMAGE\n  Runs AE_Image_Get_Metrics on IMAGE.\n"},
    {"batch", 1, 1, Batch,
     " FILE\n  Runs every line of FILE (UTF-8): an action name or number, one blank, then\n"
     "  its parameter text. Blank lines and lines starting with # are skipped. Prints\n"
     "  one line per action and a summary; progress goes to standard error.\n"},
    {"demo", 0, 1, Demo,
     " [FOLDER]\n  Makes demo-input.bmp (320 by 240) in FOLDER (default: the current folder)\n"
     "  and resizes it to demo-output.png, 160 by 120.\n"},
};

void PrintGeneralUsage(FILE* out) {
  std::string names;
  for (const Command& command : kCommands) names += std::string(names.empty() ? " " : ", ") + command.name;
  std::fprintf(out, kGeneral, names.c_str());
}

// A whole number of seconds, digits only: "30" -> 30; "", "3x", "-1" and anything past a day
// -> false.
bool ReadSeconds(const std::wstring& text, DWORD* seconds) {
  if (text.empty() || text.size() > 5) return false;
  DWORD value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<DWORD>(c - L'0');
  }
  if (value > 86400) return false;
  *seconds = value;
  return true;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetUnhandledExceptionFilter(ReportCrash);
  std::vector<std::wstring> wide(argv + 1, argv + argc);
  std::wstring dllPath = DefaultDllPath();
  DWORD watchdogSeconds = 0;
  while (wide.size() >= 2 && (wide[0] == L"--dll" || wide[0] == L"--watchdog")) {
    if (wide[0] == L"--dll") {
      dllPath = wide[1];
    } else if (!ReadSeconds(wide[1], &watchdogSeconds)) {
      return Usage("--watchdog takes a whole number of seconds (0 to 86400)");
    }
    wide.erase(wide.begin(), wide.begin() + 2);
  }
  StartWatchdog(watchdogSeconds);
  std::vector<std::string> args;
  for (size_t i = 0; i < wide.size(); ++i) {
    std::string arg;
    if (!Utf16ToAnsi(wide[i], &arg)) {
      return Usage("argument " + std::to_string(i + 1) +
                   " holds characters that the ANSI code page cannot represent");
    }
    args.push_back(arg);
  }
  if (args.empty()) return Usage("no command");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintGeneralUsage(stdout);
    return 0;
  }
  const Command* command = nullptr;
  for (const Command& c : kCommands) {
    if (args[0] == c.name) command = &c;
  }
  if (command == nullptr) return Usage("unknown command " + args[0]);
  const std::vector<std::string> operands(args.begin() + 1, args.end());
  const std::vector<std::wstring> wideOperands(wide.begin() + 1, wide.end());
  if (!operands.empty() && (operands[0] == "--help" || operands[0] == "-h")) {
    std::printf("usage: quintara-host [--dll PATH] %s%s", command->name, command->usage);
    return 0;
  }
  if (operands.size() < command->minOperands || operands.size() > command->maxOperands) {
    std::fprintf(stderr, "quintara-host: wrong number of arguments\nusage: quintara-host [--dll PATH] %s%s",
                 command->name, command->usage);
    return 2;
  }

  PluginExports plugin{};
  std::string error;
  if (LoadPlugin(dllPath, &plugin, &error) == nullptr) return Fail(error);
  RegisterPlugin(plugin);
  EndWatched(command->handler(Invocation{plugin, dllPath, operands, wideOperands}));
}
