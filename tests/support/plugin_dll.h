// The built Quintara.dll, loaded once per test program through the project's host.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/plugin_host.h"

// The folder of the running test program, with a trailing backslash.
inline std::wstring ProgramFolder() {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, n);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

struct LoadedPlugin {
  HMODULE module;
  PluginExports exports;
};

inline const LoadedPlugin& LoadedQuintara() {
  static LoadedPlugin plugin{};
  static bool loaded = [] {
    std::string error;
    plugin.module = LoadPlugin(ProgramFolder() + L"Quintara.dll", &plugin.exports, &error);
    if (plugin.module == nullptr) ADD_FAILURE() << error;
    return plugin.module != nullptr;
  }();
  if (!loaded) throw std::runtime_error("Quintara.dll did not load");
  return plugin;
}

inline const PluginExports& Plugin() { return LoadedQuintara().exports; }
