// Where the shared corpus of public test images is, as a Windows path; "" when it is absent,
// and the tests that need it then skip, saying why.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

inline std::string CorpusFolder() {
  // The project's folder as the build saw it; under Wine, Z: is the Linux root.
  std::string path = std::string("Z:") + QUINTARA_SOURCE_DIR + "/../shared/corpus";
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::string() : path;
}

#define SKIP_WITHOUT_CORPUS(folder)                                                     \
  const std::string folder = CorpusFolder();                                            \
  if (folder.empty()) GTEST_SKIP() << "the shared image corpus (../shared/corpus) is absent"

// Every file below a folder, with its path, whose size is at most maxBytes.
inline void ListFiles(const std::string& folder, std::vector<std::string>* files,
                      DWORD maxBytes = 0xFFFFFFFF) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(folder + "\\" + name, files, maxBytes);
    } else if (found.nFileSizeHigh == 0 && found.nFileSizeLow <= maxBytes) {
      files->push_back(folder + "\\" + name);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// FNV-1a over the bytes, mixed with their number: equal sums mean unchanged files.
inline uint64_t Checksum(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 1469598103934665603ULL;
  for (uint8_t byte : bytes) hash = (hash ^ byte) * 1099511628211ULL;
  return hash ^ bytes.size();
}
