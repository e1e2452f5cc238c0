// Small hand-made files that claim far more than their bytes hold, or are cut or damaged, the
// shapes a hostile trial found: each with the step its resize must end in. Shared by the unit
// tests (the step, and which decoder was asked) and the host tests (each in a process of its own,
// its peak memory).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/resize_image_file.h"

struct HostileFile {
  const char* what;
  const char* extension;
  std::vector<uint8_t> bytes;
  ResizeStep step;
};

std::vector<HostileFile> HostileFiles();
