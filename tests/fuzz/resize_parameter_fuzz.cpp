// The resize action's parameter path up to the first image work: the text taken apart, the
// sizes read, the names checked and the format chosen. Each field must be the text between the
// bars, and a request that gets past the checks must name a writable format.
#include <cstdint>
#include <string>

#include "actions/resize_parameter.h"
#include "fuzz_support.h"
#include "imaging/image_types.h"
#include "text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const ResizeRequest request = ParseResizeParameter(text);

  // The names are the first two fields, byte for byte.
  const size_t bar = text.find('|');
  FUZZ_CHECK(request.source == text.substr(0, bar), "source \"%s\"", request.source.c_str());
  if (bar == std::string::npos) FUZZ_CHECK(request.target.empty() && request.width == 0, "no bar");
  FUZZ_CHECK(request.source.find('|') == std::string::npos && request.target.find('|') == std::string::npos,
             "a name holds a bar");

  if (!ResizeRejectedByNames(request.source, request.target)) {
    const std::string type = WritableMimeType(request.target);
    FUZZ_CHECK(type.compare(0, 6, "image/") == 0, "type \"%s\"", type.c_str());
    FUZZ_CHECK(!TrimSpaces(request.source).empty(), "blank source passed");
  }
  return 0;
}
