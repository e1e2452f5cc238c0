#include "host/plugin_host.h"

#include <cstdio>

#include "host/watchdog.h"

HostRecord hostRecord;

namespace {
std::string TextAt(const char* text) { return text ? std::string(text) : std::string(); }

int32_t QUINTARA_CALL HostProc2() {
  ++hostRecord.unexpectedCalls;
  return 0;
}
int32_t QUINTARA_CALL HostProc3() {
  ++hostRecord.unexpectedCalls;
  return 0;
}

template <typename Proc>
bool Find(HMODULE module, const char* name, Proc* proc, std::string* error) {
  *proc = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (*proc == nullptr) *error = std::string("the plug-in has no export ") + name;
  return *proc != nullptr;
}
}  // namespace

HMODULE LoadPlugin(const std::wstring& dllPath, PluginExports* e, std::string* error) {
  HMODULE module = LoadLibraryW(dllPath.c_str());
  if (module == nullptr) {
    *error = "cannot load the plug-in (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  const bool found = Find(module, "AE_IMAGE_GET_METRICS", &e->imageGetMetrics, error) &&
                     Find(module, "AE_RESIZE", &e->resize, error) &&
                     Find(module, "_nbEditAction@8", &e->editAction, error) &&
                     Find(module, "_nbExecAction@8", &e->execAction, error) &&
                     Find(module, "_nbInitPlugIn@16", &e->initPlugIn, error) &&
                     Find(module, "_nbMessage@8", &e->message, error) &&
                     Find(module, "_nbRegisterInterfaceAccess@4", &e->registerInterfaceAccess,
                          error) &&
                     Find(module, "_nbRegisterPlugIn@16", &e->registerPlugIn, error) &&
                     Find(module, "_nbRegisterScriptProcessor@4", &e->registerScriptProcessor,
                          error);
  if (!found) {
    FreeLibrary(module);
    return nullptr;
  }
  return module;
}

int32_t QUINTARA_CALL HostRegisterAction(int32_t number, const char* name, const char* help,
                                         const char* parameterKind, int32_t flag,
                                         int32_t flagAgain) {
  hostRecord.declarations.push_back(
      {number, TextAt(name), TextAt(help), TextAt(parameterKind), flag, flagAgain});
  return 1;
}

int32_t QUINTARA_CALL HostSetVariable(const char* name, const char* value) {
  hostRecord.assignments.push_back({TextAt(name), TextAt(value), name == nullptr, value == nullptr});
  for (auto& variable : hostRecord.variables) {
    if (variable.first == TextAt(name)) {
      variable.second = TextAt(value);
      return 1;
    }
  }
  hostRecord.variables.emplace_back(TextAt(name), TextAt(value));
  return 1;
}

void RegisterPlugin(const PluginExports& plugin) {
  plugin.registerPlugIn(HostRegisterAction, reinterpret_cast<void*>(HostProc2),
                        reinterpret_cast<void*>(HostProc3), HostSetVariable);
}

PluginTexts InitPlugin(const PluginExports& plugin, int32_t initValue) {
  HostTextSlot slots[3] = {nullptr, nullptr, nullptr};
  plugin.initPlugIn(initValue, &slots[0], &slots[1], &slots[2]);
  PluginTexts texts{TextAt(static_cast<const char*>(slots[0])),
                    TextAt(static_cast<const char*>(slots[1])),
                    TextAt(static_cast<const char*>(slots[2]))};
  for (HostTextSlot slot : slots) {
    if (slot != nullptr) GlobalFree(slot);
  }
  return texts;
}

int32_t FindDeclaredAction(const std::string& nameOrNumber) {
  for (const ActionRecord& action : hostRecord.declarations) {
    if (std::to_string(action.number) == nameOrNumber ||
        lstrcmpiA(action.name.c_str(), nameOrNumber.c_str()) == 0) {
      return action.number;
    }
  }
  return 0;
}

ActionRun RunAction(const PluginExports& plugin, int32_t number, const std::string& parameter) {
  ActionRun run{0, hostRecord.assignments.size()};
  const char* text = parameter.c_str();
  ActionStarted();
  run.result = plugin.execAction(number, &text);
  ActionEnded();
  return run;
}

std::string VariableValue(const std::string& name) {
  for (const auto& variable : hostRecord.variables) {
    if (variable.first == name) return variable.second;
  }
  return std::string();
}

std::string VisibleText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}

std::string GenericFailureReason(const ActionRun& run) {
  if (run.result != 1) return "the plug-in did not run the action";
  if (run.firstAssignment == hostRecord.assignments.size()) return "the action set no variable";
  return std::string();
}
