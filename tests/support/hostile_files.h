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

// A little-endian TIFF: one IFD of SHORT or LONG entries (tag, type, values), its longer values
// after it, then `data`, whose offset the entries' values may use as kData (plus a few bytes).
constexpr uint32_t kData = 0xDA7A0000;
constexpr uint16_t kShort = 3, kLong = 4;
struct TiffEntry {
  uint16_t tag, type;
  std::vector<uint32_t> values;
};
std::vector<uint8_t> HandMadeTiff(std::vector<TiffEntry> entries, const std::vector<uint8_t>& data);
