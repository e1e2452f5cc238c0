// A fresh, empty folder for one test, removed with everything in it afterwards.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

struct ScratchFolder {
  std::string path;  // ANSI, with no trailing backslash

  ScratchFolder() {
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path = std::string(temp) + "quintara-test-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
    Remove(path);  // what an earlier program of the same process id left (Wine reuses ids)
    CreateDirectoryA(path.c_str(), nullptr);
  }
  ~ScratchFolder() { Remove(path); }

  std::string operator/(const std::string& name) const { return path + "\\" + name; }

  // The names in the folder, or in a folder inside it, sorted.
  std::vector<std::string> Entries(const std::string& inside = "") const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(((inside.empty() ? path : *this / inside) + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  static void Remove(const std::string& folder) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string full = folder + "\\" + name;
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          Remove(full);
        } else {
          DeleteFileA(full.c_str());
        }
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
  }
};
