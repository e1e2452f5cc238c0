// Where the shared corpus of public test images is, as a Windows path; "" when it is absent,
// and the tests that need it then skip, saying why.
#pragma once

#include <windows.h>

#include <string>

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
