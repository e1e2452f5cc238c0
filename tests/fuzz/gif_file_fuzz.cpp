// Finding a written GIF's transparency on any bytes: never a read outside them (the sanitizers
// watch), and what is found is where it says.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "imaging/pixels/gif_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);  // exactly its size, for the sanitizers
  const GifControl control = FindGifControl(bytes.data(), bytes.size());
  if (control.state == GifControl::kExisting) {
    FUZZ_CHECK(control.at >= 16 && control.at + 4 < size && bytes[control.at - 2] == 0xF9 &&
                   bytes[control.at - 1] == 4,
               "extension data at %zu of %zu", control.at, size);
  } else if (control.state == GifControl::kMissing) {
    FUZZ_CHECK(control.at >= 13 && control.at < size && bytes[control.at] == 0x2C, "descriptor at %zu of %zu",
               control.at, size);
  }
  return 0;
}
